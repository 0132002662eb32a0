#include "lines/shortened_text.h"

#include <gtest/gtest.h>

#include <string>

namespace corva::lines {
namespace {

// Long texts keep their start and end, whole UTF-8 characters, within the limit.
TEST(ShortenedText, KeepsBothEndsAndWholeCharacters) {
    std::string euros;
    for (int i = 0; i < 2000; ++i) euros += "\xE2\x82\xAC";
    for (const std::string& middle : {std::string("run"), std::string(5000, 'a'), euros}) {
        const std::string text = "/start" + middle + "/end.trace";
        const std::string shortened = ShortenedText(text.c_str()).c_str();
        if (text.size() <= ShortenedText::kMaxBytes) {
            EXPECT_EQ(shortened, text);
            continue;
        }
        EXPECT_LE(shortened.size(), ShortenedText::kMaxBytes);
        EXPECT_GT(shortened.size(), ShortenedText::kMaxBytes - 6) << "shortened more than needed";
        const size_t dots = shortened.find("...");
        ASSERT_NE(dots, std::string::npos);
        EXPECT_EQ(shortened.substr(0, 6), "/start");
        EXPECT_EQ(shortened.substr(shortened.size() - 10), "/end.trace");
        const size_t unit = middle[0] == 'a' ? 1 : 3;  // no character cut at either side
        EXPECT_EQ((dots - 6) % unit, 0u);
        EXPECT_EQ((shortened.size() - 10 - dots - 3) % unit, 0u);
    }
}

}  // namespace
}  // namespace corva::lines
