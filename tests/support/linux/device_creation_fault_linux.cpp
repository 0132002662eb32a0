// vkd3d's device creation, interposed for the test program: the platform's call reaches
// this definition first; unarmed calls go on to vkd3d's.
#include "tests/support/graphics_faults.h"

#include <vkd3d/vkd3d.h>

#include <dlfcn.h>

namespace {

// vkd3d's own, from its library: with this definition in the program the linker may not
// have kept the library as a dependency.
PFN_vkd3d_create_device vkd3dCreateDevice() {
    static const auto real = [] {
        void* library = dlopen("libvkd3d.so.1", RTLD_NOW | RTLD_LOCAL);
        return reinterpret_cast<PFN_vkd3d_create_device>(
            library != nullptr ? dlsym(library, "vkd3d_create_device") : nullptr);
    }();
    return real;
}

}  // namespace

extern "C" HRESULT vkd3d_create_device(const struct vkd3d_device_create_info* info, REFIID iid,
                                       void** device) {
    HRESULT result;
    if (corva::test::detail::takeFault(corva::test::GraphicsCall::CreateDevice, &result)) {
        if (device != nullptr) *device = nullptr;
        return result;
    }
    const PFN_vkd3d_create_device real = vkd3dCreateDevice();
    return real != nullptr ? real(info, iid, device) : E_FAIL;
}

namespace corva::test::detail {

bool interposeDeviceCreation() {
    return vkd3dCreateDevice() != nullptr;
}

}  // namespace corva::test::detail
