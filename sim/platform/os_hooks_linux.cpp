#include "sim/platform/test_hooks.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace corva::platform {

namespace {

// Stands in for the DXGI adapter vkd3d has no use for: an IUnknown and nothing more.
class PlaceholderAdapter final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (std::memcmp(&riid, &iidOf<IUnknown>(), sizeof(IID)) != 0) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

  private:
    std::atomic<ULONG> references_{1};
};

}  // namespace

bool makeWritable(void* address, size_t size) {
    const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(address) & ~(pageSize - 1);
    const auto end = (reinterpret_cast<uintptr_t>(address) + size + pageSize - 1) & ~(pageSize - 1);
    return mprotect(reinterpret_cast<void*>(begin), end - begin, PROT_READ | PROT_WRITE) == 0;
}

HRESULT createDefaultAdapter(IUnknown** adapter) {
    if (adapter == nullptr) return E_POINTER;
    *adapter = new PlaceholderAdapter();
    return S_OK;
}

}  // namespace corva::platform
