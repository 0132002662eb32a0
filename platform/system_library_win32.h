// Windows libraries that are not "known DLLs" (hid.dll, d3d12.dll) are not imported: a copy
// beside the program (a downloads folder) would be loaded before main. Their functions are
// resolved at first use from the system directory only.
#pragma once

#include <windows.h>

namespace corva::platform {

// The function, or nullptr when the library or the function is not there (GetLastError says why).
FARPROC systemLibraryFunction(const wchar_t* library, const char* function);

template <typename Function>
Function systemFunction(const wchar_t* library, const char* function) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(systemLibraryFunction(library, function)));
}

}  // namespace corva::platform
