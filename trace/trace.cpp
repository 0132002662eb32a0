#include "trace/trace.h"

#include "trace/trace_writer.h"

#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "lines/shortened_text.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace corva::trace {

namespace {

// About 100 s of frames at 75 Hz, or 14 s at 1 kHz, before the writer must have taken any.
constexpr size_t kRingRecords = 8192;

std::atomic<Writer*> activeWriter{nullptr};
std::unique_ptr<Writer> ownedWriter;

void push(const Record& record) {
    if (Writer* writer = activeWriter.load(std::memory_order_acquire)) writer->push(record);
}

}  // namespace

bool enabled() {
    return activeWriter.load(std::memory_order_relaxed) != nullptr;
}

const char* pathFromEnvironment() {
    const char* path = std::getenv("TESSARAY_TRACE_FILE");
    return path != nullptr && *path != '\0' ? path : nullptr;
}

Session::Session(const char* path) {
    if (path == nullptr || activeWriter.load() != nullptr) return;
    auto writer = std::make_unique<Writer>(path, kRingRecords);
    if (!writer->ok()) {
        reportFailure(path, writer->error().c_str());
        return;
    }
    ownedWriter = std::move(writer);
    activeWriter.store(ownedWriter.get(), std::memory_order_release);
    active_ = true;
}

Session::~Session() {
    if (!active_) return;
    activeWriter.store(nullptr, std::memory_order_release);
    ownedWriter->close();
    ownedWriter.reset();
}

void frame(const FrameTimes& frame) {
    push(frameRecord(frame));
}

void marker(const char* name, int64_t steadyNs, uint32_t localMsOfDay) {
    Record r;
    r.kind = Kind::Marker;
    r.t[0] = steadyNs;
    r.index = localMsOfDay;
    std::strncpy(r.name, name, sizeof r.name - 1);
    push(r);
}

void panelPower(bool on, int64_t callNs, int64_t returnNs, int32_t powerStatus, int32_t modeStatus) {
    Record r;
    r.kind = Kind::PanelPower;
    r.flag = on ? 1 : 0;
    r.t[0] = callNs;
    r.t[1] = returnNs;
    r.status = powerStatus;
    r.status2 = modeStatus;
    push(r);
}

void parked(int64_t ns) {
    Record r;
    r.kind = Kind::Parked;
    r.t[0] = ns;
    push(r);
}

void wakeSeen(int64_t ns) {
    Record r;
    r.kind = Kind::WakeSeen;
    r.t[0] = ns;
    push(r);
}

void dstatChange(int64_t reportArrivalNs, uint16_t from, uint16_t to) {
    Record r;
    r.kind = Kind::Dstat;
    r.t[0] = reportArrivalNs;
    r.from = from;
    r.to = to;
    push(r);
}

void freeRun(int64_t ns, bool started, bool announced) {
    Record r;
    r.kind = Kind::FreeRun;
    r.t[0] = ns;
    r.flag = started ? 1 : 0;
    r.flag2 = announced ? 1 : 0;
    push(r);
}

void presentError(int64_t ns, uint64_t frameIndex, int32_t status) {
    Record r;
    r.kind = Kind::PresentError;
    r.t[0] = ns;
    r.index = frameIndex;
    r.status = status;
    push(r);
}

void linkChange(int64_t ns, bool lost) {
    Record r;
    r.kind = Kind::Link;
    r.t[0] = ns;
    r.flag = lost ? 1 : 0;
    push(r);
}

}  // namespace corva::trace
