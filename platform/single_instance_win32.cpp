#include "platform/single_instance_win32.h"

#include "platform/platform.h"

#include <windows.h>

namespace corva::platform {

SingleInstance::SingleInstance() {
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
    const DWORD error = GetLastError();
    // Held by a run of another user, whose mutex this one may not open: a run all the same.
    anotherRuns_ = error == ERROR_ALREADY_EXISTS || (mutex == nullptr && error == ERROR_ACCESS_DENIED);
    if (anotherRuns_ && mutex != nullptr) {
        CloseHandle(mutex);
        mutex = nullptr;
    }
    // Any other failure (no such namespace, no memory) leaves the run unguarded, as before.
    handle_ = mutex;
}

SingleInstance::~SingleInstance() {
    if (handle_ != nullptr) CloseHandle(handle_);
}

}  // namespace corva::platform
