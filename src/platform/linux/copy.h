// Private to the Linux host's copy: what copy.cpp places and keep.cpp gives
// the copy from its source and from the file it replaces.
#pragma once

#include "host.h"

#include <string>
#include <sys/stat.h>

namespace host {

// The ACL that decides who may use a file; a new file takes the folder's
// default one.
constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";

// The source, open for reading and examined.
struct Source {
    Fd fd{-1};
    struct stat status {};
};

// What stands at the target path. Only a regular file, or a link that leads
// to one or nowhere, is replaced: a folder, FIFO, socket or device keeps its
// place, and so does the source itself.
enum class Standing { Absent, Regular, Link, LeftAlone };

struct Target {
    Fd folder{-1};
    std::string name;
    Standing standing = Standing::Absent;
    struct stat status {};
};

// The new file that takes the copy is made with kOwnerOnly and then started
// with StartOwnerOnly, which takes away the ACL entries a folder's default
// gave it: no one else may open it before it is whole and has its final
// owner, ACL and mode (KeepIdentity). keep.cpp.
constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
void StartOwnerOnly(int out);

// Gives the copy the source's modification time and, last, who may use it.
// keep.cpp.
void KeepIdentity(int out, const Source& source, const Target& target);

// Before the first byte of the old content changes in place: nothing that
// grants or vouches on exec stays on it. keep.cpp.
void DisownOldContent(int out, const struct stat& old);

// What the trust rule allows with the old file, as examined in old, that
// the copy replaces: keeping who may use it, writing into it. keep.cpp.
Verdict TrustOld(const Target& target, const struct stat& old, const Source& source);

// The copy, new or written in place, is as recent as its source. keep.cpp.
void KeepModificationTime(int out, const Source& source);

} // namespace host
