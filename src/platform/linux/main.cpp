// Linux host: the program's entry and the platform calls of the folder step.
// Path texts are bytes and "/" separates folders; every path is resolved by
// path.cpp, and the copy lives in copy.cpp.
#include "../../mdlCopy.h"
#include "../platform.h"
#include "host.h"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

int gArgc = 0;
char** gArgv = nullptr;
mode_t gStartUmask = 0;

// The folders of the chain are made as mkdir -p makes them: whatever the
// umask, their owner may enter and write them, so the chain can go on; and a
// root run with a loose umask makes no folder that everyone may write.
void SetFolderUmask() {
    gStartUmask = ::umask(0);
    ::umask((gStartUmask & ~static_cast<mode_t>(S_IWUSR | S_IXUSR)) |
            (::geteuid() == 0 ? S_IWOTH : 0));
}

} // namespace

namespace host {

mode_t StartUmask() {
    return gStartUmask;
}

} // namespace host

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
    return host::ShortOfDescriptors(Presence::Failed, [&] {
        const host::Fd entry(host::Open(path, O_PATH));
        if (entry.fd >= 0) {
            return Presence::Present;
        }
        return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Failed;
    });
}

bool CreateOneFolder(const Text& path) {
    return host::ShortOfDescriptors(false, [&] {
        const Text::size_type last = path.find_last_not_of('/');
        Text name;
        const host::Fd folder(last == Text::npos ? -1 : host::OpenFolderOf(path, last + 1, name));
        return folder.fd >= 0 && ::mkdirat(folder.fd, name.c_str(), 0777) == 0;
    });
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
    SetFolderUmask();
    try {
        mdlCopy::Main();
    } catch (...) {
        // Out of memory: the run ends as quietly as any other.
    }
    platform::EndRun();
}
