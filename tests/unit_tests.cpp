// The folder recursion against a recording stand-in for the host: the order
// of presence tests and creation attempts, which only a fake can see, and the
// memory a deep chain takes.
#include "../src/mdlCopy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

using platform::Text;
// Present folders (without a trailing separator), paths whose presence test
// fails outright, paths whose creation is refused, each between ";"s; and
// the calls made, in order.
std::string gFolders, gUnlistable, gRefused, gLog;
size_t gLive = 0, gPeak = 0;

Text T(std::string path) {
    std::replace(path.begin(), path.end(), '/', static_cast<char>(platform::kSeparator));
    return Text(path.begin(), path.end());
}

// Records the call, and gives the path with "/" separators.
std::string Log(const char* call, const Text& text) {
    std::string path(text.begin(), text.end());
    std::replace(path.begin(), path.end(), static_cast<char>(platform::kSeparator), '/');
    if (gLog.size() < 4096) { // a deep chain's calls are not looked at
        gLog += call + path + ";";
    }
    return path;
}

bool Has(const std::string& list, const std::string& path) {
    return list.find(";" + path + ";") != std::string::npos;
}

} // namespace

// Counts live heap bytes, so that a test can see what a deep chain holds.
void* operator new(size_t size) {
    auto* block = static_cast<size_t*>(std::malloc(size + sizeof(size_t)));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    gPeak = std::max(gPeak, gLive += (*block = size));
    return block + 1;
}
void operator delete(void* p) noexcept {
    if (p != nullptr) {
        gLive -= static_cast<size_t*>(p)[-1];
        std::free(static_cast<size_t*>(p) - 1);
    }
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

namespace platform {

Text ArgumentText() {
    return T("src,boom/,a");
}
Presence TestPresence(const Text& text) {
    const std::string path = Log("present ", text);
    if (path == "boom/") {
        throw std::bad_alloc(); // as when memory runs out
    }
    return Has(gUnlistable, path)                                          ? Presence::Failed
           : Has(gFolders, path.substr(0, path.find_last_not_of('/') + 1)) ? Presence::Present
                                                                           : Presence::Absent;
}
bool CreateOneFolder(const Text& text) {
    const std::string path = Log("create ", text);
    const std::string folder = path.substr(0, path.find_last_not_of('/') + 1);
    const std::string parent = folder.substr(0, std::min(folder.rfind('/'), folder.size()));
    if (Has(gRefused, folder) || Has(gFolders, folder) ||
        !(parent.empty() || parent == folder || Has(gFolders, parent))) {
        return false;
    }
    gFolders += folder + ";";
    return true;
}
bool CopyOneFile(const Text& source, const Text& target) {
    Log("copy ", source + T(">") + target);
    return false;
}
void EndRun() {}

} // namespace platform

namespace {

TEST(MakeFolderTree, AsksAndCreatesInOrder) {
    // Present folders; unlistable paths; refused paths; the path; the calls.
    // clang-format off
    const char* const cases[][5] = {
    {";D:;D:/Logs;", "", "", "D:/Logs", "present D:/Logs;"},
    {";D:;D:/Logs;", "", "", "D:/Logs/A/B/C", "present D:/Logs/A/B/C;create D:/Logs/A/B/C;present D:/Logs/A/B;create D:/Logs/A/B;present D:/Logs/A;create D:/Logs/A;create D:/Logs/A/B;create D:/Logs/A/B/C;"},
    {";D:;D:/Logs;", "", "", "D:/Logs/New/", "present D:/Logs/New/;create D:/Logs/New/;"},
    {";D:;D:/Logs;", "", "", "D:/Logs/A/B/", "present D:/Logs/A/B/;create D:/Logs/A/B/;present D:/Logs/A/B;create D:/Logs/A/B;present D:/Logs/A;create D:/Logs/A;create D:/Logs/A/B;create D:/Logs/A/B/;"},
    {";D:;", ";D:/Logs/A;", "", "D:/Logs/A", "present D:/Logs/A;"},
    {";D:;", ";D:/Logs;", "", "D:/Logs/A", "present D:/Logs/A;create D:/Logs/A;present D:/Logs;create D:/Logs/A;"},
    {";", "", ";D:;", "D:/Logs", "present D:/Logs;create D:/Logs;present D:;create D:;create D:;create D:/Logs;"},
    {";", "", ";/Logs;", "/Logs", "present /Logs;create /Logs;create /Logs;"},
    {";", "", "", "", ""},
};
    // clang-format on
    for (const auto& c : cases) {
        gFolders = c[0], gUnlistable = c[1], gRefused = c[2], gLog.clear();
        mdlCopy::MakeFolderTree(T(c[3]));
        EXPECT_EQ(gLog, c[4]) << c[3];
    }
}

TEST(MakeFolderTree, HoldsOneLevelsTextAtATime) {
    // 8,000 levels under a drive that cannot be made: a copy of the parent
    // per level would hold 32 million characters at once.
    const Text text = T("D:" + std::string(8000, '/'));
    gFolders = ";", gRefused = ";D:;", gLog.reserve(1 << 20), gLog.clear();
    const size_t before = gPeak = gLive;
    mdlCopy::MakeFolderTree(text);
    EXPECT_LT(gPeak - before, 8 * text.size() * sizeof(platform::Char));
}

TEST(Main, CopiesEvenWhenTheFolderStepRanOutOfMemory) {
    gFolders = ";", gLog.clear();
    mdlCopy::Main();
    EXPECT_EQ(gLog, "present boom/;copy src>boom/a;");
}

} // namespace
