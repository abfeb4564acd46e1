// The panel rebuilt for each telemetry type: visible and labelled displays,
// chart rings, height, the speed ring, and the selections it leaves behind.
#include "display/channel_layout.h"

#include <memory>
#include <string>
#include <vector>

#include "display_fixture.h"
#include "telemetry/selections.h"

namespace ostrel {
namespace {

const std::vector<std::string> steering_labels = {
    "Torque low", "Torque high", "Angle low", "Angle high", "Speed low",
    "Speed high", "X Accel.",    "Y Accel.",  "Z Accel.",   "Ang. Accel."};

std::vector<std::string> numberedLabels(int count) {
    std::vector<std::string> labels;
    for (int n = 1; n <= count; ++n) labels.push_back("Channel " + std::to_string(n));
    return labels;
}

struct Layout {
    int type;
    std::vector<std::string> labels;  // of the visible displays and of chart ring 1
    int chartItem1;
    int chartItem2;
    int height;
    bool steering;
    uint64_t blocks;
};

std::vector<std::string> firstSteeringLabels(int count) {
    return {steering_labels.begin(), steering_labels.begin() + count};
}

const std::vector<Layout> layouts = {
    {0, numberedLabels(4), 0, 1, 254, false, 8192},
    {1, numberedLabels(8), 0, 1, 278, false, 4096},
    {2, numberedLabels(16), 0, 1, 326, false, 2048},
    {3, numberedLabels(32), 0, 1, 422, false, 1024},
    {4, steering_labels, 1, 3, 302, true, 1024},
    {5, steering_labels, 1, 3, 302, true, 1024},
    {6, steering_labels, 1, 3, 302, true, 1024},
    {7, steering_labels, 1, 3, 302, true, 1024},
    {8, firstSteeringLabels(6), 1, 3, 278, true, 1024},
    {9, firstSteeringLabels(6), 1, 3, 278, true, 1024},
};

class TypeLayout : public StartedPanel, public ::testing::WithParamInterface<Layout> {
  protected:
    void expectRingItems(int ring, const std::vector<std::string> &labels) {
        const std::vector<ui::RingItem> items = control(ring).items;
        ASSERT_EQ(items.size(), labels.size()) << "ring " << ring;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].label, labels[i]) << "ring " << ring << " item " << i;
            EXPECT_EQ(items[i].value, ui::Value(int(i) + 1)) << "ring " << ring << " item " << i;
        }
    }
};

TEST_P(TypeLayout, RebuildsThePanelForTheType) {
    const Layout &want = GetParam();
    const int count = int(want.labels.size());
    // Come from a layout that differs in every respect checked below.
    ASSERT_TRUE(selectType(want.type == 3 ? 7 : 3));
    ASSERT_TRUE(selectType(want.type));

    EXPECT_EQ(channel_index, want.type);
    EXPECT_EQ(channels, count);
    EXPECT_EQ(channel_blocks, want.blocks);
    EXPECT_EQ(display_change, 0);
    for (int k = 0; k < CHANNEL_DISPLAYS; ++k) {
        const ui::ControlState display = control(panel_rings[k]);
        EXPECT_EQ(display.visible, k < count) << "display " << k;
        if (k < count) {
            EXPECT_EQ(display.label, want.labels[k]) << "display " << k;
        }
    }

    std::vector<std::string> ring2 = want.labels;
    if (count == 10 && want.steering) ring2[9] = "Ang. Acceleration";
    expectRingItems(CHART_SLIDE_1, want.labels);
    expectRingItems(CHART_SLIDE_2, ring2);
    EXPECT_EQ(control(CHART_SLIDE_1).index, want.chartItem1);
    EXPECT_EQ(control(CHART_SLIDE_2).index, want.chartItem2);
    EXPECT_EQ(chart_index_1, want.chartItem1);
    EXPECT_EQ(chart_index_2, want.chartItem2);

    EXPECT_EQ(height(), want.height);
    EXPECT_EQ(control(SPEED_SLIDE).dimmed, want.steering);
    if (want.steering) {
        EXPECT_EQ(control(SPEED_SLIDE).selectedLabel(), "640 kbps");
        EXPECT_EQ(control(timebase).text(), "  40.80 ms");
    }
}

INSTANTIATE_TEST_SUITE_P(EveryType, TypeLayout, ::testing::ValuesIn(layouts),
                         [](const auto &info) { return "type" + std::to_string(info.param.type); });

// --- The speed ring ----------------------------------------------------------

using SpeedRing = StartedPanel;

TEST_F(SpeedRing, SteeringBackToPlainKeeps640SelectedAndUsable) {
    ASSERT_TRUE(selectType(7));
    ASSERT_TRUE(selectType(0));
    EXPECT_FALSE(control(SPEED_SLIDE).dimmed);
    EXPECT_EQ(control(SPEED_SLIDE).selectedLabel(), "640 kbps");
    EXPECT_EQ(control(timebase).text(), "  40.80 ms");
    EXPECT_TRUE(selectSpeed(0));
    EXPECT_EQ(control(timebase).text(), " 652.80 ms");
}

TEST_F(SpeedRing, PlainToPlainKeepsTheOperatorsSpeed) {
    ASSERT_TRUE(selectSpeed(2));
    ASSERT_TRUE(selectType(3));
    EXPECT_EQ(control(SPEED_SLIDE).index, 2);
    EXPECT_EQ(block_speed_index, 2);
    EXPECT_EQ(control(timebase).text(), "  81.60 ms");
}

// --- The rebuild as a whole --------------------------------------------------

// Records display_change at every change of the panel model.
class RecordingFrontend : public ui::HeadlessFrontend {
  public:
    void modelChanged() override { seen.push_back(display_change); }
    std::vector<int> seen;
};

using Rebuild = StartedPanel;

TEST_F(Rebuild, HoldsDisplayChangeWhileThePanelChanges) {
    auto recorder = std::make_shared<RecordingFrontend>();
    ui::installFrontend(recorder);
    const bool selected = selectType(4);
    ui::installFrontend(nullptr);
    ASSERT_TRUE(selected);
    // The operator's own selection comes first, then the rebuild.
    ASSERT_GT(recorder->seen.size(), 2u);
    EXPECT_EQ(recorder->seen.front(), 0);
    for (std::size_t i = 1; i < recorder->seen.size(); ++i) {
        EXPECT_EQ(recorder->seen[i], 1) << "change " << i << " outside the rebuild";
    }
    EXPECT_EQ(display_change, 0);
}

TEST_F(Rebuild, IgnoresEventsOtherThanCommit) {
    ui::setRingIndex(panelHandle, CH_SLIDE, 3);
    EXPECT_EQ(channel_change(panelHandle, CH_SLIDE, ui::EVENT_CLOSE, nullptr, 0, 0), 0);
    EXPECT_EQ(channels, 8);
    EXPECT_EQ(height(), 278);
    EXPECT_FALSE(control(panel_rings[8]).visible);
}

}  // namespace
}  // namespace ostrel
