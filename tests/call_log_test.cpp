// The simulated driver's call log: every call's line reads back as written, and lines the
// format does not have are refused.
#include "sim/driver/call_log.h"
#include "tests/support/sample_lines.h"

#include <gtest/gtest.h>

namespace corva::test {
namespace {

TEST(CallLog, EveryCallReadsBackAsWrittenAndOtherLinesAreRefused) {
    const struct {
        const char* line;
        bool isCall;
    } cases[] = {
        {"NvAPI_Initialize", true},
        {"NvAPI_DRS_FindApplicationByName(tessaray.exe)", true},
        {"NvAPI_D3D_GetIDXGIAdapter(gpu=(nil)) = 0x0", true},
        {"ReleaseDirectModeDisplay(vendorId=0x2709, displayId=0x80061001) = 0xfffffffb", true},
        {"SetDisplayMode(displayId=0x1, mode=2160x1200 90/1 format=28 dsc=0/0x0/0/0) = 0x0", true},
        {"", false},
        {"EnableDirectMode(vendorId=0x2709 = 0x0", false},
        {"EnableDirectMode(vendorId=0x2709) = 0x", false},
        {"EnableDirectMode(vendorId=0x2709) = 0x1zz", false},
        {"EnableDirectMode(vendorId=0x2709) = 0x100000000", false},
        {lines::kBypass.format(), false},  // a line of the program is no call
    };
    for (const auto& c : cases) {
        sim::CallRecord call;
        ASSERT_EQ(sim::parseCall(c.line, call), c.isCall) << c.line;
        if (c.isCall) {
            EXPECT_EQ(sim::formatCall(call), c.line);
        }
    }
    sim::CallRecord release;
    ASSERT_TRUE(sim::parseCall(cases[3].line, release));
    EXPECT_EQ(release.name, "ReleaseDirectModeDisplay");
    EXPECT_EQ(release.argument("vendorId"), "0x2709");
    EXPECT_EQ(release.argument("displayId"), "0x80061001");
    EXPECT_EQ(release.argument("display"), "");
    EXPECT_EQ(release.status, 0xfffffffbu);
}

}  // namespace
}  // namespace corva::test
