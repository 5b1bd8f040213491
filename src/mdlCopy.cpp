#include "mdlCopy.h"

#include <vector>

namespace mdlCopy {

void Main() {
    // Split at every comma, keeping empty fields; an empty text has no fields.
    const Text argumentText = platform::ArgumentText();
    std::vector<Text> fieldList;
    if (!argumentText.empty()) {
        Text::size_type start = 0;
        for (;;) {
            const Text::size_type comma = argumentText.find(platform::kComma, start);
            if (comma == Text::npos) {
                fieldList.push_back(argumentText.substr(start));
                break;
            }
            fieldList.push_back(argumentText.substr(start, comma - start));
            start = comma + 1;
        }
    }

    // A missing field leaves its local empty; fields past the third are unused.
    Text sourcePath;
    Text targetFolder;
    Text targetName;
    if (fieldList.size() > 0) {
        sourcePath = fieldList[0];
    }
    if (fieldList.size() > 1) {
        targetFolder = fieldList[1];
    }
    if (fieldList.size() > 2) {
        targetName = fieldList[2];
    }

    // Plain joining: callers pass a folder that ends in a separator.
    const Text targetPath = targetFolder + targetName;

    MakeFolderTree(targetFolder);
    CopyToTarget(sourcePath, targetPath);
    platform::EndRun();
}

void MakeFolderTree(const Text& path) {
    // The chain's end: nothing above the empty path can be made, and asking
    // for its parent would never get shorter.
    if (path.empty()) {
        return;
    }
    // A path that cannot even be examined ends this level; the caller goes on.
    if (platform::TestPresence(path) != platform::Presence::Absent) {
        return;
    }
    if (platform::CreateOneFolder(path)) {
        return;
    }
    // Most often the parent is missing: make sure of it, then try once more.
    // The second outcome is not looked at; the copy will tell.
    MakeFolderTree(ParentFolder(path));
    platform::CreateOneFolder(path);
}

Text ParentFolder(const Text& path) {
    const Text::size_type last = path.rfind(platform::kSeparator);
    if (last == Text::npos) {
        return Text();
    }
    return path.substr(0, last);
}

bool CopyToTarget(const Text& sourcePath, const Text& targetPath) {
    return platform::CopyOneFile(sourcePath, targetPath);
}

} // namespace mdlCopy
