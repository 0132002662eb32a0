// Checks of a frame-level trace, read through tessaray-report's own reader: its Chrome
// trace-event JSON is well formed, it agrees with the console log of its run, and (for
// tessaray-sim) with the simulated display's own record of presents and scan-outs.
#pragma once

#include "report/log_parser.h"
#include "trace/trace_file.h"
#include "report/trace_outputs.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace corva::test {

inline trace::TraceFile readTrace(const std::string& path) {
    trace::TraceFile trace;
    std::string error;
    EXPECT_EQ(trace::readTraceFile(path, trace, error), trace::TraceRead::Ok) << error;
    return trace;
}

// A whole trace of a run that ended normally, that agrees with the run's console log.
inline void expectTraceAgreesWithLog(const trace::TraceFile& trace, const std::string& out) {
    EXPECT_TRUE(trace.ended);
    EXPECT_FALSE(trace.cut);
    EXPECT_EQ(trace.badLines, 0u);
    EXPECT_EQ(trace.dropped, 0u);
    const std::vector<report::ParsedLog> logs{report::parseLog(out, "stdout")};
    const report::TraceMatch match = report::matchTraceToLogs(trace, logs);
    ASSERT_NE(match.run, nullptr);
    for (const std::string& problem : match.disagreements) ADD_FAILURE() << problem;
    EXPECT_GE(match.markers, 4u);
    ASSERT_TRUE(match.run->result.presentSeen);
    EXPECT_EQ(match.run->result.frames, trace.frames.size());
}

// The JSON a trace viewer loads: every event has its fields, each track's events come in
// time order and its slices do not overlap, every track is named.
inline void expectWellFormedTraceJson(const trace::TraceFile& trace) {
    const nlohmann::json doc = nlohmann::json::parse(report::traceEventJson(trace));
    ASSERT_TRUE(doc.contains("traceEvents") && doc["traceEvents"].is_array());
    std::map<int, double> lastTs, sliceEnd;
    std::map<int, bool> named;
    std::map<std::string, size_t> phases;
    for (const nlohmann::json& e : doc["traceEvents"]) {
        for (const char* field : {"name", "ph", "pid", "tid", "ts"})
            ASSERT_TRUE(e.contains(field)) << e.dump();
        const std::string ph = e["ph"];
        const int tid = e["tid"];
        const double ts = e["ts"];
        phases[ph] += 1;
        if (ph == "M") {
            if (e["name"] == "thread_name") named[tid] = true;
            continue;
        }
        EXPECT_GE(ts, 0.0) << e.dump();
        if (lastTs.count(tid)) {
            EXPECT_GE(ts, lastTs[tid]) << "out of order on track " << tid << ": " << e.dump();
        }
        lastTs[tid] = ts;
        if (ph == "X") {
            ASSERT_TRUE(e.contains("dur")) << e.dump();
            EXPECT_GE(e["dur"].get<double>(), 0.0);
            if (sliceEnd.count(tid)) {
                EXPECT_GE(ts, sliceEnd[tid]) << "overlaps on track " << tid << ": " << e.dump();
            }
            sliceEnd[tid] = ts + e["dur"].get<double>();
        } else if (ph == "i") {
            EXPECT_TRUE(e.contains("s")) << e.dump();
        } else if (ph == "C") {
            EXPECT_TRUE(e["args"].is_object() && !e["args"].empty()) << e.dump();
        } else {
            ADD_FAILURE() << "unexpected phase " << e.dump();
        }
    }
    for (const auto& [tid, ts] : lastTs) EXPECT_TRUE(named[tid]) << "track " << tid << " has no name";
    EXPECT_EQ(phases["X"] >= trace.frames.size(), true);
    EXPECT_GT(phases["i"], 0u);
    EXPECT_GT(phases["C"], 0u);
}

}  // namespace corva::test
