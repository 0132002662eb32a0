#include "platform/system_library_win32.h"

#include "platform/platform.h"

namespace corva::platform {

FARPROC systemLibraryFunction(const wchar_t* library, const char* function) {
    // Loaded once and kept for the process's life; the loader counts repeated loads.
    HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module != nullptr ? GetProcAddress(module, function) : nullptr;
}

bool restrictLibrarySearchToSystem() {
    // Also for what the graphics runtime loads by name later on.
    return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace corva::platform
