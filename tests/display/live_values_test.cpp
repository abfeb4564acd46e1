// Channel and steering texts of one frame, and the live refresh writing them to a
// headless panel from the published frame.
#include "display/live_values.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "display/display_refresh.h"
#include "panel/ostrel_panel.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "ui/headless.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

// Events the timer service delivers: a tick, and the discard notification.
constexpr int tick_event = 15;
constexpr int discard_event = 16;

FrameWords filled(uint16_t word) {
    FrameWords frame;
    frame.fill(word);
    return frame;
}

// High quantities (even words) at full scale, low ones (odd words) at minus full scale:
// a slot reading its pair partner's word shows the wrong sign.
FrameWords alternating() {
    FrameWords frame;
    for (std::size_t k = 0; k < frame.size(); ++k) frame[k] = k % 2 == 0 ? 0xFFFF : 0x0000;
    return frame;
}

// Word k carries sample 128 k: every channel's text differs from the others'.
FrameWords rising() {
    FrameWords frame;
    for (std::size_t k = 0; k < frame.size(); ++k) frame[k] = uint16_t((k * 128) << 4);
    return frame;
}

std::vector<std::string> textsOf(const SteeringReadout &readout) {
    std::vector<std::string> texts;
    for (const LiveText &text : readout.texts) texts.emplace_back(text.view());
    return texts;
}

TEST(SteeringTexts, Layout0FullScaleAndTheWordOfEverySlot) {
    EXPECT_EQ(textsOf(steeringTexts(0, filled(0xFFFF))),
              std::vector<std::string>({"  10.00 Nm", " 100.00 Nm", "  100.00 °", "1000.00 °",
                                        " 500.00 °/s", "1000.00 °/s", "   5.00 g", "   5.00 g",
                                        "   5.00 g", "  10000 °/s^2"}));
    EXPECT_EQ(steeringTexts(0, alternating()).values,
              (std::array<float, 10>{-10, 100, -100, 1000, -500, 1000, 5, -5, 5, -10000}));
}

TEST(SteeringTexts, FactorsAndFieldsPerLayout) {
    const struct {
        int layout;
        uint16_t word;  // every word of the frame
        int slot;
        const char *text;
    } cases[] = {
        {1, 0xFFFF, 1, " 200.00 Nm"},
        {1, 0xFFFF, 2, " 100.00 °"},   // angle low 7 wide but in layout 0
        {1, 0xFFFF, 3, " 1000.00 °"},  // angle high 8 wide but in layout 0
        {3, 0x0000, 1, "-200.00 Nm"},
        {3, 0x0000, 2, "-120.00 °"},
        {3, 0x0000, 3, "-1200.00 °"},
        {0, 0x8000, 0, "   0.00 Nm"},
        {0, 0x8000, 3, "   0.24 °"},
        {0, 0x8000, 9, "      2 °/s^2"},
        {2, 0x8000, 3, "    0.29 °"},
        {0, 0x0000, 3, "-1000.00 °"},  // wider than the field: every digit
        {4, 0x0000, 5, "-1000.00 °/s"},
        {5, 0xFFFF, 1, " 200.00 Nm"},
        {5, 0xFFFF, 9, "  10000 °/s^2"},  // computed without being shown
        {6, 0xFFFF, 1, ""},               // no such layout
    };
    for (const auto &c : cases) {
        EXPECT_EQ(steeringTexts(c.layout, filled(c.word)).texts[c.slot].view(), c.text)
            << "layout " << c.layout << " slot " << c.slot << " word " << c.word;
    }
}

class LiveRefresh : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::headlessFrontend()->reset();
        panelHandle = ui::loadPanel(mainPanelDescription());
        display_change = 0;
        data_received = 1;
    }
    void TearDown() override {
        ui::discardPanel(panelHandle.exchange(0));
        data_received = 0;
        display_change = 0;
        publishIdleFrame();
        channel_index = 1;
        chart_index_1 = 0;
        chart_index_2 = 1;
    }

    // A panel as loaded, for the next row of a table.
    static void reloadPanel() {
        ui::discardPanel(panelHandle.exchange(0));
        panelHandle = ui::loadPanel(mainPanelDescription());
    }
    static void select(int type, int chart1, int chart2, const FrameWords &frame) {
        channel_index = type;
        chart_index_1 = chart1;
        chart_index_2 = chart2;
        publishFrame(frame.data());
    }
    static int refresh(int event = tick_event) { return sortUsbData(0, 1, event, nullptr, 0, 0); }
    static std::string text(int display) { return ui::controlState(panelHandle, display)->text(); }
    static std::vector<std::string> displayTexts() {
        std::vector<std::string> texts;
        for (int display : panel_rings) texts.push_back(text(display));
        return texts;
    }
    static std::deque<float> points(int chart) {
        return ui::controlState(panelHandle, chart)->chart.recent;
    }
};

TEST_F(LiveRefresh, NothingChangesUnlessABlockArrivedAndTheLayoutStands) {
    const struct {
        int received;
        int change;
        int type;
    } cases[] = {
        {0, 0, 1},               // measurement started, no block completed yet
        {1, 1, 1},               // layout being rebuilt
        {1, 1, 5},               // the same for a steering type
        {0, 0, 7},  {1, 0, 10},  // no such type
        {1, 0, -1},
    };
    for (const auto &c : cases) {
        select(c.type, 0, 1, filled(0xFFFF));
        data_received = c.received;
        display_change = c.change;
        const uint64_t before = ui::modelRevision();
        EXPECT_EQ(refresh(), 0);
        EXPECT_EQ(ui::modelRevision(), before)
            << c.received << ", " << c.change << ", type " << c.type;
    }
    data_received = 1;
    display_change = 0;
    channel_index = 1;
    refresh();
    EXPECT_EQ(text(channel_1), " 100.00 %");  // the guards, not the frame, held it back
}

// A plain type writes its channels only, a steering type its ten slot displays, hidden
// ones included; on a tick and on the timer's discard alike.
TEST_F(LiveRefresh, EveryTypeWritesItsOwnDisplays) {
    for (int type = 0; type < 10; ++type) {
        const int count = type < 4 ? 4 << type : 10;
        const FrameWords frame = type == 1 ? filled(0x8000) : type < 4 ? rising() : alternating();
        reloadPanel();
        select(type, 0, 1, frame);
        refresh(type % 2 ? discard_event : tick_event);
        const std::vector<std::string> texts = displayTexts();
        for (int k = 0; k < CHANNEL_DISPLAYS; ++k) {
            const std::string written(k >= count ? ""
                                      : type < 4 ? channelText(frame[k]).view()
                                                 : steeringTexts(type - 4, frame).texts[k].view());
            EXPECT_EQ(texts[k], written) << "type " << type << " display " << k + 1;
        }
    }
    select(8, 0, 1, filled(0xFFFF));  // "Steering Module 100 Nm"
    refresh();
    EXPECT_EQ(text(channel_7), "   5.00 g");
    EXPECT_EQ(text(channel_10), "  10000 °/s^2");
}

// The charts take the selected item on every call, and no point for a selection outside
// the frame.
TEST_F(LiveRefresh, ChartsTakeTheSelectedItemOnEveryCall) {
    const std::optional<float> none;
    const struct {
        int type;
        int chart1;
        int chart2;
        FrameWords frame;
        std::optional<float> point1;
        std::optional<float> point2;
    } cases[] = {
        {1, 0, 1, filled(0x8000), 0.0244200248f, 0.0244200248f},
        {1, 2, 0, rising(), percentOf(rising()[2]), -100.0f},  // "Channel 3", "Channel 1"
        {5, 1, 2, alternating(), 200.0f, -100.0f},   // layout 1: "Torque high", "Angle low"
        {0, 4, 3, filled(0xFFFF), none, 100.0f},     // 4 channels: words 0..3
        {1, -1, 7, filled(0xFFFF), none, 100.0f},    // empty ring
        {3, 31, 32, filled(0xFFFF), 100.0f, none},   // 32 channels: words 0..31
        {4, 9, 10, filled(0xFFFF), 10000.0f, none},  // ten slots
        {8, 5, 6, filled(0xFFFF), 1000.0f, none},    // six slots: no accelerations on the charts
        {9, 9, -1, filled(0xFFFF), none, none},
    };
    for (const auto &c : cases) {
        reloadPanel();
        select(c.type, c.chart1, c.chart2, c.frame);
        refresh();
        refresh();  // no new block: a point all the same
        const auto twice = [](std::optional<float> p) {
            return p ? std::deque({*p, *p}) : std::deque<float>{};
        };
        EXPECT_EQ(points(CHART), twice(c.point1)) << c.type << " " << c.chart1;
        EXPECT_EQ(points(CHART_2), twice(c.point2)) << c.type << " " << c.chart2;
    }
}

TEST_F(LiveRefresh, RefreshOnTheTimerThreadShowsOneWholeFrame) {
    select(3, 0, 31, filled(0x0000));
    std::atomic<bool> done{false};
    std::atomic<int> mixed{0};
    std::thread timer([&] {
        for (int call = 0; call < 1000; ++call) {
            refresh();
            const std::vector<std::string> texts = displayTexts();
            for (const std::string &t : texts) mixed += t != texts[0];
        }
        done = true;
    });
    const FrameWords frames[] = {filled(0x0000), filled(0xFFFF)};
    for (int n = 0; !done; ++n) {
        publishFrame(frames[n % 2].data());
        chart_index_1 = n % 32;
        std::this_thread::yield();
    }
    timer.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(ui::controlState(panelHandle, CHART_2)->chart.total, 1000u);
}

}  // namespace
}  // namespace ostrel
