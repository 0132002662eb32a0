// Output that nobody takes (a console with a mouse selection in it holds every writer; here, a
// pipe nobody reads): the time-critical threads print on without waiting, ordinary ones wait
// and lose nothing, and once output flows everything arrives in order or is counted.
#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "tests/support/test_helpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>

namespace corva::lines {
namespace {

TEST(StalledOutput, HoldsNeitherThePresentLoopNorTheReaderAndLosesNoLineUnsaid) {
    constexpr unsigned kLines = 1000;  // far more than the pipe and the queue hold
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
    const int savedOut = dup(STDOUT_FILENO);
    const int savedErr = dup(STDERR_FILENO);
    // No EXPECT from here until output is restored: gtest would print into the stalled pipe.
    dup2(pipeEnds[1], STDOUT_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    close(pipeEnds[1]);

    std::string written;
    std::thread reader;
    std::atomic<bool> criticalDone{false};
    bool criticalWasHeld = false;
    {
        OutputThread output;
        std::thread critical([&] {
            const CriticalThread role;
            for (unsigned i = 0; i < kLines; ++i) print(kPanelsOn, i, 0u);
            criticalDone.store(true);
        });
        criticalWasHeld = !test::eventually([&] { return criticalDone.load(); }, std::chrono::seconds(20));
        std::thread ordinary([] {
            for (unsigned i = 0; i < kLines; ++i)
                print(kCycle, static_cast<int>(i), static_cast<int>(kLines));
        });
        // The ordinary thread is waiting for room now; let output flow.
        reader = std::thread([&] {
            char buffer[4096];
            for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
                written.append(buffer, size_t(n));
        });
        critical.join();
        ordinary.join();
        output.stop();
    }
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    reader.join();
    close(pipeEnds[0]);

    EXPECT_FALSE(criticalWasHeld);
    unsigned nextPanels = 0, panelsArrived = 0, dropped = 0;
    int nextCycle = 0;
    std::istringstream lines(written);
    for (std::string line; std::getline(lines, line);) {
        unsigned n = 0;
        unsigned long long count = 0;
        int cycle = -1, total = 0;
        if (scan(kPanelsOn, line, n, Skip{})) {
            EXPECT_GE(n, nextPanels) << "out of order: " << line;
            nextPanels = n + 1;
            ++panelsArrived;
        } else if (scan(kCycle, line, cycle, total)) {
            EXPECT_EQ(cycle, nextCycle++) << line;
        } else if (scan(kLinesDropped, line, count)) {
            dropped += static_cast<unsigned>(count);
        } else {
            ADD_FAILURE() << "not a line of the test: " << line;
        }
    }
    EXPECT_EQ(nextCycle, static_cast<int>(kLines));  // the ordinary thread lost nothing
    EXPECT_GT(dropped, 0u);                          // the stall was real
    EXPECT_EQ(panelsArrived + dropped, kLines) << "a time-critical line vanished without being counted";
}

}  // namespace
}  // namespace corva::lines
