/* D3D12 from the Windows SDK for C sources: the interfaces' C declarations (their Vtbl structs). */
#pragma once

#include <windows.h>
#include <d3d12.h>
