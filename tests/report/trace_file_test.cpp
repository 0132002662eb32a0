// The trace's writer and tessaray-report's reader of it: every record comes back as written,
// a cut file reads up to its last whole line, a full ring drops and counts instead of
// waiting, and what is not a trace (or is a newer one) is refused.
#include "lines/run_figures.h"
#include "trace/trace_file.h"
#include "trace/trace.h"
#include "trace/trace_format.h"
#include "trace/trace_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace corva::test {
namespace {

std::string tracePath(const char* name) {
    return ::testing::TempDir() + "tessaray-trace-" + std::to_string(getpid()) + "-" + name;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// One record of each kind through a session, as the program writes them.
std::string writeEveryKind(const std::string& path) {
    {
        const trace::Session session(path.c_str());
        EXPECT_TRUE(session.active() && trace::enabled());
        trace::FrameTimes f;
        f.index = 7;
        f.loopTopNs = 1000;
        f.startNs = 5000;
        f.submitNs = 9000;
        f.presentNs = 9500;
        f.vblankNs = 20000;
        f.predictedNs = 26000;
        f.leadNs = 4000;
        f.freeRunning = true;
        f.presentStatus = -5;
        trace::frame(f);
        f.index = 8;
        f.wait = trace::VblankWait::NoWaitable;
        f.predictedNs = f.leadNs = 0;
        trace::frame(f);
        trace::marker("PARK_REQUEST", 30000, 45296789);  // 12:34:56.789
        trace::panelPower(false, 31000, 32000, 0);
        trace::parked(33000);
        trace::wakeSeen(34000);
        trace::panelPower(true, 35000, 36000, 0, run::kStatusHdcpDisabled);
        trace::dstatChange(37000, 0x000b, 0x0002);
        trace::freeRun(38000, true, true);
        trace::presentError(39000, 9, -1);
        trace::linkChange(40000, true);
    }
    EXPECT_FALSE(trace::enabled());
    return fileBytes(path);
}

TEST(TraceFile, EveryRecordReadsBackAsWritten) {
    const std::string path = tracePath("kinds");
    const std::string bytes = writeEveryKind(path);
    std::remove(path.c_str());
    trace::TraceFile t;
    std::string error;
    ASSERT_EQ(trace::parseTrace(bytes, t, error), trace::TraceRead::Ok) << error;
    EXPECT_EQ(t.version, 1);
    EXPECT_TRUE(t.ended);
    EXPECT_FALSE(t.cut);
    EXPECT_EQ(t.badLines, 0u);
    EXPECT_GT(t.clockSteadyNs, 0);
    ASSERT_EQ(t.frames.size(), 2u);
    const trace::TraceFrame& f = t.frames[0];
    EXPECT_EQ(f.index, 7u);
    EXPECT_EQ(f.loopTopNs, 1000);
    EXPECT_EQ(f.startNs, 5000);
    EXPECT_EQ(f.submitNs, 9000);
    EXPECT_EQ(f.presentNs, 9500);
    EXPECT_EQ(f.vblankNs, 20000);
    EXPECT_EQ(f.wait, 's');
    EXPECT_EQ(f.predictedNs, 26000);
    EXPECT_EQ(f.leadNs, 4000);
    EXPECT_TRUE(f.freeRunning);
    EXPECT_EQ(f.presentStatus, -5);
    EXPECT_EQ(t.frames[1].wait, 'n');
    EXPECT_EQ(t.frames[1].predictedNs, 0);
    ASSERT_EQ(t.markers.size(), 1u);
    EXPECT_EQ(t.markers[0].name, "PARK_REQUEST");
    EXPECT_EQ(t.markers[0].localMs, 45296789);
    ASSERT_EQ(t.panels.size(), 2u);
    EXPECT_FALSE(t.panels[0].on);
    EXPECT_EQ(t.panels[1].modeStatus, run::kStatusHdcpDisabled);
    EXPECT_EQ(t.panels[1].returnNs, 36000);
    EXPECT_EQ(t.parked, std::vector<int64_t>{33000});
    EXPECT_EQ(t.wakesSeen, std::vector<int64_t>{34000});
    ASSERT_EQ(t.dstat.size(), 1u);
    EXPECT_EQ(t.dstat[0].to, 0x0002);
    ASSERT_EQ(t.freeRuns.size(), 1u);
    EXPECT_TRUE(t.freeRuns[0].started && t.freeRuns[0].announced);
    ASSERT_EQ(t.presentErrors.size(), 1u);
    EXPECT_EQ(t.presentErrors[0].frame, 9u);
    ASSERT_EQ(t.linkChanges.size(), 1u);
    EXPECT_TRUE(t.linkChanges[0].lost);

    // Cut anywhere, the file reads up to its last whole line.
    for (size_t cut = bytes.find('\n') + 1; cut < bytes.size(); cut += 7) {
        trace::TraceFile part;
        ASSERT_EQ(trace::parseTrace(bytes.substr(0, cut), part, error), trace::TraceRead::Ok) << cut;
        EXPECT_EQ(part.badLines, 0u) << cut;
        EXPECT_EQ(part.cut, bytes[cut - 1] != '\n') << cut;
        EXPECT_FALSE(part.ended) << cut;
    }
}

TEST(TraceFile, WhatIsNotATraceOrIsANewerOneIsRefused) {
    const struct {
        const char* bytes;
        trace::TraceRead expected;
    } cases[] = {
        {"", trace::TraceRead::NotATrace},
        {"tessaray-trace 1", trace::TraceRead::NotATrace},  // not even its first line whole
        {"INIT_START 10:00:00.000\n", trace::TraceRead::NotATrace},
        {"tessaray-trace one\n", trace::TraceRead::NotATrace},
        {"tessaray-trace 0\n", trace::TraceRead::NotATrace},
        {"\xff\xfet\0e\0", trace::TraceRead::NotATrace},
        {"tessaray-trace 2\nF 0 1 2 3\n", trace::TraceRead::NewerVersion},
        {"tessaray-trace 1\nF 0 1 2\nZ 5\nM 1 25:00:00.000 X\nE 9 0\n", trace::TraceRead::Ok},
    };
    for (const auto& c : cases) {
        trace::TraceFile t;
        std::string error;
        EXPECT_EQ(trace::parseTrace(c.bytes, t, error), c.expected) << c.bytes;
        EXPECT_EQ(error.empty(), c.expected == trace::TraceRead::Ok) << error;
        if (c.expected == trace::TraceRead::Ok) {
            EXPECT_EQ(t.badLines, 3u);
        }
    }
}

// Every field of every record kind at the edge of its type's range: written and read back
// through the one field list; one past the edge is refused.
TEST(TraceFile, EveryFieldAtItsRangesEdgeReadsBackAndOnePastItIsRefused) {
    const auto edge = [](const trace::Field& field) {
        trace::FieldValue v;
        switch (field.type) {
            case trace::FieldType::Time:
            case trace::FieldType::OptDuration:
                v.number = trace::kLatestNs;
                break;
            case trace::FieldType::Offset:
            case trace::FieldType::UnixMs:
                v.number = INT64_MIN;
                break;
            case trace::FieldType::OptOffset:
                v.present = false;
                break;
            case trace::FieldType::Index:
                v.count = UINT64_MAX;
                break;
            case trace::FieldType::Status:
                v.number = INT32_MIN;
                break;
            case trace::FieldType::TimeOfDay:
                v.number = 86399999;
                break;
            case trace::FieldType::Hex16:
                v.number = 0xFFFF;
                break;
            case trace::FieldType::Flag:
            case trace::FieldType::Word:
            case trace::FieldType::Letter:
                v.number = 1;
                break;
            case trace::FieldType::Name:
                v.text = "NAME_OF_TWENTY_FOUR_BYTE";
                break;
        }
        return v;
    };
    for (const trace::RecordLayout& layout : trace::kRecordLayouts) {
        trace::FieldValue written[trace::kMaxFields];
        for (size_t i = 0; i < layout.fields.size(); ++i) written[i] = edge(layout.fields[i]);
        char line[256];
        const size_t length = trace::formatFields(line, sizeof line, layout, written);
        ASSERT_GT(length, 0u) << layout.kind;
        const std::string_view text(line, length - 1);
        trace::FieldValue read[trace::kMaxFields];
        ASSERT_TRUE(trace::parseFields(text, layout, read)) << text;
        for (size_t i = 0; i < layout.fields.size(); ++i) {
            EXPECT_EQ(read[i].number, written[i].number) << text << " " << layout.fields[i].name;
            EXPECT_EQ(read[i].count, written[i].count) << text << " " << layout.fields[i].name;
            EXPECT_EQ(read[i].text, written[i].text) << text << " " << layout.fields[i].name;
            EXPECT_EQ(read[i].present, written[i].present) << text << " " << layout.fields[i].name;
        }
        // A time one past the clock's range, or one field too many, and the line is refused.
        for (size_t i = 0; i < layout.fields.size(); ++i) {
            if (layout.fields[i].type != trace::FieldType::Time) continue;
            trace::FieldValue beyond[trace::kMaxFields];
            std::copy(std::begin(written), std::end(written), beyond);
            beyond[i].number = trace::kLatestNs + 1;
            const size_t n = trace::formatFields(line, sizeof line, layout, beyond);
            EXPECT_FALSE(trace::parseFields(std::string_view(line, n - 1), layout, read)) << line;
        }
        EXPECT_FALSE(trace::parseFields(std::string(text) + " 0", layout, read)) << text;
    }
}

// Producers never wait for the writer: a ring that is full drops records, and every record
// is either written or counted as dropped.
TEST(TraceFile, AFullRingDropsAndCountsButNeverWaits) {
    const std::string path = tracePath("ring");
    constexpr int kThreads = 3;
    constexpr int kEach = 20000;
    uint64_t dropped = 0;
    {
        trace::Writer writer(path, 64);
        ASSERT_TRUE(writer.ok()) << writer.error();
        std::vector<std::thread> producers;
        for (int p = 0; p < kThreads; ++p)
            producers.emplace_back([&writer, p] {
                trace::Record r;
                r.kind = trace::Kind::Parked;
                for (int i = 0; i < kEach; ++i) {
                    r.t[0] = p * kEach + i;
                    writer.push(r);
                }
            });
        for (std::thread& t : producers) t.join();
        writer.close();
        dropped = writer.dropped();
    }
    trace::TraceFile t;
    std::string error;
    ASSERT_EQ(trace::parseTrace(fileBytes(path), t, error), trace::TraceRead::Ok) << error;
    std::remove(path.c_str());
    EXPECT_GT(dropped, 0u) << "64 records cannot hold 60000 pushed in a burst";
    EXPECT_EQ(t.dropped, dropped);
    EXPECT_EQ(t.parked.size() + dropped, uint64_t(kThreads) * kEach);
}

}  // namespace
}  // namespace corva::test
