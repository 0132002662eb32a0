// The simulated driver's direct-mode entry points, as the driver library exports them:
// each records its call with its arguments and status, then asks the display model.
// Present12 runs every frame and records into the model's preallocated timeline only.
#include "sim/driver/call_log.h"
#include "sim/driver/display_model.h"
#include "sim/driver/sim_driver.h"

#include <cstdarg>
#include <cstdio>

namespace corva::sim {

namespace {

using detail::DisplayModel;

// The call's name, its status and its arguments ("key=value" pairs, printf-formatted).
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void logCall(const char* name, NvStatus status, const char* argumentsFormat, ...) {
    char arguments[256];
    va_list args;
    va_start(args, argumentsFormat);
    std::vsnprintf(arguments, sizeof(arguments), argumentsFormat, args);
    va_end(args);
    CallLog::instance().record(CallRecord{name, std::string(arguments), static_cast<uint32_t>(status)});
}

unsigned idOf(const NvDirectModeDisplay* display) {
    return display != nullptr ? display->displayId : 0u;
}

NvStatus simEnableDirectMode(uint32_t vendorId, uint32_t flags) {
    const NvStatus status = DisplayModel::instance().enableDirectMode(vendorId, flags);
    logCall("EnableDirectMode", status, "vendorId=0x%x, flags=%u", vendorId, flags);
    return status;
}

NvStatus simEnumerateDirectModeDisplays(uint32_t vendorId, uint32_t* numDisplays,
                                        NvDirectModeDisplay* displays, uint32_t enumFlags) {
    const uint32_t given = numDisplays != nullptr ? *numDisplays : 0;
    const NvStatus status = DisplayModel::instance().enumerateDisplays(vendorId, numDisplays, displays);
    logCall("NvAPI_DISP_EnumerateDirectModeDisplays", status,
            "vendorId=0x%x, numDisplays=%u, displays=%s, flags=%u", vendorId, given,
            displays != nullptr ? "buffer" : "null", enumFlags);
    return status;
}

NvStatus simDirectModeGetDisplayModes(NvDirectModeDisplay* display, uint32_t* modeCount,
                                      NvDirectModeMode* modes, uint32_t flags) {
    const uint32_t given = modeCount != nullptr ? *modeCount : 0;
    const NvStatus status = DisplayModel::instance().displayModes(display, modeCount, modes);
    logCall("NvAPI_D3D_DirectModeGetDisplayModes", status, "displayId=0x%x, modeCount=%u, modes=%s, flags=%u",
            idOf(display), given, modes != nullptr ? "buffer" : "null", flags);
    return status;
}

NvStatus simGetPhysicalGpuFromDisplayId(uint32_t displayId, NvPhysicalGpuHandle* gpu) {
    const NvStatus status = DisplayModel::instance().gpuOfDisplay(displayId, gpu);
    logCall("NvAPI_SYS_GetPhysicalGpuFromDisplayId", status, "displayId=0x%x", displayId);
    return status;
}

NvStatus simGetIDXGIAdapter(NvPhysicalGpuHandle gpu, IUnknown** adapter) {
    const NvStatus status = DisplayModel::instance().adapterOfGpu(gpu, adapter);
    logCall("NvAPI_D3D_GetIDXGIAdapter", status, "gpu=%p", static_cast<void*>(gpu));
    return status;
}

NvStatus simAcquireDirectModeDisplay(uint32_t vendorId, IUnknown* device, NvDirectModeDisplay* display) {
    const NvStatus status = DisplayModel::instance().acquire(vendorId, device, display);
    logCall("AcquireDirectModeDisplay", status, "vendorId=0x%x, device=%s, displayId=0x%x", vendorId,
            device != nullptr ? "set" : "null", idOf(display));
    return status;
}

NvStatus simDirectModeCreateSurface(NvDirectModeDisplay* display, const NvDirectModeMode* mode,
                                    uint32_t* surface, void** sharedHandle) {
    const NvStatus status = DisplayModel::instance().createSurface(display, mode, surface, sharedHandle);
    logCall("NvAPI_D3D_DirectModeCreateSurface", status, "displayId=0x%x, mode=%ux%u, surface=0x%x",
            idOf(display), mode != nullptr ? mode->width : 0u, mode != nullptr ? mode->height : 0u,
            status == kNvOk && surface != nullptr ? *surface : 0u);
    return status;
}

NvStatus simSetDisplayMode(NvDirectModeDisplay* display, const NvDirectModeMode* mode) {
    const NvStatus status = DisplayModel::instance().setMode(display, mode);
    if (mode != nullptr)
        logCall("SetDisplayMode", status, "displayId=0x%x, mode=%ux%u %u/%u format=%u dsc=%u/0x%x/%u/%u",
                idOf(display), mode->width, mode->height, mode->refreshNum, mode->refreshDen, mode->format,
                mode->dscEnable, mode->dscVersion, mode->dscSlices, mode->dscBitsPerPixelX16);
    else
        logCall("SetDisplayMode", status, "displayId=0x%x, mode=null", idOf(display));
    return status;
}

NvStatus simDisplayControl(NvDirectModeDisplay* display, uint32_t control) {
    const NvStatus status = DisplayModel::instance().displayControl(display, control);
    logCall("DisplayControl", status, "displayId=0x%x, control=%u", idOf(display), control);
    return status;
}

NvStatus simGetPresentWaitableObject(NvDirectModeDisplay* display, void** waitable) {
    const NvStatus status = DisplayModel::instance().presentWaitable(display, waitable);
    logCall("GetPresentWaitableObject", status, "displayId=0x%x", idOf(display));
    return status;
}

NvStatus simPresent12(NvDirectModeDisplay* display, uint32_t surface, uint32_t /*flags*/,
                      ID3D12CommandQueue* /*queue*/, ID3D12GraphicsCommandList* /*list*/) {
    return DisplayModel::instance().present(display, surface);
}

NvStatus simReleaseDirectModeDisplay(uint32_t vendorId, NvDirectModeDisplay* display) {
    const NvStatus status = DisplayModel::instance().release(vendorId, display);
    logCall("ReleaseDirectModeDisplay", status, "vendorId=0x%x, displayId=0x%x", vendorId, idOf(display));
    return status;
}

}  // namespace

std::span<const DriverEntry> displayEntries() {
    static const DriverEntry entries[] = {
        entry<NvInterfaceId::EnableDirectMode>(&simEnableDirectMode),
        entry<NvInterfaceId::EnumerateDirectModeDisplays>(&simEnumerateDirectModeDisplays),
        entry<NvInterfaceId::DirectModeGetDisplayModes>(&simDirectModeGetDisplayModes),
        entry<NvInterfaceId::GetPhysicalGpuFromDisplayId>(&simGetPhysicalGpuFromDisplayId),
        entry<NvInterfaceId::GetIDXGIAdapter>(&simGetIDXGIAdapter),
        entry<NvInterfaceId::AcquireDirectModeDisplay>(&simAcquireDirectModeDisplay),
        entry<NvInterfaceId::DirectModeCreateSurface>(&simDirectModeCreateSurface),
        entry<NvInterfaceId::SetDisplayMode>(&simSetDisplayMode),
        entry<NvInterfaceId::DisplayControl>(&simDisplayControl),
        entry<NvInterfaceId::GetPresentWaitableObject>(&simGetPresentWaitableObject),
        entry<NvInterfaceId::Present12>(&simPresent12),
        entry<NvInterfaceId::ReleaseDirectModeDisplay>(&simReleaseDirectModeDisplay),
    };
    return entries;
}

}  // namespace corva::sim
