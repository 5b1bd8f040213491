// Private to the Windows host: what its files share.
#pragma once

#include "../platform.h"

#include <string>
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

// The narrow system code page form of a path, or false when the path has a
// character that code page cannot hold exactly. names.cpp.
bool ToCodePage(const platform::Text& wide, std::string& narrow);

// The name of this run's own file number count beside the target. names.cpp.
platform::Text OwnName(const platform::Text& target, unsigned count);

} // namespace host
