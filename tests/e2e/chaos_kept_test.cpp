// The kept chaos cases' file: every case of tests/e2e/chaos_kept.txt reads back as written,
// and a line that is neither form is refused with its number.
#include "tests/e2e/support/chaos_kept.h"

#include <gtest/gtest.h>

namespace corva::test {
namespace {

void expectSameCases(const std::vector<KeptCase>& a, const std::vector<KeptCase>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].seed, b[i].seed) << i;
        EXPECT_EQ(a[i].args, b[i].args) << i;
        EXPECT_EQ(a[i].scenario, b[i].scenario) << i;
        EXPECT_EQ(a[i].finding, b[i].finding) << i;
    }
}

TEST(KeptChaosCases, TheKeptFileReadsBackAsWritten) {
    std::vector<KeptCase> kept;
    std::string error;
    ASSERT_TRUE(readKeptCasesFile(TESSARAY_ROOT "/tests/e2e/chaos_kept.txt", kept, error)) << error;
    ASSERT_GE(kept.size(), 10u);
    EXPECT_TRUE(kept.front().args == "cycle 1 0.5 1" && kept.front().scenario == "at 1.2 silence");
    std::string text;
    for (const KeptCase& c : kept) text += formatKeptCase(c) + "\n";
    std::vector<KeptCase> back;
    ASSERT_TRUE(parseKeptCases(text, back, error)) << error;
    expectSameCases(kept, back);
}

TEST(KeptChaosCases, LinesOfNeitherFormAreRefusedWithTheirNumber) {
    const struct {
        const char* text;
        size_t cases;  // read; SIZE_MAX: refused at line 2
    } cases[] = {
        {"# comment\n\n12  # a seed\n3 | at 2 silence\ncycle 1 0.5 0.5 |\n", 3},
        {"12\n0\n", SIZE_MAX},
        {"12\n99999999999\n", SIZE_MAX},
        {"12\n | at 1 unplug\n", SIZE_MAX},
        {"12\n3 | at 1 | unplug\n", SIZE_MAX},
    };
    for (const auto& c : cases) {
        std::vector<KeptCase> kept;
        std::string error;
        const bool read = parseKeptCases(c.text, kept, error);
        EXPECT_EQ(read, c.cases != SIZE_MAX) << c.text;
        if (read) {
            EXPECT_EQ(kept.size(), c.cases) << c.text;
        } else {
            EXPECT_EQ(error.rfind("line 2 ", 0), 0u) << error;
        }
    }
}

}  // namespace
}  // namespace corva::test
