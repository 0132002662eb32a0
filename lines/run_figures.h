// Figures the program, tessaray-report and the tests share, in one place: the exit codes,
// the driver status that counts as success, and the fixed waits and poll intervals a
// reader of the logs or a test has to know.
#pragma once

#include <cstdint>

namespace corva::run {

// The program's exit codes.
constexpr int kExitOk = 0;
constexpr int kExitInitFailed = 3;   // the presenter's bring-up failed
constexpr int kExitDisplayLost = 4;  // the display was lost while presenting
// The simulated headset's (tessaray-sim): a scenario it cannot read stops it before the run.
constexpr int kExitBadScenario = 2;

// Display acquisition and mode setting act and then return this: "HDCP disabled", success.
constexpr int32_t kStatusHdcpDisabled = -208;

// Without the proximity link, the benchmark waits this long for the displays after a wake
// (and after the bring-up) instead of watching them come on.
constexpr int64_t kFixedDisplaysOnWaitMs = 500;

// How often the parked present loop looks for a wake, a stop or a lost device.
constexpr uint32_t kParkedPollMs = 50;

}  // namespace corva::run
