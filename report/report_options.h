// The report's command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace corva::report {

struct ReportOptions {
    std::vector<std::string> logs;      // files, folders (every *.log in them) or "-" for standard input
    std::vector<std::string> compareA;  // --compare A... --with B...
    std::vector<std::string> compareB;
    std::string csv;
    bool events = false;
    std::string json;
    std::string svg;
    std::string html;  // one self-contained page: summaries, charts, the trace's timeline
    size_t run = 0;    // the run the plot's timeline and the page's cycles show, counted from 1 over all logs
    bool quiet = false;
    // A frame-level trace: checked against the logs' run it was recorded with, and plotted.
    std::string trace;
    std::vector<std::string> traceJson;  // OUT TRACE
    std::vector<std::string> framesCsv;  // OUT TRACE
    // The run history (SQLite): the logs' runs are added to it.
    std::string history;
    std::string machine;             // the runs' machine name (default: this computer's)
    std::vector<std::string> merge;  // other histories whose runs are taken in
    bool trend = false;              // the trend table, of the logs' driver and mode when logs are given
    size_t last = 20;                // runs per series in the trend table (0: all)
    bool regressions = false;
    size_t newest = 1;  // runs judged against the ones before them
    double thresholdMs = 5.0;
    int busyTimeoutMs = 10000;  // how long a history locked by another import is waited for
};

// tessaray-report's exit code when --regressions found one.
constexpr int kExitRegression = 4;

// What --run says of a value below 1.
inline constexpr const char* kRunsCountFromOne = "runs count from 1";

// -1 to go on; otherwise the exit code to return at once (0 after --help).
int parseReportOptions(int argc, char** argv, ReportOptions& options);

}  // namespace corva::report
