// Linux host: path texts are bytes and "/" separates folders. Paths are
// resolved from descriptors, one folder at a time whenever a symbolic link is
// on the way, and only links made by root or by the run's own user are
// followed. The copy goes into an unnamed file in the target folder that is
// named and renamed over the target only when complete, so the target path
// only ever names the old file or the whole new one.
#include "platform.h"

#include "../mdlCopy.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

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

// The name of an open file, for the calls that take no descriptor.
std::string ProcName(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Resolves path from the folder at one component at a time, each step from
// the descriptor of the step before, so the path cannot be switched between
// steps. A symbolic link is followed only when root or the run's effective
// user made it: anyone else's link could steer a root run into folders its
// maker may not touch. Gives an O_PATH descriptor.
int Walk(int at, const char* path, bool wantFolder, int& links) {
    Fd folder(::openat(at, *path == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const char* next = path + std::strspn(path, "/"); folder.fd >= 0;) {
        const char* end = ::strchrnul(next, '/');
        // A path of slashes alone names the folder it starts from.
        const std::string name = end == next ? std::string(".") : std::string(next, end);
        next = end + std::strspn(end, "/");
        const bool last = *next == '\0';
        // As for the kernel, a name followed by a slash must be a folder.
        const bool folderHere = !last || wantFolder || *end == '/';
        Fd entry(::openat(folder.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (entry.fd < 0 || ::fstat(entry.fd, &status) != 0) {
            return -1;
        }
        if (S_ISLNK(status.st_mode)) {
            if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
                errno = EACCES;
                return -1;
            }
            char text[PATH_MAX];
            const ssize_t size = ::readlinkat(entry.fd, "", text, sizeof text - 1);
            // The kernel's own limit on links within one resolution.
            if (size < 0 || ++links > 40) {
                errno = size < 0 ? errno : ELOOP;
                return -1;
            }
            text[size] = '\0';
            // A relative link text starts from the folder that holds the link.
            entry.Reset(Walk(folder.fd, text, folderHere, links));
        } else if (folderHere && !S_ISDIR(status.st_mode)) {
            errno = ENOTDIR;
            return -1;
        }
        if (last || entry.fd < 0) {
            return entry.Release();
        }
        folder.Reset(entry.Release());
    }
    return -1;
}

// Opens path from the current folder. A path without symbolic links, the
// usual case, takes one call; only a link on the way costs a walk.
int Open(const Text& path, int flags) {
    // The kernel refuses such a text outright, and the walk must not reach
    // further than it: a chain just beyond the limit is not started.
    if (path.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    struct open_how how {};
    how.flags = static_cast<__u64>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    // ELOOP: a link is on the way; the others: a kernel without openat2.
    if (fd >= 0 || (errno != ELOOP && errno != ENOSYS && errno != EINVAL && errno != EPERM)) {
        return static_cast<int>(fd);
    }
    int links = 0;
    Fd found(Walk(AT_FDCWD, path.c_str(), (flags & O_DIRECTORY) != 0, links));
    if (found.fd < 0 || (flags & O_PATH) != 0) {
        return found.Release();
    }
    // Through /proc the open reaches exactly the file the walk found.
    return Retry([&] { return ::open(ProcName(found.fd).c_str(), flags | O_CLOEXEC); });
}

// Opens the folder holding the entry that ends at end of path and gives the
// entry's name. The whole text counts against the kernel's limit.
int OpenFolderOf(const Text& path, Text::size_type end, Text& name) {
    const Text::size_type slash = path.rfind('/', end - 1);
    const Text::size_type start = slash == Text::npos ? 0 : slash + 1;
    name = path.substr(start, end - start);
    return path.size() >= PATH_MAX
               ? -1
               : Open(start == 0 ? Text(".") : path.substr(0, start), O_PATH | O_DIRECTORY);
}

// Moves [offset, end) from in to out at the same offsets, advancing offset,
// until end or until a read reports the end of the source (eof). The kernel
// moves the data itself where it can; plain calls take over where it cannot,
// report real faults themselves, and confirm every end the kernel copy
// reports, since some kernels answer 0 there for pseudo files.
bool CopyRange(int in, int out, off_t& offset, off_t end, bool& kernelCopy, bool& eof) {
    static char buffer[128 * 1024];
    while (offset < end) {
        const auto left = static_cast<size_t>(end - offset);
        if (kernelCopy) {
            off_t inOffset = offset;
            off_t outOffset = offset;
            const ssize_t moved =
                Retry([&] { return ::copy_file_range(in, &inOffset, out, &outOffset, left, 0); });
            kernelCopy = moved > 0;
            offset += kernelCopy ? moved : 0;
            continue;
        }
        const size_t chunk = left < sizeof buffer ? left : sizeof buffer;
        const ssize_t got = Retry([&] { return ::pread(in, buffer, chunk, offset); });
        if (got <= 0) {
            eof = got == 0;
            return eof;
        }
        // A regular file takes a whole write; a short one means a full
        // disk or a size limit, which the next write would report.
        if (Retry([&] { return ::pwrite(out, buffer, static_cast<size_t>(got), offset); }) != got) {
            return false;
        }
        offset += got;
    }
    return true;
}

// Copies the source until a read reports its end, whatever size the system
// reported (pseudo files report 0 or a page; a log may shrink or grow while
// it is copied), and gives the copy the length read. Below the reported size
// the holes of a sparse source stay holes.
bool CopyData(int in, int out, off_t size) {
    bool kernelCopy = true;
    bool eof = false;
    off_t offset = 0;
    while (offset < size && !eof) {
        const off_t data = ::lseek(in, offset, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // Only a hole is left, up to wherever the source ends now.
            offset = ::lseek(in, 0, SEEK_END);
            break;
        }
        // Without hole information the rest counts as data.
        const off_t hole = data < 0 ? size : ::lseek(in, data, SEEK_HOLE);
        offset = data < 0 ? offset : data;
        if (!CopyRange(in, out, offset, hole < 0 || hole > size ? size : hole, kernelCopy, eof)) {
            return false;
        }
    }
    // Beyond the reported size only plain reads, which every file answers.
    kernelCopy = false;
    return offset >= 0 &&
           (eof ||
            CopyRange(in, out, offset, std::numeric_limits<off_t>::max(), kernelCopy, eof)) &&
           Retry([&] { return ::ftruncate(out, offset); }) == 0;
}

// Gives the copy the source's modification time and, replacing a regular
// file, that file's owner and group (where allowed), extended attributes and
// ACL, and permission bits: best effort, the data matters more.
void KeepIdentity(int out, const struct stat& from, int old, const struct stat* status) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, from.st_mtim};
    ::futimens(out, times);
    if (status == nullptr) {
        return;
    }
    if (::fchown(out, status->st_uid, status->st_gid) != 0) {
        ::fchown(out, static_cast<uid_t>(-1), status->st_gid);
    }
    // An O_PATH descriptor takes no xattr calls; its /proc name does.
    static char names[XATTR_LIST_MAX];
    static char value[XATTR_SIZE_MAX];
    const std::string oldName = ProcName(old);
    const ssize_t length = ::listxattr(oldName.c_str(), names, sizeof names);
    bool hasAcl = false;
    for (const char* key = names; key < names + (length > 0 ? length : 0);
         key += std::strlen(key) + 1) {
        // Capabilities grant privileges to the old content, IMA and EVM
        // vouch for it: none of them may pass to new content.
        const ssize_t size = std::strcmp(key, "security.capability") == 0 ||
                                     std::strcmp(key, "security.ima") == 0 ||
                                     std::strcmp(key, "security.evm") == 0
                                 ? -1
                                 : ::getxattr(oldName.c_str(), key, value, sizeof value);
        if (size >= 0) {
            hasAcl = hasAcl || std::strcmp(key, "system.posix_acl_access") == 0;
            ::fsetxattr(out, key, value, static_cast<size_t>(size), 0);
        }
    }
    // The new file took the folder's default ACL, which the old one lacked.
    if (length >= 0 && !hasAcl) {
        ::fremovexattr(out, "system.posix_acl_access");
    }
    // Last, so that the bits and the ACL mask they set are the old ones.
    ::fchmod(out, status->st_mode & 0777);
}

// Calls make with temporary names until one is free: short, to fit beside any
// name; new on every attempt, as a taken name or an interrupted call must not
// be retried as it was; recognisable, so a leftover can be traced.
template <typename Make> bool WithFreshName(char (&name)[16], Make make) {
    for (uint64_t attempt = 1; attempt <= 100; ++attempt) {
        struct timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        // The stack's address differs between runs, the clock between calls.
        uint64_t bits = (static_cast<uint64_t>(now.tv_nsec) ^ reinterpret_cast<uintptr_t>(&now) ^
                         attempt << 40) *
                        0x9E3779B97F4A7C15u;
        std::memcpy(name, ".tarvik-", 8);
        for (int i = 8; i < 14; ++i, bits <<= 5) {
            name[i] = "abcdefghijklmnopqrstuvwxyz012345"[bits >> 59];
        }
        name[14] = '\0';
        if (make()) {
            return true;
        }
        if (errno != EEXIST && errno != EINTR) {
            break;
        }
    }
    name[0] = '\0';
    return false;
}

// Writes the copy beside the target and renames it over the target; gives 0
// or the error that stopped it. Unnamed until complete, the file leaves
// nothing behind a killed run; it is named from the start only where the file
// system has no unnamed files, or no /proc lets an unprivileged run name one.
int Replace(int in, const struct stat& from, int folder, const char* name, int old,
            const struct stat* oldStatus, bool unnamed) {
    const mode_t mode = (oldStatus != nullptr ? oldStatus->st_mode : from.st_mode) & 0777;
    char temporary[16] = "";
    int fd = unnamed ? ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode) : -1;
    if (fd < 0 && (!unnamed || errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        WithFreshName(temporary, [&] {
            fd = ::openat(folder, temporary, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC,
                          mode);
            return fd >= 0;
        });
    }
    Fd out(fd);
    if (out.fd < 0) {
        return errno;
    }
    bool named = temporary[0] != '\0';
    bool written = CopyData(in, out.fd, from.st_size);
    if (written) {
        KeepIdentity(out.fd, from, old, oldStatus);
    }
    if (written && !named) {
        // Linking a descriptor takes a privilege that linking its /proc
        // name does not.
        const std::string outName = ProcName(out.fd);
        named = written = WithFreshName(temporary, [&] {
            return ::linkat(out.fd, "", folder, temporary, AT_EMPTY_PATH) == 0 ||
                   (errno == ENOENT &&
                    ::linkat(AT_FDCWD, outName.c_str(), folder, temporary, AT_SYMLINK_FOLLOW) == 0);
        });
        if (!named && errno == ENOENT) {
            return Replace(in, from, folder, name, old, oldStatus, false);
        }
    }
    // A late write error (on network file systems) surfaces only here.
    written = ::close(out.Release()) == 0 && written;
    if (written && ::renameat(folder, temporary, folder, name) == 0) {
        return 0;
    }
    const int error = written ? errno : EIO;
    if (named) {
        ::unlinkat(folder, temporary, 0);
    }
    return error;
}

// Writes the copy into the existing target, as cp does, where the folder
// refuses a new file or the rename. Not atomic: a fault midway leaves the
// target partial.
bool WriteInPlace(int in, const struct stat& from, int folder, const char* name,
                  const struct stat& old) {
    Fd out(::openat(folder, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status;
    if (out.fd < 0 || ::fstat(out.fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_dev != old.st_dev || status.st_ino != old.st_ino ||
        Retry([&] { return ::ftruncate(out.fd, 0); }) != 0 || !CopyData(in, out.fd, from.st_size)) {
        return false;
    }
    KeepIdentity(out.fd, from, -1, nullptr);
    return ::close(out.Release()) == 0;
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
    if (entry.fd >= 0) {
        return Presence::Present;
    }
    return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Failed;
}

bool CreateOneFolder(const Text& path) {
    const Text::size_type last = path.find_last_not_of('/');
    Text name;
    const Fd folder(last == Text::npos ? -1 : OpenFolderOf(path, last + 1, name));
    return folder.fd >= 0 && ::mkdirat(folder.fd, name.c_str(), 0777) == 0;
}

bool CopyOneFile(const Text& source, const Text& target) {
    // A target ending in "/" names a folder, never a file to write.
    if (source.empty() || target.empty() || target.back() == '/') {
        return false;
    }
    // O_NONBLOCK: opening a FIFO without a writer must not wait. A write
    // lease answers EAGAIN to it; a regular file under one is worth the wait.
    Fd in(Open(source, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (in.fd < 0 && errno == EAGAIN) {
        const Fd leased(Open(source, O_PATH));
        struct stat status;
        if (leased.fd >= 0 && ::fstat(leased.fd, &status) == 0 && S_ISREG(status.st_mode)) {
            in.Reset(Retry([&] {
                return ::open(ProcName(leased.fd).c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
            }));
        }
    }
    struct stat from;
    if (in.fd < 0 || ::fstat(in.fd, &from) != 0 || !S_ISREG(from.st_mode)) {
        return false;
    }

    Text name;
    const Fd folder(OpenFolderOf(target, target.size(), name));
    if (folder.fd < 0) {
        return false;
    }
    // Only a regular file, or a link that leads to one or nowhere, is
    // replaced: a folder, FIFO, socket or device there keeps its place. A
    // target that is the source itself is left as it is.
    const Fd old(::openat(folder.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat oldStatus;
    struct stat linked;
    if (old.fd < 0 ? errno != ENOENT : ::fstat(old.fd, &oldStatus) != 0) {
        return false;
    }
    const bool regular = old.fd >= 0 && S_ISREG(oldStatus.st_mode);
    if (old.fd >= 0 && !regular &&
        (!S_ISLNK(oldStatus.st_mode) ||
         (::fstatat(folder.fd, name.c_str(), &linked, 0) == 0
              ? !S_ISREG(linked.st_mode) || SameFile(linked, from)
              : errno != ENOENT && errno != ENOTDIR && errno != ELOOP))) {
        return false;
    }
    if (regular && SameFile(oldStatus, from)) {
        return false;
    }
    const int error =
        Replace(in.fd, from, folder.fd, name.c_str(), old.fd, regular ? &oldStatus : nullptr, true);
    // Only the folder's refusal leads to writing in place; a full disk or any
    // other fault leaves the old target whole.
    if ((error == EACCES || error == EPERM) && regular) {
        return WriteInPlace(in.fd, from, folder.fd, name.c_str(), oldStatus);
    }
    return error == 0;
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
