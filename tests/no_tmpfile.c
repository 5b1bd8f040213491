// Loaded into the Linux program by the run table (option notmpfile): the
// file system refuses unnamed files (O_TMPFILE), as NFS and older overlayfs do.
// A 32-bit program built with 64-bit offsets calls openat64, others openat;
// both take the mode where a fixed fourth argument would be.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/fcntl.h>
#include <sys/types.h>

static int Next(const char* call, int at, const char* path, int flags, mode_t mode) {
    int (*next)(int, const char*, int, mode_t) = dlsym(RTLD_NEXT, call);
    return (flags & O_TMPFILE) == O_TMPFILE ? (errno = EOPNOTSUPP, -1)
                                            : next(at, path, flags, mode);
}
int openat(int at, const char* path, int flags, mode_t mode) {
    return Next("openat", at, path, flags, mode);
}
int openat64(int at, const char* path, int flags, mode_t mode) {
    return Next("openat64", at, path, flags, mode);
}
