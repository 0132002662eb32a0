#include "report/report_options.h"

#include "tessaray_version.h"

#include <CLI/CLI.hpp>

namespace corva::report {

int parseReportOptions(int argc, char** argv, ReportOptions& options) {
    CLI::App app{
        "tessaray-report: summaries, CSV, JSON, plots and A/B comparisons from saved tessaray logs.\n"
        "A log is the program's standard output, with or without standard error mixed in."};
    app.add_option("logs", options.logs, "log files, folders (their *.log files), or - for standard input");
    app.add_option("--csv", options.csv, "write one row per benchmark cycle to FILE")->type_name("FILE");
    app.add_flag("--events", options.events, "with --csv: one row per event and status line instead");
    app.add_option("--json", options.json, "write everything reconstructed to FILE as JSON")
        ->type_name("FILE");
    app.add_option("--svg", options.svg, "draw a run's timeline and the latency distribution to FILE")
        ->type_name("FILE");
    app.add_option("--html", options.html,
                   "write one self-contained HTML page (summaries, charts, with --trace a zoomable frame "
                   "timeline) to FILE")
        ->type_name("FILE");
    app.add_option("--run", options.run, "the run the plot and the page show (from 1 over all logs)")
        ->check(CLI::Validator(
            [](const std::string& value) {
                return value.find_first_not_of("0123456789") == std::string::npos &&
                               value.find_first_not_of('0') != std::string::npos
                           ? std::string()
                           : std::string(kRunsCountFromOne) + " (" + value + " is not a run)";
            },
            "RUN"));
    auto* a = app.add_option("--compare", options.compareA, "A/B comparison: the logs of set A ...")
                  ->expected(1, -1)
                  ->type_name("A...");
    auto* b = app.add_option("--with", options.compareB, "... and the logs of set B")
                  ->expected(1, -1)
                  ->type_name("B...");
    a->needs(b);
    b->needs(a);
    app.add_flag("-q,--quiet", options.quiet,
                 "no summary on standard output (nor the history's count of runs added)");
    app.add_option(
           "--trace", options.trace,
           "a trace of the same run (TESSARAY_TRACE_FILE): checked against the logs, plotted with --svg")
        ->type_name("TRACE");
    app.add_option("--trace-json", options.traceJson, "write TRACE as Chrome trace-event JSON to OUT")
        ->expected(2)
        ->type_name("OUT TRACE");
    app.add_option("--frames-csv", options.framesCsv, "write one row per frame of TRACE to OUT")
        ->expected(2)
        ->type_name("OUT TRACE");
    auto* history =
        app.add_option("--history", options.history,
                       "add the logs' runs to the run history FILE (SQLite; made when missing); a run "
                       "already there is left as it is")
            ->type_name("FILE");
    app.add_option("--machine", options.machine,
                   "with --history: the machine the runs were made on "
                   "(default: this computer's name)")
        ->type_name("NAME")
        ->needs(history);
    app.add_option("--merge", options.merge, "with --history: take in the runs of other histories")
        ->expected(1, -1)
        ->type_name("OTHER...")
        ->needs(history);
    auto* trend =
        app.add_flag("--trend", options.trend,
                     "with --history: each driver and mode's median wake figures run after run (with logs: "
                     "only theirs)")
            ->needs(history);
    app.add_option("--last", options.last, "with --trend: the last N runs of each (0: all; default 20)")
        ->type_name("N")
        ->needs(trend);
    auto* regressions =
        app.add_flag("--regressions", options.regressions,
                     "with --history: compare each driver and mode's newest runs with the runs before them")
            ->needs(history);
    app.add_option("--newest", options.newest,
                   "with --regressions: how many newest runs are judged (default 1)")
        ->type_name("N")
        ->check(CLI::PositiveNumber)
        ->needs(regressions);
    app.add_option("--threshold", options.thresholdMs,
                   "with --regressions: a median worse by less than MS is no regression (default 5)")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->needs(regressions);
    app.set_version_flag("--version", "tessaray-report " TESSARAY_VERSION_STRING);
    app.footer(
        "Exit codes: 0 done; 1 bad command line, or an output that is one of the inputs; 2 an input was\n"
        "unreadable or not a tessaray log (or trace), or a trace disagrees with its log, or the history is\n"
        "not one, damaged, locked too long or newer; 3 an output file or standard output could not be\n"
        "written (a FIFO without a reader among them); 4 --regressions found a regression\n"
        "Examples:\n"
        "  tessaray-report results/*/tessaray.log --svg plot.svg\n"
        "  tessaray-report run/tessaray.log --trace run/trace.txt --html report.html\n"
        "  tessaray-report --compare old/*.log --with new/*.log\n"
        "  tessaray-report results/*/tessaray.log --history history.sqlite --machine lab-2\n"
        "  tessaray-report --history history.sqlite --trend --regressions --threshold 10");
    // The library reports command-line errors by exception; they stop here.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 1;
    }
    const bool historyOnly =
        !options.history.empty() && (!options.merge.empty() || options.trend || options.regressions);
    if (options.logs.empty() && options.compareA.empty() && options.traceJson.empty() &&
        options.framesCsv.empty() && !historyOnly) {
        std::fprintf(stderr, "tessaray-report: no log given (a file, a folder, or - for standard input)\n%s",
                     app.help().c_str());
        return 1;
    }
    return -1;
}

}  // namespace corva::report
