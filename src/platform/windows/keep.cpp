// Windows host, what a replace keeps of the file it replaces: its owner,
// access list and creation time, read before the copy is made.
#include "../platform.h"
#include "host.h"

#include <windows.h>

#include <sddl.h>
#include <vector>

namespace {

// The parts of the replaced file's security that the copy takes over.
constexpr SECURITY_INFORMATION kKeptSecurity =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Wine keeps no Windows security on its files: it shows one made up from the
// Unix mode bits and turns one that is set back into mode bits, widening
// them (a replaced 600 file would come out 770). There the copy keeps the
// mode that its making gave it.
bool SecurityIsKept() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

std::vector<char> ReadSecurity(HANDLE file, SECURITY_INFORMATION parts) {
    DWORD size = 0;
    ::GetKernelObjectSecurity(file, parts, nullptr, 0, &size);
    std::vector<char> security(size);
    if (size == 0 || !::GetKernelObjectSecurity(file, parts, security.data(), size, &size)) {
        security.clear();
    }
    return security;
}

// An access list that lets the file's owner alone in, not even with the
// implicit rights of anyone else (OWNER RIGHTS), and takes nothing from the
// folder: the list of a replaced file names whom its owner chose, such as
// the user who planted it, who must not rename the run's file while
// CopyFileA writes into it by name.
std::vector<char> OwnerOnly() {
    PSECURITY_DESCRIPTOR made = nullptr;
    ULONG size = 0;
    std::vector<char> security;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1,
                                                               &made, &size)) {
        security.assign(static_cast<char*>(made), static_cast<char*>(made) + size);
        ::LocalFree(made);
    }
    return security;
}

} // namespace

namespace host {

// Reads what the target keeps, from a plain file only: a link at the target
// is replaced as it is, and what it leads to is none of the copy's business.
Kept ReadKept(const platform::Text& target) {
    Kept kept;
    Handle old;
    BY_HANDLE_FILE_INFORMATION info;
    if (!old.Reset(OpenEntry(target, READ_CONTROL | FILE_READ_ATTRIBUTES)) ||
        !::GetFileInformationByHandle(old.Get(), &info) || FolderOrLink(info)) {
        return kept;
    }
    kept.created = info.ftCreationTime;
    if (SecurityIsKept()) {
        kept.security = ReadSecurity(old.Get(), kKeptSecurity);
        kept.access = ReadSecurity(old.Get(), DACL_SECURITY_INFORMATION);
        kept.ownerOnly = kept.access.empty() ? kept.access : OwnerOnly();
    }
    return kept;
}

// The owner needs a privilege; without it the access list alone. Nothing
// where no list was kept: the run's file has what its folder gave it.
void PassOnKept(HANDLE file, const Kept& kept) {
    Handle secure;
    if (kept.access.empty() ||
        !secure.Reset(::ReOpenFile(file, WRITE_DAC | WRITE_OWNER | READ_CONTROL, kShareAll, 0))) {
        return;
    }
    auto* security = const_cast<char*>(kept.security.data());
    if (!::SetKernelObjectSecurity(secure.Get(), kKeptSecurity, security)) {
        ::SetKernelObjectSecurity(secure.Get(), DACL_SECURITY_INFORMATION,
                                  const_cast<char*>(kept.access.data()));
    }
}

// FileBasicInfo: zero times stay as they are.
bool SetBasics(HANDLE file, DWORD attributes, const FILETIME& created) {
    FILE_BASIC_INFO basics{};
    basics.CreationTime.LowPart = created.dwLowDateTime;
    basics.CreationTime.HighPart = static_cast<LONG>(created.dwHighDateTime);
    // Zero would leave them as they are; "normal" is the empty set.
    basics.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basics, sizeof basics) != FALSE;
}

} // namespace host
