// Stand-in for kernel32 in the POSIX path's copy of Tarvik.exe (build.sh):
// every call passes on to the system but SetFileInformationByHandle's two
// POSIX classes, which Wine 8 answers with ERROR_INVALID_PARAMETER and
// current Windows has on NTFS (the versions: copy.cpp, kRenameInfoEx):
// FileRenameInfoEx and FileDispositionInfoEx. They are emulated here, on
// the terms Microsoft documents:
//
// A rename with FILE_RENAME_FLAG_REPLACE_IF_EXISTS | POSIX_SEMANTICS
// replaces a target that others hold open, as long as every handle on it
// shares deletion, and is refused otherwise; the holders keep the old file.
// Emulated: the target is opened for deletion sharing everything (which
// succeeds only where every handle shares deletion), moved aside to a hidden
// name, the caller's file renamed in, and the old one marked for deletion,
// so it goes with its last holder. Answers: ERROR_SHARING_VIOLATION where a
// handle on the target does not share deletion (the probe's own answer;
// the caller tells it from a rule by the same probe), ERROR_ACCESS_DENIED
// for a folder or a read-only target, ERROR_INVALID_PARAMETER for other
// flags or a name relative to a folder handle, else the plain rename's.
//
// A delete with FILE_DISPOSITION_FLAG_DELETE | POSIX_SEMANTICS frees the name
// at once while the handles stay. Emulated: the name is moved aside to a
// hidden name and that is marked for deletion (read-only cleared first where
// FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE asks). Either way the file
// goes with its last handle.
//
// Not atomic, where Windows is: between moving the old target aside and
// renaming the caller's file in, the target's name stands free (an open then
// finds no file; a run killed there leaves the old file under its hidden
// name and no target), and another run's rename may take the name meanwhile,
// which this one then replaces in turn. A delete killed between its two steps
// leaves the file under its hidden name. The hidden names start ".tarvik-",
// so that the table's check for leftovers sees them. A mapped target is not
// refused, as Windows refuses it. x64 only, as faults.c is.
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

enum { kReplace = 0x1, kPosix = 0x2, kDelete = 0x1, kIgnoreReadOnly = 0x10 };
enum { kRenameEx = 22, kDispositionEx = 21, kMaxName = 32768 };

typedef struct {
    DWORD flags;
    HANDLE root;
    DWORD nameBytes;
    WCHAR name[1];
} Rename;

static char buffer[sizeof(Rename) + kMaxName * sizeof(WCHAR)];

static BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The plain rename of the file h holds to name (a full path), replacing an
// existing file only where replace says so.
static BOOL RenameTo(HANDLE h, const WCHAR* name, BOOL replace) {
    FILE_RENAME_INFO* info = (FILE_RENAME_INFO*)buffer;
    const size_t chars = wcslen(name);
    memset(info, 0, sizeof *info);
    info->ReplaceIfExists = replace;
    info->FileNameLength = (DWORD)(chars * sizeof(WCHAR));
    memcpy(info->FileName, name, (chars + 1) * sizeof(WCHAR)); // Wine reads up to the NUL
    return SetFileInformationByHandle(h, FileRenameInfo, info,
                                      (DWORD)(sizeof *info + chars * sizeof(WCHAR)));
}

// Marks the file at a hidden name of ours for deletion, through a handle
// opened on that name for it: Wine unlinks a marked file by the name its
// handle was opened with, which a rename through another handle leaves stale.
static BOOL MarkDeleted(const WCHAR* aside, BOOL ignoreReadOnly) {
    if (DeleteFileW(aside)) {
        return TRUE;
    }
    return ignoreReadOnly && GetLastError() == ERROR_ACCESS_DENIED &&
           SetFileAttributesW(aside, FILE_ATTRIBUTE_NORMAL) && DeleteFileW(aside);
}

// A hidden name of this process's in the folder of name, one not used before.
static void Aside(const WCHAR* name, WCHAR* aside) {
    static LONG made;
    const WCHAR* slash = wcsrchr(name, L'\\');
    const size_t folder = slash == NULL ? 0 : (size_t)(slash - name + 1);
    memcpy(aside, name, folder * sizeof(WCHAR));
    _snwprintf(aside + folder, 64, L".tarvik-aside-%lu-%ld", GetCurrentProcessId(),
               InterlockedIncrement(&made));
    aside[folder + 63] = L'\0';
}

static BOOL PosixRename(HANDLE own, const Rename* request) {
    static WCHAR target[kMaxName], aside[kMaxName + 64];
    if ((request->flags & ~(kReplace | kPosix)) != 0 || request->root != NULL ||
        request->nameBytes / sizeof(WCHAR) >= kMaxName) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    memcpy(target, request->name, request->nameBytes);
    target[request->nameBytes / sizeof(WCHAR)] = L'\0';
    if (request->flags != (kReplace | kPosix)) {
        return RenameTo(own, target, (request->flags & kReplace) != 0);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        BY_HANDLE_FILE_INFORMATION info;
        const HANDLE old = CreateFileW(target, DELETE | FILE_READ_ATTRIBUTES, 7, NULL,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (old == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND) {
                return FALSE;
            }
            if (RenameTo(own, target, FALSE)) {
                return TRUE;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) {
                return FALSE;
            }
            continue; // another rename took the name meanwhile
        }
        DWORD error = ERROR_ACCESS_DENIED;
        if (!GetFileInformationByHandle(old, &info)) {
            error = GetLastError();
        } else if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ==
                   0) {
            Aside(target, aside);
            error = RenameTo(old, aside, FALSE) ? ERROR_SUCCESS : GetLastError();
        }
        if (error != ERROR_SUCCESS) {
            CloseHandle(old);
            return Fail(error);
        }
        const BOOL placed = RenameTo(own, target, FALSE);
        error = GetLastError();
        // Failed: the old file goes back, unless another rename took the
        // name meanwhile, which replaced it as Windows would have.
        const BOOL back = !placed && RenameTo(old, target, FALSE);
        CloseHandle(old);
        if (!back) {
            MarkDeleted(aside, FALSE);
        }
        if (placed || back || error != ERROR_ALREADY_EXISTS) {
            return placed || Fail(error);
        }
    }
    return Fail(ERROR_SHARING_VIOLATION);
}

static BOOL PosixDelete(HANDLE own, DWORD flags) {
    static WCHAR name[kMaxName], aside[kMaxName + 64];
    FILE_DISPOSITION_INFO disposition = {(flags & kDelete) != 0};
    if ((flags & ~(kDelete | kPosix | kIgnoreReadOnly)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (flags != (kDelete | kPosix) && flags != (kDelete | kPosix | kIgnoreReadOnly)) {
        return SetFileInformationByHandle(own, FileDispositionInfo, &disposition,
                                          sizeof disposition);
    }
    const DWORD length = GetFinalPathNameByHandleW(own, name, kMaxName, 0);
    if (length == 0 || length >= kMaxName) {
        return length == 0 ? FALSE : Fail(ERROR_FILENAME_EXCED_RANGE);
    }
    Aside(name, aside);
    if (!RenameTo(own, aside, FALSE)) {
        return FALSE;
    }
    const BOOL marked = MarkDeleted(aside, (flags & kIgnoreReadOnly) != 0);
    if (!marked) { // refused as Windows refuses it: the name stays
        const DWORD error = GetLastError();
        RenameTo(own, name, FALSE);
        return Fail(error);
    }
    return TRUE;
}

BOOL WINAPI P_SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                         DWORD size) {
    const Rename* request = info;
    if ((int)kind == kRenameEx && size >= offsetof(Rename, name) &&
        request->nameBytes <= size - offsetof(Rename, name)) {
        return PosixRename(file, request);
    }
    if ((int)kind == kDispositionEx && size >= sizeof(DWORD)) {
        return PosixDelete(file, *(const DWORD*)info);
    }
    return SetFileInformationByHandle(file, kind, info, size);
}
