// The main window in the Qt view, offscreen: where start-up puts the controls, and the window
// following the model. The program's run until its window closes is the window test's.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "../ui/qt/qt_test_support.h"
#include "app/startup.h"
#include "panel/ostrel_panel.h"
#include "ui/panel.h"
#include "ui/panel_state.h"
#include "ui/qt/panel_window.h"
#include "ui/qt/strip_chart.h"

namespace ostrel::ui::qt {
namespace {

using namespace ostrel::ui::qt::testing;

const auto *const qtShutdown = ::testing::AddGlobalTestEnvironment(new QtShutdown);

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(frontend());
        installFrontend(frontend());
        panelHandle = loadPanel(mainPanelDescription());
        attachCallbacks(panelHandle);
        startPanel();
        setPanelTop(panelHandle, AUTO_CENTER);
        setPanelLeft(panelHandle, AUTO_CENTER);
        displayPanel(panelHandle);
        ASSERT_TRUE(processUntil([] { return frontend()->windowOf(panelHandle) != nullptr; }));
        window = frontend()->windowOf(panelHandle);
    }
    void TearDown() override {
        const int panel = panelHandle;
        discardMainPanel();
        if (!frontend()) return;
        processUntil([panel] { return frontend()->windowOf(panel) == nullptr; });
        installFrontend(nullptr);
    }
    void settle() { QCoreApplication::processEvents(); }
    PanelWindow *window = nullptr;
};

TEST_F(MainWindow, WidgetsSitWhereTheModelPutsThem) {
    settle();
    EXPECT_EQ(window->size(), QSize(836, 278));
    EXPECT_EQ(window->windowTitle(), "Ostrel V1.3.1");
    EXPECT_EQ(window->bodyOf(CH_SLIDE)->geometry(), QRect(112, 78, 170, 19));
    EXPECT_EQ(window->labelOf(CH_SLIDE)->text(), "Telemtry Type");
    EXPECT_EQ(window->bodyOf(panel_rings[6])->geometry(), QRect(115 + 175 * 2, 215, 69, 15));
    EXPECT_FALSE(window->bodyOf(panel_rings[8])->isVisibleTo(window)) << "channel 9 hidden";
    EXPECT_TRUE(window->bodyOf(panel_rings[7])->isVisibleTo(window));
    EXPECT_FALSE(window->bodyOf(CHART)->isVisibleTo(window));
    auto *start = static_cast<QPushButton *>(window->bodyOf(meas_start_stop));
    EXPECT_EQ(start->text(), "START");
    auto *ring = static_cast<QComboBox *>(window->bodyOf(CH_SLIDE));
    EXPECT_EQ(ring->count(), 10);
    EXPECT_EQ(ring->currentText(), " 8 Channel");
}

TEST_F(MainWindow, PanelSizeAndChartsFollowTheModel) {
    setPanelHeight(panelHandle, 508);
    setVisible(panelHandle, CHART, true);
    setTop(panelHandle, CHART, 290);
    setYAxisRange(panelHandle, CHART, -1200, 1200);
    for (int i = 0; i < 3; ++i) plotPoint(panelHandle, CHART, float(i * 100));
    settle();
    EXPECT_EQ(window->height(), 508);
    auto *chart = static_cast<StripChart *>(window->bodyOf(CHART));
    EXPECT_TRUE(chart->isVisibleTo(window));
    EXPECT_EQ(chart->geometry().top(), 290);
    EXPECT_EQ(chart->yMin(), -1200);
    EXPECT_EQ(chart->yMax(), 1200);
    EXPECT_EQ(chart->pointCount(), 3);
}

}  // namespace
}  // namespace ostrel::ui::qt
