// tessaray-report: reads saved logs of tessaray or tessaray-sim and summarises them.
#include <algorithm>
#include <cstdio>

#include "report/console.h"
#include "report/csv_output.h"
#include "report/history_command.h"
#include "report/history_import.h"
#include "report/html_report.h"
#include "report/json_output.h"
#include "report/log_files.h"
#include "report/output_files.h"
#include "report/report_options.h"
#include "report/summary_text.h"
#include "report/svg_plot.h"
#include "report/trace_outputs.h"

namespace {

using namespace corva::report;
using corva::trace::readTraceFile;
using corva::trace::TraceFile;
using corva::trace::TraceRead;

bool writeFile(const std::string& path, const std::string& text, const char* what) {
    std::string reason;
    if (writeOutputFile(path, text, reason) == OutputWrite::Written) return true;
    complain("cannot write the %s to %s: %s", what, path.c_str(), reason.c_str());
    return false;
}

// An output that names one of the inputs would destroy it: refused before anything is read
// or written.
bool outputIsAnInput(const ReportOptions& o) {
    std::vector<std::string> inputs = logFilesOf(o.logs);
    for (const auto* set : {&o.compareA, &o.compareB}) {
        const std::vector<std::string> files = logFilesOf(*set);
        inputs.insert(inputs.end(), files.begin(), files.end());
    }
    if (!o.trace.empty()) inputs.push_back(o.trace);
    std::vector<std::string> outputs = {o.csv, o.json, o.svg, o.html};
    for (const auto* pair : {&o.traceJson, &o.framesCsv})
        if (pair->size() == 2) {
            outputs.push_back((*pair)[0]);
            inputs.push_back((*pair)[1]);
        }
    for (const std::string& output : outputs)
        for (const std::string& input : inputs)
            if (!output.empty() && sameFile(output, input)) {
                complain("%s: this output is the input %s: it would be overwritten; give another file",
                         output.c_str(), input.c_str());
                return true;
            }
    return false;
}

bool loadTrace(const std::string& path, TraceFile& trace) {
    std::string error;
    if (readTraceFile(path, trace, error) == TraceRead::Ok) {
        if (trace.badLines > 0)
            complain(
                "%s: skipped %zu lines that are not trace records or hold a value out of range (the "
                "first: line %zu)",
                path.c_str(), trace.badLines, trace.firstBadLine);
        // Read all the same: what it holds is right, only its end is missing.
        if (!trace.ended)
            std::fprintf(stderr,
                         "tessaray-report: %s: incomplete: the trace has no end record (the program was "
                         "killed, or could not write the rest)\n",
                         path.c_str());
        return true;
    }
    complain("%s: %s", path.c_str(), error.c_str());
    return false;
}

// --trace-json OUT TRACE and --frames-csv OUT TRACE: 0 done, 2 not a trace, 3 not written.
int convertTrace(const std::vector<std::string>& outAndTrace, bool json) {
    if (outAndTrace.size() != 2) return 0;
    TraceFile trace;
    if (!loadTrace(outAndTrace[1], trace)) return 2;
    const std::string text = json ? traceEventJson(trace) : framesCsv(trace);
    return writeFile(outAndTrace[0], text, json ? "trace JSON" : "frames CSV") ? 0 : 3;
}

// Says whether the trace and the run of the logs it was recorded with agree.
bool checkTraceAgainstLogs(const TraceFile& trace, const TraceMatch& match) {
    if (match.run != nullptr && match.disagreements.empty()) {
        sayFormat("trace %s: agrees with run %zu of %s (%zu frames, %zu markers)\n", trace.source.c_str(),
                  match.runNumber, match.run->source.c_str(), trace.frames.size(), match.markers);
        return true;
    }
    for (const std::string& problem : match.disagreements)
        complain("trace %s and its log disagree: %s", trace.source.c_str(), problem.c_str());
    return false;
}

// --html: 0 written, 2 refused (no chart library, or the trace is of another run), 3 not written.
int writeHtml(const ReportOptions& options, const std::vector<ParsedLog>& logs, const TraceFile* trace,
              const TraceMatch& match, const std::vector<ParsedLog>* setA,
              const std::vector<ParsedLog>* setB) {
    const HtmlAssets* assets = htmlAssets();
    if (assets == nullptr) {
        complain(
            "--html is not available: this tessaray-report was built without its chart library "
            "(configured without npm and node, or with TESSARAY_HTML_REPORT=OFF)");
        return 2;
    }
    if (allRuns(logs).empty()) {
        complain("--html: the logs hold no run of the program to show");
        return 2;
    }
    HtmlInput input;
    input.logs = &logs;
    input.run = options.run > 0 ? options.run : match.runNumber;
    if (input.run == 0) {
        const LoggedRun* run = timelineRun(logs, 0);
        const std::vector<const LoggedRun*> runs = allRuns(logs);
        input.run = static_cast<size_t>(std::find(runs.begin(), runs.end(), run) - runs.begin()) + 1;
    }
    if (trace != nullptr) {
        // The no-match case was said by the trace check already.
        if (match.run == nullptr) return 2;
        if (match.runNumber != input.run) {
            complain("--html: the trace %s is of run %zu, not of run %zu", trace->source.c_str(),
                     match.runNumber, input.run);
            return 2;
        }
    }
    input.trace = trace;
    input.compareA = setA;
    input.compareB = setB;
    input.date = runDate(trace, allRuns(logs)[input.run - 1]->source);
    if (!writeFile(options.html, htmlReport(input, *assets), "page")) return 3;
    sayFormat("page: %s\n", options.html.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ReportOptions options;
    if (const int code = parseReportOptions(argc, argv, options); code >= 0) return code;
    if (outputIsAnInput(options)) return 1;

    int traceCode = std::max(convertTrace(options.traceJson, true), convertTrace(options.framesCsv, false));
    const bool withHistory = !options.history.empty();
    if (options.logs.empty() && options.compareA.empty()) {
        if (withHistory && traceCode == 0) return historyCommand(options, {}, {}, nullptr, TraceMatch{});
        return traceCode;
    }
    TraceFile trace;
    const bool haveTrace = !options.trace.empty() && loadTrace(options.trace, trace);
    if (!options.trace.empty() && !haveTrace) traceCode = std::max(traceCode, 2);

    std::vector<ParsedLog> logs;
    // The history keys each run by its lines, read while the log's bytes are at hand.
    std::vector<std::vector<std::string>> keys;
    bool inputsGood = loadLogs(options.logs, logs, [&](const ParsedLog& log, std::string_view bytes) {
        if (withHistory) keys.push_back(runContentKeys(bytes, log));
    });
    const bool comparing = !options.compareA.empty();
    std::vector<ParsedLog> setA;
    std::vector<ParsedLog> setB;
    if (comparing) {
        inputsGood = loadLogs(options.compareA, setA) && inputsGood;
        inputsGood = loadLogs(options.compareB, setB) && inputsGood;
        for (auto* set : {&setA, &setB})
            for (const ParsedLog& log : *set) logs.push_back(log);
    }
    if (logs.empty()) {
        // A refused input has said why already: one message per fault.
        if (inputsGood) complain("no log to report on");
        return 2;
    }

    if (!options.quiet) say(summaryText(logs));
    const TraceMatch match = haveTrace ? matchTraceToLogs(trace, logs) : TraceMatch{};
    if (haveTrace && !checkTraceAgainstLogs(trace, match)) traceCode = std::max(traceCode, 2);
    if (comparing) {
        if (setA.empty() || setB.empty()) {
            complain("--compare needs at least one log on each side");
            return 2;
        }
        say("\n");
        say(comparisonText(setA, setB));
    }

    const bool runMissing = options.run > 0 && timelineRun(logs, options.run) == nullptr;
    if (runMissing && (!options.svg.empty() || !options.html.empty())) {
        complain("--run %zu: there is no such run", options.run);
        return 1;
    }
    bool written = true;
    if (!options.csv.empty()) {
        written =
            writeFile(options.csv, options.events ? eventsCsv(logs) : cyclesCsv(logs), "CSV") && written;
    }
    if (!options.json.empty()) written = writeFile(options.json, reportJson(logs), "JSON") && written;
    if (!options.svg.empty()) {
        if (writeFile(options.svg, svgReport(logs, options.run, haveTrace ? &trace : nullptr), "plot")) {
            sayFormat("plot: %s\n", options.svg.c_str());
        } else {
            written = false;
        }
    }
    if (!options.html.empty()) {
        const int code = writeHtml(options, logs, haveTrace ? &trace : nullptr, match,
                                   comparing ? &setA : nullptr, comparing ? &setB : nullptr);
        if (code == 2) traceCode = 2;
        if (code == 3) written = false;
    }
    const int historyCode =
        withHistory ? historyCommand(options, logs, keys, haveTrace ? &trace : nullptr, match) : 0;
    written = standardOutputWritten() && written;
    if (!inputsGood || traceCode == 2 || historyCode == 2) return 2;
    if (!written || traceCode == 3) return 3;
    return historyCode;
}
