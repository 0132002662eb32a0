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

// Standard output and error into a one-page pipe that nobody reads until flow().
// No EXPECT between construction and restore(): gtest would print into the stalled pipe.
class StalledConsole {
  public:
    StalledConsole() {
        if (pipe(ends_) != 0) return;
        fcntl(ends_[1], F_SETPIPE_SZ, 4096);
        dup2(ends_[1], STDOUT_FILENO);
        dup2(ends_[1], STDERR_FILENO);
        close(ends_[1]);
    }
    void flow() {
        reader_ = std::thread([this] {
            char buffer[4096];
            for (ssize_t n; (n = read(ends_[0], buffer, sizeof buffer)) > 0;)
                written_.append(buffer, size_t(n));
        });
    }
    // Output back where it was; what was written meanwhile.
    std::string restore() {
        dup2(savedOut_, STDOUT_FILENO);
        dup2(savedErr_, STDERR_FILENO);
        close(savedOut_);
        close(savedErr_);
        if (reader_.joinable()) reader_.join();
        close(ends_[0]);
        return written_;
    }

  private:
    int ends_[2] = {-1, -1};
    int savedOut_ = dup(STDOUT_FILENO);
    int savedErr_ = dup(STDERR_FILENO);
    std::thread reader_;
    std::string written_;
};

TEST(StalledOutput, HoldsNeitherThePresentLoopNorTheReaderAndLosesNoLineUnsaid) {
    constexpr unsigned kLines = 1000;  // far more than the pipe and the queue hold
    StalledConsole console;
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
        console.flow();
        critical.join();
        ordinary.join();
        output.stop();
    }
    const std::string written = console.restore();

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

// The present loop floods a stalled console with per-frame lines and, now and then, a line the
// run is judged by: it never waits, the per-frame lines may be dropped (counted), the judged
// ones all arrive in order, and a line an ordinary thread prints afterwards comes after them.
TEST(StalledOutput, JudgedLinesOfTheTimeCriticalThreadsAreNeverDropped) {
    constexpr unsigned long long kFrames = 600;
    constexpr unsigned long kEvery = 20;
    StalledConsole console;
    std::atomic<bool> loopDone{false};
    bool loopWasHeld = false;
    {
        OutputThread output;
        std::thread loop([&] {
            const CriticalThread critical;
            for (unsigned long long frame = 0; frame < kFrames; ++frame) {
                print(kPresentFailed, 1u, frame);
                if (frame % kEvery == 0) print(kMcuReadFailed, static_cast<unsigned long>(frame));
            }
            loopDone.store(true);
        });
        loopWasHeld = !test::eventually([&] { return loopDone.load(); }, std::chrono::seconds(20));
        console.flow();
        loop.join();
        print(kMcuSilent, 7);
        output.stop();
    }
    std::istringstream lines(console.restore());
    EXPECT_FALSE(loopWasHeld);
    unsigned long long framesArrived = 0, dropped = 0;
    unsigned long nextJudged = 0;
    bool ordinarySeen = false;
    for (std::string line; std::getline(lines, line);) {
        unsigned long long count = 0;
        unsigned long judged = 0;
        int silent = 0;
        if (scan(kPresentFailed, line, Skip{}, Skip{})) {
            ++framesArrived;
        } else if (scan(kMcuReadFailed, line, judged)) {
            EXPECT_EQ(judged, nextJudged) << "a judged line lost or out of order";
            EXPECT_FALSE(ordinarySeen) << "a later line overtook a judged one";
            nextJudged = judged + kEvery;
        } else if (scan(kLinesDropped, line, count)) {
            dropped += count;
        } else if (scan(kMcuSilent, line, silent)) {
            ordinarySeen = true;
        } else {
            ADD_FAILURE() << "not a line of the test: " << line;
        }
    }
    EXPECT_EQ(nextJudged, kFrames);
    EXPECT_TRUE(ordinarySeen);
    EXPECT_GT(dropped, 0u);  // the stall was real
    EXPECT_EQ(framesArrived + dropped, kFrames);
}

}  // namespace
}  // namespace corva::lines
