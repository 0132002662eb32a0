// The panel link: the lines the simulated driver appends and the daemon reads back.
#include "sim/headset/panel_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace corva::sim {
namespace {

TEST(PanelLink, LinesRoundTripAndBadOnesAreRefused) {
    for (const PanelChange change :
         {PanelChange{true, true}, PanelChange{true, false}, PanelChange{false, false}}) {
        PanelChange back{!change.on, !change.compressed};
        const std::string line = panelLine(change);
        ASSERT_TRUE(parsePanelLine(line.substr(0, line.size() - 1), back)) << line;
        EXPECT_EQ(back.on, change.on);
        EXPECT_EQ(back.compressed, change.compressed);
    }
    PanelChange out;
    for (const char* bad : {"", "panel on=2 dsc=0", "panel on=1", "panel on=1 dsc=0 extra", "lamp on=1 dsc=0",
                            "panel on=1 dsc=01", "panel dsc=0 on=1", "panel on=1  dsc=0", "panelon=1 dsc=0"})
        EXPECT_FALSE(parsePanelLine(bad, out)) << bad;
}

TEST(PanelLink, ReaderTakesOnlyCompleteNewLines) {
    const std::string path = ::testing::TempDir() + "panel-link-" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    PanelLinkReader reader(path);
    EXPECT_TRUE(reader.poll().empty()) << "no file yet";
    std::ofstream file(path, std::ios::binary);
    file << "panel on=1 dsc=1\npanel on=0 d" << std::flush;
    std::vector<PanelChange> got = reader.poll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].on && got[0].compressed);
    file << "sc=0\ngarbage\npanel on=1 dsc=0\n" << std::flush;
    got = reader.poll();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_FALSE(got[0].on);
    EXPECT_TRUE(got[1].on && !got[1].compressed);
    EXPECT_TRUE(reader.poll().empty());
    std::remove(path.c_str());
}

}  // namespace
}  // namespace corva::sim
