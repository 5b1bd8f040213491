// Starts the command line in TARVIK_COMMAND_LINE exactly as written, waits
// for it and passes on its exit code: Wine's own start-up would re-quote it.
// "\uXXXX" stands for one UTF-16 unit, so a row can pass a lone surrogate.
#include <windows.h>

#include <string>

int wmain() {
    std::wstring text(32768, L'\0');
    text.resize(::GetEnvironmentVariableW(L"TARVIK_COMMAND_LINE", text.data(), 32768));
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        const std::wstring hex = i + 6 <= text.size() ? text.substr(i + 2, 4) : L"-";
        if (text.compare(i, 2, L"\\u") == 0 &&
            hex.find_first_not_of(L"0123456789ABCDEFabcdef") == std::wstring::npos) {
            line += static_cast<wchar_t>(std::stoul(hex, nullptr, 16));
            i += 5;
        } else {
            line += text[i];
        }
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return 127;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
