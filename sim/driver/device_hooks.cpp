#include "sim/driver/device_hooks.h"

#include "sim/platform/test_hooks.h"
#include "sim/driver/d3d12_slots.h"
#include "sim/driver/display_model.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>

namespace corva::sim::detail {

namespace {

using CreateCommandQueueFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, const D3D12_COMMAND_QUEUE_DESC*,
                                                         REFIID, void**);
using OpenSharedHandleFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, HANDLE, REFIID, void**);
using GetDeviceRemovedReasonFn = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*);

struct HookedTable {
    void** table = nullptr;
    CreateCommandQueueFn createCommandQueue = nullptr;
    OpenSharedHandleFn openSharedHandle = nullptr;
    GetDeviceRemovedReasonFn getDeviceRemovedReason = nullptr;
};

constexpr size_t kMaxTables = 4;
std::mutex gHookLock;
HookedTable gTables[kMaxTables];
std::atomic<size_t> gTableCount{0};  // entries below it are complete

void** tableOf(ID3D12Device* device) {
    return *reinterpret_cast<void***>(device);
}

const HookedTable* originalsOf(ID3D12Device* device) {
    void** table = tableOf(device);
    const size_t count = gTableCount.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i)
        if (gTables[i].table == table) return &gTables[i];
    return nullptr;
}

HRESULT STDMETHODCALLTYPE createCommandQueueHook(ID3D12Device* self, const D3D12_COMMAND_QUEUE_DESC* desc,
                                                 REFIID riid, void** queue) {
    if (desc != nullptr && DisplayModel::instance().refusesQueue(*desc)) {
        if (queue != nullptr) *queue = nullptr;
        return E_INVALIDARG;
    }
    const HookedTable* originals = originalsOf(self);
    return originals != nullptr ? originals->createCommandQueue(self, desc, riid, queue) : E_FAIL;
}

HRESULT STDMETHODCALLTYPE openSharedHandleHook(ID3D12Device* self, HANDLE handle, REFIID riid,
                                               void** object) {
    HRESULT result = E_FAIL;
    if (DisplayModel::instance().openSurface(handle, riid, object, &result)) return result;
    const HookedTable* originals = originalsOf(self);
    return originals != nullptr ? originals->openSharedHandle(self, handle, riid, object) : E_FAIL;
}

HRESULT STDMETHODCALLTYPE getDeviceRemovedReasonHook(ID3D12Device* self) {
    if (DisplayModel::instance().deviceRemoved(self))
        return static_cast<HRESULT>(0x887A0005);  // DXGI_ERROR_DEVICE_REMOVED
    const HookedTable* originals = originalsOf(self);
    return originals != nullptr ? originals->getDeviceRemovedReason(self) : E_FAIL;
}

template <class Fn>
void interpose(void** table, size_t slot, Fn hook) {
    table[slot] = reinterpret_cast<void*>(hook);
}

}  // namespace

bool anyDeviceTableHooked() {
    return gTableCount.load() > 0;
}

bool hookDeviceTable(ID3D12Device* device) {
    if (device == nullptr) return false;
    std::lock_guard<std::mutex> lock(gHookLock);
    if (originalsOf(device) != nullptr) return true;
    const size_t count = gTableCount.load();
    if (count == kMaxTables) return false;
    void** table = tableOf(device);
    const size_t queueSlot = kD3d12Slots.deviceCreateCommandQueue;
    const size_t openSlot = kD3d12Slots.deviceOpenSharedHandle;
    const size_t removedSlot = kD3d12Slots.deviceGetDeviceRemovedReason;
    const size_t span = (std::max({queueSlot, openSlot, removedSlot}) + 1) * sizeof(void*);
    if (!platform::makeWritable(table, span)) return false;
    HookedTable& entry = gTables[count];
    entry.table = table;
    // The originals are recorded before each hook goes live: a call racing the install
    // finds either the original entry or a hook that can reach it.
    entry.createCommandQueue = reinterpret_cast<CreateCommandQueueFn>(table[queueSlot]);
    entry.openSharedHandle = reinterpret_cast<OpenSharedHandleFn>(table[openSlot]);
    entry.getDeviceRemovedReason = reinterpret_cast<GetDeviceRemovedReasonFn>(table[removedSlot]);
    gTableCount.store(count + 1, std::memory_order_release);
    interpose(table, queueSlot, &createCommandQueueHook);
    interpose(table, openSlot, &openSharedHandleHook);
    interpose(table, removedSlot, &getDeviceRemovedReasonHook);
    return true;
}

}  // namespace corva::sim::detail
