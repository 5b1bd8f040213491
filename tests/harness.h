// Runs the real built program on a scratch folder and reads back what it left.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace harness {

namespace fs = std::filesystem;

// A folder tree written as one entry a line: "name/" is a folder,
// "name=content" a file, "name->target" a symbolic link, "name=>other" a
// second hard link to the file other, "name|fifo" and "name|socket" what they
// say. Paths use "/". In a tree to build, a suffix "#555" sets the entry's
// permission bits once everything is made (read-only, on Windows).
using Tree = std::vector<std::string>;

struct RunOptions {
    int timeoutMs = 5000;
    bool unprivileged = false;    // Linux, as root: run as nobody, who owns the scratch folder
    long long fileSizeLimit = -1; // Linux: the child's file-size limit in bytes
};

struct Outcome {
    bool finished = false; // ended by itself within the time limit
    bool exitedZero = false;
    std::string output; // everything written to standard output and error
};

// The built program, which sits beside the test program.
fs::path ProgramPath();

// A fresh empty scratch folder for one case.
fs::path Scratch(const std::string& name);

void Build(const fs::path& root, const Tree& tree);
// Gives the owner full rights again everywhere, then lists the whole tree.
Tree List(const fs::path& root);

// An argument text from a table: "{R}" becomes the scratch folder and "/"
// the host's separator.
std::string HostText(const std::string& text, const fs::path& root);

// Starts the program in folder cwd. Linux: with these arguments. Windows:
// with the quoted program path and arguments[0] as its command line, or with
// arguments[1] as the whole command line when given.
Outcome Run(const std::vector<std::string>& arguments, const fs::path& cwd,
            const RunOptions& options = {});

// A run must end by itself, exit 0 and print nothing, whatever it did.
void ExpectQuiet(const Outcome& outcome, const std::string& what);

// The user id unprivileged runs take, when the tests run as root.
constexpr unsigned kNobody = 65534;

} // namespace harness
