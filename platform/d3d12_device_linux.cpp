#include "platform/d3d12_device.h"

#include "platform/platform.h"

#include <vkd3d/vkd3d.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corva::platform {

namespace {

// Fences signal the platform's own events, so waits on them take real time-outs.
HRESULT signalPlatformEvent(HANDLE event) {
    return setEvent(event) ? S_OK : E_FAIL;
}

// The Vulkan loader wants a runtime directory; CI shells often have none. vkd3d's notes
// about what it does not implement (queue priority and the like) would mix into the
// tool's standard error, so they stay off unless the user asks for them.
void prepareEnvironment() {
    setenv("VKD3D_DEBUG", "err", 0);
    if (std::getenv("XDG_RUNTIME_DIR") != nullptr) return;
    static std::string dir = "/tmp/tessaray-runtime-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 0);
}

}  // namespace

HRESULT createD3d12Device(IUnknown* /*adapter*/, D3D_FEATURE_LEVEL level, ID3D12Device** device) {
    prepareEnvironment();
    vkd3d_instance_create_info instanceInfo{};
    instanceInfo.type = VKD3D_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    instanceInfo.pfn_signal_event = signalPlatformEvent;
    instanceInfo.wchar_size = sizeof(WCHAR);

    vkd3d_device_create_info deviceInfo{};
    deviceInfo.type = VKD3D_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
    deviceInfo.minimum_feature_level = level;
    deviceInfo.instance_create_info = &instanceInfo;
    return vkd3d_create_device(&deviceInfo, __vkd3d_uuidof<ID3D12Device>(), reinterpret_cast<void**>(device));
}

}  // namespace corva::platform
