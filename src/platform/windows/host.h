// Private to the Windows host: what its files share.
#pragma once

#include "../platform.h"

#include <string>
#include <vector>
#include <windows.h>

namespace host {

// A call of kernel32 looked up by name at run time, or null where the system
// lacks it: so a missing call fails one step instead of stopping the program
// from starting at all.
template <typename Function> Function Kernel32Function(const char* name) {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return kernel32 == nullptr ? nullptr
                               : reinterpret_cast<Function>(
                                     reinterpret_cast<void*>(::GetProcAddress(kernel32, name)));
}

// A handle that closes on every way out.
class Handle {
  public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        Reset(INVALID_HANDLE_VALUE);
    }
    bool Reset(HANDLE handle) {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
        return handle != INVALID_HANDLE_VALUE;
    }
    HANDLE Get() const {
        return handle_;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens an existing file itself, not what a link at its name leads to, and
// lets others read, write, rename and delete it meanwhile.
inline HANDLE OpenEntry(const platform::Text& path, DWORD access) {
    return ::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A folder, or a link of any kind (symbolic link, junction): nothing the
// copy reads from or writes through.
inline bool FolderOrLink(const BY_HANDLE_FILE_INFORMATION& info) {
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
}

// What a replace carries over from the file it replaces, which the rename
// alone would lose: its security and creation time. The owner is kept apart
// from the access list, since only a privileged run may give a new file an
// owner other than itself.
struct Kept {
    std::vector<char> security;  // self-relative: owner and access list
    std::vector<char> access;    // self-relative: the access list alone
    std::vector<char> ownerOnly; // self-relative: what the run's own file has until placed
    FILETIME created{};
};

// What the target keeps, read before it is replaced. keep.cpp.
Kept ReadKept(const platform::Text& target);

// Puts the kept owner and access list on the run's own file, through a handle
// of its own on it, in place of its owner-only list. keep.cpp.
void PassOnKept(HANDLE file, const Kept& kept);

// Sets attributes and, when given, the creation time; zero times stay. keep.cpp.
bool SetBasics(HANDLE file, DWORD attributes, const FILETIME& created);

// The narrow system code page form of a path, or false when the path has a
// character that code page cannot hold exactly. names.cpp.
bool ToCodePage(const platform::Text& wide, std::string& narrow);

// The name of this run's own file number count beside the target. names.cpp.
platform::Text OwnName(const platform::Text& target, unsigned count);

} // namespace host
