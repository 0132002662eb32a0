// Makes real D3D12 calls fail, for any caller in this process: the methods are interposed
// on the implementation's own interface tables (device creation at its call site), and an
// armed call returns the given result without reaching the implementation. Unarmed calls
// pass through unchanged.
#pragma once

#include "d3d12_api.h"

#include <functional>
#include <vector>

namespace corva::test {

enum class GraphicsCall {
    CreateDevice,
    CreateCommandQueue,
    CreateCommandAllocator,
    CreateCommandList,
    CloseCommandList,
    CreateFence,
    OpenSharedHandle,
    CreateDescriptorHeap,
};
constexpr int kGraphicsCallCount = 8;

// The next `count` calls of `call` fail with `result`. False when the interposition could
// not be installed.
bool failGraphicsCalls(GraphicsCall call, HRESULT result, unsigned count = 1);
void clearGraphicsFaults();

// Runs `teardown` and returns the objects of `watched` in the order of their last Release
// through their own interface tables during it (the driver may let go of its own references
// first). The tables are put back afterwards.
std::vector<IUnknown*> releaseOrder(const std::vector<IUnknown*>& watched,
                                    const std::function<void()>& teardown);

namespace detail {
// Consumes one armed failure of `call`, if there is one.
bool takeFault(GraphicsCall call, HRESULT* result);
// Interposes device creation at the platform's call site (one file per platform).
bool interposeDeviceCreation();
}  // namespace detail

}  // namespace corva::test
