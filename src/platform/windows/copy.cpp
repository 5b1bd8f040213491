// Windows host, the copy: CopyFileA writes a new file of this run beside the
// target, which then takes the target's place in one rename (what it keeps of
// the replaced file: keep.cpp). Each step of the copy answers an Outcome;
// a call that fails leaves the system's reason in GetLastError, which the
// named predicates below sort.
//
// Which step's failure leads where:
//   target refused by its attributes (RefusedTarget)          -> no copy
//   own file made beside it (MakeCopy)     NameTaken -> the next name
//                  NameRefused, or the file not held -> Refused; other -> Failed
//   filled by CopyFileA (CopyByName)    refused -> Declined: the source is read
//                  CopyLost -> Failed; the right to delete not had back -> Stuck
//   filled, flushed (FillCopy)       held past all patience -> Held; other -> Failed
//   renamed over the target (PlaceCopy)  ReplaceRefused -> Refused; other -> Failed
//   Refused, Held or Stuck: the write in place (GoesInPlace, WriteInPlace);
//   Stuck where no target stands: a new target made directly (MakeTarget).
//   Failed: no copy, the target as it was.
#include "../platform.h"
#include "host.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using host::FolderOrLink;
using host::Handle;
using host::Kept;
using host::kShareAll;
using host::OpenEntry;
using host::SetBasics;

using CopyFileAType = BOOL(WINAPI*)(LPCSTR, LPCSTR, BOOL);

// CopyFileA makes the copy wherever it can: it carries over what reading the
// source does not (its other streams, an encrypted source's encryption) and
// refuses what Windows refuses to copy. It is the narrow call, given each name
// only where the system code page holds that name exactly. It is looked up in
// kernel32 by name at its first use rather than imported: where it cannot be
// bound, the source is read instead, and the program still starts.
CopyFileAType BoundCopyFileA() {
    static const CopyFileAType bound = host::Kernel32Function<CopyFileAType>("CopyFileA");
    return bound;
}

// What CopyFileA refuses to write over: a folder, a read-only file, and a
// hidden or system file unless the source carries the same attribute (it
// opens the target as CreateFile's CREATE_ALWAYS does, with the source's
// attributes). The replace and the write in place keep to the same rule.
bool RefusedTarget(DWORD target, DWORD source) {
    if ((target & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return true;
    }
    const DWORD carried = source == INVALID_FILE_ATTRIBUTES ? 0 : source;
    return (target & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) & ~carried) != 0;
}

// Failures that come from the new name beside the target, not from the copy
// itself: the folder takes no new file (or none the run could later rename or
// remove), or the name, longer than the target's, passes the path length
// limit. The target may still take an in-place copy.
bool NameRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_FILENAME_EXCED_RANGE;
}

// Failures of the rename where the target stays as it was but cannot be
// replaced, while writing into it may still be allowed: its rules, or a
// holder that outlasted all patience. Any other failure (a lock violation:
// Wine's answer for a mount point at the target; a lost network) leaves the
// target alone.
bool ReplaceRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Whether an entry stands at the name, as a listing shows it: also a file
// marked for deletion that someone still holds, which no open reaches.
bool Stands(const platform::Text& name) {
    WIN32_FIND_DATAW entry;
    const HANDLE search = ::FindFirstFileW(name.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(search);
    return true;
}

// A name that stands already: the next one is tried. Windows answers access
// denied for a name whose file is marked for deletion but still held (Wine:
// file exists), and that name frees itself only when its holder lets go.
bool NameTaken(const platform::Text& name, DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
           (error == ERROR_ACCESS_DENIED && Stands(name));
}

// What CopyFileA fails on where the source cannot be copied by any means the
// run has: the disk is full, the source is missing, or it is encrypted and
// the folder takes no encrypted file (FAT, exFAT, many SMB shares). An
// encrypted source is never written out decrypted, which Windows makes an
// explicit choice. Any other failure reads the source through the run's own
// handle instead: that answers a path beyond 260 characters, which the narrow
// calls do not take even where long paths are enabled
// (ERROR_FILENAME_EXCED_RANGE). A log its writer still holds is no such
// failure: CopyFileA copies a source whose writer shares reading, and one
// whose writer does not share reading (ERROR_SHARING_VIOLATION) keeps the
// read out as well.
bool CopyLost(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
           error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_ENCRYPTION_FAILED;
}

// Another process holds the file for a while: virus scanners, indexers and
// sync clients open new files as they appear, most without letting others
// write, rename or delete them meanwhile. Access denied is a folder's or a
// file's rule and does not pass by waiting.
bool Busy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// A denial that a rename answers, which says the target stays as it was.
bool Denied(DWORD error) {
    return Busy(error) || error == ERROR_ACCESS_DENIED;
}

// What a step of the copy came to. Done, Refused (the folder or the target
// refused the copy beside it: the target is written in place) and Failed mean
// the same on both hosts; Held (another process held the file past all
// patience), Declined (CopyFileA refused the source: it is read instead) and
// Stuck (the run's file, once CopyFileA wrote it, can be neither renamed nor
// removed: a holder that does not share deletion, or a folder that grants
// Write but not Modify) are this host's own.
enum class Outcome { Done, Refused, Failed, Held, Declined, Stuck };

// A step's outcome where a hold that outlasted the patience is Held.
Outcome Of(bool done) {
    return done ? Outcome::Done : Busy(::GetLastError()) ? Outcome::Held : Outcome::Failed;
}

// How long a busy file is waited for, in all, at each step: scanners and sync
// clients most often let go within a few seconds.
constexpr DWORD kBusyPatienceMs = 10000;
// How long a write in place waits for another run's write to the same target.
constexpr DWORD kTurnPatienceMs = 50000;

// Repeats a step that fails as Busy, waiting a little longer each time; the
// last failure's reason stays for the caller.
template <typename Step> bool WhileBusy(Step step, DWORD patience = kBusyPatienceMs) {
    DWORD waited = 0;
    for (DWORD wait = 10;; wait = std::min<DWORD>(wait * 2, 250)) {
        if (step()) {
            return true;
        }
        const DWORD error = ::GetLastError();
        if (!Busy(error) || waited >= patience) {
            ::SetLastError(error);
            return false;
        }
        ::Sleep(wait);
        waited += wait;
    }
}

// Opens the source to read it whatever else holds it: a log is often still
// open for writing by the program that keeps it. One that nobody may read
// meanwhile is waited for like any busy file. An encrypted source is left to
// CopyFileA, which keeps it encrypted: read here it would be written out in
// the clear.
bool OpenSource(const platform::Text& source, Handle& in, BY_HANDLE_FILE_INFORMATION& info) {
    return WhileBusy([&] {
               return in.Reset(::CreateFileW(source.c_str(), GENERIC_READ, kShareAll, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
           }) &&
           ::GetFileInformationByHandle(in.Get(), &info) && !FolderOrLink(info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) == 0;
}

// The source's attributes that a copy carries, as CopyFileA's does.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Ends the file at the size given.
bool CutAt(HANDLE out, const LARGE_INTEGER& size) {
    return ::SetFilePointerEx(out, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(out);
}

// Writes all of the source from where it stands to its end into the file
// from its start, and cuts the file there: what the source held at the
// moment, as a reader sees it.
bool Pour(HANDLE in, HANDLE out) {
    static char buffer[1 << 16];
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(out, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    for (;;) {
        DWORD got = 0;
        DWORD put = 0;
        if (!::ReadFile(in, buffer, sizeof buffer, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return ::SetEndOfFile(out) != FALSE;
        }
        if (!::WriteFile(out, buffer, got, &put, nullptr) || put != got) {
            return false;
        }
    }
}

// The run's own file beside the target. The run makes it itself and keeps a
// handle on it from its making to its placing or removal; every later step
// opens it anew through that handle with the access the step needs, so no
// step acts on whatever someone may have put at its name meanwhile. The
// right to delete it is held throughout, so that a scanner that opens it
// without delete sharing cannot keep it from going.
struct OwnCopy {
    platform::Text name;
    Handle file;    // attributes only: takes no part in sharing
    Handle deleter; // DELETE: renames and removes it
    DWORD attributes = 0;
    DWORD volume = 0; // with the index: the identity the name must keep
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};

// The handle on the run's own file for one step; a busy file is waited for.
bool ReopenOwnCopy(const OwnCopy& copy, DWORD access, Handle& step,
                   DWORD patience = kBusyPatienceMs, DWORD share = kShareAll) {
    return WhileBusy([&] { return step.Reset(::ReOpenFile(copy.file.Get(), access, share, 0)); },
                     patience);
}

// Older MinGW headers name these classes only for newer systems' builds.
// Both are Windows 10 1607's and later's (on NTFS: FAT32, exFAT and SMB
// answer invalid parameter), the delete's flag that ignores read-only 1809's.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Removes the run's own file through the handle that holds the right to.
// POSIX semantics (kDispositionInfoEx) free the name at once and ignore
// read-only; elsewhere the plain mark, after read-only is cleared.
// Either way the file goes when its last handle closes, a scanner's included;
// one that cannot go is cut to nothing where the run may write it.
void DiscardCopy(OwnCopy& copy, DWORD patience) {
    if (copy.file.Get() != INVALID_HANDLE_VALUE && copy.deleter.Get() == INVALID_HANDLE_VALUE) {
        ReopenOwnCopy(copy, DELETE | SYNCHRONIZE, copy.deleter, patience);
    }
    DWORD deletePosixIgnoringReadOnly = 0x1 | 0x2 | 0x10;
    if (!::SetFileInformationByHandle(copy.deleter.Get(), kDispositionInfoEx,
                                      &deletePosixIgnoringReadOnly,
                                      sizeof deletePosixIgnoringReadOnly)) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        SetBasics(copy.file.Get(), copy.attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}, FILETIME{});
        Handle writer; // one that cannot go is to hold no copy of the source
        if (!::SetFileInformationByHandle(copy.deleter.Get(), FileDispositionInfo, &disposition,
                                          sizeof disposition) &&
            ReopenOwnCopy(copy, GENERIC_WRITE, writer, 0)) {
            CutAt(writer.Get(), LARGE_INTEGER{});
        }
    }
    copy.deleter.Reset(INVALID_HANDLE_VALUE);
    copy.file.Reset(INVALID_HANDLE_VALUE);
}

// A new file of the run's at the name. One that replaces a file whose
// access list is kept is its owner's alone from its making until it is
// placed (PassOnKept); a new target's takes what its folder gives new files.
HANDLE CreateOwnFile(const platform::Text& name, const Kept& kept) {
    SECURITY_ATTRIBUTES attributes{
        sizeof attributes,
        kept.ownerOnly.empty() ? nullptr : const_cast<char*>(kept.ownerOnly.data()), FALSE};
    return ::CreateFileW(name.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, &attributes,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Makes the run's own file under a fresh name beside the target. A name taken
// already (a killed run's leftover, another machine's run in a shared folder,
// a link someone planted) is stepped past, never written into or removed. A
// folder that lets the run make a file but not hold it refuses the name: the
// run's file goes at once.
Outcome MakeCopy(const platform::Text& target, const Kept& kept, OwnCopy& copy) {
    for (unsigned count = 0; count < 100; ++count) {
        copy.name = host::OwnName(target, count);
        if (!copy.deleter.Reset(CreateOwnFile(copy.name, kept))) {
            const DWORD error = ::GetLastError();
            if (NameTaken(copy.name, error)) {
                continue;
            }
            return NameRefused(error) ? Outcome::Refused : Outcome::Failed;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (!copy.file.Reset(::ReOpenFile(
                copy.deleter.Get(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                kShareAll, 0)) ||
            !::GetFileInformationByHandle(copy.deleter.Get(), &info)) {
            DiscardCopy(copy, kBusyPatienceMs);
            return Outcome::Refused;
        }
        copy.volume = info.dwVolumeSerialNumber;
        copy.indexHigh = info.nFileIndexHigh;
        copy.indexLow = info.nFileIndexLow;
        return Outcome::Done;
    }
    return Outcome::Failed;
}

// Whether the name still stands for the run's own file: CopyFileA writes by
// name, and only a file of that identity holds what it wrote.
bool StillSame(const OwnCopy& copy) {
    Handle named;
    BY_HANDLE_FILE_INFORMATION info;
    return named.Reset(OpenEntry(copy.name, FILE_READ_ATTRIBUTES)) &&
           ::GetFileInformationByHandle(named.Get(), &info) &&
           info.dwVolumeSerialNumber == copy.volume && info.nFileIndexHigh == copy.indexHigh &&
           info.nFileIndexLow == copy.indexLow;
}

// Fills the run's own file by CopyFileA, which copies as for any file (its
// streams, its encryption), into the run's own name; info then describes the
// copy. Declined: the source is read instead. CopyFileA opens the file it
// writes by name, asking for writing and sharing reading and writing only
// (Windows and Wine alike), so the right to delete is let go for the call and
// taken back at once. Meanwhile a gate, opened as soon as that right is let
// go (a reader's or a scanner's hold waited for), shares writing only: it lets
// CopyFileA's open in and keeps out anyone who would read the file, rename it
// (to put a link at its name for CopyFileA to write through) or keep the run
// from taking its right back, while the caller's writer keeps out anyone who
// would not let the run write. A gate that cannot be had leaves CopyFileA
// out: the source is read.
Outcome CopyByName(const platform::Text& source, OwnCopy& copy, BY_HANDLE_FILE_INFORMATION& info) {
    std::string narrowSource;
    std::string narrowCopy;
    const CopyFileAType copyFileA = BoundCopyFileA();
    // A name the code page cannot hold exactly would name some other file.
    if (copyFileA == nullptr || !host::ToCodePage(source, narrowSource) ||
        !host::ToCodePage(copy.name, narrowCopy)) {
        return Outcome::Declined;
    }
    copy.deleter.Reset(INVALID_HANDLE_VALUE);
    Handle gate;
    const bool copied = ReopenOwnCopy(copy, FILE_WRITE_DATA | SYNCHRONIZE, gate, kBusyPatienceMs,
                                      FILE_SHARE_WRITE) &&
                        copyFileA(narrowSource.c_str(), narrowCopy.c_str(), FALSE) != FALSE;
    const DWORD error = ::GetLastError();
    gate.Reset(INVALID_HANDLE_VALUE);
    if (!ReopenOwnCopy(copy, DELETE | SYNCHRONIZE, copy.deleter)) {
        return Outcome::Stuck;
    }
    if (!copied) {
        ::SetLastError(error);
        return CopyLost(error) ? Outcome::Failed : Outcome::Declined;
    }
    return StillSame(copy) && ::GetFileInformationByHandle(copy.file.Get(), &info)
               ? Outcome::Done
               : Outcome::Failed;
}

// Fills the run's own file and puts it on disk, through a writer held from
// the start. Where CopyFileA cannot take the source (a name the code page
// cannot hold, a path beyond 260 characters: CopyByName, CopyLost), the
// source is read with full sharing into the run's file, with its attributes
// and last-write time as CopyFileA gives them.
Outcome FillCopy(const platform::Text& source, OwnCopy& copy, const FILETIME& created) {
    BY_HANDLE_FILE_INFORMATION info;
    Handle in; // the source, where the run reads it itself
    Handle writer;
    if (!ReopenOwnCopy(copy, GENERIC_WRITE, writer)) {
        return Of(false);
    }
    Outcome filled = CopyByName(source, copy, info);
    // Left standing, the run's file is to hold no copy of the source.
    if (filled == Outcome::Stuck) {
        CutAt(writer.Get(), LARGE_INTEGER{});
    }
    if (filled == Outcome::Declined) {
        filled = OpenSource(source, in, info) && Pour(in.Get(), writer.Get()) &&
                         ::SetFileTime(writer.Get(), nullptr, nullptr, &info.ftLastWriteTime)
                     ? Outcome::Done
                     : Outcome::Failed;
    }
    // A power loss must not leave an empty target: no rename without it.
    if (filled != Outcome::Done || !::FlushFileBuffers(writer.Get())) {
        return filled == Outcome::Done ? Outcome::Failed : filled;
    }
    copy.attributes = info.dwFileAttributes & kCarriedAttributes;
    SetBasics(copy.file.Get(), copy.attributes, created);
    return Outcome::Done;
}

// Whether a replace that was denied was denied by a holder of the target.
// Without POSIX semantics any open handle on it denies the replace, as a rule
// would (the target "was open and ReplaceIfExists is nonzero"); with them only
// a holder that does not share deletion. The run's own open for deletion,
// sharing everything, tells a holder from a rule.
bool HolderDenied(const platform::Text& target, bool posix) {
    Handle probe;
    const bool opened = probe.Reset(OpenEntry(target, DELETE));
    return opened ? !posix : Busy(::GetLastError());
}

// Renames the run's file through its handle over the target. POSIX
// semantics (kRenameInfoEx) replace a target that a viewer holds open with
// delete sharing; elsewhere the plain replace, and
// where a file system takes no rename by handle, the rename by name. The new
// name is the target's full path as the system resolves it (a trailing dot
// or blank dropped, as every open of that path does), written verbatim. A
// denial by a holder answers as busy, so that the holder is waited for.
bool RenameCopy(HANDLE deleter, const platform::Text& copyName, const platform::Text& target) {
    platform::Text name(32768, L'\0');
    DWORD length = ::GetFullPathNameW(target.c_str(), 32768, name.data(), nullptr);
    length = length < 32768 ? length : 0;
    name.resize(length);
    if (name.rfind(L"\\\\", 0) != 0) {
        name.insert(0, L"\\\\?\\");
    } else if (name.rfind(L"\\\\?\\", 0) != 0 && name.rfind(L"\\\\.\\", 0) != 0) {
        name.replace(0, 2, L"\\\\?\\UNC\\");
    }
    const DWORD size = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    std::vector<char> buffer(size);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    name.copy(rename->FileName, name.size());
    rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    if (length == 0) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    bool posix = true;
    if (::SetFileInformationByHandle(deleter, kRenameInfoEx, rename, size)) {
        return true;
    }
    // Invalid parameter: no POSIX semantics (older Windows; FAT, exFAT, SMB,
    // ReFS on Server 2022; Wine): the plain replace.
    if (!Denied(::GetLastError())) {
        posix = false;
        rename->Flags = 0;
        rename->ReplaceIfExists = TRUE;
        if (::SetFileInformationByHandle(deleter, FileRenameInfo, rename, size)) {
            return true;
        }
        // Not supported or invalid function: no rename by handle (some network
        // redirectors): the rename by name.
        if (!Denied(::GetLastError()) &&
            ::MoveFileExW(copyName.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
    }
    const DWORD error = ::GetLastError();
    ::SetLastError(error == ERROR_ACCESS_DENIED && HolderDenied(target, posix)
                       ? ERROR_SHARING_VIOLATION
                       : error);
    return false;
}

// The copy takes the target's place in one rename, with the kept access
// list put on just before: at every instant the target path names the old
// file or the whole new one, and a link at the target is replaced itself.
// Refused: the target's rules or a holder that outlasted all patience deny
// the replace.
Outcome PlaceCopy(OwnCopy& copy, const platform::Text& target, const Kept& kept) {
    host::PassOnKept(copy.file.Get(), kept);
    if (WhileBusy([&] { return RenameCopy(copy.deleter.Get(), copy.name, target); })) {
        return Outcome::Done;
    }
    return ReplaceRefused(::GetLastError()) ? Outcome::Refused : Outcome::Failed;
}

// Whether the target is written in place after the copy beside it came to
// this: only where the target stands as it was and cannot be replaced, yet
// may still be written. That is where the folder refused the run's own file
// or the target refused the replace, or another process held the run's own
// file or the target past all patience. A failure of the source or of the
// disk would fail the same way in place.
bool GoesInPlace(Outcome outcome) {
    return outcome == Outcome::Refused || outcome == Outcome::Held || outcome == Outcome::Stuck;
}

// Cuts the target to the copy's size first where the copy is shorter: a
// shrink needs no room, and a target that another process maps into memory
// refuses it before a byte has changed, leaving the old file whole.
bool CutFirst(HANDLE out, const BY_HANDLE_FILE_INFORMATION& source,
              const BY_HANDLE_FILE_INFORMATION& old) {
    LARGE_INTEGER size;
    size.HighPart = static_cast<LONG>(source.nFileSizeHigh);
    size.LowPart = source.nFileSizeLow;
    const bool shorter =
        source.nFileSizeHigh < old.nFileSizeHigh ||
        (source.nFileSizeHigh == old.nFileSizeHigh && source.nFileSizeLow < old.nFileSizeLow);
    return !shorter || CutAt(out, size);
}

// Whether the target may be written in place: a plain file with no other
// name, since every hard link of it would get the copy too.
bool MayWriteInPlace(const BY_HANDLE_FILE_INFORMATION& old) {
    return !FolderOrLink(old) && old.nNumberOfLinks <= 1;
}

// Writes the source into the target itself: not atomic, and only where the
// target cannot be replaced but may be written. Runs that write one target in
// place take turns by a lock on it (a byte far past any end, so no one's
// reading or writing meets it), which other machines' runs on a shared
// folder see too: the target is always one whole source.
bool WriteInPlace(const platform::Text& source, const platform::Text& target) {
    Handle in;
    Handle out;
    BY_HANDLE_FILE_INFORMATION info;
    BY_HANDLE_FILE_INFORMATION old;
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    if (!OpenSource(source, in, info) || !WhileBusy([&] {
            return out.Reset(OpenEntry(target, GENERIC_WRITE | FILE_READ_ATTRIBUTES));
        }) ||
        !::GetFileInformationByHandle(out.Get(), &old) || !MayWriteInPlace(old) ||
        !WhileBusy(
            [&] {
                return ::LockFileEx(out.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                                    0, 1, 0, &turn) != FALSE;
            },
            kTurnPatienceMs)) {
        return false;
    }
    const bool written = CutFirst(out.Get(), info, old) && Pour(in.Get(), out.Get()) &&
                         ::SetFileTime(out.Get(), nullptr, nullptr, &info.ftLastWriteTime) &&
                         ::FlushFileBuffers(out.Get());
    ::UnlockFileEx(out.Get(), 0, 1, 0, &turn);
    return written;
}

// Where the run's own file can be neither renamed nor removed and no target
// stands, the target is made directly: a new file (nothing that appears at
// the name meanwhile is written into), filled from the source and flushed,
// or removed again through the handle that made it, so that it is the whole
// copy or absent.
bool MakeTarget(const platform::Text& source, const platform::Text& target) {
    Handle in;
    Handle out;
    BY_HANDLE_FILE_INFORMATION info;
    if (!OpenSource(source, in, info) ||
        !out.Reset(::CreateFileW(target.c_str(), GENERIC_WRITE | DELETE, kShareAll, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr))) {
        return false;
    }
    if (Pour(in.Get(), out.Get()) &&
        ::SetFileTime(out.Get(), nullptr, nullptr, &info.ftLastWriteTime) &&
        ::FlushFileBuffers(out.Get())) {
        SetBasics(out.Get(), info.dwFileAttributes & kCarriedAttributes, FILETIME{});
        return true;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(out.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    return false;
}

} // namespace

namespace platform {

bool CopyOneFile(const Text& source, const Text& target) {
    const DWORD targetAttributes = ::GetFileAttributesW(target.c_str());
    if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
        RefusedTarget(targetAttributes, ::GetFileAttributesW(source.c_str()))) {
        return false;
    }
    // The copy goes to a new file beside the target, so that a copy that
    // fails midway (a full disk) leaves the target as it was.
    const Kept kept = host::ReadKept(target);
    OwnCopy copy;
    Outcome outcome = MakeCopy(target, kept, copy);
    if (outcome == Outcome::Done) {
        outcome = FillCopy(source, copy, kept.created);
    }
    if (outcome == Outcome::Done) {
        outcome = PlaceCopy(copy, target, kept);
    }
    if (outcome == Outcome::Done) {
        return true;
    }
    // A stuck file was waited for already: one more try, no more waiting.
    if (copy.file.Get() != INVALID_HANDLE_VALUE) {
        DiscardCopy(copy, outcome == Outcome::Stuck ? 0 : kBusyPatienceMs);
    }
    if (outcome == Outcome::Stuck && targetAttributes == INVALID_FILE_ATTRIBUTES) {
        return MakeTarget(source, target);
    }
    return GoesInPlace(outcome) && WriteInPlace(source, target);
}

} // namespace platform
