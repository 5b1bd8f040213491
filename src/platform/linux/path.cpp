// Path resolution for the Linux host, the one piece that stands between a
// root run and folders that users control. A path without symbolic links
// takes one call; a link on the way sends it down a walk, one component at a
// time, each step from the descriptor of the step before, so the path cannot
// be switched between steps. The walk follows a link only when the run may
// trust both the link and the folder that holds it (TrustRule).
//
// The one rule of a privileged run, which every trust check of this host
// applies (TrustRule, below): whoever may change a folder's entries decides
// what stands at a name in it, whoever owns what stands there. A folder's
// entries are its owner's to change, and its group's and everyone's as its
// mode grants (an ACL's entries show in its group bits), as far as the file
// system's report can be believed: a FUSE mount's owners only where root or
// the run's user mounted it (VouchesForOwners), a user namespace's only as
// its map allows (OverflowUid: the overflow uid stands for everyone
// unmapped, and is trusted for following alone). So a link is followed, and
// an old target passes on its owner, mode and ACL, kept on the copy or by
// being written in place, only where nobody but root and the run's user
// could have put it there; anywhere else an old target passes on no access
// wider than the source's. A process's view, once entered through /proc, is
// such a folder too: its /proc leads no further than its root (FollowLink).
#include "host.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/vfs.h>

namespace host {

Verdict TrustRule(const Facts& facts) {
    const struct stat& entry = facts.entry;
    // Root and the run's user, where the file system vouches for its owners;
    // for following a link, where the run has no more than its real user's
    // rights anyway, the overflow uid too where it may be the host's root.
    const auto trusted = [&](uid_t owner, bool following) {
        return facts.vouched &&
               (owner == 0 || owner == facts.self || (following && owner == facts.rootUnmapped));
    };
    const auto othersMayChange = [&](bool following) {
        return !facts.folderSeen || !trusted(facts.folder.st_uid, following) ||
               (facts.folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    };
    const bool shared = othersMayChange(false);
    // Whoever may change a folder may move any link into it, even root's: a
    // root-made link in a user's folder, or in one that a group or everyone
    // may write (sticky or not), is someone else's choice of where the run
    // goes. A real folder needs no such rule: a user cannot move a folder
    // that is not theirs into their own.
    const bool follow = trusted(entry.st_uid, true) && !othersMayChange(true);
    // A file that neither root, the run's user nor the folder's owner made,
    // in a folder others may change, may have been put there for the copy to
    // take over. The overflow uid is anyone unmapped: that it owns the folder
    // too tells nothing.
    const bool squatted = !trusted(entry.st_uid, false) && shared &&
                          (!facts.folderSeen || facts.folder.st_uid != entry.st_uid ||
                           facts.folder.st_uid == facts.unmapped);
    // Where others may change the folder (a group member renames a root file
    // here, a user links one they may read and write into a sticky one), or
    // the file has another name its maker may have moved here, it passes on
    // who may use it only where it lets no one read who could not read the
    // source, as far as its bits tell without knowing who is in which group:
    // the source is readable by all, or the old file by no one else but its
    // owner (root, the run's user or the source's) and, without an ACL on
    // either, the source's own group where the source grants that group too.
    bool passes = entry.st_nlink == 1 && !shared;
    if (!passes && facts.source != nullptr) {
        const struct stat& from = *facts.source;
        const bool groupWider =
            (entry.st_mode & S_IRGRP) != 0 &&
            ((from.st_mode & S_IRGRP) == 0 || entry.st_gid != from.st_gid || facts.aclOnEither);
        passes = (from.st_mode & S_IROTH) != 0 ||
                 ((entry.st_mode & S_IROTH) == 0 && !groupWider &&
                  (entry.st_uid == from.st_uid || trusted(entry.st_uid, false)));
    }
    // Written in place, the write reaches every name of the file, and the
    // file keeps its owner: the kernel's protected_regular rule, and more.
    const bool inPlace = entry.st_nlink == 1 && (trusted(entry.st_uid, false) || !shared) && passes;
    return Verdict{follow, !squatted && passes, inPlace};
}

namespace {

// The kernel's own limit on symbolic links within one resolution.
constexpr int kMaxLinks = 40;

// What a walk carries from step to step: the links followed so far, and the
// folder that "/" stands for: the host's root (-1) until a link of /proc
// leads into a process's view, then that process's root, and that process's
// folder of /proc, which "self" stands for inside its view.
struct Walked {
    int links = 0;
    Fd root{-1};
    Fd process{-1};
};

// The kernel refuses a text this long outright, and the walk must not reach
// further than it: a chain just beyond the limit is not started.
bool BeyondPathLimit(const std::string& path) {
    if (path.size() < PATH_MAX) {
        return false;
    }
    errno = ENAMETOOLONG;
    return true;
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

// Reads a small file of /proc whole; empty where it cannot (no /proc).
std::string ReadProc(const std::string& path) {
    std::string text;
    const Fd file(Opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC)));
    char chunk[4096];
    for (ssize_t got; file.fd >= 0 && (got = ::read(file.fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

// A FUSE file system that a user mounted shows whatever owners its maker
// chooses (bindfs --force-user=root makes every entry root's): it vouches for
// none unless root or the run's user mounted it (its user_id). Without /proc
// its maker cannot be told, and it vouches for none.
bool VouchesForOwners(int on) {
    struct statfs status;
    if (::fstatfs(on, &status) != 0) {
        return false;
    }
    if (status.f_type != FUSE_SUPER_MAGIC) {
        return true;
    }
    unsigned long mount = 0, maker = 0;
    const std::string info = ReadProc("/proc/self/fdinfo/" + std::to_string(on));
    const char* field = std::strstr(info.c_str(), "mnt_id:");
    if (field == nullptr || std::sscanf(field, "mnt_id: %lu", &mount) != 1) {
        return false;
    }
    // The mount's line: "ID PARENT ... - TYPE SOURCE SUPER-OPTIONS", each
    // field with its blanks escaped. The type and the source (the mount's
    // name) are its maker's to choose, ",user_id=0" too: only the super
    // options, which the kernel writes, tell the maker. (Appended piece by
    // piece: GCC 12 at -O3 takes a text put before another for an
    // overlapping copy and warns.)
    std::string mounts(1, '\n');
    mounts += ReadProc("/proc/self/mountinfo");
    std::string key(1, '\n');
    key += std::to_string(mount);
    key += ' ';
    const std::string::size_type line = mounts.find(key);
    const std::string::size_type end = mounts.find('\n', line + 1);
    std::string::size_type at = line == std::string::npos ? line : mounts.find(" - ", line);
    for (int skipped = 0; skipped < 3 && at < end; ++skipped) {
        at = mounts.find(' ', at + 1);
    }
    if (at >= end) {
        return false;
    }
    std::string options(1, ',');
    options += mounts.substr(at + 1, std::min(mounts.find(' ', at + 1), end) - at - 1);
    const std::string::size_type found = options.find(",user_id=");
    return found != std::string::npos &&
           std::sscanf(options.c_str() + found, ",user_id=%lu", &maker) == 1 &&
           (maker == 0 || maker == ::geteuid());
}

// ".." at the root of a process's view stays there, as the kernel keeps it.
bool AtRoot(int folder, const Walked& walked) {
    struct stat here, root;
    return walked.root.fd >= 0 && ::fstat(folder, &here) == 0 &&
           ::fstat(walked.root.fd, &root) == 0 && SameFile(here, root);
}

// Whether the folder is the top of a /proc, whose own links (self,
// thread-self, mounts) lead to the process that reads them.
bool ProcTop(int folder) {
    constexpr ino_t kProcTop = 1;
    struct stat status;
    return ::fstat(folder, &status) == 0 && status.st_ino == kProcTop;
}

// The /proc folder of the process whose entry the folder is (/proc/PID, or
// /proc/PID/fd for an open folder), whose root "/" leads to after its links.
int ProcessOf(int folder) {
    struct stat status;
    return ::fstatat(folder, "root", &status, AT_SYMLINK_NOFOLLOW) == 0
               ? ::openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC)
               : ::openat(folder, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Whether the folder is the view's root or below it: climbing from it, the
// view's root comes before the run's own.
bool AtOrBelow(int folder, int root) {
    struct stat top, here, up;
    Fd at(::openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (::fstat(root, &top) != 0) {
        return false;
    }
    for (int step = 0; step < PATH_MAX && at.fd >= 0 && ::fstat(at.fd, &here) == 0; ++step) {
        if (SameFile(here, top)) {
            return true;
        }
        at.Reset(::openat(at.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (at.fd < 0 || ::fstat(at.fd, &up) != 0 || SameFile(up, here)) {
            return false;
        }
    }
    return false;
}

// Opens the entry the walk has reached with the caller's flags: by its name
// in its folder, never following a link there, and only when it is still the
// file the walk examined.
int OpenExamined(int folder, const char* name, int flags, const struct stat& examined) {
    Fd entry(RetryOnSignal([&] { return ::openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC); }));
    if (entry.fd >= 0 && !StillSame(entry.fd, examined)) {
        errno = ESTALE;
        return -1;
    }
    return entry.Release();
}

int Walk(int at, const char* path, int flags, Walked& walked);

// Walks on through the link name (open as link, examined as status) that the
// folder holds, when the run may follow it, and opens where it leads with
// flags.
int FollowLink(int link, const char* name, const struct stat& status, int folder, int flags,
               Walked& walked) {
    if (!TrustRule(FactsAt(folder, status)).follow) {
        errno = EACCES;
        return -1;
    }
    const bool inView = walked.root.fd >= 0;
    if (InProc(link) && ProcTop(folder)) {
        // The links of /proc itself stay in the run's view; inside a
        // process's view they are that process's: "self" and "thread-self"
        // it, the others (mounts -> self/mounts) by their text.
        if (!inView) {
            return ::openat(folder, name, flags | O_CLOEXEC);
        }
        if (std::strcmp(name, "self") == 0 || std::strcmp(name, "thread-self") == 0) {
            return ::openat(walked.process.fd, ".", flags | O_CLOEXEC);
        }
    } else if (InProc(link)) {
        // What follows resolves inside that process's view: its "/" and the
        // ".." above its root are its root, never the host's. Inside a view,
        // only a process whose root is at or below that view's root is
        // entered: the view's /proc may show the host's processes.
        Fd process(ProcessOf(folder));
        Fd root(process.fd < 0 ? -1
                               : ::openat(process.fd, "root", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (root.fd < 0 || (inView && !AtOrBelow(root.fd, walked.root.fd))) {
            errno = root.fd < 0 ? errno : EACCES;
            return -1;
        }
        Fd entry(::openat(folder, name, flags | O_CLOEXEC));
        if (entry.fd >= 0) {
            walked.root.Reset(root.Release());
            walked.process.Reset(process.Release());
        }
        return entry.Release();
    }
    char text[PATH_MAX];
    const ssize_t size = ::readlinkat(link, "", text, sizeof text - 1);
    if (size < 0 || ++walked.links > kMaxLinks) {
        errno = size < 0 ? errno : ELOOP;
        return -1;
    }
    text[size] = '\0';
    // A relative link text starts from the folder that holds the link.
    return Walk(folder, text, flags, walked);
}

// Resolves path from the folder at and opens its last component with flags;
// every component before it is opened as an O_PATH folder. O_DIRECTORY in
// flags asks for a folder at the end.
int Walk(int at, const char* path, int flags, Walked& walked) {
    Fd folder(*path != '/' ? ::openat(at, ".", O_PATH | O_DIRECTORY | O_CLOEXEC)
              : walked.root.fd < 0
                  ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                  : ::openat(walked.root.fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const char* next = path + std::strspn(path, "/"); folder.fd >= 0;) {
        const char* end = ::strchrnul(next, '/');
        // A path of slashes alone names the folder it starts from.
        std::string name = end == next ? std::string(".") : std::string(next, end);
        if (name == ".." && AtRoot(folder.fd, walked)) {
            name.assign(1, '.');
        }
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
            entry.Reset(FollowLink(entry.fd, name.c_str(), status, folder.fd, want, walked));
        } else if ((want & O_DIRECTORY) != 0 && !S_ISDIR(status.st_mode)) {
            errno = ENOTDIR;
            return -1;
        } else if (last && (want & O_PATH) == 0) {
            entry.Reset(OpenExamined(folder.fd, name.c_str(), want, status));
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
    // The C library adds O_LARGEFILE to its own opens, never to this raw
    // call: a 32-bit kernel refuses a file past 2 GiB without it, and
    // openat2 refuses it beside O_PATH. On 64-bit hosts it is 0.
    how.flags = static_cast<__u64>(flags | O_CLOEXEC | ((flags & O_PATH) != 0 ? 0 : O_LARGEFILE));
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd >= 0 || !NeedsWalk(errno)) {
        return static_cast<int>(fd);
    }
    Walked walked;
    return Walk(AT_FDCWD, path.c_str(), flags, walked);
}

// The overflow uid, read once from the user namespace's map: what stands
// for everyone the namespace leaves unmapped (-1 in the initial namespace,
// which maps everyone, and without /proc, where the map cannot be read), and
// whether it may be trusted as the host's root for following a link (in
// /bin, /usr), where the run has no more than its real user's rights. No
// stat tells the host's root from another user there, so what it owns is
// never kept; where the namespace maps it (a container's own nobody) it is
// not trusted at all.
struct Overflow {
    uid_t unmapped;
    uid_t trusted;
};
const Overflow& OverflowUid() {
    static const Overflow overflow = [] {
        const std::string map = ReadProc("/proc/self/uid_map");
        unsigned long uid = 65534, inside = 0, outside = 0, count = 0, mapped = 0;
        std::sscanf(ReadProc("/proc/sys/kernel/overflowuid").c_str(), "%lu", &uid);
        bool untrusted = false;
        for (const char* line = map.c_str(); *line != '\0'; line = ::strchrnul(line, '\n')) {
            line += *line == '\n' ? 1 : 0;
            if (std::sscanf(line, "%lu %lu %lu", &inside, &outside, &count) == 3) {
                mapped += count;
                // uid 0 is the host's root, or the overflow uid a user's own.
                untrusted |=
                    (inside == 0 && outside == 0) || (inside <= uid && uid - inside < count);
            }
        }
        const auto unmapped =
            map.empty() || mapped >= UINT32_MAX ? static_cast<uid_t>(-1) : static_cast<uid_t>(uid);
        return Overflow{unmapped, untrusted ? static_cast<uid_t>(-1) : unmapped};
    }();
    return overflow;
}

} // namespace

Facts FactsAt(int folder, const struct stat& entry) {
    Facts facts;
    facts.folderSeen = ::fstat(folder, &facts.folder) == 0;
    facts.vouched = VouchesForOwners(folder);
    facts.entry = entry;
    facts.self = ::geteuid();
    facts.unmapped = OverflowUid().unmapped;
    facts.rootUnmapped = OverflowUid().trusted;
    return facts;
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
    Fd file(
        RetryOnSignal([&] { return ::open(ProcName(examined.fd).c_str(), flags | O_CLOEXEC); }));
    if (file.fd < 0 && errno == ENOENT) {
        file.Reset(Resolve(path, flags));
    }
    if (file.fd >= 0 && !StillSame(file.fd, status)) {
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
