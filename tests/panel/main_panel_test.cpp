// The description of the main panel: identifiers, channel table, rings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "panel/ostrel_panel.h"

namespace ostrel {
namespace {

const ui::ControlDescription &find(const ui::PanelDescription &panel, int id) {
    for (const ui::ControlDescription &c : panel.controls) {
        if (c.id == id) return c;
    }
    throw std::runtime_error("no control " + std::to_string(id));
}

TEST(MainPanel, HasFortyEightControlsNumberedTwoToFortyNine) {
    const ui::PanelDescription panel = mainPanelDescription();
    EXPECT_EQ(panel.title, "Ostrel V1.3.1");
    EXPECT_EQ(panel.width, 836);
    std::set<int> ids;
    std::set<std::string> names;
    for (const ui::ControlDescription &c : panel.controls) {
        ids.insert(c.id);
        names.insert(c.constantName);
    }
    EXPECT_EQ(panel.controls.size(), 48u);
    EXPECT_EQ(*ids.begin(), 2);
    EXPECT_EQ(*ids.rbegin(), 49);
    EXPECT_EQ(ids.size(), 48u);
    EXPECT_EQ(names.size(), 48u);
}

TEST(MainPanel, ChannelTableMapsChannelsToTheirDisplays) {
    const ui::PanelDescription panel = mainPanelDescription();
    EXPECT_EQ(panel_rings[6], 12) << "channel 7";
    EXPECT_EQ(panel_rings[9], 9) << "channel 10";
    for (int n = 1; n <= CHANNEL_DISPLAYS; ++n) {
        const ui::ControlDescription &display = find(panel, panel_rings[n - 1]);
        EXPECT_EQ(display.constantName, "channel_" + std::to_string(n));
        EXPECT_EQ(display.label, "Channel " + std::to_string(n));
        EXPECT_EQ(display.body.top, 190 + 25 * ((n - 1) / 4));
        EXPECT_EQ(display.body.left, 115 + 175 * ((n - 1) % 4));
        EXPECT_EQ(display.kind, ui::ControlKind::TextDisplay);
    }
    EXPECT_EQ(std::set<int>(panel_rings.begin(), panel_rings.end()).size(), 32u);
}

TEST(MainPanel, RingsStartAsDescribed) {
    const ui::PanelDescription panel = mainPanelDescription();
    const ui::ControlDescription &type = find(panel, CH_SLIDE);
    ASSERT_EQ(type.items.size(), 10u);
    EXPECT_EQ(type.items[0].label, " 4 Channel") << "leading blank kept";
    EXPECT_EQ(type.items[1].label, " 8 Channel");
    EXPECT_EQ(type.items[9].label, "Steering Module 200 Nm");
    EXPECT_EQ(type.items[5].value, type.items[4].value) << "values repeat: use the index";
    EXPECT_EQ(type.index, 1);
    EXPECT_EQ(type.label, "Telemtry Type");
    const ui::ControlDescription &speed = find(panel, SPEED_SLIDE);
    EXPECT_EQ(speed.index, 1);
    EXPECT_EQ(speed.items[1].label, "160 kbps");
    EXPECT_EQ(speed.items[3].value, ui::Value(640));
    EXPECT_EQ(type.items[8].value, ui::Value(6)) << "module layouts show six displays";
    EXPECT_EQ(find(panel, CHART_SLIDE_1).index, 0);
    EXPECT_EQ(find(panel, CHART_SLIDE_2).index, 1);
    EXPECT_EQ(find(panel, CHART_SLIDE_2).items.size(), 8u);
    const ui::ControlDescription &separator = find(panel, FILE_SEP);
    EXPECT_EQ(separator.items[separator.index].label, "Comma");
    EXPECT_EQ(separator.items[separator.index].value, ui::Value(1));
    EXPECT_TRUE(find(panel, usbinterface).items.empty());
    EXPECT_EQ(find(panel, usbinterface).index, -1);
}

TEST(MainPanel, LogPathStartsAtTheHomeDirectory) {
    const char *const saved = std::getenv("HOME");
    const std::string home = saved != nullptr ? saved : "";
    setenv("HOME", "/tmp/ostrel-home-of-test", 1);
    EXPECT_EQ(find(mainPanelDescription(), LOGPATH).value,
              ui::Value(std::string("/tmp/ostrel-home-of-test")));
    unsetenv("HOME");
    EXPECT_FALSE(std::get<std::string>(find(mainPanelDescription(), LOGPATH).value).empty())
        << "without HOME: the account's home directory";
    if (saved != nullptr) setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(find(mainPanelDescription(), meas_start_stop).offText, "START");
}

}  // namespace
}  // namespace ostrel
