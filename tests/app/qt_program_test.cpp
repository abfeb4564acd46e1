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
    auto *ring = static_cast<QComboBox *>(window->bodyOf(CH_SLIDE));
    EXPECT_EQ(std::tuple(window->size(), window->windowTitle(), ring->geometry(),
                         window->labelOf(CH_SLIDE)->text(), ring->count(), ring->currentText(),
                         window->bodyOf(panel_rings[6])->geometry(),
                         static_cast<QPushButton *>(window->bodyOf(meas_start_stop))->text()),
              std::tuple(QSize(836, 278), "Ostrel V1.3.1", QRect(112, 78, 170, 19), "Telemtry Type",
                         10, " 8 Channel", QRect(115 + 175 * 2, 215, 69, 15), "START"));
    // Channel 8 shown, channel 9 and the chart hidden.
    EXPECT_EQ(std::tuple(window->bodyOf(panel_rings[7])->isVisibleTo(window),
                         window->bodyOf(panel_rings[8])->isVisibleTo(window),
                         window->bodyOf(CHART)->isVisibleTo(window)),
              std::tuple(true, false, false));
}

TEST_F(MainWindow, PanelSizeAndChartsFollowTheModel) {
    setPanelHeight(panelHandle, 508);
    setVisible(panelHandle, CHART, true);
    setTop(panelHandle, CHART, 290);
    setYAxisRange(panelHandle, CHART, -1200, 1200);
    for (int i = 0; i < 3; ++i) plotPoint(panelHandle, CHART, float(i * 100));
    settle();
    auto *chart = static_cast<StripChart *>(window->bodyOf(CHART));
    EXPECT_EQ(std::tuple(window->height(), chart->isVisibleTo(window), chart->geometry().top(),
                         chart->yMin(), chart->yMax(), chart->pointCount()),
              std::tuple(508, true, 290, -1200, 1200, 3));
}

}  // namespace
}  // namespace ostrel::ui::qt
