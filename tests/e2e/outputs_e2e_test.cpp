// tessaray-sim with outputs that go away or hold back: a standard output whose reader quits,
// that is closed, full or stalled; a trace path that is a FIFO or too long to print. The run
// never dies of SIGPIPE or hangs, the headset is restored (ground truth), and what could not
// be written is said once on standard error.
#include "tests/e2e/e2e_checks.h"
#include "tests/e2e/trace_checks.h"

#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace corva::test {
namespace {

using Stdout = SimProcessOptions::Stdout;

enum class TracePath { None, File, FifoWithoutReader, FifoReaderStops, TooLong, FullDisk };

struct OutputCase {
    const char* name;
    std::vector<std::string> args;
    Stdout stdoutTo;
    TracePath trace;
    // What the run's standard error must say, or nothing.
    std::function<void(const SimProcessResult&, const std::string& tracePath, const sim::GroundTruth&)> check;
};

// Standard error's line of this definition, or an empty text.
template <typename... Fields>
std::string errLine(const SimProcessResult& run, const lines::LineFormat<Fields...>& format) {
    std::istringstream in(run.err);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(format.prefix())) return line;
    return {};
}

// A FIFO for the trace; with a reader that opened it and never reads (its pipe shrunk to
// one page, so a writer that kept it would wait within the first second).
struct TraceFifo {
    std::string path;
    int reader = -1;
    TraceFifo(const std::string& at, bool withReader) : path(at) {
        std::remove(path.c_str());
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
        if (!withReader) return;
        reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        fcntl(reader, F_SETPIPE_SZ, 4096);
    }
    ~TraceFifo() {
        if (reader >= 0) close(reader);
        std::remove(path.c_str());
    }
};

void expectTraceRefused(const SimProcessResult& run, std::string_view why) {
    const std::string line = errLine(run, lines::kTraceUnwritable);  // the fields point into it
    std::string_view path, reason;
    EXPECT_TRUE(lines::scan(lines::kTraceUnwritable, line, path, reason)) << run.err;
    EXPECT_EQ(reason, why);
    EXPECT_LE(path.size(), 200u);
}

void expectOutputLost(const SimProcessResult& run, std::string_view why) {
    std::string_view reason;
    unsigned long long lost = 0, total = 0;
    const std::string line = errLine(run, lines::kOutputLost);  // the fields point into it
    ASSERT_TRUE(lines::scan(lines::kOutputLost, line, reason, lost, total)) << run.err;
    EXPECT_EQ(reason, why);
    EXPECT_GT(total, 20u);  // every line of a run
    EXPECT_EQ(lost, total);
    EXPECT_EQ(countOf(run.err, "tessaray: standard output could not be written"), 1u);
    const ReadRun r = readRun(run);  // the report reader knows the line
    ASSERT_FALSE(r.run.failures.empty());
    EXPECT_EQ(r.run.failures.back().kind, report::FailureKind::Other);
}

// The run stopped from its SIGTERM (sent once INIT_DONE is out) well before its 8 s.
void expectStoppedOnTime(const SimProcessResult& run) {
    EXPECT_TRUE(run.interrupted) << run.out << run.err;
    const ReadRun r = readRun(run);
    expectCompleteTeardown(r);
    ASSERT_NE(r.count(EventKind::InitDone), 0u);
    EXPECT_LT(r.ms(EventKind::BenchEnd) - r.ms(EventKind::InitDone), 6000);
}

const OutputCase kCases[] = {
    {"standard output into a reader that quits during a cycle run",
     {"cycle", "2", "0.5", "0.5"},
     Stdout::ReaderQuits,
     TracePath::None,
     [](const SimProcessResult& run, const std::string&, const sim::GroundTruth& truth) {
         EXPECT_EQ(errLine(run, lines::kStdoutReaderGone) + "\n", lines::kStdoutReaderGone.format())
             << run.err;
         EXPECT_EQ(truth.bypassAtExit, 0) << "bypass left on";
         ASSERT_FALSE(truth.bypassCommands.empty());
         EXPECT_EQ(truth.bypassCommands.back().command, '[');
         EXPECT_FALSE(truth.panels.empty());
         EXPECT_EQ(errLine(run, lines::kOutputLost), "");  // the reader's going was said at once
     }},
    {"trace path a FIFO without a reader",
     {"8"},
     Stdout::Read,
     TracePath::FifoWithoutReader,
     [](const SimProcessResult& run, const std::string&, const sim::GroundTruth&) {
         expectTraceRefused(run, platform::kNotARegularFile);
         expectStoppedOnTime(run);
     }},
    {"trace path a FIFO whose reader stops reading",
     {"8"},
     Stdout::Read,
     TracePath::FifoReaderStops,
     [](const SimProcessResult& run, const std::string&, const sim::GroundTruth&) {
         expectTraceRefused(run, platform::kNotARegularFile);
         expectStoppedOnTime(run);
     }},
    {"trace path too long to print whole",
     {"1"},
     Stdout::Read,
     TracePath::TooLong,
     [](const SimProcessResult& run, const std::string&, const sim::GroundTruth&) {
         expectTraceRefused(run, std::strerror(ENAMETOOLONG));
     }},
    {"standard output closed, with a trace",
     {"2"},
     Stdout::Closed,
     TracePath::File,
     [](const SimProcessResult& run, const std::string& tracePath, const sim::GroundTruth& truth) {
         expectOutputLost(run, lines::kClosedAtStart);
         const trace::TraceFile trace = readTrace(tracePath);
         EXPECT_TRUE(trace.ended);
         EXPECT_EQ(trace.badLines, 0u);
         EXPECT_EQ(trace.frames.size(), truth.presents.size());
         std::ifstream in(tracePath, std::ios::binary);
         const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
         EXPECT_EQ(countOf(bytes, "PRESENT RESULT"), 0u) << "console lines inside the trace";
         EXPECT_EQ(countOf(bytes, std::string(lines::kMcuTelemetry.prefix())), 0u)
             << "console lines inside the trace";
     }},
    {"trace file on a full disk",
     {"2"},
     Stdout::Read,
     TracePath::FullDisk,
     [](const SimProcessResult& run, const std::string& tracePath, const sim::GroundTruth&) {
         expectTraceRefused(run, std::strerror(EFBIG));
         EXPECT_FALSE(readTrace(tracePath).ended);
         SimProcessOptions report;  // the report reads it, and says it is incomplete
         report.program = TESSARAY_REPORT_EXE;
         report.args = {"--frames-csv", "/dev/null", tracePath};
         const SimProcessResult read = runSim(report);
         EXPECT_EQ(read.exitCode, 0) << read.err;
         EXPECT_NE(read.err.find("incomplete"), std::string::npos) << read.err;
     }},
    {"standard output on a full device",
     {"1"},
     Stdout::Full,
     TracePath::None,
     [](const SimProcessResult& run, const std::string&, const sim::GroundTruth&) {
         expectOutputLost(run, std::strerror(ENOSPC));
     }},
};

void PrintTo(const OutputCase& c, std::ostream* os) {
    *os << c.name;
}

class OutputsE2e : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputsE2e, NeitherDiesNorHangsAndSaysWhatWasLost) {
    const OutputCase& c = GetParam();
    const std::string truthPath = tempFile("outputs-truth.txt");
    std::string tracePath = tempFile("outputs.trace");
    if (c.trace == TracePath::TooLong) tracePath = ::testing::TempDir() + std::string(5000, 't') + ".trace";
    std::unique_ptr<TraceFifo> fifo;
    if (c.trace == TracePath::FifoWithoutReader || c.trace == TracePath::FifoReaderStops)
        fifo = std::make_unique<TraceFifo>(tracePath, c.trace == TracePath::FifoReaderStops);
    // A full disk takes the ground truth too.
    SimProcessOptions options = simOptions(c.args, "", c.trace == TracePath::FullDisk ? "" : truthPath);
    options.stdoutTo = c.stdoutTo;
    options.fileSizeLimit = c.trace == TracePath::FullDisk ? 4096 : 0;
    options.readerQuitsAfter = "CYCLE 1/2\n";
    if (c.trace != TracePath::None) options.environment.push_back("TESSARAY_TRACE_FILE=" + tracePath);
    if (fifo) {
        options.interruptAfter = "INIT_DONE";
        options.interruptDelaySeconds = 2.0;  // frames enough to fill a FIFO that is kept
        options.interruptSignal = SIGTERM;
    }
    options.timeoutSeconds = 40;
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.signal, 0) << "died of a signal";
    EXPECT_EQ(run.exitCode, 0) << run.err;
    c.check(run, tracePath, options.truthFile.empty() ? sim::GroundTruth{} : takeTruth(truthPath));
    if (c.trace == TracePath::File || c.trace == TracePath::FullDisk) std::remove(tracePath.c_str());
}

// A trace at the file standard error (or output) writes to (`2> x.log`, the trace at
// /dev/stderr) is refused before it is truncated: what was written there stays.
TEST(OutputFile, TheFileOfStandardErrorIsNoTrace) {
    testing::internal::CaptureStderr();
    std::fputs("the log so far\n", stderr);
    std::string error;
    std::FILE* trace = platform::openRegularFileForWriting("/dev/stderr", error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "the log so far\n");
    EXPECT_EQ(trace, nullptr);
    EXPECT_EQ(error, platform::kSameAsStandardStream);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputsE2e, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OutputCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p != '\0'; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                             return name;
                         });

// A console that takes no output for the whole run: the present loop never waits for it (its
// presents keep their pace, all counted), and every line the run is judged by arrives, in
// order, once the console takes output again.
TEST(OutputsE2eStalled, AConsoleStalledForTheWholeRunKeepsTheJudgedLinesAndTheFrames) {
    const std::string truthPath = tempFile("stalled-truth.txt");
    SimProcessOptions options = simOptions({"cycle", "1", "0.5", "0.5"}, "", truthPath);
    options.stdoutTo = Stdout::Stalled;
    options.stalledSeconds = 12;
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GE(run.seconds, options.stalledSeconds) << "the console was not stalled to the end";
    const ReadRun r = readRun(run);
    expectCompleteTeardown(r);
    EXPECT_TRUE(eventsInOrder(
        r, {EventKind::InitDone, EventKind::FirstDraw, EventKind::CycleStart, EventKind::ParkRequest,
            EventKind::WakeRequest, EventKind::WakeLatency, EventKind::BenchEnd, EventKind::Result}));
    const sim::GroundTruth truth = takeTruth(truthPath);
    EXPECT_EQ(r.run.result.frames, truth.presents.size());
    // Parked, the loop presents nothing for the hold; a loop held by the console would stop
    // for the seconds the stall lasts.
    int64_t longest = 0;
    for (size_t i = 1; i < truth.presents.size(); ++i)
        longest = std::max(longest, truth.presents[i].timeNs - truth.presents[i - 1].timeNs);
    EXPECT_LT(longest, 2000000000) << "the present loop waited for the console";
}

}  // namespace
}  // namespace corva::test
