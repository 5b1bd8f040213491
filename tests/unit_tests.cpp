// The folder recursion against a recording stand-in for the host: the order
// of presence tests and creation attempts, which only a fake can see, and the
// memory a deep chain takes.
#include "../src/mdlCopy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <set>

namespace {

using platform::Text;
// Present folders, without a trailing separator; paths whose presence test
// fails outright; paths whose creation is refused; the calls made, in order.
std::set<Text> gFolders, gUnlistable, gRefused;
std::string gLog;
size_t gLive = 0, gPeak = 0;

Text T(const std::string& path) {
    Text text;
    for (const char c : path) {
        text += c == '/' ? platform::kSeparator : static_cast<platform::Char>(c);
    }
    return text;
}

void Log(const char* what, const Text& path) {
    if (gLog.size() > 4096) {
        return; // the deep chain's calls are not looked at
    }
    gLog += what;
    for (const platform::Char c : path) {
        gLog += c == platform::kSeparator ? '/' : static_cast<char>(c);
    }
    gLog += ";";
}

std::set<Text> Set(const std::string& list) {
    std::set<Text> set;
    for (size_t start = 0, end = 0; start < list.size(); start = end + 1) {
        end = std::min(list.find(';', start), list.size());
        set.insert(T(list.substr(start, end - start)));
    }
    return set;
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
Presence TestPresence(const Text& path) {
    Log("present ", path);
    if (path == T("boom/")) {
        throw std::bad_alloc(); // as when memory runs out
    }
    const Text folder = path.ends_with(kSeparator) ? path.substr(0, path.size() - 1) : path;
    return gUnlistable.count(path)  ? Presence::Failed
           : gFolders.count(folder) ? Presence::Present
                                    : Presence::Absent;
}
bool CreateOneFolder(const Text& path) {
    Log("create ", path);
    const Text folder = path.ends_with(kSeparator) ? path.substr(0, path.size() - 1) : path;
    const Text parent = folder.substr(0, std::min(folder.rfind(kSeparator), folder.size()));
    return !gRefused.count(path) &&
           (parent.empty() || parent == folder || gFolders.count(parent)) &&
           gFolders.insert(folder).second;
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
    {"D:;D:/Logs", "", "", "D:/Logs", "present D:/Logs;"},
    {"D:;D:/Logs", "", "", "D:/Logs/A/B/C", "present D:/Logs/A/B/C;create D:/Logs/A/B/C;present D:/Logs/A/B;create D:/Logs/A/B;present D:/Logs/A;create D:/Logs/A;create D:/Logs/A/B;create D:/Logs/A/B/C;"},
    {"D:;D:/Logs", "", "", "D:/Logs/New/", "present D:/Logs/New/;create D:/Logs/New/;"},
    {"D:;D:/Logs", "", "", "D:/Logs/A/B/", "present D:/Logs/A/B/;create D:/Logs/A/B/;present D:/Logs/A/B;create D:/Logs/A/B;present D:/Logs/A;create D:/Logs/A;create D:/Logs/A/B;create D:/Logs/A/B/;"},
    {"D:", "D:/Logs/A", "", "D:/Logs/A", "present D:/Logs/A;"},
    {"D:", "D:/Logs", "", "D:/Logs/A", "present D:/Logs/A;create D:/Logs/A;present D:/Logs;create D:/Logs/A;"},
    {"", "", "D:", "D:/Logs", "present D:/Logs;create D:/Logs;present D:;create D:;create D:;create D:/Logs;"},
    {"", "", "/Logs", "/Logs", "present /Logs;create /Logs;create /Logs;"},
    {"", "", "", "", ""},
};
    // clang-format on
    for (const auto& c : cases) {
        gFolders = Set(c[0]), gUnlistable = Set(c[1]), gRefused = Set(c[2]), gLog.clear();
        mdlCopy::MakeFolderTree(T(c[3]));
        EXPECT_EQ(gLog, c[4]) << c[3];
    }
}

TEST(MakeFolderTree, HoldsOneLevelsTextAtATime) {
    // 4,000 missing levels under a drive that cannot be made: a copy of the
    // parent per level would hold 16 million characters at once.
    std::string levels = "D:";
    for (int i = 0; i < 4000; ++i) {
        levels += "/a";
    }
    const Text chain = T(levels);
    gFolders.clear(), gRefused = Set("D:"), gLog.reserve(1 << 20), gLog.clear();
    const size_t before = gPeak = gLive;
    mdlCopy::MakeFolderTree(chain);
    EXPECT_LT(gPeak - before, 4 * chain.size() * sizeof(platform::Char));
}

TEST(Main, CopiesEvenWhenTheFolderStepRanOutOfMemory) {
    gFolders.clear(), gLog.clear();
    mdlCopy::Main();
    EXPECT_EQ(gLog, "present boom/;copy src>boom/a;");
}

} // namespace
