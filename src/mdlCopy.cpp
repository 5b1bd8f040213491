#include "mdlCopy.h"

#include <type_traits>
#include <vector>

namespace mdlCopy {

namespace {

// Runs one step of a procedure. A step that fails, running out of memory
// included, is abandoned and counts as false; the procedure goes on. A step
// without an outcome of its own counts as true when it ran to its end.
template <typename Step> bool Attempt(Step step) noexcept {
    try {
        if constexpr (std::is_void_v<decltype(step())>) {
            step();
            return true;
        } else {
            return step();
        }
    } catch (...) {
        return false;
    }
}

std::vector<Text> SplitAtCommas(const Text& text) {
    // Every comma splits and empty fields stay; an empty text has no fields.
    std::vector<Text> fields;
    for (Text::size_type start = 0; !text.empty();) {
        const Text::size_type comma = text.find(platform::kComma, start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == Text::npos) {
            break;
        }
        start = comma + 1;
    }
    return fields;
}

} // namespace

void Main() {
    std::vector<Text> fieldList;
    Attempt([&] { fieldList = SplitAtCommas(platform::ArgumentText()); });

    // A missing field leaves its local empty; fields past the third are unused.
    Text sourcePath;
    Text targetFolder;
    Text targetName;
    Text targetPath;
    const auto take = [&](std::vector<Text>::size_type index, Text& local) {
        Attempt([&] {
            if (index < fieldList.size()) {
                local = fieldList[index];
            }
        });
    };
    take(0, sourcePath);
    take(1, targetFolder);
    take(2, targetName);
    // Plain joining: callers pass a folder that ends in a separator.
    Attempt([&] { targetPath = targetFolder + targetName; });

    MakeFolderTree(targetFolder);
    CopyToTarget(sourcePath, targetPath);
    platform::EndRun();
}

void MakeFolderTree(TextView path) {
    // The chain's end: nothing above the empty path can be made, and asking
    // for its parent would never get shorter.
    if (path.empty()) {
        return;
    }
    // Each level forms its own path text only for the call that needs it, so
    // a deep chain holds one level's text at a time, not one per level.
    const auto ownText = [&] { return Text(path); };
    // A path that cannot even be examined ends this level; the caller goes on.
    if (!Attempt([&] { return platform::TestPresence(ownText()) == platform::Presence::Absent; })) {
        return;
    }
    if (Attempt([&] { return platform::CreateOneFolder(ownText()); })) {
        return;
    }
    // Most often the parent is missing: make sure of it, then try once more.
    // The second outcome is not looked at; the copy will tell.
    MakeFolderTree(ParentFolder(path));
    Attempt([&] { return platform::CreateOneFolder(ownText()); });
}

TextView ParentFolder(TextView path) {
    const TextView::size_type last = path.find_last_of(platform::kSeparators);
    return path.substr(0, last == TextView::npos ? 0 : last);
}

bool CopyToTarget(const Text& sourcePath, const Text& targetPath) {
    return Attempt([&] { return platform::CopyOneFile(sourcePath, targetPath); });
}

} // namespace mdlCopy
