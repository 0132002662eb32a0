// Device-supplied text is printed one line, ASCII only: control characters and bytes above
// 0x7E as \xNN.
#include "prox/device_text.h"

#include <gtest/gtest.h>

#include <string>

namespace corva {
namespace {

TEST(DeviceText, ControlAndHighBytesAreEscapedEverythingElseKept) {
    using namespace std::string_literals;
    const struct {
        std::string given;
        std::string printed;
    } cases[] = {
        {"0.4", "0.4"},
        {"", ""},
        {" ~!\\x", " ~!\\x"},  // printable edges, a backslash kept
        {"1.2\nINIT_DONE 00:00:00.000", "1.2\\x0AINIT_DONE 00:00:00.000"},  // a forged line
        {"\r\t\x1b[2J", "\\x0D\\x09\\x1B[2J"},
        {"a\x7f"
         "b",
         "a\\x7Fb"},
        {"\x80\xff", "\\x80\\xFF"},
        {"\xc3\xa9", "\\xC3\\xA9"},  // UTF-8 too: the device's bytes, not characters
        {"x\0y"s, "x\\x00y"},
    };
    for (const auto& c : cases) EXPECT_EQ(prox::printableDeviceText(c.given), c.printed) << c.printed;
}

}  // namespace
}  // namespace corva
