// The real program on real folders: one row per argument text, with the tree
// before the run and the whole tree after it. Each run must end by itself,
// print nothing and exit 0, whatever happened to the copy.
#include "harness.h"

#include <gtest/gtest.h>

namespace {

using harness::Tree;

enum Hosts { kLinux = 1, kWindows = 2, kBoth = 3 };

#if defined(_WIN32)
constexpr int kHost = kWindows;
#else
constexpr int kHost = kLinux;
#endif

struct Case {
    const char* name;
    int hosts;
    Tree before;
    // Linux: the argument list. Windows: the text after the quoted program
    // name, or as a second element the whole command line, "{P}" the
    // program's path. Runs happen in the scratch folder, so relative paths
    // stay in it.
    std::vector<std::string> arguments;
    Tree after;
    harness::RunOptions options = {};
};

constexpr harness::RunOptions kUnprivileged{.unprivileged = true};

// clang-format off
const Case kCases[] = {
    {"copies into an existing folder", kBoth, {"src/", "src/a.log=new", "Logs/"}, {"src/a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "src/", "src/a.log=new"}},
    {"fields past the third are ignored", kBoth, {"src/", "src/a.log=new", "Logs/"}, {"src/a.log,Logs/,b.log,extra"}, {"Logs/", "Logs/b.log=new", "src/", "src/a.log=new"}},
    {"folder and name are joined as they are", kBoth, {"src/", "src/a.log=new"}, {"src/a.log,Logs,a.log"}, {"Logs/", "Logsa.log=new", "src/", "src/a.log=new"}},
    {"a blank after a comma belongs to the field", kLinux, {"a.log=new"}, {"a.log, Logs/,a.log"}, {" Logs/", " Logs/a.log=new", "a.log=new"}},
    {"quote characters belong to the path", kLinux, {"a.log=new"}, {"a.log,\"Logs\"/,\"b\".log"}, {"\"Logs\"/", "\"Logs\"/\"b\".log=new", "a.log=new"}},
    {"quote characters a Windows name cannot hold", kWindows, {"a.log=new"}, {"a.log,Logs/,\"b\".log"}, {"Logs/", "a.log=new"}},
    {"a comma inside a path shifts the fields", kBoth, {"a,b.log=x"}, {"a,b.log,Logs/,c.log"}, {"a,b.log=x", "b.log/"}},
    {"two fields: the chain is made, the copy fails", kBoth, {"a.log=new"}, {"a.log,Logs/A/"}, {"Logs/", "Logs/A/", "a.log=new"}},
    {"empty argument text", kBoth, {"a.log=new"}, {""}, {"a.log=new"}},
    {"commas only", kBoth, {"a.log=new"}, {",,,"}, {"a.log=new"}},
    {"missing source: the chain is still made", kBoth, {}, {"none.log,Deep/A/B/,a.log"}, {"Deep/", "Deep/A/", "Deep/A/B/"}},
    {"a missing chain under an existing folder", kBoth, {"a.log=new", "Logs/"}, {"a.log,Logs/A/B/C/,a.log"}, {"Logs/", "Logs/A/", "Logs/A/B/", "Logs/A/B/C/", "Logs/A/B/C/a.log=new", "a.log=new"}},
    {"an existing target is replaced", kBoth, {"a.log=new", "Logs/", "Logs/a.log=old"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}},
    {"a longer existing target is replaced whole", kBoth, {"a.log=new", "Logs/", "Logs/a.log=old old old old"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}},
    {"an empty source copies to an empty target", kBoth, {"a.log="}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=", "a.log="}},
    {"a file where the folder should be", kBoth, {"a.log=new", "Logs=file"}, {"a.log,Logs/,a.log"}, {"Logs=file", "a.log=new"}},
    {"a chain under a file is not made", kBoth, {"a.log=new", "f=file"}, {"a.log,f/sub/,a.log"}, {"a.log=new", "f=file"}},
    {"empty target name: the target is the folder", kBoth, {"a.log=new", "Logs/"}, {"a.log,Logs/,"}, {"Logs/", "a.log=new"}},
    {"a folder as source", kBoth, {"src/"}, {"src,Logs/,a.log"}, {"Logs/", "src/"}},
    {"a folder at the target path", kBoth, {"a.log=new", "Logs/", "Logs/a.log/"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log/", "a.log=new"}},
    {"the source is the target", kBoth, {"Logs/", "Logs/a.log=old"}, {"Logs/a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=old"}},
    {"absolute paths", kBoth, {"a.log=new"}, {"{R}/a.log,{R}/Abs/X/,b.log"}, {"Abs/", "Abs/X/", "Abs/X/b.log=new", "a.log=new"}},
    {"doubled separators", kBoth, {"a.log=new"}, {"a.log,D//E//,a.log"}, {"D/", "D/E/", "D/E/a.log=new", "a.log=new"}},
    {"a missing drive: nothing is made, no dialog", kWindows, {"a.log=new"}, {"a.log,Q:/Logs/,a.log"}, {"a.log=new"}},
    {"a source on a missing drive", kWindows, {}, {"Q:/a.log,Logs/,a.log"}, {"Logs/"}},
    {"a name outside the code page is refused", kWindows, {"a.log=new", "Logs/"}, {"a.log,Logs/,\xd0\x96.log"}, {"Logs/", "a.log=new"}},
    {"a best-fit name never lands on another file", kWindows, {"a.log=new", "Logs/", "Logs/a.log=old"}, {"a.log,Logs/,\xc4\x81.log"}, {"Logs/", "Logs/a.log=old", "a.log=new"}},
    {"a source outside the code page is refused", kWindows, {"\xd0\x96.log=new"}, {"\xd0\x96.log,Logs/,a.log"}, {"Logs/", "\xd0\x96.log=new"}},
    {"a name inside the code page is copied", kWindows, {"a.log=new"}, {"a.log,Logs/,\xc3\xa9.log"}, {"Logs/", "Logs/\xc3\xa9.log=new", "a.log=new"}},
    // Hostile and odd entries at the paths.
    {"a link at the target is replaced, never written through", kLinux, {"a.log=new", "Logs/", "other=keep", "Logs/a.log->../other"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new", "other=keep"}},
    {"a link in the chain is followed", kLinux, {"a.log=new", "real/", "Logs->real"}, {"a.log,Logs/Sub/,a.log"}, {"Logs->real", "a.log=new", "real/", "real/Sub/", "real/Sub/a.log=new"}},
    {"a dangling link in the chain is left alone", kLinux, {"a.log=new", "Logs->gone"}, {"a.log,Logs/Sub/,a.log"}, {"Logs->gone", "a.log=new"}},
    {"the source is the target through a link", kLinux, {"Logs/", "Logs/a.log=old", "link->Logs/a.log"}, {"link,Logs/,a.log"}, {"Logs/", "Logs/a.log=old", "link->Logs/a.log"}},
    {"the source is the target through a hard link", kLinux, {"Logs/", "Logs/a.log=old", "h=>Logs/a.log"}, {"h,Logs/,a.log"}, {"Logs/", "Logs/a.log=old", "h=old"}},
    {"a target name ending in a separator", kLinux, {"a.log=new", "Logs/", "Logs/sub/"}, {"a.log,Logs/,sub/"}, {"Logs/", "Logs/sub/", "a.log=new"}},
    {"a FIFO without a writer as source", kLinux, {"Logs/", "p|fifo"}, {"p,Logs/,a.log"}, {"Logs/", "p|fifo"}},
    {"a socket as source", kLinux, {"Logs/", "s|socket"}, {"s,Logs/,a.log"}, {"Logs/", "s|socket"}},
    {"a character device as source", kLinux, {"Logs/"}, {"/dev/zero,Logs/,a.log"}, {"Logs/"}},
    {"names with bytes outside UTF-8, blanks, quotes and a newline", kLinux, {"\xff\xfe a\"b\nc.log=new"}, {"\xff\xfe a\"b\nc.log,L\x80gs/,\xff\n.log"}, {"L\x80gs/", "L\x80gs/\xff\n.log=new", "\xff\xfe a\"b\nc.log=new"}},
    // Refusals, run without privileges.
    {"a writable folder for an unprivileged run", kBoth, {"a.log=new", "Logs/", "Logs/a.log=old"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}, kUnprivileged},
    {"a read-only target folder: a writable target is written in place", kLinux, {"a.log=new", "Logs/#555", "Logs/a.log=old"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}, kUnprivileged},
    {"a read-only target in a read-only folder", kLinux, {"a.log=new", "Logs/#555", "Logs/a.log=old#444"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=old", "a.log=new"}, kUnprivileged},
    {"a read-only folder above a missing chain", kLinux, {"a.log=new", "Logs/#555"}, {"a.log,Logs/A/B/,a.log"}, {"Logs/", "a.log=new"}, kUnprivileged},
    {"a source without read permission", kLinux, {"a.log=new#000", "Logs/"}, {"a.log,Logs/,b.log"}, {"Logs/", "a.log=new"}, kUnprivileged},
    {"a target folder that denies search", kLinux, {"a.log=new", "Logs/#666", "Logs/a.log=old"}, {"a.log,Logs/Sub/,a.log"}, {"Logs/", "Logs/a.log=old", "a.log=new"}, kUnprivileged},
    {"a read-only target file in a writable folder is replaced", kLinux, {"a.log=new", "Logs/", "Logs/a.log=old#444"}, {"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}, kUnprivileged},
    // The argument list (Linux) and the whole command line (Windows).
    {"arguments are joined with single blanks", kLinux, {"a.log=new"}, {"a.log,", "Logs/,b", "c.log"}, {" Logs/", " Logs/b c.log=new", "a.log=new"}},
    {"an empty argument still takes its blank", kLinux, {"a.log=new"}, {"a.log,Logs/,b", "", "c"}, {"Logs/", "Logs/b  c=new", "a.log=new"}},
    {"no arguments at all", kLinux, {"a.log=new"}, {}, {"a.log=new"}},
    {"blanks after the quoted program name are skipped", kWindows, {"a.log=new"}, {"", "\"{P}\"  \t a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}},
    {"an unquoted program name ends at the first blank", kWindows, {"a.log=new"}, {"", "{P} a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}},
    {"a quoted program name needs no blank after it", kWindows, {"a.log=new"}, {"", "\"{P}\"a.log,Logs/,a.log"}, {"Logs/", "Logs/a.log=new", "a.log=new"}},
    {"blanks and quotes inside the text are kept", kWindows, {"a.log=new"}, {"", "\"{P}\" a.log,Logs/,b c.log"}, {"Logs/", "Logs/b c.log=new", "a.log=new"}},
    {"the program name alone", kWindows, {"a.log=new"}, {"", "\"{P}\""}, {"a.log=new"}},
};
// clang-format on

TEST(Run, ArgumentTexts) {
    int index = 0;
    for (const Case& c : kCases) {
        if ((c.hosts & kHost) == 0) {
            continue;
        }
        const auto root = harness::Scratch("case" + std::to_string(index++));
        harness::Build(root, c.before);
        std::vector<std::string> arguments = c.arguments;
        for (std::string& argument : arguments) {
            argument = harness::HostText(argument, root);
            const auto program = argument.find("{P}");
            if (program != std::string::npos) {
                argument.replace(program, 3, harness::ProgramPath().string());
            }
        }
        harness::ExpectQuiet(harness::Run(arguments, root, c.options), c.name);
        EXPECT_EQ(harness::List(root), c.after) << c.name;
    }
}

} // namespace
