// Runs the real built program on a scratch folder and reads back what it left.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace harness {

namespace fs = std::filesystem;

// A folder tree written as one entry a line: "name/" is a folder,
// "name=content" a file, "name->target" a symbolic link. Paths use "/".
using Tree = std::vector<std::string>;

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
Tree List(const fs::path& root);

// An argument text from a table: "{R}" becomes the scratch folder and "/"
// the host's separator.
std::string HostText(const std::string& text, const fs::path& root);

// Starts the program in folder cwd. Linux: with these arguments. Windows:
// with the quoted program path and arguments[0] as its command line, or with
// arguments[1] as the whole command line when given.
Outcome Run(const std::vector<std::string>& arguments, const fs::path& cwd, int timeoutMs = 20000);

} // namespace harness
