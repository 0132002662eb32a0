// Our own declarations of the NVIDIA driver interface: the operations the presenter
// uses, their interface ids, the records they exchange and the status conventions.
// Each operation resolves its entry point by id through the driver library's
// nvapi_QueryInterface (see loader.h) and passes its arguments on unchanged.
#pragma once

#include "d3d12_api.h"

#include <cstddef>
#include <cstdint>

namespace corva {

using NvStatus = int32_t;

constexpr NvStatus kNvOk = 0;
constexpr NvStatus kNvNoQueryEntry = -1;  // no nvapi_QueryInterface, or no initialise entry
constexpr NvStatus kNvLibraryNotLoaded = -2;
constexpr NvStatus kNvNoEntryPoint = -3;    // the driver offers nothing for the id
constexpr NvStatus kNvHdcpDisabled = -208;  // acquisition and mode setting treat it as success

// The vendor id of the headset's direct-mode displays.
constexpr uint32_t kVendorId = 0x2709;

enum class NvInterfaceId : uint32_t {
    Initialize = 0x0150E828,
    GetDriverAndBranchVersion = 0x2926AAAD,
    EnableDirectMode = 0x1AC2B1E7,
    EnumerateDirectModeDisplays = 0x602F60D8,
    DirectModeGetDisplayModes = 0x79C3FE22,
    GetPhysicalGpuFromDisplayId = 0x9EA74659,
    GetIDXGIAdapter = 0xB7FBDBFA,
    AcquireDirectModeDisplay = 0xC4E4EFDA,
    DirectModeCreateSurface = 0x86BDB518,
    SetDisplayMode = 0x56DF9D51,
    DisplayControl = 0x2EEBACCC,
    GetPresentWaitableObject = 0xA3F1F373,
    Present12 = 0x5ED18DC4,
    ReleaseDirectModeDisplay = 0x2523CAB6,
    DrsCreateSession = 0x0694D52E,
    DrsLoadSettings = 0x375DBD6B,
    DrsFindApplicationByName = 0xEEE566B2,
    DrsCreateProfile = 0xCC176068,
    DrsCreateApplication = 0x4347A9DE,
    DrsGetSetting = 0x73BF8338,
    DrsSetSetting = 0x577DD202,
    DrsSaveSettings = 0xFCBC7E14,
    DrsDestroySession = 0xDAD9CFF8,
};

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

// The operations. Each returns the driver's status, or the loader's (-1, -2, -3).
NvStatus NvAPI_Initialize();
NvStatus NvAPI_SYS_GetDriverAndBranchVersion(uint32_t* driverVersion, char branch[64]);
NvStatus EnableDirectMode(uint32_t vendorId, uint32_t flags);
NvStatus NvAPI_DISP_EnumerateDirectModeDisplays(uint32_t vendorId, uint32_t* numDisplays,
                                                NvDirectModeDisplay* displays, uint32_t enumFlags);
NvStatus NvAPI_D3D_DirectModeGetDisplayModes(NvDirectModeDisplay* display, uint32_t* modeCount,
                                             NvDirectModeMode* modes, uint32_t flags);
NvStatus NvAPI_SYS_GetPhysicalGpuFromDisplayId(uint32_t displayId, NvPhysicalGpuHandle* gpu);
NvStatus NvAPI_D3D_GetIDXGIAdapter(NvPhysicalGpuHandle gpu, IUnknown** adapter);
NvStatus AcquireDirectModeDisplay(uint32_t vendorId, IUnknown* device, NvDirectModeDisplay* display);
NvStatus NvAPI_D3D_DirectModeCreateSurface(NvDirectModeDisplay* display, const NvDirectModeMode* mode,
                                           uint32_t* surface, void** sharedHandle);
NvStatus SetDisplayMode(NvDirectModeDisplay* display, const NvDirectModeMode* mode);
NvStatus DisplayControl(NvDirectModeDisplay* display, uint32_t control);
NvStatus GetPresentWaitableObject(NvDirectModeDisplay* display, void** waitable);
NvStatus Present12(NvDirectModeDisplay* display, uint32_t surface, uint32_t flags, ID3D12CommandQueue* queue,
                   ID3D12GraphicsCommandList* list);
NvStatus ReleaseDirectModeDisplay(uint32_t vendorId, NvDirectModeDisplay* display);

NvStatus NvAPI_DRS_CreateSession(NvDRSSessionHandle* session);
NvStatus NvAPI_DRS_LoadSettings(NvDRSSessionHandle session);
NvStatus NvAPI_DRS_FindApplicationByName(NvDRSSessionHandle session, const char16_t* appName,
                                         NvDRSProfileHandle* profile, NVDRS_APPLICATION* application);
NvStatus NvAPI_DRS_CreateProfile(NvDRSSessionHandle session, NVDRS_PROFILE* profileInfo,
                                 NvDRSProfileHandle* profile);
NvStatus NvAPI_DRS_CreateApplication(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                     NVDRS_APPLICATION* application);
NvStatus NvAPI_DRS_GetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, uint32_t settingId,
                              NVDRS_SETTING* setting);
NvStatus NvAPI_DRS_SetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, NVDRS_SETTING* setting);
NvStatus NvAPI_DRS_SaveSettings(NvDRSSessionHandle session);
NvStatus NvAPI_DRS_DestroySession(NvDRSSessionHandle session);

}  // namespace corva
