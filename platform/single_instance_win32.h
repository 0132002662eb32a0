// The name of the mutex that keeps one run at a time on the machine: in the Global
// namespace, so runs in other users' sessions (fast user switching, remote desktop) see it.
#pragma once

namespace corva::platform {

inline constexpr const wchar_t* kSingleInstanceMutexName = L"Global\\tessaray-direct-mode-headset";

}  // namespace corva::platform
