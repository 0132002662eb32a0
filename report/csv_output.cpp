#include "report/csv_output.h"

#include <cstdio>

#include "report/log_parser.h"
#include "report/log_text.h"
#include "report/metrics.h"
#include "report/output_schema.h"

namespace corva::report {
namespace {

std::string clock(int64_t ms) {
    return ms == kNoTime ? std::string() : formatClock(ms);
}

std::string number(double value, const char* format = "%.1f") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string optionalNumber(const std::optional<double>& value) {
    return value ? number(*value) : std::string();
}

std::string sinceStart(const LoggedRun& run, int64_t ms) {
    return ms == kNoTime || run.firstMs == kNoTime ? std::string() : std::to_string(ms - run.firstMs);
}

std::string hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

template <size_t N>
std::string header(const std::array<const char*, N>& names) {
    std::string out;
    for (const char* name : names) (out += out.empty() ? "" : ",") += name;
    return out + "\n";
}

}  // namespace

// A text cell that a spreadsheet would run as a formula (= + - @ first, or a tab or CR before
// one) starts with ' instead, as spreadsheet guidance recommends; numbers never come here.
std::string csvField(std::string_view field) {
    const bool formula =
        !field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos;
    const std::string text = (formula ? "'" : "") + std::string(field);
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string cyclesCsv(const std::vector<ParsedLog>& logs) {
    std::string out = header(kCycleFieldNames);
    for (const ParsedLog& log : logs) {
        size_t runIndex = 0;
        for (const LoggedRun& run : log.runs) {
            ++runIndex;
            for (const Cycle& c : run.cycles) {
                out += csvField(run.source) + "," + std::to_string(runIndex) + "," + modeName(run.mode) +
                       "," + std::to_string(c.number) + "," + std::to_string(c.total) + "," +
                       outcomeName(c.outcome) + "," + std::to_string(c.line) + "," + clock(c.downRequestMs) +
                       "," + clock(c.downDoneMs) + "," + clock(c.displaysOffMs) + "," +
                       clock(c.wakeRequestMs) + "," + clock(c.displaysOnMs);
                for (const MetricInfo& m : kMetrics) {
                    out += ',';
                    out += optionalNumber(cycleMetric(run, c, m.metric));
                }
                const bool interval = c.phases.seen && c.phases.interval;
                out += ',' + (interval ? number(c.phases.onLoMs) : std::string());
                out += ',' + (interval ? number(c.phases.onHiMs) : std::string());
                out += ',';
                out += csvField(c.note);
                out += '\n';
            }
        }
    }
    return out;
}

std::string eventsCsv(const std::vector<ParsedLog>& logs) {
    std::string out = header(kEventFieldNames);
    for (const ParsedLog& log : logs) {
        size_t runIndex = 0;
        for (const LoggedRun& run : log.runs) {
            ++runIndex;
            const std::string prefix = csvField(run.source) + "," + std::to_string(runIndex) + ",";
            // Events and status lines, merged in log order.
            size_t s = 0;
            auto statusRow = [&](const StatusSample& st) {
                std::string detail = st.prox == ProxState::Worn   ? "worn"
                                     : st.prox == ProxState::Away ? "away"
                                                                  : "n/a";
                detail += '(';
                detail += std::to_string(st.distance);
                detail += ')';
                if (st.freeRun) detail += " free-run";
                out += prefix + std::to_string(st.line) + "," + clock(st.ms) + "," + sinceStart(run, st.ms) +
                       ",1,,STATUS," + number(st.fps) + ",," + hex4(st.dstat) + "," + detail + "\n";
            };
            for (const Event& e : run.events) {
                while (s < run.status.size() && run.status[s].line < e.line) statusRow(run.status[s++]);
                std::string value;
                std::string detail;
                std::string from;
                std::string to;
                if (e.kind == EventKind::WakeLatency) value = number(e.value);
                if (e.kind == EventKind::WakePhases && e.value >= 0.0) value = number(e.value);
                if (e.kind == EventKind::DstatChange) {
                    from = hex4(e.dstatFrom);
                    to = hex4(e.dstatTo);
                }
                if (!e.text.empty()) detail = e.text;
                if (e.kind == EventKind::Failure) {
                    const Failure& f = run.failures[static_cast<size_t>(e.value)];
                    detail = std::string(failureKindName(f.kind)) + ": " + f.text;
                }
                out += prefix + std::to_string(e.line) + "," + clock(e.ms) + "," + sinceStart(run, e.ms) +
                       "," + (e.timed ? "1" : "0") + "," + (e.cycle > 0 ? std::to_string(e.cycle) : "") +
                       "," + eventName(e.kind) + "," + value + "," + from + "," + to + "," +
                       csvField(detail) + "\n";
            }
            while (s < run.status.size()) statusRow(run.status[s++]);
        }
    }
    return out;
}

}  // namespace corva::report
