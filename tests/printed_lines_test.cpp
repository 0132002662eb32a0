// The printed lines: read back with their own definitions, written whole by busy threads,
// queued in the order they were printed, and never lost without a word.
#include "lines/judged_lines.h"
#include "lines/line_classify.h"
#include "lines/line_queue.h"
#include "lines/line_scan.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"
#include "platform/console_write.h"
#include "tests/support/sample_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace corva::lines {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();  // text mode on Windows
        out.push_back(std::move(line));
        start = end + 1;
    }
    if (start < text.size()) out.push_back(text.substr(start));  // a line cut short
    return out;
}

TEST(PrintedLines, PrintedFieldsReadBackThroughTheirDefinitions) {
    testing::internal::CaptureStdout();
    print(kStatus, 9, 5, 7, 42, 74.96, kWorn, 2100u, 0x000bu, 1, 1, 1, kFreeRunSuffix);
    print(kDstatChange, 0xffffu, 0x0001u, 1, 0, 23, 59, 59, 999);
    print(kPresentResult, 1234ull, 16.5, 75.02, 3ull, 0ull, 2ull);
    print(kCycleAbandoned, 2, 3, "proximity link lost; replugged");
    print(kMcuTelemetry, 50u, 1500u, 100u, "2.1 (rev b)", kDozeCapable);
    const std::vector<std::string> out = splitLines(testing::internal::GetCapturedStdout());
    ASSERT_EQ(out.size(), 5u);

    unsigned h = 0, m = 0, s = 0, ms = 0, distance = 0;
    uint16_t dstat = 0, to = 0;
    double fps = 0, seconds = 0, average = 0;
    std::string_view prox, suffix, reason, firmware, doze;
    uint64_t frames = 0, errors = 0, timeouts = 0, freeRuns = 0;
    int n = 0, total = 0, disp = 0, proxOn = 0, dsc = 0;
    EXPECT_TRUE(scan(kStatus, out[0], h, m, s, ms, fps, prox, distance, dstat, disp, proxOn, dsc, suffix));
    EXPECT_EQ(out[0],
              "  09:05:07.042 fps= 75.0 prox=worn(2100) dstat=0x000b[disp=1 proxOn=1 dsc=1]  [FREE-RUN: "
              "vsync lost]");
    EXPECT_EQ(std::vector<unsigned>({h, m, s, ms, distance, dstat}),
              std::vector<unsigned>({9, 5, 7, 42, 2100, 11}));
    EXPECT_DOUBLE_EQ(fps, 75.0);
    EXPECT_EQ(prox, "worn");
    EXPECT_EQ(suffix, kFreeRunSuffix);
    EXPECT_TRUE(scan(kDstatChange, out[1], dstat, to, disp, proxOn, h, m, s, ms));
    EXPECT_EQ(std::vector<unsigned>({dstat, to, h, ms}), std::vector<unsigned>({0xffff, 1, 23, 999}));
    EXPECT_TRUE(scan(kPresentResult, out[2], frames, seconds, average, errors, timeouts, freeRuns));
    EXPECT_EQ(std::vector<uint64_t>({frames, errors, timeouts, freeRuns}),
              std::vector<uint64_t>({1234, 3, 0, 2}));
    EXPECT_DOUBLE_EQ(seconds, 16.5);
    EXPECT_DOUBLE_EQ(average, 75.02);
    EXPECT_TRUE(scan(kCycleAbandoned, out[3], n, total, reason));
    EXPECT_EQ(reason, "proximity link lost; replugged");  // a text runs to the literal after it
    EXPECT_TRUE(scan(kMcuTelemetry, out[4], Skip{}, Skip{}, Skip{}, firmware, doze));
    EXPECT_EQ(firmware, "2.1 (rev b)");
    EXPECT_EQ(doze, "capable");
}

TEST(PrintedLines, ScanRefusesWhatTheProgramCannotHavePrinted) {
    uint16_t from = 0, to = 0;
    unsigned clock = 0;
    double ms = 0;
    int n = 0, total = 0;
    const Skip _;
    EXPECT_FALSE(scan(kDstatChange, "DSTAT_CHANGE 0x10000 -> 0x0001 [disp=1 proxOn=0] 10:00:00.000", from, to,
                      _, _, clock, _, _, _));  // wider than the 16-bit word
    EXPECT_FALSE(scan(kWakeLatency, "WARM_WAKE_LATENCY nan ms (WAKE_REQUEST -> DISPLAYS_ON)", ms));
    EXPECT_FALSE(scan(kWakeLatency, "WARM_WAKE_LATENCY: 12.5 ms", ms));
    EXPECT_FALSE(scan(kCycle, "CYCLE_ABANDONED 1/3: x; no wake latency for this cycle", n, total));
    EXPECT_FALSE(scan(kCycle, "CYCLE 1/", n, total));
    EXPECT_FALSE(scan(kPanelsOff, "Presenter: panels OFF (idle policy) = 0x-1", clock));
    // Another wording after the last field still reads; a text field then runs to the end.
    std::string_view reason;
    EXPECT_TRUE(scan(kWakeLatency, "WARM_WAKE_LATENCY 12.5 ms", ms) && ms == 12.5);
    EXPECT_TRUE(scan(kCycleAbandoned, "CYCLE_ABANDONED 2/3: link lost", n, total, reason) &&
                reason == "link lost");
    // What the reader once took by a first word alone is no line of the program.
    for (const char* foreign : {"Presenter: a line of another program", "McuProx: hello", "WARNING: low disk",
                                "PRESENT RESULT: none", "", "CYCLE one/two"})
        EXPECT_EQ(classify(foreign).entry, nullptr) << foreign;
    // Fields are read as their declared types: an optional step that is neither a time nor "-",
    // an interval whose end comes before its start, a distance beyond its type.
    for (const char* mistyped : {"WAKE_PHASES react=soon mode=- power=- vblank=- on=- ms",
                                 "WAKE_PHASES react=- mode=- power=- vblank=- on=5.0..4.0 ms",
                                 "prox up: worn (distance 99999999999)"})
        EXPECT_EQ(classify(mistyped).entry, nullptr) << mistyped;
    // The em dash as a legacy code page or a plain-text copy shows it.
    for (const char* dash : {"\xE2\x80\x94", "-", "\x97"})
        EXPECT_TRUE(scan(
            kMcuSilent,
            std::string("McuProx: telemetry silent 3s ") + dash + " device gone, waiting for reconnect", n));
}

std::string numbered(char tag, size_t n) {
    std::string line(1, tag);
    line += std::to_string(n);
    line += '\n';
    return line;
}

TEST(LineQueue, OrdinaryThreadsLeaveTheReserveToTimeCriticalOnesAndOrderIsKept) {
    auto queue = std::make_unique<LineQueue>();
    size_t ordinary = 0;
    while (queue->push(Stream::Out, numbered('o', ordinary), false)) ++ordinary;
    EXPECT_EQ(ordinary, LineQueue::kSlots - LineQueue::kCriticalReserve);
    size_t critical = 0;
    while (queue->push(Stream::Err, numbered('c', critical), true)) ++critical;
    EXPECT_EQ(critical, LineQueue::kCriticalReserve);

    std::vector<std::string> popped;
    while (queue->pop([&](Stream, std::string_view line) { popped.emplace_back(line); })) {
    }
    ASSERT_EQ(popped.size(), LineQueue::kSlots);
    EXPECT_EQ(popped.front(), "o0\n");
    EXPECT_EQ(popped[ordinary], "c0\n");
    EXPECT_EQ(popped.back(), numbered('c', critical - 1));
    EXPECT_TRUE(queue->empty());
    // A line too long for a slot is cut, and still ends the line.
    ASSERT_TRUE(queue->push(Stream::Out, std::string(LineQueue::kLineBytes + 40, 'x'), false));
    queue->pop([](Stream, std::string_view line) {
        EXPECT_EQ(line.size(), LineQueue::kLineBytes);
        EXPECT_EQ(line.back(), '\n');
    });
}

// Threads print as fast as they can into a redirected standard error, while another writer
// (as the simulated driver's own messages are) writes there too: each line arrives whole, in
// its thread's order; the time-critical thread's lines arrive or are counted.
TEST(PrintedLines, BusyThreadsWriteWholeLinesDirectlyOrThroughTheOutputThread) {
    constexpr unsigned long kLines = 3000;
    for (const bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "output thread" : "direct");
        testing::internal::CaptureStderr();
        {
            OutputThread output;
            if (!queued) output.stop();
            std::thread critical([&] {
                const CriticalThread role;
                for (unsigned long i = 0; i < kLines; ++i) print(kMcuReadFailed, i);
            });
            std::thread outsider([&] {
                const std::string line = "a line of another writer, past the program's printing\n";
                for (unsigned long i = 0; i < kLines; ++i)
                    platform::writeWhole(platform::StdStream::Err, line.data(), line.size());
            });
            for (int i = 0; i < static_cast<int>(kLines); ++i) print(kMcuSilent, i);
            critical.join();
            outsider.join();
        }
        const std::vector<std::string> lines = splitLines(testing::internal::GetCapturedStderr());
        unsigned long nextRead = 0, readArrived = 0, dropped = 0, outsiders = 0;
        int nextSilent = 0;
        for (const std::string& line : lines) {
            unsigned long read = 0, count = 0;
            int silent = 0;
            if (scan(kMcuReadFailed, line, read)) {
                EXPECT_GE(read, nextRead) << line;
                nextRead = read + 1;
                ++readArrived;
            } else if (scan(kMcuSilent, line, silent)) {
                EXPECT_EQ(silent, nextSilent) << line;
                nextSilent = silent + 1;
            } else if (scan(kLinesDropped, line, count)) {
                dropped += count;
            } else if (line == "a line of another writer, past the program's printing") {
                ++outsiders;
            } else {
                ADD_FAILURE() << "not a whole line: " << line;
            }
        }
        EXPECT_EQ(nextSilent, static_cast<int>(kLines));  // an ordinary thread loses nothing
        EXPECT_EQ(readArrived + dropped, kLines);
        EXPECT_EQ(outsiders, kLines);
        if (!queued) {
            EXPECT_EQ(dropped, 0u);
        }
    }
}

// Lines printed in turn by two threads, one of them time-critical, come out in that turn.
TEST(PrintedLines, TheOutputQueueKeepsTheOrderOfPrintingAcrossThreads) {
    constexpr int kTurns = 400;
    std::atomic<int> turn{0};
    testing::internal::CaptureStdout();
    {
        OutputThread output;
        std::thread critical([&] {
            const CriticalThread role;
            for (int i = 0; i < kTurns; ++i) {
                while (turn.load() != 2 * i) std::this_thread::yield();
                print(kCycle, i, 1);
                turn.store(2 * i + 1);
            }
        });
        for (int i = 0; i < kTurns; ++i) {
            while (turn.load() != 2 * i + 1) std::this_thread::yield();
            print(kCycle, i, 2);
            turn.store(2 * i + 2);
        }
        critical.join();
        output.stop();
    }
    const std::vector<std::string> lines = splitLines(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), 2u * kTurns);
    for (size_t k = 0; k < lines.size(); ++k) {
        int n = -1, who = -1;
        ASSERT_TRUE(scan(kCycle, lines[k], n, who)) << lines[k];
        EXPECT_EQ(n, static_cast<int>(k / 2));
        EXPECT_EQ(who, static_cast<int>(k % 2) + 1);
    }
}

// Each line of the table is told apart from every other by its whole format; the driver-call
// and graphics-call failures print alike, and the bring-up calls tell them apart.
TEST(PrintedLines, EveryLineOfTheTableClassifiesAsItself) {
    for (const test::SampleLine& sample : test::sampleLines()) {
        SCOPED_TRACE(sample.text);
        const PrintedLine* found = classify(sample.text).entry;
        ASSERT_NE(found, nullptr) << sample.entry->name;
        if (sample.entry->id == LineId::GraphicsCallFailed) {
            EXPECT_EQ(found->id, LineId::DriverCallFailed);
        } else {
            EXPECT_STREQ(found->name, sample.entry->name);
        }
    }
}

// The simulated headset's lines are read through their own table, and none reads as a line
// of the program: a report never takes the simulator's complaint for the program's.
TEST(PrintedLines, SimulatorLinesClassifyAsThemselvesAndNeverAsTheProgram) {
    const std::vector<test::SampleSimulatorLine> samples = test::simulatorSampleLines();
    ASSERT_EQ(samples.size(), std::size(kSimulatorLines));
    for (const test::SampleSimulatorLine& sample : samples) {
        SCOPED_TRACE(sample.text);
        const SimulatorLine* found = classifySimulator(sample.text);
        ASSERT_NE(found, nullptr) << sample.entry->name;
        EXPECT_STREQ(found->name, sample.entry->name);
        EXPECT_EQ(classify(sample.text).entry, nullptr);
    }
    for (const test::SampleLine& sample : test::sampleLines())
        EXPECT_EQ(classifySimulator(sample.text), nullptr) << sample.text;
}

// Whether a stalled console may drop a line goes by its text: a copy of a format elsewhere in
// memory (literals are not merged in an MSVC debug build nor under AddressSanitizer) is the
// same line, and only the per-frame and status lines are droppable.
TEST(PrintedLines, OnlyRepeatableLinesAreDroppableWhereverTheirFormatLies) {
    size_t droppableLines = 0;
    for (const PrintedLine& line : kPrintedLines) {
        const std::string copy = line.format;
        EXPECT_EQ(droppable(copy.c_str()), droppable(line.format)) << line.name;
        if (droppable(copy.c_str())) ++droppableLines;
    }
    EXPECT_TRUE(droppable(std::string(kPresentFailed.format()).c_str()));
    EXPECT_FALSE(droppable(std::string(kMcuReadFailed.format()).c_str()));
    EXPECT_EQ(droppableLines, 5u);
}

#ifdef TESSARAY_ROOT
// README's table of output lines names only lines the table defines: each row's line reads as
// an entry, starts with an entry's fixed text, or is a marker by its name.
TEST(PrintedLines, ReadmeTableNamesOnlyLinesOfTheTable) {
    std::ifstream in(std::string(TESSARAY_ROOT) + "/README.md");
    std::string row;
    bool inTable = false;
    int rows = 0;
    while (std::getline(in, row)) {
        if (row.starts_with("## ")) inTable = row == "## What the output means";
        if (!inTable || !row.starts_with("| `")) continue;
        const std::string text = row.substr(3, row.find('`', 3) - 3);
        if (text.starts_with("...")) continue;  // the end of another row's line
        ++rows;
        bool named = classify(text).entry != nullptr;
        for (const PrintedLine& line : kPrintedLines)
            named = named || (line.prefix.size() >= 2 && text.starts_with(line.prefix));
        for (const MarkerLine& marker : kMarkers)
            named = named || text.starts_with(std::string(marker.name) + " ");
        EXPECT_TRUE(named) << "README names a line the table does not define: " << text;
    }
    EXPECT_GE(rows, 20);
}

// The texts of the lines live in the table, and the golden outputs are their one literal check:
// a test that copies a line's fixed text (the words between its fields and dashes) into a literal
// would hold on to a text the table no longer prints. Tests write and read lines through the
// formats. Only the reader's refusal of what the program cannot have printed is written out by hand.
constexpr std::string_view kTheOneLiteralCheck =
    "TEST(PrintedLines, ScanRefusesWhatTheProgramCannotHavePrinted)";
constexpr size_t kShortestFixedText = 12;  // shorter words (" ms", "prox=") are not a line's own

std::vector<std::string> fixedTexts() {
    std::vector<std::string> out;
    for (const PrintedLine& line : kPrintedLines) {
        std::string piece;
        auto keep = [&] {
            const size_t first = piece.find_first_not_of(' ');
            piece = first == std::string::npos ? ""
                                               : piece.substr(first, piece.find_last_not_of(' ') - first + 1);
            if (piece.size() >= kShortestFixedText) out.push_back(piece);
            piece.clear();
        };
        for (const char* c = line.format; *c != '\0'; ++c) {
            if (*c == '%') {  // a field: skip its conversion
                keep();
                while (c[1] != '\0' &&
                       std::string_view("-+ #0123456789.l").find(c[1]) != std::string_view::npos)
                    ++c;
                if (c[1] != '\0') ++c;
            } else if (*c == '\n' || static_cast<unsigned char>(*c) >= 0x80) {  // the em dash too
                keep();
            } else {
                piece += *c;
            }
        }
        keep();
    }
    return out;
}

struct Literal {
    size_t line;
    std::string text;  // escapes decoded
};

// The string literals of C++ source, outside comments and character literals.
std::vector<Literal> literalsOf(const std::string& source) {
    std::vector<Literal> out;
    size_t line = 1;
    auto at = [&](size_t i) { return source.begin() + static_cast<std::ptrdiff_t>(i); };
    for (size_t i = 0; i < source.size(); ++i) {
        const char c = source[i];
        if (c == '\n') {
            ++line;
        } else if (source.compare(i, 2, "//") == 0) {
            i = source.find('\n', i) - 1;
        } else if (source.compare(i, 2, "/*") == 0) {
            const size_t end = std::min(source.find("*/", i), source.size());
            line += static_cast<size_t>(std::count(at(i), at(end), '\n'));
            i = end + 1;
        } else if (c == '\'' && i > 0 && !std::isalnum(static_cast<unsigned char>(source[i - 1]))) {
            while (++i < source.size() && source[i] != '\'') i += source[i] == '\\' ? 1 : 0;
        } else if (c == '"') {
            Literal literal{line, {}};
            while (++i < source.size() && source[i] != '"' && source[i] != '\n') {
                if (source[i] != '\\') {
                    literal.text += source[i];
                    continue;
                }
                const char e = source[++i];
                if (e == 'x') {
                    size_t used = 0;
                    literal.text += static_cast<char>(std::stoi(source.substr(i + 1, 2), &used, 16));
                    i += used;
                } else {
                    literal.text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                }
            }
            out.push_back(std::move(literal));
        }
    }
    return out;
}

// "file:line: literal" for each literal that holds a fixed text of the table.
std::vector<std::string> copiesIn(const std::string& name, const std::string& source,
                                  const std::vector<std::string>& texts) {
    size_t allowedFrom = std::string::npos, allowedTo = 0;
    if (const size_t at = source.find(std::string(kTheOneLiteralCheck) + " {"); at != std::string::npos) {
        const auto lineOf = [&](size_t i) {
            return static_cast<size_t>(
                       std::count(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(i), '\n')) +
                   1;
        };
        allowedFrom = lineOf(at);
        allowedTo = lineOf(source.find("\n}\n", at));
    }
    std::vector<std::string> out;
    for (const Literal& literal : literalsOf(source)) {
        if (literal.line >= allowedFrom && literal.line <= allowedTo) continue;
        for (const std::string& text : texts)
            if (literal.text.find(text) != std::string::npos) {
                out.push_back(name + ":" + std::to_string(literal.line) + ": " + literal.text);
                break;
            }
    }
    return out;
}

TEST(PrintedLines, NoTestCopiesALinesTextOutsideTheGoldenOutputs) {
    const std::vector<std::string> texts = fixedTexts();
    ASSERT_GE(texts.size(), 40u);
    // The scan finds a copy, also one cut short at a field, and passes what only names a line.
    const std::string line = test::sampleText(kMcuReconnected);
    const std::string copy =
        "x = \"" + line + "\\n\";\ny = \"" + std::string(kMcuSilent.prefix()) + "3s \\xE2\\x80\\x94\";\n";
    EXPECT_EQ(copiesIn("copy", copy, texts).size(), 2u);
    const std::string named =
        "x = \"McuReconnected\"; // \"" + line + "\"\n/* \"" + line + "\" */ c = '\"';\n";
    EXPECT_TRUE(copiesIn("named", named, texts).empty());

    std::vector<std::string> copies;
    const std::filesystem::path tests = std::filesystem::path(TESSARAY_ROOT) / "tests";
    for (const auto& file : std::filesystem::recursive_directory_iterator(tests)) {
        const std::filesystem::path& path = file.path();
        if (path.extension() != ".cpp" && path.extension() != ".h") continue;
        std::ifstream in(path, std::ios::binary);
        const std::string source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        for (std::string& found : copiesIn(path.lexically_relative(tests).generic_string(), source, texts))
            copies.push_back(std::move(found));
    }
    for (const std::string& found : copies) ADD_FAILURE() << "a literal copy of a printed text: " << found;
}
#endif

}  // namespace
}  // namespace corva::lines
