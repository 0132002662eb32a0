// The printer against outputs that misbehave: a console that holds every line back while the
// time-critical threads print, and texts too long for a line.
#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "lines/shortened_text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace corva::lines {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Standard error into a one-page pipe filled up front, so the output thread's first write
// waits until read() drains it: a console that holds output back.
class StalledStderr {
  public:
    StalledStderr() {
        if (pipe(pipe_) != 0) return;
        fcntl(pipe_[1], F_SETPIPE_SZ, 4096);
        const std::string filler(size_t(fcntl(pipe_[1], F_GETPIPE_SZ)), '\n');
        fillerBytes_ = size_t(write(pipe_[1], filler.data(), filler.size()));
        saved_ = dup(STDERR_FILENO);
        dup2(pipe_[1], STDERR_FILENO);
        close(pipe_[1]);
    }
    ~StalledStderr() { release(); }
    void startReading() {
        reader_ = std::thread([this] {
            char buffer[4096];
            for (ssize_t n; (n = read(pipe_[0], buffer, sizeof buffer)) > 0;) text_.append(buffer, size_t(n));
        });
    }
    // Everything written after the filler; standard error is back.
    std::string release() {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
        if (reader_.joinable()) reader_.join();
        if (pipe_[0] >= 0) close(pipe_[0]);
        pipe_[0] = -1;
        return text_.substr(std::min(fillerBytes_, text_.size()));
    }

  private:
    int pipe_[2] = {-1, -1};
    int saved_ = -1;
    size_t fillerBytes_ = 0;
    std::string text_;
    std::thread reader_;
};

// A console stalled while the present loop floods it: the loop never waits, its repeatable
// lines may be dropped (and are counted), the lines a run is judged by all arrive, in order,
// and an ordinary thread's line printed afterwards comes after them.
TEST(PrinterOutputs, AStalledConsoleDropsOnlyRepeatableLinesOfTimeCriticalThreads) {
    constexpr unsigned long long kFrames = 600;
    constexpr unsigned long kEvery = 20;  // a judged line after every 20 per-frame ones
    StalledStderr stalled;
    std::atomic<bool> loopDone{false};
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
        // The console stays stalled until the loop is through, or long past when it should be.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!loopDone.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(loopDone.load()) << "the time-critical thread waited for the console";
        stalled.startReading();
        loop.join();
        print(kMcuSilent, 7);
        output.stop();
    }
    unsigned long long failedSeen = 0, dropped = 0;
    unsigned long nextJudged = 0;
    bool silentSeen = false;
    for (const std::string& line : linesOf(stalled.release())) {
        unsigned status = 0;
        unsigned long long frame = 0, count = 0;
        unsigned long judged = 0;
        int silent = 0;
        if (scan(kPresentFailed, line, status, frame)) {
            ++failedSeen;
        } else if (scan(kMcuReadFailed, line, judged)) {
            EXPECT_EQ(judged, nextJudged) << "judged lines lost or out of order";
            EXPECT_FALSE(silentSeen) << "a later ordinary line overtook a judged one";
            nextJudged = judged + kEvery;
        } else if (scan(kLinesDropped, line, count)) {
            dropped += count;
        } else if (scan(kMcuSilent, line, silent)) {
            silentSeen = true;
        } else if (!line.empty()) {
            ADD_FAILURE() << "unexpected line: " << line;
        }
    }
    EXPECT_EQ(nextJudged, kFrames) << "every judged line arrives";
    EXPECT_TRUE(silentSeen);
    EXPECT_GT(dropped, 0u) << "the console was not stalled: nothing tested";
    EXPECT_EQ(failedSeen + dropped, kFrames);
}

TEST(PrinterOutputs, LongTextsAreShortenedWholeCharactersFromBothEnds) {
    const std::string euro = "\xE2\x82\xAC";  // three bytes
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"short", "/tmp/run.trace"},
        {"exactly the limit", std::string(ShortenedText::kMaxBytes, 'a')},
        {"ascii", "/start" + std::string(5000, 'a') + "/end.trace"},
        {"multibyte at both cuts", "/start" +
                                       [&] {
                                           std::string s;
                                           for (int i = 0; i < 2000; ++i) s += euro;
                                           return s;
                                       }() +
                                       "/end.trace"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string shortened = ShortenedText(c.text.c_str()).c_str();
        ASSERT_LE(shortened.size(), ShortenedText::kMaxBytes);
        if (c.text.size() <= ShortenedText::kMaxBytes) {
            EXPECT_EQ(shortened, c.text);
            continue;
        }
        EXPECT_EQ(shortened.substr(0, 6), "/start");
        EXPECT_EQ(shortened.substr(shortened.size() - 10), "/end.trace");
        const size_t dots = shortened.find("...");
        ASSERT_NE(dots, std::string::npos);
        // Whole characters only: the bytes either side of "..." are whole repeats of the filler.
        const std::string unit = c.text.substr(6, c.text[6] == 'a' ? 1 : 3);
        EXPECT_EQ((dots - 6) % unit.size(), 0u);
        EXPECT_EQ((shortened.size() - 10 - dots - 3) % unit.size(), 0u);
        EXPECT_GT(shortened.size(), ShortenedText::kMaxBytes - 6);  // not shortened more than needed
    }
}

}  // namespace
}  // namespace corva::lines
