// Linux host: path texts are bytes and "/" separates folders. Paths are
// resolved one folder at a time from descriptors whenever a symbolic link is
// on the way, so that only links made by root or by the run's own user steer
// the run. The copy is written into an unnamed file in the target folder and
// renamed over the target once complete, so the target path only ever names
// the old file or the whole new one.
#include "platform.h"

#include "../mdlCopy.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using platform::Text;

int gArgc = 0;
char** gArgv = nullptr;

// Retries a call that a signal interrupted.
template <typename Call> auto Retry(Call call) {
    for (;;) {
        auto result = call();
        if (!(result == -1 && errno == EINTR)) {
            return result;
        }
    }
}

// An open descriptor that is closed on every way out.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const {
        return fd_;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes now and tells whether the data reached the file system without
    // a late error (a full disk can surface only here on some file systems).
    bool Close() {
        return ::close(release()) == 0;
    }

  private:
    int fd_;
};

// The kernel's own limit on links followed while resolving one path.
constexpr int kMaxLinks = 40;

// Opens path from the folder at, one component at a time, with flags for the
// last one. A symbolic link on the way is followed only when root or the
// run's effective user made it: anyone else's link could point a root run at
// folders its maker may not touch. Each step works from the descriptor of
// the step before, so the path cannot be switched between steps.
int Walk(int at, const char* path, int flags, int& links) {
    if (*path == '\0') {
        errno = ENOENT;
        return -1;
    }
    Fd folder(Retry(
        [&] { return ::openat(at, *path == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    const char* next = path;
    while (*next == '/') {
        ++next;
    }
    if (*next == '\0') {
        return folder.get() < 0 ? -1 : Retry([&] {
            return ::openat(folder.get(), ".", flags | O_DIRECTORY | O_CLOEXEC);
        });
    }
    while (folder.get() >= 0) {
        const char* end = ::strchrnul(next, '/');
        const std::string name(next, end);
        next = end;
        while (*next == '/') {
            ++next;
        }
        const bool last = *next == '\0';
        // Folders on the way, and a last name written with a slash after it,
        // must be folders, as the kernel has it.
        const int want = last ? flags | (*end == '/' ? O_DIRECTORY : 0) : O_PATH | O_DIRECTORY;
        int fd = Retry(
            [&] { return ::openat(folder.get(), name.c_str(), want | O_NOFOLLOW | O_CLOEXEC); });
        // A link shows as ELOOP, as ENOTDIR where a folder is wanted, or, for
        // a bare O_PATH open, opens as itself.
        const bool bare = (want & (O_PATH | O_DIRECTORY)) == O_PATH;
        if (fd < 0 ? errno == ELOOP || errno == ENOTDIR : bare) {
            const int failure = errno;
            Fd entry(fd >= 0
                         ? fd
                         : ::openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            struct stat status;
            if (entry.get() < 0 || ::fstat(entry.get(), &status) != 0) {
                return -1;
            }
            if (S_ISLNK(status.st_mode)) {
                if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
                    errno = EACCES;
                    return -1;
                }
                if (++links > kMaxLinks) {
                    errno = ELOOP;
                    return -1;
                }
                char text[PATH_MAX];
                const ssize_t size = ::readlinkat(entry.get(), "", text, sizeof text - 1);
                if (size < 0) {
                    return -1;
                }
                text[size] = '\0';
                // Relative link texts start from the folder holding the link.
                fd = Walk(folder.get(), text, want, links);
            } else if (fd < 0) {
                errno = failure;
                return -1;
            } else {
                fd = entry.release();
            }
        }
        if (fd < 0 || last) {
            return fd;
        }
        folder.reset(fd);
    }
    return -1;
}

// Opens path from the current folder. A path without symbolic links (the
// usual case) takes one call; only a link on the way costs a walk.
int Open(const Text& path, int flags) {
    // The kernel refuses such a path text outright; so does the walk, so a
    // chain just beyond the limit is not started.
    if (path.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    struct open_how how {};
    how.flags = static_cast<__u64>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const auto fd =
        Retry([&] { return ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how); });
    // ELOOP: a link is on the way. The others: a kernel without openat2.
    if (fd >= 0 || (errno != ELOOP && errno != ENOSYS && errno != EINVAL && errno != EPERM)) {
        return static_cast<int>(fd);
    }
    int links = 0;
    return Walk(AT_FDCWD, path.c_str(), flags, links);
}

// The name of a descriptor under /proc, for the calls that take no descriptor.
struct ProcName {
    explicit ProcName(int fd) {
        std::snprintf(text, sizeof text, "/proc/self/fd/%d", fd);
    }
    char text[32];
};

// Moves [offset, end) from in to out at the same offsets, advancing offset,
// until end or until a read reports the end of the source (eof). The kernel
// moves the data itself where it can; plain reads take over where it cannot
// and confirm every end it reports, since it answers 0 for some pseudo files.
bool CopyRange(int in, int out, off_t& offset, off_t end, bool& kernelCopy, bool& eof) {
    static char buffer[128 * 1024];
    while (offset < end) {
        const off_t left = end - offset;
        if (kernelCopy) {
            off_t inOffset = offset;
            off_t outOffset = offset;
            const auto want = static_cast<size_t>(left < (1 << 30) ? left : (1 << 30));
            const ssize_t moved =
                Retry([&] { return ::copy_file_range(in, &inOffset, out, &outOffset, want, 0); });
            if (moved > 0) {
                offset += moved;
                continue;
            }
            if (moved < 0 && errno != ENOSYS && errno != EXDEV && errno != EINVAL &&
                errno != EOPNOTSUPP && errno != EBADF && errno != ETXTBSY && errno != EPERM) {
                return false;
            }
            kernelCopy = false;
        }
        const auto chunk =
            static_cast<size_t>(left < off_t{sizeof buffer} ? left : off_t{sizeof buffer});
        const ssize_t got = Retry([&] { return ::pread(in, buffer, chunk, offset); });
        if (got <= 0) {
            eof = got == 0;
            return eof;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = Retry([&] {
                return ::pwrite(out, buffer + done, static_cast<size_t>(got - done), offset + done);
            });
            if (put <= 0) {
                return false;
            }
            done += put;
        }
        offset += got;
    }
    return true;
}

// Copies the source until a read reports its end, whatever size the system
// reported (pseudo files report 0 or a page), and gives the copy the length
// read. Below the reported size the holes of a sparse source stay holes.
bool CopyData(int in, int out, off_t size) {
    bool kernelCopy = true;
    bool eof = false;
    off_t offset = 0;
    while (offset < size && !eof) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        off_t hole = size;
        if (data < 0 && errno == ENXIO) {
            // Only a hole is left, up to wherever the source ends now: it
            // may have shrunk since it reported its size.
            offset = ::lseek(in, 0, SEEK_END);
            if (offset < 0) {
                return false;
            }
            break;
        }
        if (data < 0) {
            data = offset; // no hole information here: all of it is data
        } else {
            hole = ::lseek(in, data, SEEK_HOLE);
            hole = hole < 0 || hole > size ? size : hole;
        }
        offset = data;
        if (!CopyRange(in, out, offset, hole, kernelCopy, eof)) {
            return false;
        }
    }
    // Whatever the source holds beyond its reported size: plain reads, the
    // kind that every file answers truthfully.
    kernelCopy = false;
    if (!eof && !CopyRange(in, out, offset, std::numeric_limits<off_t>::max(), kernelCopy, eof)) {
        return false;
    }
    return Retry([&] { return ::ftruncate(out, offset); }) == 0;
}

// Gives the replacement the identity of the file it replaces: owner and
// group where this process may set them, extended attributes (access ACL
// included) and permission bits. Each is best effort: a file system that
// cannot hold one still gets the data.
void KeepIdentity(int out, int old, const struct stat& status) {
    if (::fchown(out, status.st_uid, status.st_gid) != 0) {
        ::fchown(out, static_cast<uid_t>(-1), status.st_gid);
    }
    // O_PATH descriptors take no xattr calls; the /proc name of one does.
    static char names[XATTR_LIST_MAX];
    static char value[XATTR_SIZE_MAX];
    const ProcName oldName(old);
    const ssize_t length = ::listxattr(oldName.text, names, sizeof names);
    bool hasAcl = false;
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        const char* key = names + at;
        // Capabilities grant privileges to the old content, and IMA and EVM
        // vouch for it: none of them may pass to new content.
        if (std::strcmp(key, "security.capability") == 0 || std::strcmp(key, "security.ima") == 0 ||
            std::strcmp(key, "security.evm") == 0) {
            continue;
        }
        hasAcl = hasAcl || std::strcmp(key, "system.posix_acl_access") == 0;
        const ssize_t size = ::getxattr(oldName.text, key, value, sizeof value);
        if (size >= 0) {
            ::fsetxattr(out, key, value, static_cast<size_t>(size), 0);
        }
    }
    // The new file took the folder's default ACL, which the old one lacked.
    if (length >= 0 && !hasAcl) {
        ::fremovexattr(out, "system.posix_acl_access");
    }
    // Last, so that the bits (and the ACL mask they set) are the old ones.
    // Set-id bits never travel.
    ::fchmod(out, status.st_mode & 0777);
}

void KeepTime(int out, const struct stat& from) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, from.st_mtim};
    ::futimens(out, times);
}

// A short name, so it fits beside a name of any length, fresh on every
// attempt, so runs sharing a folder pass each other, and recognisable, so a
// leftover can be traced to this program.
void TemporaryName(char (&name)[16], unsigned attempt) {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    // The stack address differs between processes; the clock between calls.
    uint64_t bits = (static_cast<uint64_t>(now.tv_nsec) ^ reinterpret_cast<uintptr_t>(&now) ^
                     (uint64_t{attempt} << 40)) *
                    0x9E3779B97F4A7C15u;
    std::memcpy(name, ".tarvik-", 8);
    for (int i = 8; i < 14; ++i, bits <<= 5) {
        name[i] = "abcdefghijklmnopqrstuvwxyz012345"[bits >> 59];
    }
    name[14] = '\0';
}

// A file in folder to write the copy into: unnamed where the file system
// has such files, so a run killed at any moment leaves nothing; otherwise
// under a fresh temporary name.
int CreateTemporary(int folder, mode_t mode, char (&name)[16]) {
    name[0] = '\0';
    const int fd =
        Retry([&] { return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode); });
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        TemporaryName(name, attempt);
        const int named =
            ::openat(folder, name, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode);
        if (named >= 0 || (errno != EEXIST && errno != EINTR)) {
            return named;
        }
    }
    return -1;
}

// Names the complete unnamed file. Linking by descriptor needs a privilege
// that the /proc name of the descriptor does not.
bool NameTemporary(int out, int folder, char (&name)[16]) {
    const ProcName outName(out);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        TemporaryName(name, attempt);
        if (::linkat(out, "", folder, name, AT_EMPTY_PATH) == 0 ||
            (errno == ENOENT &&
             ::linkat(AT_FDCWD, outName.text, folder, name, AT_SYMLINK_FOLLOW) == 0)) {
            return true;
        }
        if (errno != EEXIST && errno != EINTR) {
            break;
        }
    }
    name[0] = '\0';
    return false;
}

enum class Outcome { Done, Fault, Refused };

// Only a refusal of the folder itself may turn into writing in place; a full
// disk or any other fault leaves the old target whole.
Outcome Failure(int error) {
    return error == EACCES || error == EPERM ? Outcome::Refused : Outcome::Fault;
}

// Writes the copy beside the target and renames it over the target.
Outcome Replace(int in, const struct stat& from, int folder, const char* name, int old,
                const struct stat* oldStatus) {
    char temporary[16];
    Fd out(
        CreateTemporary(folder, (oldStatus ? oldStatus->st_mode : from.st_mode) & 0777, temporary));
    if (out.get() < 0) {
        return Failure(errno);
    }
    bool named = temporary[0] != '\0';
    bool written = CopyData(in, out.get(), from.st_size);
    if (written) {
        if (oldStatus != nullptr) {
            KeepIdentity(out.get(), old, *oldStatus);
        }
        KeepTime(out.get(), from);
        if (!named) {
            named = written = NameTemporary(out.get(), folder, temporary);
        }
    }
    written = out.Close() && written;
    if (written && ::renameat(folder, temporary, folder, name) == 0) {
        return Outcome::Done;
    }
    const int error = errno;
    if (named) {
        ::unlinkat(folder, temporary, 0);
    }
    return written ? Failure(error) : Outcome::Fault;
}

// Writes the copy into the existing target, as cp does, where the folder
// refuses a new file or the rename. Not atomic: a fault midway leaves the
// target partial.
bool WriteInPlace(int in, const struct stat& from, int folder, const char* name,
                  const struct stat& old) {
    Fd out(Retry([&] {
        return ::openat(folder, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }));
    struct stat status;
    if (out.get() < 0 || ::fstat(out.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_dev != old.st_dev || status.st_ino != old.st_ino ||
        Retry([&] { return ::ftruncate(out.get(), 0); }) != 0 ||
        !CopyData(in, out.get(), from.st_size)) {
        return false;
    }
    KeepTime(out.get(), from);
    return out.Close();
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

namespace platform {

Text ArgumentText() {
    // The shell splits at blanks; joining with single blanks gives back what
    // an unquoted argument text meant.
    Text text;
    for (int i = 1; i < gArgc; ++i) {
        if (i > 1) {
            text += ' ';
        }
        text += gArgv[i];
    }
    return text;
}

Presence TestPresence(const Text& path) {
    const Fd entry(Open(path, O_PATH));
    if (entry.get() >= 0) {
        return Presence::Present;
    }
    return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Failed;
}

bool CreateOneFolder(const Text& path) {
    const Text::size_type end = path.find_last_not_of('/');
    if (end == Text::npos || path.size() >= PATH_MAX) {
        return false;
    }
    const Text::size_type slash = path.rfind('/', end);
    const Text::size_type start = slash == Text::npos ? 0 : slash + 1;
    const Fd folder(
        Open(slash == Text::npos ? Text(".") : path.substr(0, start), O_PATH | O_DIRECTORY));
    return folder.get() >= 0 &&
           ::mkdirat(folder.get(), path.substr(start, end + 1 - start).c_str(), 0777) == 0;
}

bool CopyOneFile(const Text& source, const Text& target) {
    // A target ending in "/" names a folder, never a file to write.
    if (source.empty() || target.empty() || target.back() == '/' || target.size() >= PATH_MAX) {
        return false;
    }

    // O_NONBLOCK: opening a FIFO without a writer must not wait. A write
    // lease answers EAGAIN to it; a regular file under one is worth the wait.
    Fd in(Open(source, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (in.get() < 0 && errno == EAGAIN) {
        const Fd leased(Open(source, O_PATH));
        struct stat status;
        if (leased.get() >= 0 && ::fstat(leased.get(), &status) == 0 && S_ISREG(status.st_mode)) {
            const ProcName leasedName(leased.get());
            in.reset(
                Retry([&] { return ::open(leasedName.text, O_RDONLY | O_NOCTTY | O_CLOEXEC); }));
        }
    }
    struct stat from;
    if (in.get() < 0 || ::fstat(in.get(), &from) != 0 || !S_ISREG(from.st_mode)) {
        return false;
    }

    const Text::size_type slash = target.rfind('/');
    const Fd folder(
        Open(slash == Text::npos ? Text(".") : target.substr(0, slash + 1), O_PATH | O_DIRECTORY));
    const char* name = target.c_str() + (slash == Text::npos ? 0 : slash + 1);
    if (folder.get() < 0) {
        return false;
    }

    // Only a regular file, or a link that leads to one or nowhere, is
    // replaced: a folder, FIFO, socket or device there keeps its place.
    const Fd old(
        Retry([&] { return ::openat(folder.get(), name, O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
    struct stat oldStatus;
    const struct stat* keep = nullptr;
    if (old.get() < 0) {
        if (errno != ENOENT) {
            return false;
        }
    } else if (::fstat(old.get(), &oldStatus) != 0) {
        return false;
    } else if (S_ISLNK(oldStatus.st_mode)) {
        struct stat linked;
        if (::fstatat(folder.get(), name, &linked, 0) == 0
                ? !S_ISREG(linked.st_mode) || SameFile(linked, from)
                : errno != ENOENT && errno != ENOTDIR && errno != ELOOP) {
            return false;
        }
    } else if (!S_ISREG(oldStatus.st_mode) || SameFile(oldStatus, from)) {
        return false;
    } else {
        keep = &oldStatus;
    }

    const Outcome outcome = Replace(in.get(), from, folder.get(), name, old.get(), keep);
    if (outcome == Outcome::Refused && keep != nullptr) {
        return WriteInPlace(in.get(), from, folder.get(), name, oldStatus);
    }
    return outcome == Outcome::Done;
}

void EndRun() {
    ::_exit(0);
}

} // namespace platform

int main(int argc, char** argv) {
    // A file-size limit must turn into a failed write, not end the run.
    ::signal(SIGXFSZ, SIG_IGN);
    gArgc = argc;
    gArgv = argv;
    try {
        mdlCopy::Main();
    } catch (...) {
        // Out of memory: the run ends as quietly as any other.
    }
    platform::EndRun();
}
