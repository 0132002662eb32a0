#include "nvapi/nvapi.h"

#include "nvapi/loader.h"

#include <atomic>
#include <utility>

namespace corva {

namespace {

constexpr size_t kSlotCount = 23;

// One slot per operation, written whole; emptied whenever the library is loaded again.
std::atomic<void*> gEntryPoints[kSlotCount];

template <size_t Slot, NvInterfaceId Id, class... Args>
NvStatus callDriver(Args... args) {
    static_assert(Slot < kSlotCount);
    if (NvStatus status = nvapi_loader::ensureLoaded(); status != kNvOk) return status;
    void* entry = gEntryPoints[Slot].load();
    if (entry == nullptr) {
        entry = nvapi_loader::queryEntry()(static_cast<uint32_t>(Id));
        if (entry == nullptr) return kNvNoEntryPoint;
        gEntryPoints[Slot].store(entry);
    }
    return reinterpret_cast<NvStatus (*)(Args...)>(entry)(args...);
}

}  // namespace

void nvapi_loader::clearEntryPointCache() {
    for (auto& slot : gEntryPoints) slot.store(nullptr);
}

// Loading runs the driver's own initialisation, so this only makes sure it happened.
NvStatus NvAPI_Initialize() {
    return nvapi_loader::ensureLoaded();
}

NvStatus NvAPI_SYS_GetDriverAndBranchVersion(uint32_t* driverVersion, char branch[64]) {
    return callDriver<1, NvInterfaceId::GetDriverAndBranchVersion>(driverVersion, branch);
}
NvStatus EnableDirectMode(uint32_t vendorId, uint32_t flags) {
    return callDriver<2, NvInterfaceId::EnableDirectMode>(vendorId, flags);
}
NvStatus NvAPI_DISP_EnumerateDirectModeDisplays(uint32_t vendorId, uint32_t* numDisplays,
                                                NvDirectModeDisplay* displays, uint32_t enumFlags) {
    return callDriver<3, NvInterfaceId::EnumerateDirectModeDisplays>(vendorId, numDisplays, displays,
                                                                     enumFlags);
}
NvStatus NvAPI_D3D_DirectModeGetDisplayModes(NvDirectModeDisplay* display, uint32_t* modeCount,
                                             NvDirectModeMode* modes, uint32_t flags) {
    return callDriver<4, NvInterfaceId::DirectModeGetDisplayModes>(display, modeCount, modes, flags);
}
NvStatus NvAPI_SYS_GetPhysicalGpuFromDisplayId(uint32_t displayId, NvPhysicalGpuHandle* gpu) {
    return callDriver<5, NvInterfaceId::GetPhysicalGpuFromDisplayId>(displayId, gpu);
}
NvStatus NvAPI_D3D_GetIDXGIAdapter(NvPhysicalGpuHandle gpu, IUnknown** adapter) {
    return callDriver<6, NvInterfaceId::GetIDXGIAdapter>(gpu, adapter);
}
NvStatus AcquireDirectModeDisplay(uint32_t vendorId, IUnknown* device, NvDirectModeDisplay* display) {
    return callDriver<7, NvInterfaceId::AcquireDirectModeDisplay>(vendorId, device, display);
}
NvStatus NvAPI_D3D_DirectModeCreateSurface(NvDirectModeDisplay* display, const NvDirectModeMode* mode,
                                           uint32_t* surface, void** sharedHandle) {
    return callDriver<8, NvInterfaceId::DirectModeCreateSurface>(display, mode, surface, sharedHandle);
}
NvStatus SetDisplayMode(NvDirectModeDisplay* display, const NvDirectModeMode* mode) {
    return callDriver<9, NvInterfaceId::SetDisplayMode>(display, mode);
}
NvStatus DisplayControl(NvDirectModeDisplay* display, uint32_t control) {
    return callDriver<10, NvInterfaceId::DisplayControl>(display, control);
}
NvStatus GetPresentWaitableObject(NvDirectModeDisplay* display, void** waitable) {
    return callDriver<11, NvInterfaceId::GetPresentWaitableObject>(display, waitable);
}
NvStatus Present12(NvDirectModeDisplay* display, uint32_t surface, uint32_t flags, ID3D12CommandQueue* queue,
                   ID3D12GraphicsCommandList* list) {
    return callDriver<12, NvInterfaceId::Present12>(display, surface, flags, queue, list);
}
NvStatus ReleaseDirectModeDisplay(uint32_t vendorId, NvDirectModeDisplay* display) {
    return callDriver<13, NvInterfaceId::ReleaseDirectModeDisplay>(vendorId, display);
}
NvStatus NvAPI_DRS_CreateSession(NvDRSSessionHandle* session) {
    return callDriver<14, NvInterfaceId::DrsCreateSession>(session);
}
NvStatus NvAPI_DRS_LoadSettings(NvDRSSessionHandle session) {
    return callDriver<15, NvInterfaceId::DrsLoadSettings>(session);
}
NvStatus NvAPI_DRS_FindApplicationByName(NvDRSSessionHandle session, const char16_t* appName,
                                         NvDRSProfileHandle* profile, NVDRS_APPLICATION* application) {
    return callDriver<16, NvInterfaceId::DrsFindApplicationByName>(session, appName, profile, application);
}
NvStatus NvAPI_DRS_CreateProfile(NvDRSSessionHandle session, NVDRS_PROFILE* profileInfo,
                                 NvDRSProfileHandle* profile) {
    return callDriver<17, NvInterfaceId::DrsCreateProfile>(session, profileInfo, profile);
}
NvStatus NvAPI_DRS_CreateApplication(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                     NVDRS_APPLICATION* application) {
    return callDriver<18, NvInterfaceId::DrsCreateApplication>(session, profile, application);
}
NvStatus NvAPI_DRS_GetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, uint32_t settingId,
                              NVDRS_SETTING* setting) {
    return callDriver<19, NvInterfaceId::DrsGetSetting>(session, profile, settingId, setting);
}
NvStatus NvAPI_DRS_SetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                              NVDRS_SETTING* setting) {
    return callDriver<20, NvInterfaceId::DrsSetSetting>(session, profile, setting);
}
NvStatus NvAPI_DRS_SaveSettings(NvDRSSessionHandle session) {
    return callDriver<21, NvInterfaceId::DrsSaveSettings>(session);
}
NvStatus NvAPI_DRS_DestroySession(NvDRSSessionHandle session) {
    return callDriver<22, NvInterfaceId::DrsDestroySession>(session);
}

}  // namespace corva
