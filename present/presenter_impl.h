// Everything the presenter holds of the driver and of D3D12. Private to the presenter.
#pragma once

#include "nvapi/nvapi.h"
#include "platform/platform.h"
#include "present/com_ptr.h"
#include "present/present_backend.h"
#include "present/present_conditions.h"
#include "present/presenter_clock.h"

#include <mutex>

namespace corva {

struct PresenterImpl {
    NvDirectModeDisplay display{};
    NvDirectModeMode mode{};
    double refreshHz = 75.0;

    ComPtr<ID3D12Device> dev;
    ComPtr<ID3D12CommandQueue> queue;
    ComPtr<ID3D12CommandAllocator> alloc;
    ComPtr<ID3D12GraphicsCommandList> list;
    ComPtr<ID3D12Fence> fence;
    platform::OsHandle fenceEvent = nullptr;
    uint64_t fenceValue = 0;

    uint32_t surf[2] = {0, 0};
    ComPtr<ID3D12Resource> res[2];
    ComPtr<ID3D12DescriptorHeap> rtvHeap;
    D3D12_CPU_DESCRIPTOR_HANDLE rtv[2] = {};
    uint32_t rtvFormat = 0;
    uint32_t width = 0;
    uint32_t height = 0;

    platform::OsHandle waitable = nullptr;
    bool waitableOk = false;
    bool acquired = false;
    // Only a pacing benchmark turns this off, to measure a baseline loop without the
    // just-in-time wait; the program itself never does.
    bool justInTimeWait = true;
    // Time and waits of the present loop and of the acquisition retry.
    PresenterClock* clock = &platformClock();

    std::mutex statsLock;
    PresentStats published;  // guarded by statsLock
    // Written by the present loop's thread, read once run() has returned.
    PresentConditions conditions;

    PresenterImpl() = default;
    PresenterImpl(const PresenterImpl&) = delete;
    PresenterImpl& operator=(const PresenterImpl&) = delete;
    ~PresenterImpl();
};

}  // namespace corva
