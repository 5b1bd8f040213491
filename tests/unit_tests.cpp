// The core against the recording fake host: how Main splits and joins, what
// ParentFolder cuts, and the order in which MakeFolderTree asks and creates.
#include "../src/mdlCopy.h"
#include "fake_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;
using fake::T;

struct ParentCase {
    const char* path;
    const char* parent;
};

TEST(ParentFolder, CutsAtTheLastSeparator) {
    // clang-format off
    const ParentCase cases[] = {
    {"D:/Logs/Setup/", "D:/Logs/Setup"},
    {"D:/Logs/Setup", "D:/Logs"},
    {"D:/Logs", "D:"},
    {"D:", ""},
    {"/Logs", ""},
    {"//srv/share/logs", "//srv/share"},
    {"", ""},
    {"/", ""},
    {"a//b", "a/"},
    {"a,b/c d", "a,b"},
};
    // clang-format on
    for (const ParentCase& c : cases) {
        EXPECT_EQ(mdlCopy::ParentFolder(T(c.path)), T(c.parent)) << c.path;
    }
}

struct RunCase {
    const char* argumentText;
    Log log; // every folder is present, so the folder step is one presence test
};

TEST(Main, SplitsAtEveryCommaAndJoinsFolderAndName) {
    // clang-format off
    const RunCase cases[] = {
    {"C:/Temp/a.log,D:/Logs/,a.log", {"present D:/Logs/", "copy C:/Temp/a.log>D:/Logs/a.log", "end"}},
    {"C:/Temp/a.log,D:/Logs/,b.log,extra", {"present D:/Logs/", "copy C:/Temp/a.log>D:/Logs/b.log", "end"}},
    {"C:/Temp/a.log,D:/Logs,a.log", {"present D:/Logs", "copy C:/Temp/a.log>D:/Logsa.log", "end"}},
    {"C:/Temp/a.log, D:/Logs/,a.log", {"present  D:/Logs/", "copy C:/Temp/a.log> D:/Logs/a.log", "end"}},
    {"\"C:/Temp/a.log\",D:/Logs/,\"a.log\"", {"present D:/Logs/", "copy \"C:/Temp/a.log\">D:/Logs/\"a.log\"", "end"}},
    {"C:/Te,mp/a.log,D:/Logs/,a.log", {"present mp/a.log", "copy C:/Te>mp/a.logD:/Logs/", "end"}},
    {"C:/Temp/a.log,D:/Logs/", {"present D:/Logs/", "copy C:/Temp/a.log>D:/Logs/", "end"}},
    {"a,,b", {"copy a>b", "end"}},
    {",,", {"copy >", "end"}},
    {"a.log", {"copy a.log>", "end"}},
    {"", {"copy >", "end"}},
};
    // clang-format on
    for (const RunCase& c : cases) {
        fake::Reset();
        fake::world().argumentText = T(c.argumentText);
        fake::world().folders = {T("D:/Logs"), T(" D:/Logs"), T("mp/a.log")};
        mdlCopy::Main();
        EXPECT_EQ(fake::world().log, c.log) << c.argumentText;
    }
}

struct TreeCase {
    const char* name;
    std::vector<const char*> folders;
    std::vector<const char*> unlistable;
    std::vector<const char*> refused;
    const char* path;
    Log log;
    std::vector<const char*> after; // folders that must exist afterwards
};

TEST(MakeFolderTree, AsksAndCreatesInOrder) {
    // clang-format off
    const TreeCase cases[] = {
    {"existing folder: one test, no attempt", {"D:", "D:/Logs"}, {}, {}, "D:/Logs", {"present D:/Logs"}, {}},
    {"three missing levels", {"D:", "D:/Logs"}, {}, {}, "D:/Logs/A/B/C", {"present D:/Logs/A/B/C", "create D:/Logs/A/B/C", "present D:/Logs/A/B", "create D:/Logs/A/B", "present D:/Logs/A", "create D:/Logs/A", "create D:/Logs/A/B", "create D:/Logs/A/B/C"}, {"D:/Logs/A", "D:/Logs/A/B", "D:/Logs/A/B/C"}},
    {"trailing separator, parent present", {"D:", "D:/Logs"}, {}, {}, "D:/Logs/New/", {"present D:/Logs/New/", "create D:/Logs/New/"}, {"D:/Logs/New"}},
    {"trailing separator over two missing levels", {"D:", "D:/Logs"}, {}, {}, "D:/Logs/A/B/", {"present D:/Logs/A/B/", "create D:/Logs/A/B/", "present D:/Logs/A/B", "create D:/Logs/A/B", "present D:/Logs/A", "create D:/Logs/A", "create D:/Logs/A/B", "create D:/Logs/A/B/"}, {"D:/Logs/A/B"}},
    {"presence fails at the first level", {"D:"}, {"D:/Logs/A"}, {}, "D:/Logs/A", {"present D:/Logs/A"}, {}},
    {"presence fails at an inner level", {"D:"}, {"D:/Logs"}, {}, "D:/Logs/A", {"present D:/Logs/A", "create D:/Logs/A", "present D:/Logs", "create D:/Logs/A"}, {}},
    {"a drive that cannot be made: the empty path ends the recursion", {}, {}, {"D:"}, "D:/Logs", {"present D:/Logs", "create D:/Logs", "present D:", "create D:", "create D:", "create D:/Logs"}, {}},
    {"empty path", {}, {}, {}, "", {}, {}},
    {"relative chain", {}, {}, {}, "a/b", {"present a/b", "create a/b", "present a", "create a", "create a/b"}, {"a", "a/b"}},
};
    // clang-format on
    for (const TreeCase& c : cases) {
        fake::Reset();
        for (const char* folder : c.folders) {
            fake::world().folders.insert(T(folder));
        }
        for (const char* path : c.unlistable) {
            fake::world().unlistable.insert(T(path));
        }
        for (const char* path : c.refused) {
            fake::world().refused.insert(T(path));
        }
        mdlCopy::MakeFolderTree(T(c.path));
        EXPECT_EQ(fake::world().log, c.log) << c.name;
        for (const char* folder : c.after) {
            EXPECT_EQ(fake::world().folders.count(T(folder)), 1u) << c.name << ": " << folder;
        }
    }
}

} // namespace
