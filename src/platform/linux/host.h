// Private to the Linux host: the descriptor holder and the retry policy that
// all its files use, and the one-call interface of path resolution. Error
// convention throughout the host: a call gives a descriptor (-1 on failure)
// or a bool, and errno says why it failed; only the step that places the copy
// names its outcomes, since the caller's next step depends on which. A
// descriptor the run cannot have is the one exception (Opened).
#pragma once

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace host {

// Retries a call that a signal interrupted.
template <typename Call> auto RetryOnSignal(Call call) {
    for (;;) {
        auto result = call();
        if (!(result == -1 && errno == EINTR)) {
            return result;
        }
    }
}

// An open descriptor, closed on every way out.
struct Fd {
    explicit Fd(int value) : fd(value) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        Reset(-1);
    }
    int Release() {
        return std::exchange(fd, -1);
    }
    void Reset(int value) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = value;
    }
    int fd;
};

// A descriptor the run cannot have (EMFILE, ENFILE) ends the copy as memory
// it cannot have does: by an exception, which the core's step catches, every
// descriptor closed and a temporary name removed on the way out, so the target
// stays as it was. The steps that are otherwise best effort (the old file's
// attributes and ACL, the folder's default ACL, the folder's sync, what /proc
// tells) open through this: passing over a want of descriptors there would
// place a copy that promises less. EACCES, ENOTSUP and the like keep each
// step's own fallback.
struct NoDescriptor {};
inline int Opened(int fd) {
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
        throw NoDescriptor{};
    }
    return fd;
}

inline bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the open descriptor is still the file examined as examined: a name
// may be switched to another file between the look and the open.
inline bool StillSame(int fd, const struct stat& examined) {
    struct stat status;
    return ::fstat(fd, &status) == 0 && SameFile(status, examined);
}

// The /proc name of an open file, for the calls that take no descriptor.
inline std::string ProcName(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The umask the run started with, for the copy's bits; the process's own is
// set for the folders the run makes. main.cpp.
mode_t StartUmask();

// What an owner is trusted for: following a link it made, where the run has
// no more than its real user's rights anyway, or keeping what it made (its
// owner, mode and ACL passed on to the copy, its file written in place).
enum class Trust { Following, Keeping };

// In a user namespace, the uid that stands for everyone it does not map
// (the host's root among them), which no stat tells apart; -1 outside one.
// path.cpp.
uid_t UnmappedUid();

// Root and the run's own user: what either made, the run may trust, where the
// file system that holds it (the descriptor on) vouches for its owners. In a
// user namespace the overflow uid stands for the host's root too: it is
// trusted for following only, and not at all where the namespace maps it.
// path.cpp.
bool TrustedOwner(uid_t owner, int on, Trust trust);

// Whether anyone but root or the run's user may write the folder, or it
// cannot be examined: then it vouches neither for a link in it nor for who
// put a file there. path.cpp.
bool OthersMayWrite(int folder, Trust trust);

// Opens path (from the current folder) with the flags of open(2), following
// only the symbolic links that the run may trust. Without O_PATH or
// O_DIRECTORY it opens only a regular file (EINVAL otherwise), and examines
// it before it opens it. path.cpp.
int Open(const std::string& path, int flags);

// A link is followed only when it belongs to a trusted owner and sits in a
// folder that no one else may write. Anyone else's link could steer a root
// run into folders its maker may not touch; and whoever may write a folder
// may move any link into it, even root's, so a root-made link in a user's
// folder, or in a folder that a group or everyone may write (sticky or not),
// is someone else's choice of where the run goes. A real folder needs no such
// rule: a user cannot move a folder that is not theirs into their own.
// path.cpp.
bool MayFollow(const struct stat& link, int folder);

// Opens the folder holding the entry that ends at end of path, as an O_PATH
// descriptor, and gives the entry's name in name. path.cpp.
int OpenFolderOf(const std::string& path, std::string::size_type end, std::string& name);

} // namespace host
