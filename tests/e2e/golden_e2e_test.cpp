// Everything tessaray-sim prints, compared with golden files (tests/e2e/golden/), so that any
// unintended change in the program's output fails. What differs from run to run (times, frame
// rates, distances, latencies: the fields the table of printed lines marks Varying) is masked;
// lines printed by the display-status monitor and the status-line thread race with the other
// threads and are compared apart from the ordered text.
// TESSARAY_UPDATE_GOLDEN=1 rewrites the golden files from the runs.
#include "lines/line_classify.h"
#include "lines/line_scan.h"
#include "tests/e2e/e2e_checks.h"
#include "tests/support/sample_lines.h"

#include <cstdlib>
#include <fstream>
#include <set>

namespace corva::test {
namespace {

struct GoldenCase {
    const char* name;  // golden file: tests/e2e/golden/<name>.txt
    std::vector<std::string> args;
    const char* scenario;
};

void PrintTo(const GoldenCase& c, std::ostream* os) {
    *os << c.name;
}

const GoldenCase kCases[] = {
    {"plain", {"1"}, ""},
    {"cycle", {"cycle", "1", "0.5", "0.5"}, ""},
    {"doze_no_mcu", {"doze", "1", "0.5", "0.5"}, "no-mcu"},
    {"acquire_and_present_fail", {"1"}, "acquire-fail 1; present-fail 2"},
    {"vblank_lost", {"2.5"}, "at 0.6 vblank-lost; at 1.2 vblank-restored"},
    {"no_display", {"1"}, "no-display"},
};

const char kFreeRunSuffix[] = "  [FREE-RUN: vsync lost]";

// The line with each field that differs from run to run shown as the table's mask for it
// (lines/printed_lines.h); a field printed as "-" (a step not taken) stays as it is.
std::string mask(const std::string& line) {
    const lines::PrintedLine* entry = lines::classify(line).entry;
    if (entry == nullptr) return line;
    std::vector<lines::ScannedField> fields(entry->fields + 1);
    if (!lines::scanFields(entry->format, line, fields.data(), entry->fields)) return line;
    std::string masked;
    size_t at = 0;
    for (size_t i = 0; i < entry->fields; ++i) {
        const lines::ScannedField& f = fields[i];
        if (entry->masks[i] == nullptr || f.text == lines::kNoValue) continue;
        masked += line.substr(at, f.begin - at) + entry->masks[i];
        at = f.end;
    }
    return masked + line.substr(at);
}

// A loaded machine can push any run into free-run, and keep one there after its vertical
// blank returns: these two lines, in exactly this text, are not compared (the end-to-end
// tests check when they must appear); any other text of theirs still shows as a change.
bool isFreeRunLine(const std::string& line) {
    return line == test::sampleText(lines::kFreeRunStart, 75.0) ||
           line == test::sampleText(lines::kFreeRunOver);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// One run in a canonical text: the exit code, standard output in order, the monitor's lines
// sorted, the distinct status lines (with a free-run suffix of the known text removed) and
// standard error in order, free-run lines left out. Which line is which, the reader says.
std::string canonical(const SimProcessResult& run) {
    const ReadRun r = readRun(run);
    std::set<size_t> monitorNumbers, statusNumbers;
    for (const report::Event& e : r.run.events)
        if (e.kind == EventKind::DstatChange || e.kind == EventKind::WakeLatency ||
            e.kind == EventKind::WakePhases)
            monitorNumbers.insert(e.line);
    for (const report::StatusSample& s : r.run.status) statusNumbers.insert(s.line);
    std::string ordered, monitor, status, err;
    std::multiset<std::string> monitorLines;
    std::set<std::string> statusShapes;
    size_t number = 0;
    for (std::string line : linesOf(run.out)) {
        ++number;
        // A loaded machine can make any wake's monitor gap fail its limit: the conditions
        // test checks when these must appear.
        if (const lines::PrintedLine* entry = lines::classify(line).entry;
            entry != nullptr && entry->id == lines::LineId::WakeCondition)
            continue;
        if (statusNumbers.count(number) != 0) {
            if (line.size() >= sizeof kFreeRunSuffix &&
                line.compare(line.size() - (sizeof kFreeRunSuffix - 1), std::string::npos, kFreeRunSuffix) ==
                    0)
                line.resize(line.size() - (sizeof kFreeRunSuffix - 1));
            statusShapes.insert(mask(line));
        } else if (monitorNumbers.count(number) != 0) {
            monitorLines.insert(mask(line));
        } else {
            ordered += mask(line) + "\n";
        }
    }
    for (const std::string& line : monitorLines) monitor += line + "\n";
    for (const std::string& line : statusShapes) status += line + "\n";
    for (const std::string& line : linesOf(run.err))
        if (!isFreeRunLine(line)) err += mask(line) + "\n";
    return "exit " + std::to_string(run.exitCode) + "\n[stdout]\n" + ordered +
           "[display-status monitor, sorted]\n" + monitor + "[status lines, distinct]\n" + status +
           "[stderr]\n" + err;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class GoldenOutput : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenOutput, MatchesTheGoldenFile) {
    const GoldenCase& c = GetParam();
    SimProcessOptions options = simOptions(c.args, c.scenario);
    options.everyMode = true;
    const SimProcessResult run = runSim(options);
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut);
    const std::string actual = canonical(run);
    const std::string path = std::string(TESSARAY_GOLDEN_DIR) + "/" + c.name + ".txt";
    if (const char* update = std::getenv("TESSARAY_UPDATE_GOLDEN"); update != nullptr && *update == '1') {
        std::ofstream(path, std::ios::binary) << actual;
        GTEST_SKIP() << "rewrote " << path;
    }
    const std::string expected = readFile(path);
    ASSERT_FALSE(expected.empty()) << "no golden file " << path;
    EXPECT_EQ(actual, expected) << "raw stdout:\n" << run.out << "raw stderr:\n" << run.err;
}

// The prefix puts the runs under the e2e label.
INSTANTIATE_TEST_SUITE_P(E2e, GoldenOutput, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace corva::test
