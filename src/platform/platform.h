// The thin layer between mdlCopy and the host. Everything that differs
// between Windows and Linux lives behind these few declarations: the text
// type the host names files with, its folder separator, and the handful of
// services the run needs. Each host has one implementation file, or one
// folder of them split by concern.
#pragma once

#include <string>

namespace platform {

#if defined(_WIN32)
// Windows names files in UTF-16; the backslash separates folders, and so
// does the slash wherever Windows reads a path.
using Char = wchar_t;
inline constexpr Char kSeparator = L'\\';
inline constexpr const Char* kSeparators = L"\\/";
inline constexpr Char kComma = L',';
#else
// Linux names files in bytes, never decoded; the slash separates folders.
using Char = char;
inline constexpr Char kSeparator = '/';
inline constexpr const Char* kSeparators = "/";
inline constexpr Char kComma = ',';
#endif

using Text = std::basic_string<Char>;

enum class Presence { Present, Absent, Failed };

// The argument text: everything after the program's own name, unchanged.
Text ArgumentText();

// Whether the path names an entry the run may treat as existing. Failed
// means the path could not be examined at all.
Presence TestPresence(const Text& path);

// Creates exactly the last folder of the path; never its parents.
bool CreateOneFolder(const Text& path);

// Copies the whole source file to the target path, replacing a file there.
// Never creates folders.
bool CopyOneFile(const Text& source, const Text& target);

// Ends the process at once with the run's constant status. On the real hosts
// it does not return.
void EndRun();

} // namespace platform
