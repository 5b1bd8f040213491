// Private to the Linux host: the descriptor holder and the retry policy that
// all its files use, and the one-call interface of path resolution. Error
// convention throughout the host: a call gives a descriptor (-1 on failure)
// or a bool, and errno says why it failed; only the step that places the copy
// names its outcomes, since the caller's next step depends on which. A
// descriptor the run cannot have is the one exception (Opened), and it never
// leaves the host.
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

// A descriptor the run cannot have (EMFILE, ENFILE) ends the step at once:
// by an exception that the host's entry point turns into its failure
// (ShortOfDescriptors), every descriptor closed and a temporary name removed
// on the way out, so the target stays as it was; the core sees a value. The steps that are
// otherwise best effort (the old file's attributes and ACL, the folder's default ACL, the folder's
// sync, what /proc tells) open through this: passing over a want of descriptors there would place a
// copy that promises less. EACCES, ENOTSUP and the like keep each step's own fallback.
struct NoDescriptor {};
inline int Opened(int fd) {
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
        throw NoDescriptor{};
    }
    return fd;
}
template <typename Failed, typename Step> Failed ShortOfDescriptors(Failed failed, Step step) {
    try {
        return step();
    } catch (const NoDescriptor&) {
        return failed;
    }
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

// What the trust rule weighs about the entry at a name, read beforehand
// (FactsAt, and TrustOld for a file the copy replaces), so that the rule
// reads nothing itself.
struct Facts {
    struct stat folder {};   // the folder that holds the name
    bool folderSeen = false; // whether it could be examined
    bool vouched = false;    // whether its file system's owners can be believed
    struct stat entry {};    // what stands at the name
    uid_t self = 0;          // the run's user
    // In a user namespace, the uid that stands for everyone it leaves
    // unmapped, and the same where it may stand for the host's root; -1 outside one or where not.
    uid_t unmapped = static_cast<uid_t>(-1);
    uid_t rootUnmapped = static_cast<uid_t>(-1);
    // For an old file that would pass on who may use it: the source, and
    // whether it or the old file has an access ACL (or that is not known).
    const struct stat* source = nullptr;
    bool aclOnEither = true;
};

// What the rule allows with that entry: follow it (a link), give the copy
// its owner, mode and ACL (a file the copy replaces), write into it in place.
struct Verdict {
    bool follow;
    bool keep;
    bool inPlace;
};

// The one rule of a privileged run, stated at the top of path.cpp.
Verdict TrustRule(const Facts& facts);

// The facts of the entry examined as entry in the folder. path.cpp.
Facts FactsAt(int folder, const struct stat& entry);

// Opens path (from the current folder) with the flags of open(2), following
// only the symbolic links that the run may trust. Without O_PATH or
// O_DIRECTORY it opens only a regular file (EINVAL otherwise), and examines
// it before it opens it. path.cpp.
int Open(const std::string& path, int flags);

// Opens the folder holding the entry that ends at end of path, as an O_PATH
// descriptor, and gives the entry's name in name. path.cpp.
int OpenFolderOf(const std::string& path, std::string::size_type end, std::string& name);

} // namespace host
