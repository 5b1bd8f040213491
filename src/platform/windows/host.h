// Private to the Windows host: what its two files share.
#pragma once

#include <windows.h>

namespace host {

// A call of kernel32 looked up by name at run time, or null where the system
// lacks it: so a missing call fails one step instead of stopping the program
// from starting at all.
template <typename Function> Function Kernel32Function(const char* name) {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return kernel32 == nullptr ? nullptr
                               : reinterpret_cast<Function>(
                                     reinterpret_cast<void*>(::GetProcAddress(kernel32, name)));
}

} // namespace host
