// The proximity microcontroller link: discovery, single-character commands and the
// telemetry reader with worn/away hysteresis and reconnect.
#pragma once

#include "platform/hid_transport.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace corva {

class McuProx {
public:
    McuProx();
    explicit McuProx(HidTransport& transport);
    ~McuProx();
    McuProx(const McuProx&) = delete;
    McuProx& operator=(const McuProx&) = delete;

    bool open(uint16_t rateMs);
    bool setBypass(bool on);
    bool setDoze(bool doze);
    void close();

    uint16_t rateMs = 50;
    HidHandle device = nullptr;
    void* readEvent = nullptr;
    std::thread reader;
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> worn{false};
    std::atomic<uint16_t> distance{0};
    std::atomic<uint16_t> dstat{0};
    std::string firmware;
    bool dozeCapable = false;
    uint16_t threshold = 1500;
    uint16_t hysteresis = 100;
};

}  // namespace corva
