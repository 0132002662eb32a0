#include "platform/d3d12_device.h"

namespace corva::platform {

HRESULT createD3d12Device(IUnknown* adapter, D3D_FEATURE_LEVEL level, ID3D12Device** device) {
    return D3D12CreateDevice(adapter, level, __uuidof(ID3D12Device), reinterpret_cast<void**>(device));
}

HRESULT createDefaultAdapter(IUnknown** adapter) {
    if (adapter == nullptr) return E_POINTER;
    *adapter = nullptr;
    IDXGIFactory1* factory = nullptr;
    HRESULT hr = CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    IDXGIAdapter1* first = nullptr;
    hr = factory->EnumAdapters1(0, &first);
    factory->Release();
    if (FAILED(hr)) return hr;
    *adapter = first;
    return S_OK;
}

}  // namespace corva::platform
