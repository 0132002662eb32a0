#include "sim/platform/test_hooks.h"

#include <windows.h>

namespace corva::platform {

bool makeWritable(void* address, size_t size) {
    DWORD previous = 0;
    return VirtualProtect(address, size, PAGE_READWRITE, &previous) != FALSE;
}

namespace {

HRESULT enumerateFirstAdapter(IDXGIAdapter1** adapter) {
    IDXGIFactory1* factory = nullptr;
    HRESULT hr = CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->EnumAdapters1(0, adapter);
    factory->Release();
    return hr;
}

}  // namespace

HRESULT createDefaultAdapter(IUnknown** adapter) {
    if (adapter == nullptr) return E_POINTER;
    *adapter = nullptr;
    // One adapter for the process, referenced until it ends and never released. Under Wine
    // (Vulkan renderer) the last DXGI object to go takes the Vulkan library down with it,
    // and a D3D12 device created meanwhile then crashes when it is released.
    static IDXGIAdapter1* first = nullptr;
    static const HRESULT enumerated = enumerateFirstAdapter(&first);
    if (FAILED(enumerated)) return enumerated;
    first->AddRef();
    *adapter = first;
    return S_OK;
}

}  // namespace corva::platform
