// The proximity microcontroller link: discovery, single-character commands and the
// telemetry reader with worn/away hysteresis and reconnect.
#pragma once

#include "platform/hid_transport.h"
#include "prox/telemetry_conditions.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corva {

// What the bypass restore could tell: the microcontroller took the '[' (it answered a
// command sent after it), refused it, or could not be asked (gone, or silent).
enum class RestoreVerdict { Ok, Failed, NotConfirmed };

// Bounds a probe: each read waits at most until the deadline (0: no deadline), and the
// probe gives up between reads once `abandon` is set.
struct ProbeLimits {
    int64_t deadlineNs = 0;
    const std::atomic<bool>* abandon = nullptr;
    void* stopEvent = nullptr;  // the reads end once it is set (HidTransport::readReport)
};

class McuProx {
  public:
    McuProx();
    explicit McuProx(HidTransport& transport);
    ~McuProx();
    McuProx(const McuProx&) = delete;
    McuProx& operator=(const McuProx&) = delete;

    // Finds the MCU, sets its telemetry interval, asks its firmware version and starts the
    // reader. Returns once the reader has its first 8-reading average (or after about ten
    // telemetry intervals), so worn and distance are measured, not defaults. True when the
    // link is up; true without effect when it already is.
    bool open(uint16_t rateMs);
    // 'p' / '[' and 'H' / 'h': true when the device accepted the feature report. A bypass
    // the device accepted is sent again whenever the device comes back after being gone (a
    // replugged MCU starts with it off), until setBypass(false) is called.
    bool setBypass(bool on);
    // Switches the bypass on and confirms it as the restore confirms its '[': the 'p', then
    // the rate command with the interval in force; the microcontroller takes commands in
    // order, so the '$' the reader sees after them shows the 'p' was done. `accepted`: the
    // device took the 'p' report (as setBypass(true)); `confirmed`: and answered, by
    // `deadlineNs` (or the teardown's deadline).
    struct BypassAnswer {
        bool accepted = false;
        bool confirmed = false;
    };
    BypassAnswer switchBypassOn(int64_t deadlineNs);
    bool setDoze(bool doze);
    // Switches the bypass off at the end of the run and says whether the microcontroller
    // took it. Stops the reader first (no reconnect of its own from here). Sends '[' and
    // then the rate command with the interval in force, and reads in order until its '$':
    // the microcontroller takes commands in order, so the '$' shows the '[' was done, however
    // late its reports are read. Without a live handle (gone, waiting to reconnect, or the
    // handle dead) it probes once and sends the '[' to a device that answers. Commands, reads
    // and the probe end by `deadlineNs` (steady clock), or by the teardown's deadline if earlier.
    RestoreVerdict restoreBypass(int64_t deadlineNs);
    // Stops and joins the reader; the handles stay open.
    void stopReader();
    // Stops and joins the reader and closes the handles; harmless when not open.
    void close();

    // Times the reader has declared the device gone since construction; whether it is gone
    // now (reconnecting). Lets others tell a stale dstat from a live one.
    uint32_t linkLosses() const { return linkLosses_.load(); }
    bool deviceGone() const { return deviceGone_.load(); }
    // Steady-clock time of the last input report the reader took (0: none yet).
    int64_t lastReportNs() const { return lastReportNs_.load(std::memory_order_relaxed); }
    // Arrival times of the reports around the last time the displays came on (dstat bit 0
    // from 0 to 1): the last report that showed them off (0: none since the connection)
    // and the first that showed them on. Stored before dstat, so a thread that sees the new
    // dstat reads the times of that change.
    int64_t displaysOnLastOffNs() const { return onEdgeLastOffNs_.load(); }
    int64_t displaysOnFirstOnNs() const { return onEdgeFirstOnNs_.load(); }
    // Arrival of the report that last changed dstat, stored before dstat: the monitor's
    // sample that sees a change was late by the time since.
    int64_t dstatChangedNs() const { return dstatChangedNs_.load(); }
    // Reports since that change that have tightened its times; kDisplaysOnLaterReports once
    // no more will.
    static constexpr uint32_t kDisplaysOnLaterReports = 4;
    uint32_t displaysOnLaterReports() const { return onEdgeLaterReports_.load(); }
    // What the telemetry did over the run: read once the reader has stopped. The last
    // reader stall's times may be read at any time.
    const prox::TelemetryFigures& telemetryFigures() const { return telemetry_.figures(); }
    int64_t lastReaderStallFromNs() const { return telemetry_.lastStallFromNs(); }
    int64_t lastReaderStallToNs() const { return telemetry_.lastStallToNs(); }

    // Every present interface with the MCU's ids, opened for overlapped I/O.
    std::vector<HidHandle> enumerateProxInterfaces();
    // Sends the rate command to each candidate in turn and keeps the first that acknowledges;
    // every other candidate is closed (those after it without a command). Null when none;
    // `refused`, if given, says whether a candidate refused the command (neither gone nor stuck).
    HidHandle probeRate(uint16_t rate, void* event, ProbeLimits limits = {}, bool* refused = nullptr);
    // One read with a timeout: bytes read, 0 on timeout, -1 on error (also once `stopEvent` is set).
    int readReport(HidHandle handle, void* event, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                   void* stopEvent = nullptr);

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

  private:
    enum class Answer { Confirmed, Refused, Unanswered, HandleDead };

    void readerLoop();
    // The candidate a probe reads from, which stopReader() cancels along with the device.
    void setProbing(HidHandle candidate);
    // '[' then the rate command on the handle, and the '$' read in order. `foundByProbe`: the
    // handle is a device the restore's probe has just found answering.
    Answer clearBypassOn(HidHandle handle, int64_t deadlineNs, bool foundByProbe = false);
    std::string queryFirmware(HidHandle handle);
    bool sendCommand(char command);
    // The reader's handle replacement; commands and close hold the same lock.
    void dropDevice();
    void adoptDevice(HidHandle handle);
    // Adopts a reconnected device and, in the same locked step, sends the bypass again
    // if it was on, and says so.
    void adoptReconnected(HidHandle handle);
    bool sendCommandLocked(char command);
    // Lets open report a measured worn state: waits for the reader's first full average.
    void awaitFirstAverage();
    void noteFirstAverage();

    HidTransport& transport_;
    std::mutex deviceMutex_;
    std::mutex startMutex_;
    std::condition_variable startCv_;
    bool firstAverage_ = false;
    bool bypassWanted_ = false;    // under deviceMutex_: the device accepted 'p', no '[' since
    HidHandle probing_ = nullptr;  // under deviceMutex_
    // Set by stopReader(): the reader's reads wait on it beside their own event, so a stop
    // that comes just before a read begins still ends it (the cancel alone would miss it).
    void* readerStop_ = nullptr;
    std::atomic<uint32_t> linkLosses_{0};
    std::atomic<uint32_t> rateAcks_{0};  // the rate command's answers the reader has seen
    std::atomic<bool> deviceGone_{false};
    std::atomic<int64_t> lastReportNs_{0};
    std::atomic<int64_t> onEdgeLastOffNs_{0};
    std::atomic<int64_t> onEdgeFirstOnNs_{0};
    std::atomic<int64_t> dstatChangedNs_{0};
    std::atomic<uint32_t> onEdgeLaterReports_{kDisplaysOnLaterReports};
    prox::TelemetryConditions telemetry_;
};

namespace prox {
// A read's (or a command's) timeout, cut to what is left before the deadline and the
// teardown's deadline (0: none left; a deadline of 0 cuts nothing).
uint32_t readTimeoutBefore(int64_t deadlineNs, uint32_t timeoutMs);
// The handle no longer reaches a device (unplugged, reset, closed), as opposed to a device
// that refused the report.
bool handleGone(unsigned long code);
}  // namespace prox

}  // namespace corva
