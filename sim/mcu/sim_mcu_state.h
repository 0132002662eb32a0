// Internal records of the simulated MCU, shared by its transport and firmware halves.
#pragma once

#include "sim/mcu/sim_mcu.h"

#include "platform/platform.h"

#include <random>

namespace corva::sim {

// The system's steady clock, so command times compare with the program's own stamps.
inline int64_t simNowNs() {
    return platform::steadyNowNs();
}

// The calling thread's last error, as the system keeps it per thread.
unsigned long& simLastError();

struct SimMcu::Device {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool headset = false;  // one of the headset's interfaces (vanishes on unplug)
    InterfaceRole role = InterfaceRole::Silent;
    size_t index = 0;  // headset interface index
};

struct SimMcu::Handle {
    size_t device = 0;
    std::deque<std::vector<uint8_t>> input;  // reports waiting to be read
    uint64_t cancels = 0;                    // bumped by cancelIo
    bool dead = false;                       // unplugged under it
    bool closed = false;
};

struct SimMcu::Firmware {
    bool armed = false;  // has received a rate command since power-up
    uint16_t rateMs = 0;
    int64_t streamStartNs = 0;
    int64_t nextDueNs = 0;   // the telemetry timer's next tick
    int64_t nextSendNs = 0;  // when that report goes out (jitter, the host's poll)
    int64_t lastSendNs = 0;
    std::mt19937 random{1};
    uint32_t ackCountdown = 0;  // telemetry reports still due before the pending '$'
    bool ackPending = false;
    uint32_t sequence = 0;
    bool bypass = false;
    bool doze = false;
    bool hung = false;
    bool refuseFeatures = false;
    bool commandsStuck = false;
    bool plugged = true;
};

}  // namespace corva::sim
