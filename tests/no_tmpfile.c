// Loaded into the Linux program by the run table (option notmpfile): the
// file system refuses unnamed files (O_TMPFILE), as NFS and older overlayfs do.
// A 32-bit program built with 64-bit offsets calls openat64, others openat.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>

#define REFUSING_UNNAMED(call)                                                                     \
    int call(int at, const char* path, int flags, ...) {                                           \
        va_list rest;                                                                              \
        va_start(rest, flags);                                                                     \
        const mode_t mode = va_arg(rest, mode_t);                                                  \
        va_end(rest);                                                                              \
        if ((flags & O_TMPFILE) == O_TMPFILE) {                                                    \
            errno = EOPNOTSUPP;                                                                    \
            return -1;                                                                             \
        }                                                                                          \
        int (*next)(int, const char*, int, ...) = dlsym(RTLD_NEXT, #call);                         \
        return next(at, path, flags, mode);                                                        \
    }
REFUSING_UNNAMED(openat)
REFUSING_UNNAMED(openat64)
