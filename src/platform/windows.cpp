// Windows host: path texts are UTF-16 and the backslash separates folders.
// The program is windowless; no call it makes may bring up a dialog.
#include "platform.h"

#include "../mdlCopy.h"

#include <windows.h>

#include <cwchar>

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

// The folder part of a path, its last separator included. The system takes
// "/" for a backslash too, and "D:a.log" names a file in drive D's current folder.
platform::Text FolderPart(const platform::Text& path) {
    const platform::Text::size_type last = path.find_last_of(L"\\/");
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

// Names beside the target for this run's own files: no live process shares
// our id, and the count steps past whatever a killed run of the same id left.
bool NextFreeName(const platform::Text& stem, unsigned& count, platform::Text& name) {
    for (; count < 100; ++count) {
        name = stem + Decimal(count) + L".tmp";
        if (::GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ++count;
            return true;
        }
    }
    return false;
}

// What CopyFileA refuses to write over: a folder, a read-only file, and a
// hidden or system file unless the source carries the same attribute (it
// opens the target as CreateFile's CREATE_ALWAYS does, with the source's
// attributes).
bool RefusedTarget(DWORD target, DWORD source) {
    if ((target & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return true;
    }
    const DWORD carried = source == INVALID_FILE_ATTRIBUTES ? 0 : source;
    return (target & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) & ~carried) != 0;
}

// A read-only file cannot be deleted until it is made writable.
void Remove(const platform::Text& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
}

// Failures that come from the temporary copy's name, not from the copy
// itself: the folder takes no new file, or the name, longer than the
// target's, passes the path length limit. The target may still take an
// in-place copy.
bool NameRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_FILENAME_EXCED_RANGE;
}

// Failures where the target stays as it was but cannot be renamed or
// removed, while writing into it may still be allowed.
bool ReplaceRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// The running program's full path as the loader found it, or empty.
platform::Text OwnPath() {
    platform::Text path(MAX_PATH, L'\0');
    while (path.size() <= 32768) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            break;
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
    return platform::Text();
}

// Past the program's own full path when the line starts with it, compared
// as the file system compares names, and a blank or the end follows it.
const wchar_t* PastOwnPath(const wchar_t* line) {
    const platform::Text own = OwnPath();
    const int length = static_cast<int>(own.size());
    if (length == 0 || std::wcslen(line) < own.size() ||
        ::CompareStringOrdinal(line, length, own.data(), length, TRUE) != CSTR_EQUAL) {
        return nullptr;
    }
    const wchar_t* past = line + length;
    return (*past == L'\0' || IsBlank(*past)) ? past : nullptr;
}

bool Admitted(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

} // namespace

namespace platform {

Text ArgumentText() {
    // The program's name ends at its closing quote when it starts with one,
    // else at the first blank; the blanks after it belong to neither, as
    // Windows programs take them. An unquoted name with blanks in it (an
    // installer that started us as "C:\Program Files\...\Tarvik.exe a,b,c"
    // and named the program apart) is known by our own full path.
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
    } else if (const wchar_t* past = PastOwnPath(cursor)) {
        cursor = past;
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
    const Text stem = FolderPart(target) + L"~tarvik-" + Decimal(::GetCurrentProcessId()) + L"-";
    unsigned count = 0;
    Text temporary;
    Text backup;
    std::string narrowSource;
    std::string narrowTarget;
    std::string narrowTemporary;
    if (!ToCodePage(source, narrowSource) || !ToCodePage(target, narrowTarget) ||
        !NextFreeName(stem, count, temporary) || !NextFreeName(stem, count, backup) ||
        !ToCodePage(temporary, narrowTemporary)) {
        return false;
    }
    const CopyFileAType copyFileA = BoundCopyFileA();
    if (copyFileA == nullptr) {
        return false;
    }
    const DWORD targetAttributes = ::GetFileAttributesW(target.c_str());
    const bool targetExists = targetAttributes != INVALID_FILE_ATTRIBUTES;
    if (targetExists && RefusedTarget(targetAttributes, ::GetFileAttributesW(source.c_str()))) {
        return false;
    }

    // Writing into the target, as CopyFileA alone does: not atomic, and only
    // for a target that refuses to be replaced but may still be written.
    const auto copyInPlace = [&] {
        return copyFileA(narrowSource.c_str(), narrowTarget.c_str(), 0) == 1;
    };
    // The copy goes to a new file beside the target, so that a copy that
    // fails midway (a full disk) leaves the target as it was.
    if (copyFileA(narrowSource.c_str(), narrowTemporary.c_str(), 0) != 1) {
        const DWORD error = ::GetLastError();
        Remove(temporary);
        return NameRefused(error) && copyInPlace();
    }

    // The copy has the source's attributes, as CopyFileA gives a target it
    // writes into; they are set again once the copy stands at the target.
    const DWORD copied = ::GetFileAttributesW(temporary.c_str());
    // ReplaceFileW keeps the replaced file's security, creation time and
    // short name, as writing into it does. Given a backup name, it leaves
    // the replaced file under one of its two names whatever fails.
    DWORD error = ERROR_FILE_NOT_FOUND;
    bool placed = false;
    if (targetExists) {
        placed = ::ReplaceFileW(target.c_str(), temporary.c_str(), backup.c_str(), 0, nullptr,
                                nullptr) != FALSE;
        error = placed ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!placed && (error == ERROR_FILE_NOT_FOUND || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)) {
        // The target path is free: there was no target, a concurrent run
        // has just moved it, or the replaced file went to the backup name.
        // One rename puts the whole copy there.
        placed =
            ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    if (placed) {
        // The replaced file is done with, whatever a concurrent run's
        // replace does to the target path meanwhile.
        Remove(backup);
        if (copied != INVALID_FILE_ATTRIBUTES) {
            ::SetFileAttributesW(target.c_str(), copied);
        }
        return true;
    }
    // The replaced file goes back to a free target path, and stays under the
    // backup name only while no whole file stands there.
    ::MoveFileExW(backup.c_str(), target.c_str(), 0);
    if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        Remove(backup);
    }
    Remove(temporary);
    return ReplaceRefused(error) && copyInPlace();
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
