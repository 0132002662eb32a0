// The HID class library's functions, resolved from the system directory (hid.dll is not a
// known DLL: imported, a copy beside the program would be loaded instead), in a table a test
// may replace.
#pragma once

#include "platform/system_library_win32.h"

#include <windows.h>
extern "C" {  // MinGW's hidsdi.h declares the HidD_* functions without C linkage
#include <hidsdi.h>
}

namespace corva::platform {

struct HidFunctions {
    decltype(&HidD_GetHidGuid) getHidGuid = nullptr;
    decltype(&HidD_GetAttributes) getAttributes = nullptr;
    decltype(&HidD_GetPreparsedData) getPreparsedData = nullptr;
    decltype(&HidD_FreePreparsedData) freePreparsedData = nullptr;
    decltype(&HidP_GetCaps) getCaps = nullptr;
    bool complete() const {
        return getHidGuid != nullptr && getAttributes != nullptr && getPreparsedData != nullptr &&
               freePreparsedData != nullptr && getCaps != nullptr;
    }
};

// The system's own, resolved once; all null when hid.dll cannot be loaded from the system directory.
inline HidFunctions systemHidFunctions() {
    static const HidFunctions functions = [] {
        HidFunctions f;
        f.getHidGuid = systemFunction<decltype(&HidD_GetHidGuid)>(L"hid.dll", "HidD_GetHidGuid");
        f.getAttributes = systemFunction<decltype(&HidD_GetAttributes)>(L"hid.dll", "HidD_GetAttributes");
        f.getPreparsedData =
            systemFunction<decltype(&HidD_GetPreparsedData)>(L"hid.dll", "HidD_GetPreparsedData");
        f.freePreparsedData =
            systemFunction<decltype(&HidD_FreePreparsedData)>(L"hid.dll", "HidD_FreePreparsedData");
        f.getCaps = systemFunction<decltype(&HidP_GetCaps)>(L"hid.dll", "HidP_GetCaps");
        return f.complete() ? f : HidFunctions{};
    }();
    return functions;
}

// The functions the transport calls from now on (the system's unless a test replaced them).
inline HidFunctions& hidFunctions() {
    static HidFunctions functions = systemHidFunctions();
    return functions;
}

}  // namespace corva::platform
