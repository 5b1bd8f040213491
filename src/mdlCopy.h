// mdlCopy: the whole run of Tarvik. Main takes the argument text
// "source,targetFolder,targetName", makes sure the target folder's chain
// exists and copies the source there under the target name.
#pragma once

#include "platform/platform.h"

#include <string_view>

namespace mdlCopy {

using Text = platform::Text;
// A leading part of a text that somebody else owns: the folder recursion
// walks up one chain without copying it level by level.
using TextView = std::basic_string_view<platform::Char>;

// The program's start-up procedure; entered once by the host's entry point.
void Main();

// Makes sure the folder exists, creating it and every missing folder above it,
// working upwards from the folder itself. Reports nothing.
void MakeFolderTree(TextView path);

// The text before the last of the host's separators; empty when there is
// none, or when the only separator is the first character.
TextView ParentFolder(TextView path);

// Copies the source file over the target path; true only when the copy was
// made.
bool CopyToTarget(const Text& sourcePath, const Text& targetPath);

} // namespace mdlCopy
