// Starts the command line in TARVIK_COMMAND_LINE exactly as written, waits
// for it and passes on its exit code: Wine's own start-up would re-quote it.
// "\uXXXX" stands for one UTF-16 unit, so a row can pass a lone surrogate.
// TARVIK_PROGRAM, when set, names the program apart, as installers do.
// TARVIK_HOLD names a file (wildcards allowed) that, as soon as it appears,
// is held open for a second, shared for reading only, as scanners do.
#include <windows.h>

#include <cstdlib>
#include <string>

void Hold(const wchar_t* pattern) {
    std::wstring name(pattern);
    name.erase(name.find_last_of(L"\\/") + 1);
    WIN32_FIND_DATAW entry;
    for (int tries = 0; tries < 100000; ++tries) {
        HANDLE search = ::FindFirstFileW(pattern, &entry);
        HANDLE held = search == INVALID_HANDLE_VALUE
                          ? search
                          : ::CreateFileW((name + entry.cFileName).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (search != INVALID_HANDLE_VALUE) {
            ::FindClose(search);
        }
        if (held != INVALID_HANDLE_VALUE) {
            ::Sleep(1000);
            ::CloseHandle(held);
            return;
        }
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
        Hold(hold);
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
