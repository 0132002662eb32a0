/* A library planted beside tessaray.exe under the name of a system library (hid.dll,
 * d3d12.dll, dxgi.dll, winmm.dll): the program must never load it. If it is loaded, it says so on
 * standard error; its functions exist so that a loader that picks it also binds to it,
 * and they all fail. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char line[MAX_PATH + 64] = "PLANTED LIBRARY LOADED: ";
        const DWORD prefix = (DWORD)lstrlenA(line);
        DWORD length = GetModuleFileNameA(self, line + prefix, MAX_PATH);
        line[prefix + length] = '\n';
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, prefix + length + 1, &written, NULL);
    }
    return TRUE;
}

#define PLANTED_EXPORT __declspec(dllexport)

PLANTED_EXPORT void __stdcall HidD_GetHidGuid(GUID* guid) {
    ZeroMemory(guid, sizeof *guid);
}
PLANTED_EXPORT BOOLEAN __stdcall HidD_GetAttributes(HANDLE device, void* attributes) {
    (void)device, (void)attributes;
    return FALSE;
}
PLANTED_EXPORT BOOLEAN __stdcall HidD_SetFeature(HANDLE device, void* report, ULONG length) {
    (void)device, (void)report, (void)length;
    return FALSE;
}
PLANTED_EXPORT HRESULT __stdcall D3D12CreateDevice(void* adapter, int level, const GUID* iid, void** device) {
    (void)adapter, (void)level, (void)iid;
    if (device) *device = NULL;
    return E_FAIL;
}
PLANTED_EXPORT HRESULT __stdcall CreateDXGIFactory1(const GUID* iid, void** factory) {
    (void)iid;
    if (factory) *factory = NULL;
    return E_FAIL;
}
PLANTED_EXPORT HRESULT __stdcall CreateDXGIFactory2(UINT flags, const GUID* iid, void** factory) {
    (void)flags, (void)iid;
    if (factory) *factory = NULL;
    return E_FAIL;
}
PLANTED_EXPORT UINT __stdcall timeBeginPeriod(UINT period) {
    (void)period;
    return 97; /* TIMERR_NOCANDO */
}
PLANTED_EXPORT UINT __stdcall timeEndPeriod(UINT period) {
    (void)period;
    return 97;
}
