/* D3D12 from vkd3d for C sources: the interfaces' C declarations (their Vtbl structs). */
#pragma once

#define COM_NO_WINDOWS_H
#include <vkd3d_windows.h>
#include <vkd3d_d3d12.h>
