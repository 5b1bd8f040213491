// Linux host: path texts are bytes, "/" separates folders, and the copy goes
// through a temporary file in the target folder so that the target path only
// ever names the old file or the complete new one.
#include "platform.h"

#include "../mdlCopy.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

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
    // Closes now and tells whether the data reached the file system without
    // a late error (a full disk can surface only here on some file systems).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Moves [offset, end) from in to out at the same offsets. The kernel moves
// the data itself where it can; a plain loop takes over where it cannot
// (file systems or kernels without copy_file_range for this pair).
bool CopyRange(int in, int out, off_t offset, off_t end, bool& kernelCopy) {
    while (offset < end) {
        const auto want = static_cast<size_t>(end - offset);
        if (kernelCopy) {
            off_t inOffset = offset;
            off_t outOffset = offset;
            const ssize_t moved =
                Retry([&] { return ::copy_file_range(in, &inOffset, out, &outOffset, want, 0); });
            if (moved > 0) {
                offset += moved;
                continue;
            }
            if (moved == 0) {
                return true; // the source got shorter while we copied
            }
            if (errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP &&
                errno != EBADF && errno != ETXTBSY && errno != EPERM) {
                return false;
            }
            kernelCopy = false;
        }
        static char buffer[128 * 1024];
        const size_t chunk = want < sizeof buffer ? want : sizeof buffer;
        const ssize_t got = Retry([&] { return ::pread(in, buffer, chunk, offset); });
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
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

// Copies every data region of the source and leaves its holes as holes, so
// a sparse file stays sparse and its copy takes no more room than it does.
bool CopyData(int in, int out, off_t size) {
    bool kernelCopy = true;
    off_t offset = 0;
    while (offset < size) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) {
                break; // only a hole is left
            }
            // No hole information here: treat the rest as data.
            return CopyRange(in, out, offset, size, kernelCopy);
        }
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || hole > size) {
            hole = size;
        }
        if (!CopyRange(in, out, data, hole, kernelCopy)) {
            return false;
        }
        offset = hole;
    }
    // Gives the copy the source's length, trailing hole included.
    return Retry([&] { return ::ftruncate(out, size); }) == 0;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
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
    struct stat status;
    if (::stat(path.c_str(), &status) == 0) {
        return Presence::Present;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return Presence::Absent;
    }
    return Presence::Failed;
}

bool CreateOneFolder(const Text& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool CopyOneFile(const Text& source, const Text& target) {
    // A target ending in "/" names a folder, never a file to write.
    if (source.empty() || target.empty() || target.back() == '/') {
        return false;
    }

    // O_NONBLOCK: opening a FIFO without a writer must not wait.
    Fd in(Retry(
        [&] { return ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
    if (in.get() < 0) {
        return false;
    }
    struct stat status;
    if (::fstat(in.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }

    // The temporary file lives beside the target so that the final rename
    // stays on one file system and is atomic. Its name is short so that a
    // target name close to the length limit still fits.
    const Text::size_type slash = target.rfind('/');
    Text temporary =
        (slash == Text::npos ? Text() : target.substr(0, slash + 1)) + ".tarvik-XXXXXX";
    Fd out(Retry([&] { return ::mkostemp(temporary.data(), O_CLOEXEC); }));
    if (out.get() < 0) {
        return false;
    }

    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = status.st_mtim;
    const mode_t mode = status.st_mode & 0777 & ~CurrentUmask();

    const bool written = CopyData(in.get(), out.get(), status.st_size) &&
                         ::fchmod(out.get(), mode) == 0 && ::futimens(out.get(), times) == 0;
    if (out.Close() && written && ::rename(temporary.c_str(), target.c_str()) == 0) {
        return true;
    }
    ::unlink(temporary.c_str());
    return false;
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
