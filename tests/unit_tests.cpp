// The folder recursion against a recording stand-in for the host: the order
// of presence tests and creation attempts, which only a fake can see, and a
// run whose folder step runs out of memory.
#include "../src/mdlCopy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

namespace {

using platform::Text;
// Present folders (without a trailing separator), paths whose presence test
// fails outright, paths whose creation is refused, each between ";"s; and
// the calls made, in order.
std::string gFolders, gUnlistable, gRefused, gLog;

Text T(std::string path) {
    std::replace(path.begin(), path.end(), '/', static_cast<char>(platform::kSeparator));
    return Text(path.begin(), path.end());
}

// Records the call, and gives the path with "/" separators.
std::string Log(const char* call, const Text& text) {
    std::string path(text.begin(), text.end());
    std::replace(path.begin(), path.end(), static_cast<char>(platform::kSeparator), '/');
    gLog += call + path + ";";
    return path;
}

bool Has(const std::string& list, const std::string& path) {
    return list.find(";" + path + ";") != std::string::npos;
}

} // namespace

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

TEST(Main, CopiesEvenWhenTheFolderStepRanOutOfMemory) {
    gFolders.assign(1, ';'), gLog.clear();
    mdlCopy::Main();
    EXPECT_EQ(gLog, "present boom/;copy src>boom/a;");
}
