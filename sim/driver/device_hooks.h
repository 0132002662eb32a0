// The simulated driver's reach into the D3D12 device, by interposing entries of the
// device's interface table (shared by every device of the D3D12 implementation, so each
// hook passes calls it has no business with on to the original):
// - OpenSharedHandle opens the surfaces the driver created (vkd3d has no shared handles);
// - GetDeviceRemovedReason reports the injected removal of the device holding the display;
// - CreateCommandQueue refuses high priority when the simulated GPU does.
#pragma once

#include "d3d12_api.h"

namespace corva::sim::detail {

// Interposes the entries of this device's interface table, once per table. False when the
// table could not be made writable (the simulated surfaces then cannot be opened).
bool hookDeviceTable(ID3D12Device* device);
// Whether any device's table has been interposed yet.
bool anyDeviceTableHooked();

}  // namespace corva::sim::detail
