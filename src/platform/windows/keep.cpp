// Windows host, what a replace keeps of the file it replaces: its owner,
// access list and creation time, read before the copy is made.
#include "../platform.h"
#include "host.h"

#include <windows.h>

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
    }
    return kept;
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
