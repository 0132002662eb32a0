// Our own declarations of the NVIDIA driver interface: the operations the presenter
// uses, their interface ids, the records they exchange and the status conventions.
// Each operation resolves its entry point by id through the driver library's
// nvapi_QueryInterface (see loader.h) and passes its arguments on unchanged.
#pragma once

#include "d3d12_api.h"
#include "lines/run_figures.h"

#include <cstddef>
#include <cstdint>

namespace corva {

using NvStatus = int32_t;

constexpr NvStatus kNvOk = 0;
constexpr NvStatus kNvNoQueryEntry = -1;  // no nvapi_QueryInterface, or no initialise entry
constexpr NvStatus kNvLibraryNotLoaded = -2;
constexpr NvStatus kNvNoEntryPoint = -3;  // the driver offers nothing for the id
// Acquisition and mode setting treat it as success.
constexpr NvStatus kNvHdcpDisabled = run::kStatusHdcpDisabled;

// The vendor id of the headset's direct-mode displays.
constexpr uint32_t kVendorId = 0x2709;

// Enumeration and mode-list flags.
constexpr uint32_t NV_ENUM_DIRECTMODE_DISPLAY_ENABLED = 1;
constexpr uint32_t NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED = 0;
// DisplayControl values.
constexpr uint32_t kPanelPowerOn = 0;
constexpr uint32_t kPanelPowerOff = 1;

// The driver's direct-mode display record; only displayId is ours to read.
struct NvDirectModeDisplay {
    uint32_t displayId;
    uint8_t driverData[12];
};
static_assert(sizeof(NvDirectModeDisplay) == 16);
static_assert(offsetof(NvDirectModeDisplay, displayId) == 0);

constexpr uint32_t kModeRecordVersion = 0x20030;  // size 48, version 2

struct NvDirectModeMode {
    uint32_t version;
    uint32_t width;
    uint32_t height;
    uint32_t refreshNum;
    uint32_t refreshDen;
    uint32_t format;
    uint8_t driverData[8];
    uint32_t dscEnable;
    uint32_t dscVersion;
    uint32_t dscSlices;
    uint32_t dscBitsPerPixelX16;
};
static_assert(sizeof(NvDirectModeMode) == 48);
static_assert(offsetof(NvDirectModeMode, width) == 4);
static_assert(offsetof(NvDirectModeMode, height) == 8);
static_assert(offsetof(NvDirectModeMode, refreshNum) == 12);
static_assert(offsetof(NvDirectModeMode, refreshDen) == 16);
static_assert(offsetof(NvDirectModeMode, format) == 20);
static_assert(offsetof(NvDirectModeMode, dscEnable) == 32);
static_assert(offsetof(NvDirectModeMode, dscVersion) == 36);
static_assert(offsetof(NvDirectModeMode, dscSlices) == 40);
static_assert(offsetof(NvDirectModeMode, dscBitsPerPixelX16) == 44);

// Opaque driver handles.
using NvPhysicalGpuHandle = struct NvPhysicalGpu_*;
using NvDRSSessionHandle = struct NvDRSSession_*;
using NvDRSProfileHandle = struct NvDRSProfile_*;

// Driver-settings records. Text is UTF-16 (never wchar_t, which is 32-bit on Linux).
constexpr size_t kNvUnicodeLength = 2048;
using NvUnicodeString = char16_t[kNvUnicodeLength];

constexpr uint32_t NVDRS_PROFILE_VER = 0x11014;
constexpr uint32_t NVDRS_APPLICATION_VER = 0x4500C;
constexpr uint32_t NVDRS_SETTING_VER = 0x13020;

struct NVDRS_PROFILE {
    uint32_t version;
    NvUnicodeString profileName;
    uint32_t gpuSupport;
    uint32_t isPredefined;
    uint32_t numOfApps;
    uint32_t numOfSettings;
};
static_assert(sizeof(NVDRS_PROFILE) == 0x1014);
static_assert(offsetof(NVDRS_PROFILE, profileName) == 4);
static_assert(offsetof(NVDRS_PROFILE, gpuSupport) == 0x1004);

struct NVDRS_APPLICATION {
    uint32_t version;
    uint32_t isPredefined;
    NvUnicodeString appName;
    NvUnicodeString userFriendlyName;
    NvUnicodeString launcher;
    NvUnicodeString fileInFolder;
    uint32_t flags;
    NvUnicodeString commandLine;
};
static_assert(sizeof(NVDRS_APPLICATION) == 0x500C);
static_assert(offsetof(NVDRS_APPLICATION, appName) == 8);
static_assert(offsetof(NVDRS_APPLICATION, flags) == 0x4008);

constexpr uint32_t NVDRS_DWORD_TYPE = 0;

union NvDrsSettingValue {
    uint32_t u32;
    uint8_t binary[4100];
};
static_assert(sizeof(NvDrsSettingValue) == 4100);

// Packed to 4: the value unions sit at offsets that are not 8-aligned.
#pragma pack(push, 4)
struct NVDRS_SETTING {
    uint32_t version;
    NvUnicodeString settingName;
    uint32_t settingId;
    uint32_t settingType;
    uint32_t settingLocation;
    uint32_t isCurrentPredefined;
    uint32_t isPredefinedValid;
    NvDrsSettingValue predefinedValue;
    NvDrsSettingValue currentValue;
};
#pragma pack(pop)
static_assert(sizeof(NVDRS_SETTING) == 0x3020);
static_assert(offsetof(NVDRS_SETTING, settingName) == 4);
static_assert(offsetof(NVDRS_SETTING, settingId) == 0x1004);
static_assert(offsetof(NVDRS_SETTING, settingType) == 0x1008);
static_assert(offsetof(NVDRS_SETTING, settingLocation) == 0x100C);
static_assert(offsetof(NVDRS_SETTING, isCurrentPredefined) == 0x1010);
static_assert(offsetof(NVDRS_SETTING, isPredefinedValid) == 0x1014);
static_assert(offsetof(NVDRS_SETTING, predefinedValue) == 0x1018);
static_assert(offsetof(NVDRS_SETTING, currentValue) == 0x201C);

// Every driver operation, once: its name, its short name, its interface id, its parameters
// and the arguments they pass on. Each returns the driver's status, or the loader's (-1,
// -2, -3). From this one list come the interface ids (NvInterfaceId), the declarations
// below, the entry-point cache slots and the wrappers (nvapi.cpp), and the signatures the
// simulated driver's entries are checked against (NvEntryPoint).
// clang-format off
#define TESSARAY_NVAPI_OPERATIONS(X)                                                                           \
    X(NvAPI_Initialize, Initialize, 0x0150E828, (), ())                                                         \
    X(NvAPI_SYS_GetDriverAndBranchVersion, GetDriverAndBranchVersion, 0x2926AAAD,                               \
      (uint32_t* driverVersion, char branch[64]), (driverVersion, branch))                                     \
    X(EnableDirectMode, EnableDirectMode, 0x1AC2B1E7, (uint32_t vendorId, uint32_t flags), (vendorId, flags))  \
    X(NvAPI_DISP_EnumerateDirectModeDisplays, EnumerateDirectModeDisplays, 0x602F60D8,                          \
      (uint32_t vendorId, uint32_t* numDisplays, NvDirectModeDisplay* displays, uint32_t enumFlags),            \
      (vendorId, numDisplays, displays, enumFlags))                                                             \
    X(NvAPI_D3D_DirectModeGetDisplayModes, DirectModeGetDisplayModes, 0x79C3FE22,                               \
      (NvDirectModeDisplay* display, uint32_t* modeCount, NvDirectModeMode* modes, uint32_t flags),             \
      (display, modeCount, modes, flags))                                                                       \
    X(NvAPI_SYS_GetPhysicalGpuFromDisplayId, GetPhysicalGpuFromDisplayId, 0x9EA74659,                           \
      (uint32_t displayId, NvPhysicalGpuHandle* gpu), (displayId, gpu))                                         \
    X(NvAPI_D3D_GetIDXGIAdapter, GetIDXGIAdapter, 0xB7FBDBFA,                                                   \
      (NvPhysicalGpuHandle gpu, IUnknown** adapter), (gpu, adapter))                                            \
    X(AcquireDirectModeDisplay, AcquireDirectModeDisplay, 0xC4E4EFDA,                                           \
      (uint32_t vendorId, IUnknown* device, NvDirectModeDisplay* display), (vendorId, device, display))         \
    X(NvAPI_D3D_DirectModeCreateSurface, DirectModeCreateSurface, 0x86BDB518,                                   \
      (NvDirectModeDisplay* display, const NvDirectModeMode* mode, uint32_t* surface, void** sharedHandle),     \
      (display, mode, surface, sharedHandle))                                                                   \
    X(SetDisplayMode, SetDisplayMode, 0x56DF9D51,                                                               \
      (NvDirectModeDisplay* display, const NvDirectModeMode* mode), (display, mode))                            \
    X(DisplayControl, DisplayControl, 0x2EEBACCC,                                                               \
      (NvDirectModeDisplay* display, uint32_t control), (display, control))                                     \
    X(GetPresentWaitableObject, GetPresentWaitableObject, 0xA3F1F373,                                           \
      (NvDirectModeDisplay* display, void** waitable), (display, waitable))                                     \
    X(Present12, Present12, 0x5ED18DC4,                                                                         \
      (NvDirectModeDisplay* display, uint32_t surface, uint32_t flags, ID3D12CommandQueue* queue,               \
       ID3D12GraphicsCommandList* list),                                                                        \
      (display, surface, flags, queue, list))                                                                   \
    X(ReleaseDirectModeDisplay, ReleaseDirectModeDisplay, 0x2523CAB6,                                           \
      (uint32_t vendorId, NvDirectModeDisplay* display), (vendorId, display))                                   \
    X(NvAPI_DRS_CreateSession, DrsCreateSession, 0x0694D52E, (NvDRSSessionHandle* session), (session))          \
    X(NvAPI_DRS_LoadSettings, DrsLoadSettings, 0x375DBD6B, (NvDRSSessionHandle session), (session))             \
    X(NvAPI_DRS_FindApplicationByName, DrsFindApplicationByName, 0xEEE566B2,                                    \
      (NvDRSSessionHandle session, const char16_t* appName, NvDRSProfileHandle* profile,                        \
       NVDRS_APPLICATION* application),                                                                         \
      (session, appName, profile, application))                                                                 \
    X(NvAPI_DRS_CreateProfile, DrsCreateProfile, 0xCC176068,                                                    \
      (NvDRSSessionHandle session, NVDRS_PROFILE* profileInfo, NvDRSProfileHandle* profile),                    \
      (session, profileInfo, profile))                                                                          \
    X(NvAPI_DRS_CreateApplication, DrsCreateApplication, 0x4347A9DE,                                            \
      (NvDRSSessionHandle session, NvDRSProfileHandle profile, NVDRS_APPLICATION* application),                 \
      (session, profile, application))                                                                          \
    X(NvAPI_DRS_GetSetting, DrsGetSetting, 0x73BF8338,                                                          \
      (NvDRSSessionHandle session, NvDRSProfileHandle profile, uint32_t settingId, NVDRS_SETTING* setting),     \
      (session, profile, settingId, setting))                                                                   \
    X(NvAPI_DRS_SetSetting, DrsSetSetting, 0x577DD202,                                                          \
      (NvDRSSessionHandle session, NvDRSProfileHandle profile, NVDRS_SETTING* setting),                         \
      (session, profile, setting))                                                                              \
    X(NvAPI_DRS_SaveSettings, DrsSaveSettings, 0xFCBC7E14, (NvDRSSessionHandle session), (session))             \
    X(NvAPI_DRS_DestroySession, DrsDestroySession, 0xDAD9CFF8, (NvDRSSessionHandle session), (session))
// clang-format on

enum class NvInterfaceId : uint32_t {
#define TESSARAY_NVAPI_ID(function, operation, id, parameters, arguments) operation = id,
    TESSARAY_NVAPI_OPERATIONS(TESSARAY_NVAPI_ID)
#undef TESSARAY_NVAPI_ID
};

#define TESSARAY_NVAPI_DECLARE(function, operation, id, parameters, arguments) NvStatus function parameters;
TESSARAY_NVAPI_OPERATIONS(TESSARAY_NVAPI_DECLARE)
#undef TESSARAY_NVAPI_DECLARE

// The signature of each operation's entry point in the driver library.
template <NvInterfaceId Id>
struct NvOperation;
#define TESSARAY_NVAPI_SIGNATURE(function, operation, id, parameters, arguments) \
    template <>                                                                  \
    struct NvOperation<NvInterfaceId::operation> {                               \
        using Signature = NvStatus parameters;                                   \
    };
TESSARAY_NVAPI_OPERATIONS(TESSARAY_NVAPI_SIGNATURE)
#undef TESSARAY_NVAPI_SIGNATURE

template <NvInterfaceId Id>
using NvEntryPoint = typename NvOperation<Id>::Signature*;

}  // namespace corva
