// Adding parsed runs to the history, and taking in another history's runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/history_store.h"
#include "report/log_model.h"
#include "report/metrics.h"

namespace corva::report {

// The cycle figures the history keeps: a column each, named as in the CSV (the
// displays-on interval's width is its bounds' difference, so it is left out).
std::vector<MetricInfo> historyMetrics();

// Identifies a run by its lines (decoded, without line ends): the same run is one key
// whatever file, folder, encoding or line ends it came in.
std::vector<std::string> runContentKeys(std::string_view logBytes, const ParsedLog& log);

struct ImportSource {
    std::string machine;    // kept with each run it adds
    std::string date;       // "YYYY-MM-DD" the log's runs were made (empty: unknown)
    std::string tracePath;  // the trace of one of the log's runs ...
    size_t traceRun = 0;    // ... its index in the log, from 1 (0: none)
    std::string version;    // of the importing program
    // Called once a run's own row is written, before its cycles: a test stops the process
    // there to show that a run is added whole or not at all.
    void (*midRun)() = nullptr;
};

struct ImportCount {
    size_t added = 0;
    size_t known = 0;  // already in the history: left as they were
};

// Adds the runs of the log that the history does not hold yet, each in a transaction of
// its own.
// keys: runContentKeys of the log.
HistoryStatus importLog(History& history, const ParsedLog& log, const std::vector<std::string>& keys,
                        const ImportSource& source, ImportCount& count);

// Takes in the runs of the history at `otherPath` that this one does not hold (by content),
// in one transaction; the other file is only read.
HistoryStatus mergeHistory(History& history, const std::string& otherPath, ImportCount& count,
                           std::string& error);

// "551.23 (r550_00)" as the log prints it: the version and the branch.
void splitDriverText(const std::string& text, std::string& version, std::string& branch);

// This computer's name, for runs imported without one.
std::string thisMachineName();

}  // namespace corva::report
