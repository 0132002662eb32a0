// tests/e2e/chaos_kept.txt: the runs that once broke an invariant of the chaos suite, replayed
// by every test run. One case a line, with what it found after '#':
//   SEED                  # FINDING   a seed of the generator (chaos_run.h)
//   ARGS | SCENARIO       # FINDING   the program's arguments and a scenario, the finding minimised
// Blank lines and lines of comment only are skipped. Written and read here only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corva::test {

struct KeptCase {
    std::optional<uint32_t> seed;  // none: args and scenario
    std::string args;              // blank-separated
    std::string scenario;          // may be empty
    std::string finding;
};

std::string formatKeptCase(const KeptCase& kept);
// False, with the line's number in `error`, on a line that is neither form.
bool parseKeptCases(std::string_view text, std::vector<KeptCase>& cases, std::string& error);
bool readKeptCasesFile(const std::string& path, std::vector<KeptCase>& cases, std::string& error);

}  // namespace corva::test
