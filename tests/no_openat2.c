// Loaded into the Linux program by the run table (option noopenat2): a
// kernel before 5.6, which has no openat2 and answers ENOSYS. The program
// reaches the kernel's calls it names by number through syscall(), with at
// most four arguments.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/syscall.h>

long syscall(long number, ...) {
    long (*next)(long, ...) = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    va_list list;
    va_start(list, number);
    long a = va_arg(list, long), b = va_arg(list, long), c = va_arg(list, long), d = va_arg(list, long);
    va_end(list);
    return number == SYS_openat2 ? (errno = ENOSYS, -1) : next(number, a, b, c, d);
}
