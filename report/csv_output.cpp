#include "report/csv_output.h"

#include <cstdio>
#include <utility>

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

// One row, its cells set by their field's name: the order is the names' (output_schema.h).
template <typename Field, size_t N>
class Row {
  public:
    explicit Row(const std::array<const char*, N>&) {}
    // Taken by value and moved in: assigning a literal into a cell trips GCC 12's -Wrestrict.
    void set(Field field, std::string text) { cells_[static_cast<size_t>(field)] = std::move(text); }
    std::string text() const {
        std::string out;
        for (size_t i = 0; i < N; ++i) (out += i == 0 ? "" : ",") += cells_[i];
        return out + "\n";
    }

  private:
    std::array<std::string, N> cells_;
};

}  // namespace

// A text cell that a spreadsheet would run as a formula (= + - @ first, or a tab or CR before
// one) gets a ' before it, as spreadsheet guidance recommends; numbers never come here.
std::string csvField(std::string_view field) {
    const bool formula =
        !field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos;
    std::string text(formula ? 1 : 0, '\'');
    text += field;
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
                using F = CycleField;
                Row<F, kCycleFieldNames.size()> row(kCycleFieldNames);
                row.set(F::Source, csvField(run.source));
                row.set(F::Run, std::to_string(runIndex));
                row.set(F::Mode, modeName(run.mode));
                row.set(F::Cycle, std::to_string(c.number));
                row.set(F::Cycles, std::to_string(c.total));
                row.set(F::Outcome, outcomeName(c.outcome));
                row.set(F::CycleLine, std::to_string(c.line));
                row.set(F::DownRequestTime, clock(c.downRequestMs));
                row.set(F::DownDoneTime, clock(c.downDoneMs));
                row.set(F::DisplaysOffTime, clock(c.displaysOffMs));
                row.set(F::WakeRequestTime, clock(c.wakeRequestMs));
                row.set(F::DisplaysOnTime, clock(c.displaysOnMs));
                for (const MetricInfo& m : kMetrics)
                    row.set(m.field, optionalNumber(cycleMetric(run, c, m.metric)));
                if (c.phases.seen && c.phases.interval) {
                    row.set(F::DisplaysOnLoMs, number(c.phases.onLoMs));
                    row.set(F::DisplaysOnHiMs, number(c.phases.onHiMs));
                }
                row.set(F::Note, csvField(c.note));
                out += row.text();
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
            using F = EventField;
            auto rowOf = [&](size_t line, int64_t ms) {
                Row<F, kEventFieldNames.size()> row(kEventFieldNames);
                row.set(F::Source, csvField(run.source));
                row.set(F::Run, std::to_string(runIndex));
                row.set(F::Line, std::to_string(line));
                row.set(F::Time, clock(ms));
                row.set(F::MsSinceStart, sinceStart(run, ms));
                return row;
            };
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
                auto row = rowOf(st.line, st.ms);
                row.set(F::Timed, "1");
                row.set(F::Event, "STATUS");
                row.set(F::Value, number(st.fps));
                row.set(F::DstatTo, hex4(st.dstat));
                row.set(F::Detail, detail);
                out += row.text();
            };
            for (const Event& e : run.events) {
                while (s < run.status.size() && run.status[s].line < e.line) statusRow(run.status[s++]);
                auto row = rowOf(e.line, e.ms);
                row.set(F::Timed, e.timed ? "1" : "0");
                if (e.cycle > 0) row.set(F::Cycle, std::to_string(e.cycle));
                row.set(F::Event, eventName(e.kind));
                if (e.kind == EventKind::WakeLatency) row.set(F::Value, number(e.value));
                if (e.kind == EventKind::WakePhases && e.value >= 0.0) row.set(F::Value, number(e.value));
                if (e.kind == EventKind::DstatChange) {
                    row.set(F::DstatFrom, hex4(e.dstatFrom));
                    row.set(F::DstatTo, hex4(e.dstatTo));
                }
                std::string detail = e.text;
                if (e.kind == EventKind::Failure) {
                    const Failure& f = run.failures[static_cast<size_t>(e.value)];
                    detail = std::string(failureKindName(f.kind)) + ": " + f.text;
                }
                row.set(F::Detail, csvField(detail));
                out += row.text();
            }
            while (s < run.status.size()) statusRow(run.status[s++]);
        }
    }
    return out;
}

}  // namespace corva::report
