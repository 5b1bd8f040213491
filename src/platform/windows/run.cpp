// Windows host, the run: the command line, the folder levels and the entry
// point. Path texts are UTF-16; the backslash and the slash both separate
// folders. The program is windowless; no call it makes may bring up a dialog.
#include "../platform.h"

#include "../../mdlCopy.h"
#include "host.h"

#include <windows.h>

#include <cwchar>

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Whether the run is elevated or runs as LocalSystem (a Windows Installer
// custom action without impersonation): a run that a user could steer, by a
// junction of theirs, into folders only it may write.
bool Privileged() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return true;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    union {
        TOKEN_USER user;
        char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } owner{};
    const bool privileged =
        (::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0) ||
        (::GetTokenInformation(token, TokenUser, &owner, sizeof owner, &size) &&
         ::IsWellKnownSid(owner.user.User.Sid, WinLocalSystemSid));
    ::CloseHandle(token);
    return privileged;
}

// Asks Windows not to follow junctions that users without administrator
// rights made (RedirectionGuard: Windows 11 and Windows 10 22H2), in a
// privileged run only: there it keeps a user's junction from steering the
// copy into system folders, while a plain run may write nothing it could not
// write anyway, and a user who moved a folder by a junction still has the
// copy. Older systems and Wine lack the policy or the call and carry on
// without it.
void DistrustUsersJunctions() {
    // Declared here: older MinGW headers lack the structure.
    struct RedirectionTrustPolicy {
        DWORD flags; // bit 0: enforce
    };
    constexpr auto kRedirectionTrustPolicy = static_cast<PROCESS_MITIGATION_POLICY>(16);
    using SetPolicyType = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const auto setPolicy = host::Kernel32Function<SetPolicyType>("SetProcessMitigationPolicy");
    if (setPolicy != nullptr && Privileged()) {
        RedirectionTrustPolicy policy{1};
        setPolicy(kRedirectionTrustPolicy, &policy, sizeof policy);
    }
}

bool IsSeparator(wchar_t c) {
    return c != L'\0' && std::wcschr(platform::kSeparators, c) != nullptr;
}

// Windows drops a blank or a dot that ends a path's last name, but keeps it
// before a separator. A level of the chain is therefore named with a
// separator after it, so that it means the folder the longer path means.
platform::Text AsFolder(const platform::Text& path) {
    return (path.empty() || IsSeparator(path.back())) ? path : path + L'\\';
}

// The running program's full path as the loader found it, or empty.
platform::Text OwnPath() {
    platform::Text path(MAX_PATH, L'\0');
    while (path.size() <= 32768) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            break;
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
    return platform::Text();
}

// Past the program's own full path when the line starts with it, compared
// as the file system compares names, and a blank or the end follows it.
const wchar_t* PastOwnPath(const wchar_t* line) {
    const platform::Text own = OwnPath();
    const int length = static_cast<int>(own.size());
    if (length == 0 || std::wcslen(line) < own.size() ||
        ::CompareStringOrdinal(line, length, own.data(), length, TRUE) != CSTR_EQUAL) {
        return nullptr;
    }
    const wchar_t* past = line + length;
    return (*past == L'\0' || IsBlank(*past)) ? past : nullptr;
}

// The presence test admits folders and ordinary files, as a listing asked
// for those attributes does: hidden and system entries are not in it, so they
// count as absent. A hidden folder in the chain is then asked to be made
// again, which fails and changes nothing.
bool Admitted(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

} // namespace

namespace platform {

Text ArgumentText() {
    // The program's name ends at its closing quote when it starts with one,
    // else at the first blank; the blanks after it belong to neither, as
    // Windows programs take them. An unquoted name with blanks in it (an
    // installer that started us as "C:\Program Files\...\Tarvik.exe a,b,c"
    // and named the program apart) is known by our own full path.
    const wchar_t* cursor = ::GetCommandLineW();
    if (cursor == nullptr) {
        return Text();
    }
    if (*cursor == L'"') {
        ++cursor;
        while (*cursor != L'\0' && *cursor != L'"') {
            ++cursor;
        }
        if (*cursor == L'"') {
            ++cursor;
        }
    } else if (const wchar_t* past = PastOwnPath(cursor)) {
        cursor = past;
    } else {
        while (*cursor != L'\0' && !IsBlank(*cursor)) {
            ++cursor;
        }
    }
    while (IsBlank(*cursor)) {
        ++cursor;
    }
    return Text(cursor);
}

Presence TestPresence(const Text& path) {
    // A listing of "folder\*" is the folder's contents; asking for them
    // answers whether the folder itself exists, under the name it has inside
    // a longer path. Any other path is listed as the entry itself.
    const bool asFolder =
        !path.empty() && (IsSeparator(path.back()) || path.back() == L' ' || path.back() == L'.');
    const Text pattern = asFolder ? AsFolder(path) + L'*' : path;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_NO_MORE_FILES || error == ERROR_DIRECTORY) {
            return Presence::Absent;
        }
        return Presence::Failed;
    }
    bool admitted = false;
    do {
        admitted = Admitted(entry);
    } while (!admitted && ::FindNextFileW(search, &entry));
    ::FindClose(search);
    return admitted ? Presence::Present : Presence::Absent;
}

bool CreateOneFolder(const Text& path) {
    return ::CreateDirectoryW(AsFolder(path).c_str(), nullptr) != FALSE;
}

void EndRun() {
    ::ExitProcess(0);
}

} // namespace platform

// The C++ runtime's last resort, for an exception that nothing may catch,
// ends the run as quietly as any other. The runtime's own handler would
// print the exception's type and call abort(), whose dialog msvcrt shows a
// windowed program; the link points that handler here (CMakeLists.txt),
// which also leaves its demangler out of the exe.
extern "C" [[noreturn]] void TarvikTerminate() {
    ::TerminateProcess(::GetCurrentProcess(), 0);
    ::ExitProcess(0);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else: no "insert a disk" or fault dialog, whatever the
    // paths name, and no junction a user planted is followed.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    DistrustUsersJunctions();
    try {
        mdlCopy::Main();
    } catch (...) {
        // Out of memory: the run ends as quietly as any other.
    }
    platform::EndRun();
    return 0;
}
