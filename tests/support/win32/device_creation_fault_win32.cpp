// D3D12CreateDevice, interposed at the program's import of it.
#include "tests/support/graphics_faults.h"
#include "tests/support/win32/import_swap.h"

extern "C" decltype(&::D3D12CreateDevice) __imp_D3D12CreateDevice;

namespace corva::test::detail {

namespace {

decltype(&::D3D12CreateDevice) gRealCreateDevice = nullptr;

HRESULT WINAPI createDevice(IUnknown* adapter, D3D_FEATURE_LEVEL level, REFIID riid, void** device) {
    HRESULT result;
    if (takeFault(GraphicsCall::CreateDevice, &result)) {
        if (device != nullptr) *device = nullptr;
        return result;
    }
    return gRealCreateDevice(adapter, level, riid, device);
}

}  // namespace

bool interposeDeviceCreation() {
    static ImportSwap<decltype(&::D3D12CreateDevice)> swap(&__imp_D3D12CreateDevice, createDevice);
    gRealCreateDevice = swap.original();
    return true;
}

}  // namespace corva::test::detail
