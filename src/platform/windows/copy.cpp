// Windows host, the copy: CopyFileA writes a new file of this run beside the
// target, which then takes the target's place in one rename. Error
// convention: a step returns false and leaves the system's reason in
// GetLastError, which the named predicates below sort.
#include "../platform.h"
#include "host.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The narrow system code page form of a path, or false when the path has a
// character that code page cannot hold. A best-fit or default substitute
// would name some other file, which the copy could then overwrite.
bool ToCodePage(const platform::Text& wide, std::string& narrow) {
    narrow.clear();
    if (wide.empty()) {
        return true;
    }
    const UINT codePage = ::GetACP();
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    LPBOOL usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int wideLength = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0,
                                             nullptr, usedDefaultOut);
    if (length <= 0 || usedDefault) {
        return false;
    }
    narrow.resize(static_cast<size_t>(length));
    if (::WideCharToMultiByte(codePage, flags, wide.data(), wideLength, narrow.data(), length,
                              nullptr, usedDefaultOut) != length ||
        usedDefault) {
        return false;
    }
    // Only a conversion that comes back to the same text names the same file.
    const int backLength =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), length, nullptr, 0);
    if (backLength != wideLength) {
        return false;
    }
    platform::Text back(static_cast<size_t>(backLength), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), length, back.data(),
                          backLength);
    return back == wide;
}

using CopyFileAType = BOOL(WINAPI*)(LPCSTR, LPCSTR, BOOL);

// CopyFileA, looked up in kernel32 by name at its first use: where it cannot
// be bound, the copy fails as any copy may, and the run still ends quietly.
CopyFileAType BoundCopyFileA() {
    static const CopyFileAType bound = host::Kernel32Function<CopyFileAType>("CopyFileA");
    return bound;
}

// The folder part of a path, its last separator included. The system takes
// "/" for a backslash too, and "D:a.log" names a file in drive D's current folder.
platform::Text FolderPart(const platform::Text& path) {
    const platform::Text::size_type last = path.find_last_of(platform::kSeparators);
    if (last != platform::Text::npos) {
        return path.substr(0, last + 1);
    }
    if (path.size() >= 2 && path[1] == L':') {
        return path.substr(0, 2);
    }
    return platform::Text();
}

// Decimal digits, without bringing in a formatted-output library.
platform::Text Decimal(unsigned long value) {
    platform::Text digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// The names of this run's own files beside the target: no live process
// shares our id, and a name taken already (a killed run's leftover, or a
// name someone planted) is stepped past, never written into or removed.
platform::Text OwnName(const platform::Text& target, unsigned count) {
    return FolderPart(target) + L"~tarvik-" + Decimal(::GetCurrentProcessId()) + L"-" +
           Decimal(count) + L".tmp";
}

// What CopyFileA refuses to write over: a folder, a read-only file, and a
// hidden or system file unless the source carries the same attribute (it
// opens the target as CreateFile's CREATE_ALWAYS does, with the source's
// attributes). The replace keeps to the same rule.
bool RefusedTarget(DWORD target, DWORD source) {
    if ((target & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return true;
    }
    const DWORD carried = source == INVALID_FILE_ATTRIBUTES ? 0 : source;
    return (target & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) & ~carried) != 0;
}

// Failures that come from the new name beside the target, not from the copy
// itself: the folder takes no new file, or the name, longer than the
// target's, passes the path length limit. The target may still take an
// in-place copy.
bool NameRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_FILENAME_EXCED_RANGE;
}

// A name that stands already: the next one is tried.
bool NameTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Failures where the target stays as it was but cannot be replaced, while
// writing into it may still be allowed.
bool ReplaceRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Another process holds the file for a moment: virus scanners, indexers and
// sync clients open new files as they appear, most without letting others
// rename or delete them meanwhile.
bool Busy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

// How long a busy file is waited for, in all, before the step gives up.
constexpr DWORD kBusyPatienceMs = 2000;

// Repeats a step that fails as Busy, waiting a little longer each time; the
// last failure's reason stays for the caller.
template <typename Step> bool Retry(Step step) {
    DWORD waited = 0;
    for (DWORD wait = 10;; wait = std::min<DWORD>(wait * 2, 250)) {
        if (step()) {
            return true;
        }
        const DWORD error = ::GetLastError();
        if (!Busy(error) || waited >= kBusyPatienceMs) {
            ::SetLastError(error);
            return false;
        }
        ::Sleep(wait);
        waited += wait;
    }
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

// Opens an existing file itself, not what a link at its name leads to, and
// lets others read, write, rename and delete it meanwhile.
HANDLE OpenEntry(const platform::Text& path, DWORD access) {
    return ::CreateFileW(path.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A folder, or a link of any kind (symbolic link, junction): nothing the
// copy reads from or writes through.
bool FolderOrLink(const BY_HANDLE_FILE_INFORMATION& info) {
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
}

// A plain file with one name: neither a folder nor a link, nor a name that
// someone added to a file of theirs.
bool PlainFile(const BY_HANDLE_FILE_INFORMATION& info) {
    return !FolderOrLink(info) && info.nNumberOfLinks == 1;
}

// The parts of the replaced file's security that the copy takes over.
constexpr SECURITY_INFORMATION kKeptSecurity =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// What a replace carries over from the file it replaces, which the rename
// alone would lose: its security (owner and access list) and creation time.
struct Kept {
    std::vector<char> security; // self-relative; empty when there is none to keep
    FILETIME created{};
};

// Wine keeps no Windows security on its files: it shows one made up from the
// Unix mode bits and turns one that is set back into mode bits, widening
// them (a replaced 600 file would come out 770). There the copy keeps the
// mode that its making gave it.
bool SecurityIsKept() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

// Reads what the target keeps, from a plain file only: a link at the target
// is replaced as it is, and what it leads to is none of the copy's business.
Kept ReadKept(const platform::Text& target) {
    Kept kept;
    Handle old;
    BY_HANDLE_FILE_INFORMATION info;
    if (!old.Reset(OpenEntry(target, READ_CONTROL | FILE_READ_ATTRIBUTES)) ||
        !::GetFileInformationByHandle(old.Get(), &info) || FolderOrLink(info)) {
        return kept;
    }
    kept.created = info.ftCreationTime;
    if (!SecurityIsKept()) {
        return kept;
    }
    DWORD size = 0;
    ::GetKernelObjectSecurity(old.Get(), kKeptSecurity, nullptr, 0, &size);
    kept.security.resize(size);
    if (size == 0 ||
        !::GetKernelObjectSecurity(old.Get(), kKeptSecurity, kept.security.data(), size, &size)) {
        kept.security.clear();
    }
    return kept;
}

// Gives the copy the replaced file's security where the run may set it: an
// owner other than the run's own needs a privilege that most runs lack, and
// the access list alone is set then.
void ApplySecurity(HANDLE copy, const Kept& kept) {
    if (kept.security.empty()) {
        return;
    }
    const PSECURITY_DESCRIPTOR security = const_cast<char*>(kept.security.data());
    if (!::SetKernelObjectSecurity(copy, kKeptSecurity, security)) {
        ::SetKernelObjectSecurity(copy, DACL_SECURITY_INFORMATION, security);
    }
}

// Sets attributes and, when given, the creation time; zero times stay.
bool SetBasics(HANDLE file, DWORD attributes, const FILETIME& created) {
    FILE_BASIC_INFO basics{};
    basics.CreationTime.LowPart = created.dwLowDateTime;
    basics.CreationTime.HighPart = static_cast<LONG>(created.dwHighDateTime);
    // Zero would leave them as they are; "normal" is the empty set.
    basics.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basics, sizeof basics) != FALSE;
}

// The run's own copy beside the target, held open from its making to its
// placing or removal, so that every step acts on this file and not on
// whatever someone may have put at its name meanwhile.
struct OwnCopy {
    platform::Text name;
    Handle file;
    DWORD attributes = 0;
};

// Opens the copy just made (a scanner may hold it for a moment) and makes
// sure it is still the plain file that CopyFileA wrote.
bool OpenCopy(OwnCopy& copy) {
    const DWORD access = DELETE | READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    BY_HANDLE_FILE_INFORMATION info;
    // Taking the owner over needs WRITE_OWNER, which a folder's rules may
    // withhold; Wine refuses FILE_WRITE_ATTRIBUTES on a read-only file, yet
    // sets its attributes through any handle.
    if (!Retry([&] {
            return copy.file.Reset(
                       OpenEntry(copy.name, access | FILE_WRITE_ATTRIBUTES | WRITE_OWNER)) ||
                   copy.file.Reset(OpenEntry(copy.name, access | FILE_WRITE_ATTRIBUTES)) ||
                   copy.file.Reset(OpenEntry(copy.name, access));
        })) {
        return false;
    }
    if (!::GetFileInformationByHandle(copy.file.Get(), &info) || !PlainFile(info)) {
        copy.file.Reset(INVALID_HANDLE_VALUE);
        return false;
    }
    copy.attributes = info.dwFileAttributes;
    return true;
}

// Puts the copy's data on disk before its name takes the target's place, so
// that a power loss cannot leave an empty target. Flushing needs write
// access, so a read-only copy is writable for that moment only.
void FlushCopy(OwnCopy& copy, const FILETIME& created) {
    const DWORD readOnly = copy.attributes & FILE_ATTRIBUTE_READONLY;
    SetBasics(copy.file.Get(), copy.attributes & ~readOnly, created);
    Handle writer;
    if (Retry([&] { return writer.Reset(OpenEntry(copy.name, GENERIC_WRITE)); })) {
        ::FlushFileBuffers(writer.Get());
    }
    if (readOnly != 0) {
        SetBasics(copy.file.Get(), copy.attributes, FILETIME{});
    }
}

// Removes the run's own copy through the handle held on it, never by a name
// that someone else may have taken meanwhile. It goes when the last handle on
// it closes, a scanner's included.
void DiscardCopy(OwnCopy& copy) {
    SetBasics(copy.file.Get(), copy.attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}, FILETIME{});
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    Retry([&] {
        return ::SetFileInformationByHandle(copy.file.Get(), FileDispositionInfo, &disposition,
                                            sizeof disposition) != FALSE;
    });
    copy.file.Reset(INVALID_HANDLE_VALUE);
}

// Copies the source to a new name of this run beside the target, with
// CopyFileA as for any copy. Fail-if-exists makes the name afresh: it never
// writes into whatever stands at it, a link someone planted included.
bool CopyBeside(CopyFileAType copyFileA, const std::string& narrowSource,
                const platform::Text& target, OwnCopy& copy) {
    std::string narrow;
    for (unsigned count = 0; count < 100; ++count) {
        copy.name = OwnName(target, count);
        if (!ToCodePage(copy.name, narrow)) {
            ::SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        if (copyFileA(narrowSource.c_str(), narrow.c_str(), TRUE) == 1) {
            return true;
        }
        const DWORD error = ::GetLastError();
        if (!NameTaken(error)) {
            // A copy that failed midway (a full disk) leaves what CopyFileA
            // wrote of it; a refused name was never made.
            if (!NameRefused(error) && OpenCopy(copy)) {
                DiscardCopy(copy);
            }
            ::SetLastError(error);
            return false;
        }
    }
    return false;
}

// The copy takes the target's place in one rename: at every instant the
// target path names the old file or the whole new one, and a link at the
// target is replaced itself. Security follows through the handle, which
// still holds the copy under its new name.
bool PlaceCopy(OwnCopy& copy, const platform::Text& target, const Kept& kept) {
    FlushCopy(copy, kept.created);
    if (!Retry([&] {
            return ::MoveFileExW(copy.name.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        })) {
        return false;
    }
    ApplySecurity(copy.file.Get(), kept);
    return true;
}

} // namespace

namespace platform {

bool CopyOneFile(const Text& source, const Text& target) {
    std::string narrowSource;
    std::string narrowTarget;
    const CopyFileAType copyFileA = BoundCopyFileA();
    if (!ToCodePage(source, narrowSource) || !ToCodePage(target, narrowTarget) ||
        copyFileA == nullptr) {
        return false;
    }
    const DWORD targetAttributes = ::GetFileAttributesW(target.c_str());
    if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
        RefusedTarget(targetAttributes, ::GetFileAttributesW(source.c_str()))) {
        return false;
    }
    // Writing into the target, as CopyFileA alone does: not atomic, and only
    // for a target whose folder refuses the new file or the rename while the
    // target itself may still be written.
    const auto copyInPlace = [&] {
        return copyFileA(narrowSource.c_str(), narrowTarget.c_str(), 0) == 1;
    };

    // The copy goes to a new file beside the target, so that a copy that
    // fails midway (a full disk) leaves the target as it was.
    OwnCopy copy;
    if (!CopyBeside(copyFileA, narrowSource, target, copy)) {
        return NameRefused(::GetLastError()) && copyInPlace();
    }
    if (!OpenCopy(copy)) {
        return false;
    }
    if (PlaceCopy(copy, target, ReadKept(target))) {
        return true;
    }
    const DWORD error = ::GetLastError();
    DiscardCopy(copy);
    return ReplaceRefused(error) && copyInPlace();
}

} // namespace platform
