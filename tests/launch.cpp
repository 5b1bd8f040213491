// Starts the command line in TARVIK_COMMAND_LINE exactly as written, waits
// for it and passes on its exit code: Wine's own start-up would re-quote it.
// "\uXXXX" stands for one UTF-16 unit, so a row can pass a lone surrogate.
// TARVIK_PROGRAM, when set, names the program apart, as installers do.
#include <windows.h>

#include <cstdlib>
#include <string>

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
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
