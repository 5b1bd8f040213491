// Starts the command line in TARVIK_COMMAND_LINE exactly as written, waits
// for it and passes on its exit code: Wine's own start-up would re-quote it.
// "\uXXXX" stands for one UTF-16 unit, so a row can pass a lone surrogate.
// TARVIK_PROGRAM, when set, names the program apart, as installers do.
// TARVIK_HOLD, "PATTERN[|MS[|SHARE]]", names a file (wildcards allowed) that,
// as soon as it appears, is held open for MS milliseconds (1000; 0: until the
// run ends, opened 50 ms after it is seen), sharing SHARE (1, reading only) as scanners do, and
// mapped into memory (until the launcher ends) as viewers do where SHARE has 8 added; one never
// held before the run ends is said on output, unless it was to be held until then. TARVIK_LOG names
// a log kept open for writing, sharing reading only, while the program runs, as installers keep
// theirs: "early" is written before it starts, "late" after it ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

void Hold(const wchar_t* request, HANDLE run) {
    wchar_t pattern[MAX_PATH] = L"";
    DWORD ms = 1000, sharing = 1;
    std::swscanf(request, L"%259l[^|]|%lu|%lu", pattern, &ms, &sharing);
    std::wstring name(pattern);
    name.erase(name.find_last_of(L"\\/") + 1);
    WIN32_FIND_DATAW entry;
    while (::WaitForSingleObject(run, 0) == WAIT_TIMEOUT) {
        HANDLE search = ::FindFirstFileW(pattern, &entry);
        ::Sleep(ms == 0 ? 50 : 0); // until the run ends: as a scanner that scans a change later
        HANDLE held = search == INVALID_HANDLE_VALUE
                          ? search
                          : ::CreateFileW((name + entry.cFileName).c_str(), GENERIC_READ,
                                          sharing & 7, nullptr, OPEN_EXISTING, 0, nullptr);
        ::FindClose(search);
        if (held != INVALID_HANDLE_VALUE) {
            if ((sharing & 8) != 0) { // mapped until the launcher ends
                ::MapViewOfFile(::CreateFileMappingW(held, nullptr, PAGE_READONLY, 0, 0, nullptr),
                                FILE_MAP_READ, 0, 0, 0);
            }
            ::WaitForSingleObject(run, ms == 0 ? INFINITE : 0);
            ::Sleep(ms);
            ::CloseHandle(held);
            return;
        }
    }
    if (ms != 0) {
        std::printf("held nothing: %ls\n", pattern);
    }
}

int wmain() {
    std::wstring line = _wgetenv(L"TARVIK_COMMAND_LINE");
    for (size_t at = line.find(L"\\u"); at != std::wstring::npos; at = line.find(L"\\u", at + 1)) {
        if (at + 6 <= line.size() &&
            line.find_first_not_of(L"0123456789ABCDEFabcdef", at + 2) >= at + 6) {
            line.replace(at, 6, 1,
                         static_cast<wchar_t>(std::stoul(line.substr(at + 2, 4), nullptr, 16)));
        }
    }
    const wchar_t* program = _wgetenv(L"TARVIK_PROGRAM");
    program = program != nullptr && *program != L'\0' ? program : nullptr;
    const wchar_t* log = _wgetenv(L"TARVIK_LOG");
    HANDLE logFile = log == nullptr ? INVALID_HANDLE_VALUE
                                    : ::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                                    OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(logFile, "early\n", 6, &written, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine, busy starting many processes at once, now and then fails a start.
    for (int attempt = 0; !::CreateProcessW(program, line.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &process);
         ++attempt) {
        if (attempt == 4) {
            return 127;
        }
        ::Sleep(200);
    }
    if (const wchar_t* hold = _wgetenv(L"TARVIK_HOLD"); hold != nullptr && *hold != L'\0') {
        Hold(hold, process.hProcess);
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::WriteFile(logFile, "late\n", 5, &written, nullptr);
    ::CloseHandle(logFile);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
