#include "fake_platform.h"

namespace fake {

namespace {

World gWorld;

std::string Narrow(const platform::Text& text) {
    std::string narrow;
    for (const platform::Char c : text) {
        narrow += c == platform::kSeparator ? '/' : static_cast<char>(c);
    }
    return narrow;
}

platform::Text WithoutTrailingSeparator(const platform::Text& path) {
    if (!path.empty() && path.back() == platform::kSeparator) {
        return path.substr(0, path.size() - 1);
    }
    return path;
}

} // namespace

platform::Text T(const std::string& path) {
    platform::Text text;
    for (const char c : path) {
        text += c == '/' ? platform::kSeparator : static_cast<platform::Char>(c);
    }
    return text;
}

World& world() {
    return gWorld;
}

void Reset() {
    gWorld = World();
}

} // namespace fake

namespace platform {

Text ArgumentText() {
    return fake::gWorld.argumentText;
}

Presence TestPresence(const Text& path) {
    fake::gWorld.log.push_back("present " + fake::Narrow(path));
    if (fake::gWorld.unlistable.count(path) != 0) {
        return Presence::Failed;
    }
    return fake::gWorld.folders.count(fake::WithoutTrailingSeparator(path)) != 0 ? Presence::Present
                                                                                 : Presence::Absent;
}

bool CreateOneFolder(const Text& path) {
    fake::gWorld.log.push_back("create " + fake::Narrow(path));
    const Text folder = fake::WithoutTrailingSeparator(path);
    const Text::size_type last = folder.rfind(kSeparator);
    const Text parent = last == Text::npos ? Text() : folder.substr(0, last);
    if (fake::gWorld.refused.count(path) != 0 || fake::gWorld.folders.count(folder) != 0 ||
        (!parent.empty() && fake::gWorld.folders.count(parent) == 0)) {
        return false;
    }
    fake::gWorld.folders.insert(folder);
    return true;
}

bool CopyOneFile(const Text& source, const Text& target) {
    fake::gWorld.log.push_back("copy " + fake::Narrow(source) + ">" + fake::Narrow(target));
    return false;
}

void EndRun() {
    fake::gWorld.log.push_back("end");
}

} // namespace platform
