// The render-target view format for a scan-out surface: the typed twin of the surface's
// typeless format. Only the five typeless formats a headset link scans out are accepted;
// anything else (a typed format included) has no mapping.
#pragma once

#include <cstdint>

namespace corva {

// The view format (a DXGI format value), or 0 (DXGI_FORMAT_UNKNOWN) when there is none.
uint32_t typedRtvFormat(uint32_t surfaceFormat);

}  // namespace corva
