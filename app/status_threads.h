// The two reporting threads: the display-status monitor and the one-second status line.
#pragma once

#include "present/present_backend.h"
#include "prox/mcu_prox.h"

namespace corva {

// Samples the link's dstat every 2 ms and prints each change; on a displays-on change
// after a benchmark wake request, prints the wake latency, and its phases once the reports
// after the change are in (sampling on meanwhile); a pending request is dropped
// when the link is lost (its latency would span the outage). Once StopFlag is raised it takes
// one last sample (a change the stopping thread has already seen is still reported), prints
// the phases of a wake still waiting for them, and returns.
void dstatMonitorLoop(McuProx& link);

// One status line about every second; one more after StopFlag, none if stopped before.
void statusLineLoop(PresentBackend& presenter, McuProx& link, const bool& proxUp);

}  // namespace corva
