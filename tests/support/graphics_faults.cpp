#include "tests/support/graphics_faults.h"

#include "platform/d3d12_device.h"
#include "platform/platform.h"
#include "sim/platform/test_hooks.h"
#include "present/com_ptr.h"
#include "sim/driver/d3d12_slots.h"
#include "sim/driver/device_hooks.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace corva::test {

namespace {

struct Fault {
    std::atomic<unsigned> left{0};
    std::atomic<HRESULT> result{S_OK};
};
Fault gFaults[kGraphicsCallCount];

void** tableOf(void* object) {
    return *reinterpret_cast<void***>(object);
}

// Puts `hook` in the table slot and keeps what was there to pass unarmed calls on.
template <class Fn>
bool interpose(void* object, size_t slot, Fn hook, Fn& original) {
    void** table = tableOf(object);
    if (!platform::makeWritable(&table[slot], sizeof(void*))) return false;
    original = reinterpret_cast<Fn>(table[slot]);
    table[slot] = reinterpret_cast<void*>(hook);
    return true;
}

template <GraphicsCall Call>
bool armed(void** object, HRESULT* result) {
    if (!detail::takeFault(Call, result)) return false;
    if (object != nullptr) *object = nullptr;
    return true;
}

using CreateQueueFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, const D3D12_COMMAND_QUEUE_DESC*, REFIID,
                                                  void**);
using CreateAllocatorFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, D3D12_COMMAND_LIST_TYPE, REFIID, void**);
using CreateListFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, UINT, D3D12_COMMAND_LIST_TYPE,
                                                 ID3D12CommandAllocator*, ID3D12PipelineState*, REFIID,
                                                 void**);
using CloseFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12GraphicsCommandList*);
using CreateFenceFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, UINT64, D3D12_FENCE_FLAGS, REFIID, void**);
using OpenSharedFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, HANDLE, REFIID, void**);
using CreateHeapFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, const D3D12_DESCRIPTOR_HEAP_DESC*, REFIID,
                                                 void**);

CreateQueueFn gQueue = nullptr;
CreateAllocatorFn gAllocator = nullptr;
CreateListFn gList = nullptr;
CloseFn gClose = nullptr;
CreateFenceFn gFence = nullptr;
OpenSharedFn gOpenShared = nullptr;
CreateHeapFn gHeap = nullptr;

HRESULT STDMETHODCALLTYPE createQueue(ID3D12Device* self, const D3D12_COMMAND_QUEUE_DESC* desc, REFIID riid,
                                      void** out) {
    HRESULT result;
    return armed<GraphicsCall::CreateCommandQueue>(out, &result) ? result : gQueue(self, desc, riid, out);
}
HRESULT STDMETHODCALLTYPE createAllocator(ID3D12Device* self, D3D12_COMMAND_LIST_TYPE type, REFIID riid,
                                          void** out) {
    HRESULT result;
    return armed<GraphicsCall::CreateCommandAllocator>(out, &result) ? result
                                                                     : gAllocator(self, type, riid, out);
}
HRESULT STDMETHODCALLTYPE createList(ID3D12Device* self, UINT mask, D3D12_COMMAND_LIST_TYPE type,
                                     ID3D12CommandAllocator* allocator, ID3D12PipelineState* state,
                                     REFIID riid, void** out) {
    HRESULT result;
    return armed<GraphicsCall::CreateCommandList>(out, &result)
               ? result
               : gList(self, mask, type, allocator, state, riid, out);
}
HRESULT STDMETHODCALLTYPE closeList(ID3D12GraphicsCommandList* self) {
    HRESULT result;
    return armed<GraphicsCall::CloseCommandList>(nullptr, &result) ? result : gClose(self);
}
HRESULT STDMETHODCALLTYPE createFence(ID3D12Device* self, UINT64 value, D3D12_FENCE_FLAGS flags, REFIID riid,
                                      void** out) {
    HRESULT result;
    return armed<GraphicsCall::CreateFence>(out, &result) ? result : gFence(self, value, flags, riid, out);
}
HRESULT STDMETHODCALLTYPE openShared(ID3D12Device* self, HANDLE handle, REFIID riid, void** out) {
    HRESULT result;
    return armed<GraphicsCall::OpenSharedHandle>(out, &result) ? result
                                                               : gOpenShared(self, handle, riid, out);
}
HRESULT STDMETHODCALLTYPE createHeap(ID3D12Device* self, const D3D12_DESCRIPTOR_HEAP_DESC* desc, REFIID riid,
                                     void** out) {
    HRESULT result;
    return armed<GraphicsCall::CreateDescriptorHeap>(out, &result) ? result : gHeap(self, desc, riid, out);
}

// Once per process, on a device of our own: the tables are shared by every object of the
// implementation. The simulated driver's own interpositions go in first, so these come
// before them on every call.
bool install() {
    ComPtr<IUnknown> adapter;
    ComPtr<ID3D12Device> device;
    if (FAILED(platform::createDefaultAdapter(adapter.GetAddressOf())) ||
        FAILED(platform::createD3d12Device(adapter.Get(), D3D_FEATURE_LEVEL_11_0, device.GetAddressOf())))
        return false;
    ComPtr<ID3D12CommandAllocator> allocator;
    ComPtr<ID3D12GraphicsCommandList> list;
    if (FAILED(device->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, allocator.iid(),
                                              allocator.ReleaseAndGetVoidAddressOf())) ||
        FAILED(device->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, allocator.Get(), nullptr,
                                         list.iid(), list.ReleaseAndGetVoidAddressOf())))
        return false;
    if (!sim::detail::hookDeviceTable(device.Get())) return false;
    const D3d12Slots& slots = kD3d12Slots;
    return interpose(device.Get(), slots.deviceCreateCommandQueue, createQueue, gQueue) &&
           interpose(device.Get(), slots.deviceCreateCommandAllocator, createAllocator, gAllocator) &&
           interpose(device.Get(), slots.deviceCreateCommandList, createList, gList) &&
           interpose(device.Get(), slots.deviceCreateFence, createFence, gFence) &&
           interpose(device.Get(), slots.deviceOpenSharedHandle, openShared, gOpenShared) &&
           interpose(device.Get(), slots.deviceCreateDescriptorHeap, createHeap, gHeap) &&
           interpose(list.Get(), slots.listClose, closeList, gClose) && detail::interposeDeviceCreation();
}

// Release order: one hook on the Release slot of each watched object's table.
using ReleaseFn = ULONG(STDMETHODCALLTYPE*)(IUnknown*);
constexpr size_t kReleaseSlot = 2;  // IUnknown: QueryInterface, AddRef, Release

struct ReleaseWatch {
    std::mutex lock;
    std::vector<std::pair<void**, ReleaseFn>> tables;  // each patched table and its own Release
    std::vector<IUnknown*> watched, order;
} gReleases;

ULONG STDMETHODCALLTYPE recordRelease(IUnknown* self) {
    ReleaseFn original = nullptr;
    {
        std::lock_guard<std::mutex> hold(gReleases.lock);
        for (const auto& [table, release] : gReleases.tables)
            if (table == tableOf(self)) original = release;
        const auto& w = gReleases.watched;
        if (std::find(w.begin(), w.end(), self) != w.end()) {
            std::erase(gReleases.order, self);
            gReleases.order.push_back(self);
        }
    }
    return original(self);
}

}  // namespace

std::vector<IUnknown*> releaseOrder(const std::vector<IUnknown*>& watched,
                                    const std::function<void()>& teardown) {
    {
        std::lock_guard<std::mutex> hold(gReleases.lock);
        gReleases.watched = watched;
        gReleases.order.clear();
        for (IUnknown* object : watched) {
            void** table = tableOf(object);
            const auto& t = gReleases.tables;
            if (std::any_of(t.begin(), t.end(), [&](const auto& entry) { return entry.first == table; }))
                continue;
            ReleaseFn original = nullptr;
            if (interpose(object, kReleaseSlot, &recordRelease, original))
                gReleases.tables.emplace_back(table, original);
        }
    }
    teardown();
    std::lock_guard<std::mutex> hold(gReleases.lock);
    for (const auto& [table, release] : gReleases.tables)
        table[kReleaseSlot] = reinterpret_cast<void*>(release);
    gReleases.tables.clear();
    gReleases.watched.clear();
    return gReleases.order;
}

bool failGraphicsCalls(GraphicsCall call, HRESULT result, unsigned count) {
    static const bool installed = install();
    Fault& fault = gFaults[static_cast<int>(call)];
    fault.result.store(result);
    fault.left.store(count);
    return installed;
}

void clearGraphicsFaults() {
    for (Fault& fault : gFaults) fault.left.store(0);
}

bool detail::takeFault(GraphicsCall call, HRESULT* result) {
    Fault& fault = gFaults[static_cast<int>(call)];
    unsigned left = fault.left.load();
    while (left > 0)
        if (fault.left.compare_exchange_weak(left, left - 1)) {
            *result = fault.result.load();
            return true;
        }
    return false;
}

}  // namespace corva::test
