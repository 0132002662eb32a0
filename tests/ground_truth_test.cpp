// The simulated headset's ground truth file: what is written reads back the same, and a
// reader refuses a file it cannot fully read rather than seeing fewer wakes.
#include "sim/headset/ground_truth.h"

#include <gtest/gtest.h>

namespace corva::sim {
namespace {

TEST(GroundTruth, WrittenReadsBackAndDamageIsRefused) {
    GroundTruth truth;
    truth.transitions = {{true, HeadsetInput::PanelPower, 100, 200, 300, 0},
                         {false, HeadsetInput::Doze, 400, 500, 600, 0},
                         {true, HeadsetInput::Doze, 700, 800, 123456789, 1000},
                         {true, HeadsetInput::McuPowerUp, 900, 950, 0, 2000}};  // never reported
    truth.bypassAtExit = 1;
    truth.answeringAtExit = 0;
    truth.bypassCommands = {{'p', true, true, 150}, {'[', false, false, 250}, {'p', true, false, 350}};
    truth.presents = {{1, 5000, 0, -1, -1}, {2, 6000, 0, 0, 1}};  // a failed present, never shown
    truth.vblanks = {{0, 4000, 0, 0, false}, {1, 7000, 2, 0, true}};
    truth.panels = {{false, 8000}, {true, 9000}};
    const std::string text = formatGroundTruth(truth);
    ASSERT_EQ(wakeLatenciesMs(truth), std::vector<double>{123.455789});

    GroundTruth read;
    std::string error;
    ASSERT_TRUE(parseGroundTruth(text, read, error)) << error;
    EXPECT_EQ(formatGroundTruth(read), text);
    EXPECT_EQ(read.bypassAtExit, 1);
    EXPECT_EQ(read.answeringAtExit, 0);
    ASSERT_EQ(read.bypassCommands.size(), 3u);
    EXPECT_EQ(read.bypassCommands[1].command, '[');
    EXPECT_FALSE(read.bypassCommands[1].accepted);
    EXPECT_FALSE(read.bypassCommands[2].applied);
    ASSERT_EQ(read.presents.size(), 2u);
    EXPECT_EQ(read.presents[0].shownAtVblank, -1);
    EXPECT_EQ(read.presents[0].status, -1);
    EXPECT_TRUE(read.vblanks[1].newFrame);

    const auto replaced = [&text](const std::string& from, const std::string& to) {
        std::string damaged = text;
        return damaged.replace(damaged.find(from), from.size(), to);
    };
    for (const std::string& damaged :
         {replaced("cause=doze", "cause=sneeze"), replaced("on=0", "on=2"), replaced("wake_stamp_ns=0", ""),
          replaced("first_report_ns=300", "first_report_ns=3x0"),
          replaced("wake_latency_ms 123.456", "wake_latency_ms 99"),
          replaced("mcu_bypass_at_exit 1", "mcu_bypass_at_exit yes"),
          replaced("mcu_answering_at_exit 0", "mcu_answering_at_exit 2"), replaced("cmd=[", "cmd=r"),
          replaced("cmd=p accepted=1 applied=1 time_ns=150", "cmd=p accepted=1 time_ns=150"),
          replaced("new=1", "new=yes"), replaced("panel on=1", "panel on=-1"),
          replaced("shown_vblank=1", "shown_vblank=1 surface=1"), text + "transitions 3\n",
          replaced("wake_latency_ms 123.456\n", "")}) {
        EXPECT_FALSE(parseGroundTruth(damaged, read, error)) << damaged;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace corva::sim
