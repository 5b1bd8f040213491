#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

// Concurrent runs each get their own file for what the program prints.
fs::path OutputFile() {
    static std::atomic<int> counter{0};
    return fs::temp_directory_path() / "tarvik-tests" /
           ("output-" + std::to_string(counter++) + ".txt");
}

void MakeSpecial(const fs::path& path, const std::string& kind) {
#if defined(_WIN32)
    (void)path;
    (void)kind;
#else
    if (kind == "fifo") {
        mkfifo(path.c_str(), 0644);
    } else if (kind == "socket") {
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.native().copy(address.sun_path, sizeof address.sun_path - 1);
        bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        close(socket);
    }
#endif
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
    std::vector<std::pair<fs::path, fs::perms>> modes;
    for (std::string entry : tree) {
        const auto mark = entry.rfind('#');
        std::string mode;
        if (mark != std::string::npos) {
            mode = entry.substr(mark + 1);
            entry.resize(mark);
        }
        const auto link = entry.find("->");
        const auto hard = entry.find("=>");
        const auto special = entry.find('|');
        const auto equals = entry.find('=');
        const auto end = std::min({link, hard, special, equals});
        const fs::path path = root / FromUtf8(entry.substr(0, end));
        if (end == std::string::npos) {
            fs::create_directories(path);
        } else if (end == link) {
            fs::create_symlink(FromUtf8(entry.substr(link + 2)), path);
        } else if (end == hard) {
            fs::create_hard_link(root / FromUtf8(entry.substr(hard + 2)), path);
        } else if (end == special) {
            MakeSpecial(path, entry.substr(special + 1));
        } else {
            std::ofstream(path, std::ios::binary) << entry.substr(equals + 1);
        }
        if (!mode.empty()) {
            modes.emplace_back(path, static_cast<fs::perms>(std::stoi(mode, nullptr, 8)));
        }
    }
    for (const auto& [path, mode] : modes) {
        fs::permissions(path, mode);
    }
}

Tree List(const fs::path& root) {
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_symlink()) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string name = ToUtf8(it->path().lexically_relative(root));
        const fs::file_type type = it->symlink_status().type();
        if (type == fs::file_type::symlink) {
            tree.push_back(name + "->" + ToUtf8(fs::read_symlink(it->path())));
        } else if (type == fs::file_type::directory) {
            tree.push_back(name + "/");
        } else if (type == fs::file_type::fifo) {
            tree.push_back(name + "|fifo");
        } else if (type == fs::file_type::socket) {
            tree.push_back(name + "|socket");
        } else {
            tree.push_back(name + "=" + ReadAll(it->path()));
        }
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

void ExpectQuiet(const Outcome& outcome, const std::string& what) {
    EXPECT_TRUE(outcome.finished) << what;
    EXPECT_TRUE(outcome.exitedZero) << what;
    EXPECT_EQ(outcome.output, "") << what;
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

Outcome Run(const std::vector<std::string>& arguments, const fs::path& cwd,
            const RunOptions& options) {
    const fs::path program = ProgramPath();
    std::wstring commandLine = arguments.size() > 1
                                   ? Wide(arguments[1])
                                   : L"\"" + program.wstring() + L"\" " + Wide(arguments[0]);
    const fs::path outputFile = OutputFile();
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
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(options.timeoutMs)) ==
            WAIT_OBJECT_0) {
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
    fs::remove(outputFile);
    return outcome;
}

#else

fs::path ProgramPath() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "tarvik";
}

Outcome Run(const std::vector<std::string>& arguments, const fs::path& cwd,
            const RunOptions& options) {
    const std::string program = ProgramPath().string();
    const fs::path outputFile = OutputFile();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const bool asNobody = options.unprivileged && geteuid() == 0;
    if (asNobody) {
        for (const auto& entry : fs::recursive_directory_iterator(cwd)) {
            lchown(entry.path().c_str(), kNobody, kNobody);
        }
        lchown(cwd.c_str(), kNobody, kNobody);
    }
    const pid_t child = fork();
    if (child == 0) {
        const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(output, 1);
        dup2(output, 2);
        if (options.fileSizeLimit >= 0) {
            const auto limit = static_cast<rlim_t>(options.fileSizeLimit);
            const rlimit fileSize{limit, limit};
            setrlimit(RLIMIT_FSIZE, &fileSize);
        }
        if (asNobody &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(126);
        }
        if (chdir(cwd.c_str()) == 0) {
            execv(program.c_str(), argv.data());
        }
        _exit(127);
    }
    Outcome outcome;
    int status = 0;
    for (int waited = 0; waited <= options.timeoutMs * 2; ++waited) {
        if (waitpid(child, &status, WNOHANG) == child) {
            outcome.finished = true;
            outcome.exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            break;
        }
        usleep(500);
    }
    if (!outcome.finished) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    outcome.output = ReadAll(outputFile);
    fs::remove(outputFile);
    if (asNobody) {
        for (const auto& entry : fs::recursive_directory_iterator(cwd)) {
            lchown(entry.path().c_str(), 0, 0);
        }
    }
    return outcome;
}

#endif

} // namespace harness
