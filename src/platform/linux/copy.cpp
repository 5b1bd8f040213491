// The copy on the Linux host, and where it is placed (what it keeps from
// its source and from the file it replaces: keep.cpp). The copy goes into a new
// file in the target folder, unnamed until it is complete where the file
// system allows, and its data reach the disk before it takes the target's
// name in one step: linked straight to the name where none stands, renamed
// over the target otherwise; the folder is synced after. So the target path
// names the old file or the whole new one, also after a crash. Only where
// the folder refuses the new file or the rename is an existing target written
// in place, as cp does, under a lock that other runs of Tarvik wait for, and
// only where that write reaches the target alone and the file may keep who
// may use it (TrustOld, by the trust rule of path.cpp) and where it fits
// (WithinSizeLimit, and room reserved first: WriteInPlace).
//
// Which step's failure leads where (each step answers an Outcome):
//   source opened and examined, target classified   any error -> no copy
//   new file beside the target (MakeCopyFile)   CreateRefused -> Refused
//                                                       other -> Failed
//   copy written, kept, on disk (WriteCopy)               any -> Failed
//   unnamed file linked to the target name    EEXIST -> a temporary name
//                                       ENOENT -> Unnameable; other -> Failed
//   ... or to a temporary name (Pending)   ENOENT -> Unnameable; other -> Failed
//   closed, then renamed over the target    RenameRefused -> Refused
//                                                       other -> Failed
//   Unnameable: all again under a temporary name (a folder that keeps its
//   names: Failed); Refused: the write in place (WriteInPlace) where the
//   target is a regular file; Failed: no copy, the target as it was.
#include "copy.h"
#include "../platform.h"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/quota.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>

namespace host {

namespace {

// How long a run waits for the holder of a write lease on the source to let
// go (the kernel's default lease break time, and a little more), or for
// another run writing the target in place; then it gives up, changing nothing.
constexpr int kWaitMs = 50'000;
constexpr int kPauseMs = 10;

// Asks attempt again, pausing between, until it answers true (done, or
// failed for a reason that waiting will not change); false when kWaitMs
// passed first.
template <typename Attempt> bool WhileBusy(Attempt attempt) {
    const struct timespec pause = {0, kPauseMs * 1'000'000L};
    for (int waited = 0; !attempt(); waited += kPauseMs) {
        if (waited >= kWaitMs) {
            return false;
        }
        ::nanosleep(&pause, nullptr);
    }
    return true;
}

// How the new file gets its name: unnamed, then linked straight to the target
// name or through a temporary name renamed over the target; unnamed and never
// under a temporary name (where a stray name could not be removed); or under
// a temporary name from the start.
enum class Naming { Unnamed, UnnamedOnly, Named };

// What a step of the copy came to. Done, Refused (the folder refused the new
// file or the rename: the target is written in place) and Failed mean the same
// on both hosts; Pending (named, the rename still to come) and Unnameable (the
// unnamed file could not be named) are this host's own.
enum class Outcome { Done, Refused, Failed, Pending, Unnameable };

// Only a regular file is opened (Open examines it first). A write lease
// answers EAGAIN to it and tells the lease's holder to let go; the open is
// asked again until the holder has, as cp waits.
bool OpenSource(const std::string& path, Source& source) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    WhileBusy([&] {
        source.fd.Reset(Open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
        return source.fd.fd >= 0 || errno != EAGAIN;
    });
    return source.fd.fd >= 0 && ::fstat(source.fd.fd, &source.status) == 0;
}

// A link at the target path is replaced when it leads to a regular file that
// is not the source, or to nothing at all. A link the run may not follow is a
// plain link, replaced without a look through it: where it leads would tell
// its maker what is behind root's doors, and could hang on a dead mount.
bool ReplaceableLink(const Target& target, const struct stat& source) {
    if (!TrustRule(FactsAt(target.folder.fd, target.status)).follow) {
        return true;
    }
    struct stat linked;
    if (::fstatat(target.folder.fd, target.name.c_str(), &linked, 0) == 0) {
        return S_ISREG(linked.st_mode) && !SameFile(linked, source);
    }
    return errno == ENOENT || errno == ENOTDIR || errno == ELOOP;
}

bool ClassifyTarget(const std::string& path, const struct stat& source, Target& target) {
    // A target ending in "/" names a folder, never a file to write.
    if (path.empty() || path.back() == '/') {
        errno = EISDIR;
        return false;
    }
    target.folder.Reset(OpenFolderOf(path, path.size(), target.name));
    if (target.folder.fd < 0) {
        return false;
    }
    const int folder = target.folder.fd;
    if (::fstatat(folder, target.name.c_str(), &target.status, AT_SYMLINK_NOFOLLOW) != 0) {
        target.standing = Standing::Absent;
        return errno == ENOENT;
    }
    if (S_ISREG(target.status.st_mode)) {
        target.standing = SameFile(target.status, source) ? Standing::LeftAlone : Standing::Regular;
    } else if (S_ISLNK(target.status.st_mode) && ReplaceableLink(target, source)) {
        target.standing = Standing::Link;
    } else {
        target.standing = Standing::LeftAlone;
        errno = EEXIST;
    }
    return target.standing != Standing::LeftAlone;
}

// An append-only or immutable folder (chattr +a, +i) keeps every name it
// has: it refuses a rename over the target and the removal of a temporary
// name alike, so this is asked before anything is named.
bool KeepsItsNames(int folder) {
    struct statx status;
    return ::statx(folder, "", AT_EMPTY_PATH, 0, &status) == 0 &&
           (status.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
}

// The file system has no unnamed files: older ones answer EOPNOTSUPP, some
// EISDIR or EINVAL.
bool NoUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Whether an inode quota that a new file in the folder counts against is used
// up: the run's user's, the group's the file gets (the folder's where it is
// set-group-id), or the folder's project's. A block quota leaves no room for
// the copy in place either. A quota the run may not ask about (EPERM: a
// group it is not in, and the project's, which the kernel tells root alone)
// cannot be ruled out, so it counts as used up: the write in place reserves
// its room first, and a block quota reached instead leaves the target whole.
bool InodeQuotaReached(int folder) {
    struct stat status;
    struct fsxattr project {};
    const Fd readable(Opened(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    const bool setGroup = ::fstat(folder, &status) == 0 && (status.st_mode & S_ISGID) != 0;
    // Project 0 is none; an unreadable folder's project is not known.
    if (readable.fd < 0 || ::ioctl(readable.fd, FS_IOC_FSGETXATTR, &project) != 0) {
        project.fsx_projid = 0;
    }
    const std::pair<int, unsigned> owners[] = {{USRQUOTA, ::geteuid()},
                                               {GRPQUOTA, setGroup ? status.st_gid : ::getegid()},
                                               {PRJQUOTA, project.fsx_projid}};
    for (const auto& [type, id] : owners) {
        struct dqblk quota {};
        if (type == PRJQUOTA && id == 0) {
            continue;
        }
        if (::syscall(SYS_quotactl_fd, folder, QCMD(Q_GETQUOTA, type), id, &quota) != 0) {
            if (errno == EPERM) {
                return true;
            }
        } else if ((quota.dqb_ihardlimit != 0 && quota.dqb_curinodes >= quota.dqb_ihardlimit) ||
                   (quota.dqb_isoftlimit != 0 && quota.dqb_curinodes >= quota.dqb_isoftlimit)) {
            return true;
        }
    }
    return false;
}

// The new file cannot be made for want of inodes (or of inode quota), not of
// space: the existing target can still take the copy in place. Only a file
// system that counts inodes can run out of them (btrfs reports none at all).
bool OutOfInodes(int error, int folder) {
    struct statvfs status;
    if (error == EDQUOT) {
        return InodeQuotaReached(folder);
    }
    return error == ENOSPC && ::fstatvfs(folder, &status) == 0 && status.f_files > 0 &&
           status.f_ffree == 0;
}

// The folder refuses the new file, or the target its replacement (a sticky
// folder, a bind-mounted target file): what leads to writing in place. A full
// disk or any other fault leaves the old target whole instead.
bool CreateRefused(int error, int folder) {
    return error == EACCES || error == EPERM || OutOfInodes(error, folder);
}
bool RenameRefused(int error) {
    return error == EACCES || error == EPERM || error == EBUSY;
}

// Moves [offset, end) from in to out at the same offsets, advancing offset,
// until end or until a read reports the end of the source (eof). The kernel
// moves the data itself where it can; plain calls take over where it cannot,
// report real faults themselves, and confirm every end the kernel copy
// reports, since some kernels answer 0 there for pseudo files.
bool CopyRange(int in, int out, off_t& offset, off_t end, bool& kernelCopy, bool& eof) {
    static char buffer[128 * 1024];
    // At most this much a call: a 32-bit size_t cannot hold a range past
    // 4 GiB, and a length cut to its low bits would end the copy early.
    constexpr off_t kMostPerCall = off_t{1} << 30;
    while (offset < end) {
        const auto left =
            static_cast<size_t>(end - offset < kMostPerCall ? end - offset : kMostPerCall);
        if (kernelCopy) {
            off_t inOffset = offset;
            off_t outOffset = offset;
            const ssize_t moved = RetryOnSignal(
                [&] { return ::copy_file_range(in, &inOffset, out, &outOffset, left, 0); });
            kernelCopy = moved > 0;
            offset += kernelCopy ? moved : 0;
            continue;
        }
        const size_t chunk = left < sizeof buffer ? left : sizeof buffer;
        const ssize_t got = RetryOnSignal([&] { return ::pread(in, buffer, chunk, offset); });
        if (got <= 0) {
            eof = got == 0;
            return eof;
        }
        // A regular file takes a whole write; a short one means a full
        // disk or a size limit, which the next write would report.
        if (RetryOnSignal(
                [&] { return ::pwrite(out, buffer, static_cast<size_t>(got), offset); }) != got) {
            return false;
        }
        offset += got;
    }
    return true;
}

// Copies the source until a read reports its end, whatever size the system
// reported (pseudo files report 0 or a page; a log may shrink or grow while
// it is copied), and gives the copy the length read. Below the reported size
// the holes of a sparse source stay holes. In place (exact) every byte is
// written over the old content, and no more than size: what grows beyond
// would outrun the room reserved for it.
bool CopyData(int in, int out, off_t size, bool exact) {
    bool kernelCopy = true;
    bool eof = false;
    off_t offset = 0;
    while (offset < size && !eof) {
        const off_t data = exact ? offset : ::lseek(in, offset, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // Only a hole is left up to the reported size, or up to the end
            // if the source shrank. Bytes appended since are read below.
            const off_t now = ::lseek(in, 0, SEEK_END);
            offset = now >= 0 && now < size ? now : size;
            break;
        }
        // Without hole information the rest counts as data.
        const off_t hole = exact || data < 0 ? size : ::lseek(in, data, SEEK_HOLE);
        offset = data < 0 ? offset : data;
        if (!CopyRange(in, out, offset, hole < 0 || hole > size ? size : hole, kernelCopy, eof)) {
            return false;
        }
    }
    // Beyond the reported size only plain reads, which every file answers.
    kernelCopy = false;
    return (eof || exact ||
            CopyRange(in, out, offset, std::numeric_limits<off_t>::max(), kernelCopy, eof)) &&
           RetryOnSignal([&] { return ::ftruncate(out, offset); }) == 0;
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

// Names an unnamed file. Linking its descriptor takes a privilege
// (CAP_DAC_READ_SEARCH) that linking its /proc name does not; with neither,
// the answer is ENOENT.
bool LinkUnnamed(int out, int folder, const char* name) {
    if (::linkat(out, "", folder, name, AT_EMPTY_PATH) == 0) {
        return true;
    }
    return errno == ENOENT &&
           ::linkat(AT_FDCWD, ProcName(out).c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0;
}

// The new name reaches the disk with its folder: a crash after the run keeps
// the copy. The folder is opened for it before the name is given, so a run
// short of descriptors names nothing it could not sync. Best effort: a folder
// the run may not read (-1) is left to the system.
int OpenForSync(int folder) {
    return Opened(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}
void SyncFolder(const Fd& readable) {
    if (readable.fd >= 0) {
        ::fsync(readable.fd);
    }
}

// A temporary name in the target folder, removed on every way out unless
// the rename took it.
struct TemporaryName {
    explicit TemporaryName(int at) : folder(at) {}
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName() {
        if (text[0] != '\0') {
            ::unlinkat(folder, text, 0);
        }
    }
    int folder;
    char text[16] = "";
};

// Makes the file that takes the copy, in the target folder: unnamed where the
// file system has unnamed files, so a killed run leaves nothing behind. It
// starts open to its owner alone (StartOwnerOnly).
int MakeCopyFile(const Target& target, Naming naming, char (&temporary)[16]) {
    const int folder = target.folder.fd;
    Fd fd(-1);
    if (naming != Naming::Named) {
        fd.Reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kOwnerOnly));
        if (fd.fd < 0 && (naming == Naming::UnnamedOnly || !NoUnnamedFiles(errno))) {
            return -1;
        }
    }
    if (fd.fd < 0) {
        WithFreshName(temporary, [&] {
            fd.Reset(::openat(folder, temporary,
                              O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
            return fd.fd >= 0;
        });
    }
    if (fd.fd >= 0) {
        StartOwnerOnly(fd.fd);
    }
    return fd.Release();
}

// Writes the whole copy and what it keeps, and puts its data on the disk.
bool WriteCopy(int out, const Source& source, const Target& target) {
    if (!CopyData(source.fd.fd, out, source.status.st_size, false)) {
        return false;
    }
    KeepIdentity(out, source, target);
    return RetryOnSignal([&] { return ::fdatasync(out); }) == 0;
}

// Names the finished unnamed file: with the target's name where none stands
// (in one step, and the only way an append-only folder allows), else with a
// temporary name for the rename (Pending).
Outcome NameUnnamed(int out, const Target& target, Naming naming, char (&temporary)[16]) {
    const int folder = target.folder.fd;
    if (target.standing == Standing::Absent) {
        if (LinkUnnamed(out, folder, target.name.c_str())) {
            return Outcome::Done;
        }
        // EEXIST: another run made the target meanwhile; it is replaced.
        if (errno != EEXIST) {
            return errno == ENOENT ? Outcome::Unnameable : Outcome::Failed;
        }
    }
    if (naming == Naming::UnnamedOnly) {
        return Outcome::Failed;
    }
    if (WithFreshName(temporary, [&] { return LinkUnnamed(out, folder, temporary); })) {
        return Outcome::Pending;
    }
    return errno == ENOENT ? Outcome::Unnameable : Outcome::Failed;
}

// Gives the finished copy, its data on the disk, the target's name: linked
// straight to it, or renamed over it from the temporary name, and the folder
// synced after. Refused: the folder refused the rename. Unnameable: the
// unnamed file could not be named at all.
Outcome PlaceCopy(Fd& out, const Target& target, Naming naming, TemporaryName& temporary) {
    const int folder = target.folder.fd;
    const Fd readable(OpenForSync(folder));
    const Outcome named = temporary.text[0] == '\0'
                              ? NameUnnamed(out.fd, target, naming, temporary.text)
                              : Outcome::Pending;
    if (named == Outcome::Done) {
        SyncFolder(readable);
    }
    if (named != Outcome::Pending) {
        return named;
    }
    // A late write error (on network file systems) surfaces here at the latest.
    if (::close(out.Release()) != 0) {
        return Outcome::Failed;
    }
    if (::renameat(folder, temporary.text, folder, target.name.c_str()) != 0) {
        return RenameRefused(errno) ? Outcome::Refused : Outcome::Failed;
    }
    temporary.text[0] = '\0';
    SyncFolder(readable);
    return Outcome::Done;
}

// Makes a new file beside the target, writes the copy into it and places it.
// Refused: the folder refused the new file or the rename. A temporary name
// never outlives the call.
Outcome CopyBeside(const Source& source, const Target& target, Naming naming) {
    const int folder = target.folder.fd;
    TemporaryName temporary(folder);
    Fd out(MakeCopyFile(target, naming, temporary.text));
    if (out.fd < 0) {
        return CreateRefused(errno, folder) ? Outcome::Refused : Outcome::Failed;
    }
    if (!WriteCopy(out.fd, source, target)) {
        return Outcome::Failed;
    }
    return PlaceCopy(out, target, naming, temporary);
}

// Another run writing the same target in place holds this lock for the
// length of its write. Other writers do not ask for it and are outside the
// run's control. A file system without locks leaves the write unguarded.
bool LockForWriting(int fd) {
    return WhileBusy([&] { return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK; });
}

// Whether a file of size bytes stays within the run's file-size limit, which
// the kernel does not check when room is reserved.
bool WithinSizeLimit(off_t size) {
    struct rlimit limit;
    return ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           static_cast<rlim_t>(size) <= limit.rlim_cur;
}

// Writes the copy into the existing target, as cp does, where the folder
// refuses a new file or the rename. It starts only when it can finish as far
// as the run can know: within the size limit, room for the whole copy
// reserved, and exactly the length examined at the start copied (a log that
// grows meanwhile is copied as it stood); the old content is written over,
// never cut first, so a full disk leaves the old target whole. Not atomic: a
// fault midway (a read error) leaves the target partial.
bool WriteInPlace(const Source& source, const Target& target) {
    Fd out(::openat(target.folder.fd, target.name.c_str(),
                    O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status;
    const off_t size = source.status.st_size;
    if (out.fd < 0 || ::fstat(out.fd, &status) != 0 || !SameFile(status, target.status) ||
        !TrustOld(target, status, source).inPlace || !WithinSizeLimit(size) ||
        !LockForWriting(out.fd) ||
        (size > 0 &&
         RetryOnSignal([&] { return ::fallocate(out.fd, FALLOC_FL_KEEP_SIZE, 0, size); }) != 0)) {
        return false;
    }
    DisownOldContent(out.fd, status);
    if (!CopyData(source.fd.fd, out.fd, size, true)) {
        return false;
    }
    KeepModificationTime(out.fd, source);
    return RetryOnSignal([&] { return ::fdatasync(out.fd); }) == 0 && ::close(out.Release()) == 0;
}

} // namespace

} // namespace host

namespace platform {

bool CopyOneFile(const Text& sourcePath, const Text& targetPath) {
    using namespace host;
    return ShortOfDescriptors(false, [&] {
        Source source;
        Target target;
        if (!OpenSource(sourcePath, source) || !ClassifyTarget(targetPath, source.status, target)) {
            return false;
        }
        // A folder that keeps its names takes a new target only linked straight
        // from the unnamed file, and an existing one only in place.
        const bool keepsNames = KeepsItsNames(target.folder.fd);
        if (keepsNames && target.standing != Standing::Absent) {
            return target.standing == Standing::Regular && WriteInPlace(source, target);
        }
        Outcome outcome =
            CopyBeside(source, target, keepsNames ? Naming::UnnamedOnly : Naming::Unnamed);
        if (outcome == Outcome::Unnameable && !keepsNames) {
            outcome = CopyBeside(source, target, Naming::Named);
        }
        if (outcome == Outcome::Refused && target.standing == Standing::Regular) {
            return WriteInPlace(source, target);
        }
        return outcome == Outcome::Done;
    });
}

} // namespace platform
