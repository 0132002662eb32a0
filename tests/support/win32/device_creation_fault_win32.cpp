// D3D12CreateDevice, interposed where the program resolves it (GetProcAddress on the system's
// d3d12.dll): every other name passes through.
#include "tests/support/graphics_faults.h"
#include "tests/support/win32/import_swap.h"

#include <cstring>

extern "C" decltype(&::GetProcAddress) __imp_GetProcAddress;

namespace corva::test::detail {

namespace {

decltype(&::D3D12CreateDevice) gRealCreateDevice = nullptr;
decltype(&::GetProcAddress) gRealGetProcAddress = nullptr;

HRESULT WINAPI createDevice(IUnknown* adapter, D3D_FEATURE_LEVEL level, REFIID riid, void** device) {
    HRESULT result;
    if (takeFault(GraphicsCall::CreateDevice, &result)) {
        if (device != nullptr) *device = nullptr;
        return result;
    }
    return gRealCreateDevice(adapter, level, riid, device);
}

FARPROC WINAPI getProcAddress(HMODULE module, LPCSTR name) {
    const FARPROC real = gRealGetProcAddress(module, name);
    const bool byName = (reinterpret_cast<ULONG_PTR>(name) >> 16) != 0;
    if (real == nullptr || !byName || std::strcmp(name, "D3D12CreateDevice") != 0) return real;
    gRealCreateDevice = reinterpret_cast<decltype(&::D3D12CreateDevice)>(reinterpret_cast<void*>(real));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(createDevice));
}

}  // namespace

bool interposeDeviceCreation() {
    static ImportSwap<decltype(&::GetProcAddress)> swap(&__imp_GetProcAddress, getProcAddress);
    gRealGetProcAddress = swap.original();
    return true;
}

}  // namespace corva::test::detail
