// tessaray-report: reads saved logs of tessaray or tessaray-sim and summarises them.
#include <cstdio>
#include <fstream>

#include "report/csv_output.h"
#include "report/json_output.h"
#include "report/log_files.h"
#include "report/report_options.h"
#include "report/summary_text.h"
#include "report/svg_plot.h"

namespace {

using namespace corva::report;

bool writeFile(const std::string& path, const std::string& text, const char* what) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "tessaray-report: cannot write the %s to %s\n", what, path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ReportOptions options;
    if (const int code = parseReportOptions(argc, argv, options); code >= 0) return code;

    std::vector<ParsedLog> logs;
    bool inputsGood = loadLogs(options.logs, logs);
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
        std::fprintf(stderr, "tessaray-report: no log to report on\n");
        return 2;
    }

    if (!options.quiet) std::fputs(summaryText(logs).c_str(), stdout);
    if (comparing) {
        if (setA.empty() || setB.empty()) {
            std::fprintf(stderr, "tessaray-report: --compare needs at least one log on each side\n");
            return 2;
        }
        std::printf("\n%s", comparisonText(setA, setB).c_str());
    }

    bool written = true;
    if (!options.csv.empty()) {
        written =
            writeFile(options.csv, options.events ? eventsCsv(logs) : cyclesCsv(logs), "CSV") && written;
    }
    if (!options.json.empty()) written = writeFile(options.json, reportJson(logs), "JSON") && written;
    if (!options.svg.empty()) {
        if (options.run > 0 && timelineRun(logs, options.run) == nullptr) {
            std::fprintf(stderr, "tessaray-report: --run %zu: there is no such run\n", options.run);
            return 1;
        }
        if (writeFile(options.svg, svgReport(logs, options.run), "plot")) {
            std::printf("plot: %s\n", options.svg.c_str());
        } else {
            written = false;
        }
    }
    if (!inputsGood) return 2;
    return written ? 0 : 3;
}
