// mdlCopy: the whole run of Tarvik. Main takes the argument text
// "source,targetFolder,targetName", makes sure the target folder's chain
// exists and copies the source there under the target name.
#pragma once

#include "platform/platform.h"

namespace mdlCopy {

using Text = platform::Text;

// The program's start-up procedure; entered once by the host's entry point.
void Main();

// Makes sure the folder exists, creating it and every missing folder above it,
// working upwards from the folder itself. Reports nothing.
void MakeFolderTree(const Text& path);

// The text before the last separator; empty when there is none, or when the
// only separator is the first character.
Text ParentFolder(const Text& path);

// Copies the source file over the target path; true only when the copy was
// made.
bool CopyToTarget(const Text& sourcePath, const Text& targetPath);

} // namespace mdlCopy
