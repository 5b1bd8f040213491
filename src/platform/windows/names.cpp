// Windows host, the names the copy uses: the narrow form of a path that
// CopyFileA takes, and the names of the run's own files beside the target.
#include "../platform.h"
#include "host.h"

#include <string>

namespace {

// The folder part of a path, its last separator included. The system takes
// "/" for a backslash too, and "D:a.log" names a file in drive D's current folder.
platform::Text FolderPart(const platform::Text& path) {
    const platform::Text::size_type last = path.find_last_of(platform::kSeparators);
    if (last != platform::Text::npos) {
        return path.substr(0, last + 1);
    }
    if (path.size() >= 2 && path[1] == L':') {
        return path.substr(0, 2);
    }
    return platform::Text();
}

// Decimal digits, without bringing in a formatted-output library.
platform::Text Decimal(unsigned long value) {
    platform::Text digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

} // namespace

namespace host {

// The narrow system code page form of a path, or false when the path has a
// character that code page cannot hold. A best-fit or default substitute
// would name some other file, which the copy could then overwrite.
bool ToCodePage(const platform::Text& wide, std::string& narrow) {
    narrow.clear();
    if (wide.empty()) {
        return true;
    }
    const UINT codePage = ::GetACP();
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    LPBOOL usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int wideLength = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0,
                                             nullptr, usedDefaultOut);
    if (length <= 0 || usedDefault) {
        return false;
    }
    narrow.resize(static_cast<size_t>(length));
    if (::WideCharToMultiByte(codePage, flags, wide.data(), wideLength, narrow.data(), length,
                              nullptr, usedDefaultOut) != length ||
        usedDefault) {
        return false;
    }
    // Only a conversion that comes back to the same text names the same file.
    const int backLength =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), length, nullptr, 0);
    if (backLength != wideLength) {
        return false;
    }
    platform::Text back(static_cast<size_t>(backLength), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), length, back.data(),
                          backLength);
    return back == wide;
}

// The names of this run's own files beside the target: no live process
// shares our id, and a name taken already (a killed run's leftover, or a
// name someone planted) is stepped past, never written into or removed.
platform::Text OwnName(const platform::Text& target, unsigned count) {
    return FolderPart(target) + L"~tarvik-" + Decimal(::GetCurrentProcessId()) + L"-" +
           Decimal(count) + L".tmp";
}

} // namespace host
