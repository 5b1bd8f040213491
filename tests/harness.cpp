#include "harness.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace harness {

namespace {

fs::path FromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string ToUtf8(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

fs::path Scratch(const std::string& name) {
    const fs::path root = fs::temp_directory_path() / "tarvik-tests" / name;
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root, ignored);
    fs::create_directories(root);
    return root;
}

void Build(const fs::path& root, const Tree& tree) {
    for (const std::string& entry : tree) {
        const auto link = entry.find("->");
        const auto equals = entry.find('=');
        if (link != std::string::npos) {
            fs::create_symlink(FromUtf8(entry.substr(link + 2)),
                               root / FromUtf8(entry.substr(0, link)));
        } else if (equals != std::string::npos) {
            std::ofstream(root / FromUtf8(entry.substr(0, equals)), std::ios::binary)
                << entry.substr(equals + 1);
        } else {
            fs::create_directories(root / FromUtf8(entry));
        }
    }
}

Tree List(const fs::path& root) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string name = ToUtf8(fs::relative(it->path(), root));
        if (it->is_symlink()) {
            tree.push_back(name + "->" + ToUtf8(fs::read_symlink(it->path())));
        } else if (it->is_directory()) {
            tree.push_back(name + "/");
        } else {
            tree.push_back(name + "=" + ReadAll(it->path()));
        }
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

std::string HostText(const std::string& text, const fs::path& root) {
    std::string result;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "{R}") == 0) {
            result += ToUtf8(root);
            i += 2;
        } else {
            result += text[i];
        }
    }
#if defined(_WIN32)
    std::replace(result.begin(), result.end(), '/', '\\');
#endif
    return result;
}

#if defined(_WIN32)

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

} // namespace

fs::path ProgramPath() {
    wchar_t name[MAX_PATH];
    GetModuleFileNameW(nullptr, name, MAX_PATH);
    return fs::path(name).parent_path() / "Tarvik.exe";
}

Outcome Run(const std::vector<std::string>& arguments, const fs::path& cwd, int timeoutMs) {
    const fs::path program = ProgramPath();
    std::wstring commandLine = arguments.size() > 1
                                   ? Wide(arguments[1])
                                   : L"\"" + program.wstring() + L"\" " + Wide(arguments[0]);
    const fs::path outputFile = fs::temp_directory_path() / "tarvik-tests" / "output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    Outcome outcome;
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       cwd.c_str(), &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0) {
            DWORD code = 1;
            outcome.finished = true;
            outcome.exitedZero = GetExitCodeProcess(process.hProcess, &code) && code == 0;
        } else {
            TerminateProcess(process.hProcess, 1);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(output);
    outcome.output = ReadAll(outputFile);
    return outcome;
}

#else

fs::path ProgramPath() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "tarvik";
}

Outcome Run(const std::vector<std::string>& arguments, const fs::path& cwd, int timeoutMs) {
    const std::string program = ProgramPath().string();
    const fs::path outputFile = fs::temp_directory_path() / "tarvik-tests" / "output.txt";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(output, 1);
        dup2(output, 2);
        if (chdir(cwd.c_str()) == 0) {
            execv(program.c_str(), argv.data());
        }
        _exit(127);
    }
    Outcome outcome;
    int status = 0;
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        if (waitpid(child, &status, WNOHANG) == child) {
            outcome.finished = true;
            outcome.exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            break;
        }
        usleep(5000);
    }
    if (!outcome.finished) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    outcome.output = ReadAll(outputFile);
    return outcome;
}

#endif

} // namespace harness
