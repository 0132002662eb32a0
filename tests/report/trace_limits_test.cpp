// tessaray-report on traces with values no run writes: a time beyond the steady clock's
// range, a frame index beyond 64 bits, offsets that overflow, console lines inside a trace,
// a span of a century. Each is refused or skipped and counted, in bounded time and memory.
#include "tests/support/sample_lines.h"
#include "trace/trace_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corva::test {
namespace {

// Sanitized builds run several times slower: the bound is about staying bounded, not speed.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kCpuSecondsBound = 5.0;
constexpr rlim_t kAddressSpaceBytes = RLIM_INFINITY;  // the sanitizers' shadow needs more
#else
constexpr double kCpuSecondsBound = 1.0;
constexpr rlim_t kAddressSpaceBytes = rlim_t(2000000) * 1024;  // what `ulimit -v 2000000` allows
#endif

namespace fs = std::filesystem;

struct Usage {
    int exitCode = -1;
    double cpuSeconds = 0;
    long maxRssKb = 0;
};

// Runs tessaray-report with these arguments (output thrown away) and measures it.
Usage runReportMeasured(const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(TESSARAY_REPORT_EXE)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const rlimit addressSpace{kAddressSpaceBytes, kAddressSpaceBytes};
        setrlimit(RLIMIT_AS, &addressSpace);
        alarm(10);  // a hang ends as a signal, not as a stuck test
        execv(argv[0], argv.data());
        _exit(127);
    }
    Usage usage;
    int status = 0;
    rusage used{};
    if (child < 0 || wait4(child, &status, 0, &used) != child) return usage;
    usage.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usage.cpuSeconds = double(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                       double(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
    usage.maxRssKb = used.ru_maxrss;
    return usage;
}

// Every case begins with a good frame (line 3); its records follow from line 4.
constexpr const char* kFrame = "F 0 1000000000 -5 10 20 30 s - - 0 0\n";
const std::string kHead = std::string("tessaray-trace 1\nC 1000000000 10:00:00.000 1700000000000\n") + kFrame;

TEST(TraceLimits, ValuesBeyondTheirRangeAreSkippedAndCountedInBoundedTimeAndMemory) {
    const struct {
        const char* what;
        std::string records;  // after the first frame
        size_t frames;        // read, the first one included
        size_t skipped;       // lines skipped; the first of them is line 4
    } cases[] = {
        {"a frame at 9e18 ns", "F 1 9000000000000000000 0 0 0 - n - - 0 0\n", 1, 1},
        {"a frame index of 10^26", "F 100000000000000000000000000 1000 0 0 0 - n - - 0 0\n", 1, 1},
        {"an offset past the clock's range", "F 1 4000000000000000000 0 0 5300000000000000000 - n - - 0 0\n",
         1, 1},
        {"an offset before the clock's start", "F 1 1000 -2000 0 0 - n - - 0 0\n", 1, 1},
        {"a marker at -1 ns", "M -1 10:00:00.000 INIT_START\n", 1, 1},
        {"a negative lead", "F 1 1000 0 0 0 - n - -3 0 0\n", 1, 1},
        {"a status beyond 32 bits", "X 1000 1 4294967296\n", 1, 1},
        {"console lines inside a trace",
         printed(lines::kBypass, lines::kBypassOn) + std::string(kFrame) + "INIT_START\n", 2, 2},
        // Within range, a century apart: the frames-per-second counters follow the frames.
        {"frames a century apart", "F 1 3200000000000000000 0 0 0 - n - - 0 0\n", 2, 0},
        // The page's missed vertical blanks follow the frames, not the time between them.
        {"a last frame 4e18 ns after the one before",
         "F 1 3000000000 0 0 0 10 s - - 0 0\nF 2 4000000000000000000 0 0 0 10 s - - 0 0\n", 3, 0},
        {"a marker named with bytes that are not UTF-8", "M 1500000000 10:00:00.000 \xFF\xFE<!--\n", 1, 0},
    };
    const fs::path dir = fs::temp_directory_path() / ("trace-limits-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string tracePath = (dir / "t.trace").string();
    const std::string out = (dir / "out").string();
    const std::string log = std::string(TESSARAY_REPORT_TEST_LOGS) + "/sim_cycle.log";
    for (const auto& c : cases) {
        // The log's first marker: the trace is of its run (its frames disagree).
        const std::string bytes =
            kHead + c.records +
            "M 1600000000 08:22:35.648 INIT_START\nK 2000000000\nW 3000000000\nE 4000000000 0\n";
        std::ofstream(tracePath, std::ios::binary) << bytes;
        trace::TraceFile t;
        std::string error;
        ASSERT_EQ(trace::parseTrace(bytes, t, error), trace::TraceRead::Ok) << c.what << ": " << error;
        EXPECT_EQ(t.frames.size(), c.frames) << c.what;
        EXPECT_EQ(t.badLines, c.skipped) << c.what;
        EXPECT_EQ(t.firstBadLine, c.skipped > 0 ? 4u : 0u) << c.what;
        EXPECT_TRUE(t.ended && t.parked.size() == 1 && t.wakesSeen.size() == 1) << c.what;
        const struct {
            std::vector<std::string> arguments;
            int exitCode;
        } runs[] = {
            {{"--trace-json", out, tracePath}, 0},
            {{"--frames-csv", out, tracePath}, 0},
            {{log, "--trace", tracePath, "--svg", out}, 2},
            {{log, "--trace", tracePath, "--html", out}, 2},
        };
        for (const auto& run : runs) {
            const Usage usage = runReportMeasured(run.arguments);
            EXPECT_EQ(usage.exitCode, run.exitCode) << c.what << ", " << run.arguments[0];
            EXPECT_LT(usage.cpuSeconds, kCpuSecondsBound) << c.what << ", " << run.arguments[0];
            EXPECT_LT(usage.maxRssKb, 100 * 1024) << c.what << ", " << run.arguments[0];
        }
    }
    // Beyond the log reader's cap: refused before it is read.
    fs::resize_file(tracePath, trace::kMaxTraceBytes + 1);
    const Usage large = runReportMeasured({"--trace-json", out, tracePath});
    EXPECT_EQ(large.exitCode, 2);
    EXPECT_LT(large.maxRssKb, 100 * 1024);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace corva::test
