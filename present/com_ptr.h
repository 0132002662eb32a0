// Owning reference to a COM object (D3D12 and DXGI interfaces), released on reset or
// destruction. Works the same over the Windows SDK and vkd3d.
#pragma once

#include "d3d12_api.h"

#include <utility>

namespace corva {

template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For out-parameters of creation calls; the caller releases first (ReleaseAndGetAddressOf).
    T** GetAddressOf() { return &ptr_; }
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &ptr_;
    }
    void Reset() {
        if (ptr_ != nullptr) std::exchange(ptr_, nullptr)->Release();
    }

    // The (REFIID, void**) pair of creation calls; releases whatever was held first.
    const IID& iid() const { return iidOf<T>(); }
    void** ReleaseAndGetVoidAddressOf() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  private:
    T* ptr_ = nullptr;
};

}  // namespace corva
