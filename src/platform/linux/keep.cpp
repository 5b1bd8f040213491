// What the copy keeps on the Linux host: from its source, the modification
// time and, for a new target, the permission bits; from the file it
// replaces, owner, group, extended attributes, ACL and permission bits. Never
// what grants or vouches on exec, and never wider access than the old file.
#include "copy.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace host {

namespace {

// Attributes that empower or vouch for the old content: capabilities and
// SMACK's exec and mmap labels grant on exec, IMA and EVM vouch for it. None
// of them may pass to new content.
constexpr const char* kBoundToContent[] = {"security.capability", "security.SMACK64EXEC",
                                           "security.SMACK64MMAP", "security.ima", "security.evm"};

bool BoundToContent(const char* key) {
    for (const char* bound : kBoundToContent) {
        if (std::strcmp(key, bound) == 0) {
            return true;
        }
    }
    return false;
}

// Whether an access ACL was found, or could not be looked for: size as an
// attribute call answered it.
bool AclOrUnknown(ssize_t size) {
    return size >= 0 || (errno != ENODATA && errno != ENOTSUP);
}

// The extended attributes of the entry name in folder (the old target, or
// the folder itself as "."), read through a descriptor of its own, which
// needs no /proc; where the run may not read the entry, through the /proc
// name of an O_PATH descriptor, which needs no read permission. The path
// lookup's O_PATH descriptors take no attribute calls themselves. With
// neither, every call fails.
class Attributes {
  public:
    Attributes(int folder, const char* name, const struct stat& examined) {
        for (const int flags : {O_RDONLY | O_NONBLOCK | O_NOCTTY, O_PATH}) {
            fd_.Reset(Opened(::openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC)));
            if (fd_.fd >= 0 && StillSame(fd_.fd, examined)) {
                byName_ = flags == O_PATH ? ProcName(fd_.fd) : "";
                return;
            }
            fd_.Reset(-1);
        }
    }
    ssize_t List(char* names, size_t size) const {
        if (fd_.fd < 0) {
            errno = EBADF;
            return -1;
        }
        return byName_.empty() ? ::flistxattr(fd_.fd, names, size)
                               : ::listxattr(byName_.c_str(), names, size);
    }
    ssize_t Get(const char* key, void* value, size_t size) const {
        if (fd_.fd < 0) {
            errno = EBADF;
            return -1;
        }
        return byName_.empty() ? ::fgetxattr(fd_.fd, key, value, size)
                               : ::getxattr(byName_.c_str(), key, value, size);
    }

  private:
    Fd fd_{-1};
    std::string byName_;
};

} // namespace

Verdict TrustOld(const Target& target, const struct stat& old, const Source& source) {
    Facts facts = FactsAt(target.folder.fd, old);
    facts.source = &source.status;
    // The ACLs are read only where they could change the answer.
    facts.aclOnEither = false;
    const Verdict loose = TrustRule(facts);
    facts.aclOnEither = true;
    const Verdict strict = TrustRule(facts);
    if (loose.keep == strict.keep && loose.inPlace == strict.inPlace) {
        return strict;
    }
    facts.aclOnEither =
        AclOrUnknown(::fgetxattr(source.fd.fd, kAccessAcl, nullptr, 0)) ||
        AclOrUnknown(
            Attributes(target.folder.fd, target.name.c_str(), old).Get(kAccessAcl, nullptr, 0));
    return TrustRule(facts);
}

namespace {

// Gives the copy the old file's extended attributes and ACL; false when they
// could not be read. Without an ACL of the old file's own, the copy loses
// the folder's default ACL that it took as a new file.
bool KeepAttributes(int out, const Attributes& old) {
    static char names[XATTR_LIST_MAX];
    static char value[XATTR_SIZE_MAX];
    const ssize_t length = old.List(names, sizeof names);
    // A file system without extended attributes: the old file had none.
    if (length < 0 && errno != ENOTSUP) {
        return false;
    }
    bool hasAcl = false;
    for (const char* key = names; key < names + (length > 0 ? length : 0);
         key += std::strlen(key) + 1) {
        const bool acl = std::strcmp(key, kAccessAcl) == 0;
        const ssize_t size = BoundToContent(key) ? -1 : old.Get(key, value, sizeof value);
        if (size >= 0 && ::fsetxattr(out, key, value, static_cast<size_t>(size), 0) == 0) {
            hasAcl = hasAcl || acl;
        } else if (acl) {
            // Who may use the file rests on its ACL: one that cannot be
            // carried over (a user namespace that does not map its users) is
            // not kept in part.
            return false;
        }
    }
    if (!hasAcl) {
        ::fremovexattr(out, kAccessAcl);
    }
    return true;
}

// The folder's default ACL, which a new file there takes in place of the
// umask: empty where it has none, absent (false) where it cannot be read (no
// /proc, and a folder the run may not read).
bool DefaultAcl(int folder, std::string& acl) {
    static char value[XATTR_SIZE_MAX];
    struct stat status;
    const ssize_t size =
        ::fstat(folder, &status) != 0
            ? -1
            : Attributes(folder, ".", status).Get(kDefaultAcl, value, sizeof value);
    // ENODATA: it has none; ENOTSUP: its file system has none.
    if (size < 0 && errno != ENODATA && errno != ENOTSUP) {
        return false;
    }
    acl.assign(value, size > 0 ? static_cast<size_t>(size) : 0);
    return true;
}

// ACL tags in the stored form: a 4-byte header, then 8-byte entries of tag,
// permission and id.
enum : unsigned char { kOwnerTag = 0x01, kGroupTag = 0x04, kMaskTag = 0x10, kOtherTag = 0x20 };

// The permission bits that a new file asked for with mode gets: as the
// kernel gives them, less the run's starting umask or, where the folder has a
// default ACL, less what its owner, mask (or group) and other entries leave
// out. Where that ACL cannot be read, its owner's bits alone: never wider.
mode_t NewFileMode(mode_t mode, mode_t umask, const std::string& acl, bool aclKnown) {
    if (!aclKnown) {
        return mode & ~umask & S_IRWXU;
    }
    if (acl.empty()) {
        return mode & ~umask;
    }
    mode_t owner = 0, group = 0, mask = 8, other = 0;
    for (size_t at = 4; at + 8 <= acl.size(); at += 8) {
        const auto tag = static_cast<unsigned char>(acl[at]);
        const mode_t bits = static_cast<unsigned char>(acl[at + 2]) & 7u;
        owner = tag == kOwnerTag ? bits : owner;
        group = tag == kGroupTag ? bits : group;
        mask = tag == kMaskTag ? bits : mask;
        other = tag == kOtherTag ? bits : other;
    }
    return mode & (owner << 6 | (mask == 8 ? group : mask) << 3 | other);
}

// The folder's default ACL as the new file's own, its owner, mask (or group)
// and other entries cut to the file's mode, as the kernel gives it a new
// file: set in one step, it grants no one more than the final mode does.
std::string AclOfMode(std::string acl, mode_t mode) {
    bool hasMask = false;
    for (size_t at = 4; at + 8 <= acl.size(); at += 8) {
        hasMask = hasMask || static_cast<unsigned char>(acl[at]) == kMaskTag;
    }
    for (size_t at = 4; at + 8 <= acl.size(); at += 8) {
        const auto tag = static_cast<unsigned char>(acl[at]);
        const int shift = tag == kOwnerTag                                    ? 6
                          : tag == kMaskTag || (tag == kGroupTag && !hasMask) ? 3
                          : tag == kOtherTag                                  ? 0
                                                                              : -1;
        if (shift >= 0) {
            acl[at + 2] = static_cast<char>(acl[at + 2] & static_cast<char>((mode >> shift) & 7));
        }
    }
    return acl;
}

// Without its own group and ACL the old file's bits would grant more than it
// did: the group's go, and everyone's too where its group's bits or an ACL's
// entries kept someone from what everyone had.
mode_t BitsWithoutGroup(mode_t bits, const Attributes& old) {
    const bool narrowed =
        (bits & 07 & ~(bits >> 3)) != 0 || AclOrUnknown(old.Get(kAccessAcl, nullptr, 0));
    return bits & (narrowed ? 0700 : 0707);
}

} // namespace

void StartOwnerOnly(int out) {
    ::fremovexattr(out, kAccessAcl);
}

void DisownOldContent(int out, const struct stat& old) {
    // The kernel keeps set-id bits for a writer with CAP_FSETID, and drops
    // capabilities alone of the attributes bound to the content.
    if ((old.st_mode & (S_ISUID | S_ISGID)) != 0) {
        ::fchmod(out, old.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID));
    }
    for (const char* bound : kBoundToContent) {
        ::fremovexattr(out, bound);
    }
}

// The copy, new or written in place, is as recent as its source.
void KeepModificationTime(int out, const Source& source) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.status.st_mtim};
    ::futimens(out, times);
}

// Gives the copy the source's modification time and, last, who may use it,
// as it started with access for its owner alone: replacing a regular file,
// that file's owner and group (where allowed), extended attributes and ACL,
// and permission bits; otherwise (in place of a squatter's file too, and of
// one that may not pass on who may use it) the source's bits as a new file
// takes them, with the folder's default ACL.
// Best effort: the data matters more. Where the old file's group, attributes
// or ACL cannot be given, the copy gets no ACL and no group access (nor
// everyone's, where those kept someone out), so it never grants more than the
// old file did.
void KeepIdentity(int out, const Source& source, const Target& target) {
    KeepModificationTime(out, source);
    if (target.standing != Standing::Regular || !TrustOld(target, target.status, source).keep) {
        std::string acl;
        const bool aclKnown = DefaultAcl(target.folder.fd, acl);
        const mode_t mode = NewFileMode(source.status.st_mode & 0777, StartUmask(), acl, aclKnown);
        if (!acl.empty()) {
            const std::string own = AclOfMode(acl, mode);
            ::fsetxattr(out, kAccessAcl, own.data(), own.size(), 0);
        }
        ::fchmod(out, mode);
        return;
    }
    const struct stat& old = target.status;
    // The group alone, where the owner may not be given: best effort too.
    const bool grouped = ::fchown(out, old.st_uid, old.st_gid) == 0 ||
                         ::fchown(out, static_cast<uid_t>(-1), old.st_gid) == 0;
    const Attributes attributes(target.folder.fd, target.name.c_str(), old);
    const bool kept = grouped && KeepAttributes(out, attributes);
    // Set-id bits never pass to new content.
    mode_t bits = old.st_mode & 0777;
    if (!kept) {
        ::fremovexattr(out, kAccessAcl);
        bits = BitsWithoutGroup(bits, attributes);
    }
    // Last, so that the bits and the ACL mask they set are the old ones.
    ::fchmod(out, bits);
}

} // namespace host
