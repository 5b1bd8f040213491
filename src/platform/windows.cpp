// Windows host: path texts are UTF-16 and the backslash separates folders.
// The program is windowless; no call it makes may bring up a dialog.
#include "platform.h"

#include "../mdlCopy.h"

#include <windows.h>

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

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

using CopyFileAType = BOOL(WINAPI*)(LPCSTR, LPCSTR, BOOL);

// CopyFileA, looked up in kernel32 by name at its first use.
CopyFileAType BoundCopyFileA() {
    static CopyFileAType bound = nullptr;
    if (bound == nullptr) {
        if (HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll")) {
            bound = reinterpret_cast<CopyFileAType>(
                reinterpret_cast<void*>(::GetProcAddress(kernel32, "CopyFileA")));
        }
    }
    return bound;
}

bool Admitted(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

} // namespace

namespace platform {

Text ArgumentText() {
    // The program's name ends at its closing quote when it starts with one,
    // else at the first blank; the blanks after it belong to neither.
    const wchar_t* cursor = ::GetCommandLineW();
    if (cursor == nullptr) {
        return Text();
    }
    if (*cursor == L'"') {
        ++cursor;
        while (*cursor != L'\0' && *cursor != L'"') {
            ++cursor;
        }
        if (*cursor == L'"') {
            ++cursor;
        }
    } else {
        while (*cursor != L'\0' && !IsBlank(*cursor)) {
            ++cursor;
        }
    }
    while (IsBlank(*cursor)) {
        ++cursor;
    }
    return Text(cursor);
}

Presence TestPresence(const Text& path) {
    // A listing of "folder\" is the folder's contents; asking for them with
    // a wildcard answers whether the folder itself exists.
    const Text pattern = (!path.empty() && path.back() == L'\\') ? path + L'*' : path;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_NO_MORE_FILES) {
            return Presence::Absent;
        }
        return Presence::Failed;
    }
    bool admitted = false;
    do {
        admitted = Admitted(entry);
    } while (!admitted && ::FindNextFileW(search, &entry));
    ::FindClose(search);
    return admitted ? Presence::Present : Presence::Absent;
}

bool CreateOneFolder(const Text& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool CopyOneFile(const Text& source, const Text& target) {
    std::string narrowSource;
    std::string narrowTarget;
    if (!ToCodePage(source, narrowSource) || !ToCodePage(target, narrowTarget)) {
        return false;
    }
    const CopyFileAType copyFileA = BoundCopyFileA();
    if (copyFileA == nullptr) {
        return false;
    }
    return copyFileA(narrowSource.c_str(), narrowTarget.c_str(), 0) == 1;
}

void EndRun() {
    ::ExitProcess(0);
}

} // namespace platform

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else: no "insert a disk" or fault dialog, whatever the
    // paths name.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    try {
        mdlCopy::Main();
    } catch (...) {
        // Out of memory: the run ends as quietly as any other.
    }
    platform::EndRun();
    return 0;
}
