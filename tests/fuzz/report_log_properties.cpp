#include "report/log_parser.h"
#include "tests/fuzz/properties.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace corva::fuzz {

namespace {

using namespace corva::report;

// Everything the report takes from a log, written out, so two readings compare whole.
class Digest {
  public:
    template <typename... Values>
    Digest& add(const Values&... values) {
        (put(values), ...);
        return *this;
    }
    const std::string& text() const { return text_; }

  private:
    void put(const std::string& s) { text_ += s + '|'; }
    void put(bool b) { text_ += b ? "1|" : "0|"; }
    void put(double d) {
        char buffer[32];
        text_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, d).ptr) += '|';
    }
    template <typename Int>
    void put(Int i) {
        text_ += std::to_string(static_cast<long long>(i)) + '|';
    }
    std::string text_;
};

std::string digest(const ParsedLog& log) {
    Digest d;
    d.add(log.lines, log.unrecognised, log.isLog, log.encoding, log.runs.size());
    for (const std::string& s : log.unrecognisedSamples) d.add(s);
    for (const LoggedRun& r : log.runs) {
        d.add(r.firstLine, r.lastLine, r.mode, r.cycleCount, r.activeSeconds, r.holdSeconds, r.proxUp,
              r.proxSeen, r.firmware, r.dozeCapable, r.bypassOn, r.bypassRestored, r.driverVersion,
              r.modeText, r.refreshHz);
        d.add(r.initStartMs, r.initDoneMs, r.firstDrawMs, r.benchEndMs, r.firstMs, r.lastMs, r.benchEndSeen,
              r.appendedErrors, r.endedEarly, r.endNote, r.end, r.lines, r.unrecognised, r.otherRecognised,
              r.orphanLatencies);
        const RunResult& x = r.result;
        d.add(x.seen, x.frames, x.presentErrors, x.freeRunEvents, x.displayLost, x.presentSeen, x.seconds,
              x.averageFps, x.waitTimeouts);
        for (const Cycle& c : r.cycles)
            d.add(c.number, c.total, c.line, c.startMs, c.downRequestMs, c.downDoneMs, c.displaysOffMs,
                  c.wakeRequestMs, c.displaysOnMs, c.wakeLatencyMs, c.downDoneAfterEnd, c.outcome, c.note);
        for (const Event& e : r.events)
            d.add(e.kind, e.ms, e.timed, e.cycle, e.dstatFrom, e.dstatTo, e.value, e.line, e.text);
        for (const StatusSample& s : r.status)
            d.add(s.ms, s.fps, s.prox, s.distance, s.dstat, s.freeRun, s.line);
        for (const FreeRunPeriod& f : r.freeRuns) d.add(f.startMs, f.endMs, f.line);
        for (const Failure& f : r.failures)
            d.add(f.kind, f.call, f.status, f.sourceLine, f.ms, f.line, f.text);
    }
    return d.text();
}

const char* checkRun(const ParsedLog& log, const LoggedRun& r) {
    FUZZ_REQUIRE(r.firstLine >= 1 && r.firstLine <= r.lastLine && r.lastLine <= log.lines);
    for (const Event& e : r.events) {
        FUZZ_REQUIRE(e.line >= r.firstLine && e.line <= r.lastLine);
        // A time of day, unwrapped across midnight (a line of the day before may follow one
        // printed just after midnight).
        FUZZ_REQUIRE(!e.timed || e.ms >= -86400000);
    }
    for (const Cycle& c : r.cycles) {
        FUZZ_REQUIRE(c.line >= r.firstLine && c.line <= r.lastLine);
        FUZZ_REQUIRE((c.outcome == CycleOutcome::Measured) == (c.wakeLatencyMs >= 0.0));
        FUZZ_REQUIRE(std::isfinite(c.wakeLatencyMs));
    }
    for (const StatusSample& s : r.status) FUZZ_REQUIRE(std::isfinite(s.fps) && s.fps >= 0.0);
    for (const FreeRunPeriod& f : r.freeRuns) FUZZ_REQUIRE(f.endMs == kNoTime || f.endMs >= f.startMs);
    FUZZ_REQUIRE(std::isfinite(r.refreshHz) && std::isfinite(r.activeSeconds) &&
                 std::isfinite(r.holdSeconds));
    FUZZ_REQUIRE(std::isfinite(r.result.seconds) && std::isfinite(r.result.averageFps));
    FUZZ_REQUIRE(r.end != RunEnd::Completed || r.result.seen);
    return nullptr;
}

}  // namespace

// The input is the bytes of a saved log.
const char* checkReportLog(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ParsedLog log = parseLog(bytes);
    FUZZ_REQUIRE(log.unrecognisedSamples.size() == std::min<size_t>(log.unrecognised, 5));
    FUZZ_REQUIRE(log.encoding != "binary" || (!log.isLog && log.runs.empty()));
    for (const LoggedRun& run : log.runs)
        if (const char* broken = checkRun(log, run)) return broken;

    // Read again, the same: with Windows line ends when the text is neither UTF-16 nor has
    // CRs of its own, they read like Unix ones.
    const bool plain = bytes.find_first_of(std::string_view("\r\0", 2)) == std::string_view::npos &&
                       !bytes.starts_with("\xFF\xFE") && !bytes.starts_with("\xFE\xFF");
    std::string again(bytes);
    if (plain) {
        again.clear();
        for (char c : bytes) {
            if (c == '\n') again += '\r';
            again += c;
        }
    }
    FUZZ_REQUIRE(digest(parseLog(again)) == digest(log));
    return nullptr;
}

}  // namespace corva::fuzz
