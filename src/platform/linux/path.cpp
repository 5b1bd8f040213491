// Path resolution for the Linux host, the one piece that stands between a
// root run and folders that users control. A path without symbolic links
// takes one call; a link on the way sends it down a walk, one component at a
// time, each step from the descriptor of the step before, so the path cannot
// be switched between steps. The walk follows a link only when the run may
// trust both the link and the folder that holds it (MayFollow).
#include "fd.h"

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/vfs.h>

namespace host {

namespace {

// The kernel's own limit on symbolic links within one resolution.
constexpr int kMaxLinks = 40;

// The kernel refuses a text this long outright, and the walk must not reach
// further than it: a chain just beyond the limit is not started.
bool BeyondPathLimit(const std::string& path) {
    if (path.size() < PATH_MAX) {
        return false;
    }
    errno = ENAMETOOLONG;
    return true;
}

// A link is followed only when it belongs to a trusted owner and sits in a
// folder that no one else may write. Anyone else's link could steer a root
// run into folders its maker may not touch; and whoever may write a folder
// may move any link into it, even root's, so a root-made link in a user's
// folder, or in a folder that a group or everyone may write (sticky or not),
// is someone else's choice of where the run goes. A real folder needs no such
// rule: a user cannot move a folder that is not theirs into their own.
bool MayFollow(const struct stat& link, int folder) {
    return TrustedOwner(link.st_uid) && !OthersMayWrite(folder);
}

// The links of /proc that lead into another process's view (its root, its
// folder, its open files) do not lead through their text, which reads as a
// path in that process's namespace or names a file no longer in any folder:
// the kernel follows them itself, as it does for any program.
bool InProc(int link) {
    struct statfs status;
    return ::fstatfs(link, &status) == 0 && status.f_type == PROC_SUPER_MAGIC;
}

// The one-call open failed because a link is on the way (ELOOP) or because
// the kernel has no openat2 (the others): the walk takes over.
bool NeedsWalk(int error) {
    switch (error) {
    case ELOOP:
    case ENOSYS:
    case EINVAL:
    case EPERM:
        return true;
    default:
        return false;
    }
}

// Opens the entry the walk has reached with the caller's flags: by its name
// in its folder, never following a link there, and only when it is still the
// file the walk examined.
int Reopen(int folder, const char* name, int flags, const struct stat& examined) {
    Fd entry(Retry([&] { return ::openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC); }));
    if (entry.fd >= 0 && !StillExamined(entry.fd, examined)) {
        errno = ESTALE;
        return -1;
    }
    return entry.Release();
}

int Walk(int at, const char* path, int flags, int& links);

// Walks on through the link name (open as link, examined as status) that the
// folder holds, when the run may follow it, and opens where it leads with
// flags.
int FollowLink(int link, const char* name, const struct stat& status, int folder, int flags,
               int& links) {
    if (!MayFollow(status, folder)) {
        errno = EACCES;
        return -1;
    }
    if (InProc(link)) {
        return ::openat(folder, name, flags | O_CLOEXEC);
    }
    char text[PATH_MAX];
    const ssize_t size = ::readlinkat(link, "", text, sizeof text - 1);
    if (size < 0 || ++links > kMaxLinks) {
        errno = size < 0 ? errno : ELOOP;
        return -1;
    }
    text[size] = '\0';
    // A relative link text starts from the folder that holds the link.
    return Walk(folder, text, flags, links);
}

// Resolves path from the folder at and opens its last component with flags;
// every component before it is opened as an O_PATH folder. O_DIRECTORY in
// flags asks for a folder at the end.
int Walk(int at, const char* path, int flags, int& links) {
    Fd folder(::openat(at, *path == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const char* next = path + std::strspn(path, "/"); folder.fd >= 0;) {
        const char* end = ::strchrnul(next, '/');
        // A path of slashes alone names the folder it starts from.
        const std::string name = end == next ? std::string(".") : std::string(next, end);
        next = end + std::strspn(end, "/");
        const bool last = *next == '\0';
        // As for the kernel, a name followed by a slash must be a folder.
        const int want = last ? flags | (*end == '/' ? O_DIRECTORY : 0) : O_PATH | O_DIRECTORY;
        Fd entry(::openat(folder.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (entry.fd < 0 || ::fstat(entry.fd, &status) != 0) {
            return -1;
        }
        if (S_ISLNK(status.st_mode)) {
            entry.Reset(FollowLink(entry.fd, name.c_str(), status, folder.fd, want, links));
        } else if ((want & O_DIRECTORY) != 0 && !S_ISDIR(status.st_mode)) {
            errno = ENOTDIR;
            return -1;
        } else if (last && (want & O_PATH) == 0) {
            entry.Reset(Reopen(folder.fd, name.c_str(), want, status));
        }
        if (last || entry.fd < 0) {
            return entry.Release();
        }
        folder.Reset(entry.Release());
    }
    return -1;
}

// Opens path with flags that may include O_PATH, never a file to read.
int Resolve(const std::string& path, int flags) {
    if (BeyondPathLimit(path)) {
        return -1;
    }
    struct open_how how {};
    how.flags = static_cast<__u64>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd >= 0 || !NeedsWalk(errno)) {
        return static_cast<int>(fd);
    }
    int links = 0;
    return Walk(AT_FDCWD, path.c_str(), flags, links);
}

} // namespace

bool TrustedOwner(uid_t owner) {
    return owner == 0 || owner == ::geteuid();
}

bool OthersMayWrite(int folder) {
    struct stat status;
    return ::fstat(folder, &status) != 0 || !TrustedOwner(status.st_uid) ||
           (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

int Open(const std::string& path, int flags) {
    if ((flags & (O_PATH | O_DIRECTORY)) != 0) {
        return Resolve(path, flags);
    }
    // A file to read is examined before it is opened: opening a FIFO would
    // release a writer waiting on it, and a device would see an open it was
    // not meant to. The open goes through the examined file's /proc name, so
    // it is the same file; without /proc, through the path once more.
    Fd examined(Resolve(path, O_PATH));
    struct stat status;
    if (examined.fd < 0 || ::fstat(examined.fd, &status) != 0) {
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    Fd file(Retry([&] { return ::open(ProcName(examined.fd).c_str(), flags | O_CLOEXEC); }));
    if (file.fd < 0 && errno == ENOENT) {
        file.Reset(Resolve(path, flags));
    }
    if (file.fd >= 0 && !StillExamined(file.fd, status)) {
        errno = ESTALE;
        return -1;
    }
    return file.Release();
}

int OpenFolderOf(const std::string& path, std::string::size_type end, std::string& name) {
    const std::string::size_type slash = path.rfind('/', end - 1);
    const std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
    name = path.substr(start, end - start);
    // The whole text counts against the kernel's limit, not only the folder's.
    if (BeyondPathLimit(path)) {
        return -1;
    }
    return Resolve(start == 0 ? std::string(".") : path.substr(0, start), O_PATH | O_DIRECTORY);
}

} // namespace host
