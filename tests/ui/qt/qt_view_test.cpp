// The Qt view, offscreen: geometry, operator input, cross-thread updates and
// modal messages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/startup.h"
#include "timer/async_timer.h"
#include "ui/frontend.h"
#include "ui/operator_input.h"
#include "ui/ostrel_panel.h"
#include "ui/panel.h"
#include "ui/panel_state.h"
#include "ui/qt/panel_window.h"
#include "ui/qt/qt_frontend.h"
#include "ui/qt/strip_chart.h"
#include "usb/module_discovery.h"

namespace ostrel::ui::qt {
namespace {

int argc = 1;
char arg0[] = "ui_qt_tests";
char *argv[] = {arg0, nullptr};

std::shared_ptr<QtFrontend> &frontend() {
    static std::shared_ptr<QtFrontend> instance = QtFrontend::create(argc, argv);
    return instance;
}

// Qt must be shut down before the process's exit handlers run, as main does.
// Under ThreadSanitizer Qt instead stays up until the process ends: destroying
// QApplication joins Qt's pooled image threads through futexes the sanitizer
// cannot see (Qt is not instrumented), which it would report as a race.
class QtShutdown : public ::testing::Environment {
  public:
    void TearDown() override {
        installFrontend(nullptr);
#if defined(__SANITIZE_THREAD__)
        static auto *const keptUntilExit = new std::shared_ptr<QtFrontend>(frontend());
        (void)keptUntilExit;
#endif
        frontend().reset();
    }
};
const auto *const qtShutdown = ::testing::AddGlobalTestEnvironment(new QtShutdown);

// Runs the event loop until `done` holds or 10 s pass.
template <typename Pred>
bool processUntil(Pred done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

std::atomic<int> commits{0};
std::atomic<bool> commitOnGuiThread{false};

int recordCommit(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        commitOnGuiThread = QThread::currentThread() == qApp->thread();
        ++commits;
    }
    return 0;
}

class QtView : public ::testing::Test {
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
        commits = 0;
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

TEST_F(QtView, WidgetsSitWhereTheModelPutsThem) {
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

TEST_F(QtView, OperatorActionsReachTheCallbackOnTheGuiThread) {
    installControlCallback(panelHandle, CH_SLIDE, recordCommit, nullptr);
    installControlCallback(panelHandle, LOGPATHBUTTON, recordCommit, nullptr);
    auto *ring = static_cast<QComboBox *>(window->bodyOf(CH_SLIDE));
    ring->setCurrentIndex(3);
    emit ring->activated(3);
    EXPECT_EQ(commits, 1);
    EXPECT_TRUE(commitOnGuiThread);
    EXPECT_EQ(controlState(panelHandle, CH_SLIDE)->index, 3);
    static_cast<QPushButton *>(window->bodyOf(LOGPATHBUTTON))->click();
    EXPECT_EQ(commits, 2);
    static_cast<QPushButton *>(window->bodyOf(meas_start_stop))->click();
    settle();
    EXPECT_EQ(controlState(panelHandle, meas_start_stop)->intValue(), 1);
    EXPECT_EQ(static_cast<QPushButton *>(window->bodyOf(meas_start_stop))->text(), "STOP");
}

TEST_F(QtView, ValueFromAnotherThreadAppearsWithoutBlockingIt) {
    std::thread worker([] {
        for (int i = 0; i <= 500; ++i) setValue(panelHandle, channel_1, std::to_string(i));
        plotPoint(panelHandle, CHART, 1.5f);
    });
    worker.join();  // finished although the GUI thread processed nothing meanwhile
    auto *display = static_cast<QLineEdit *>(window->bodyOf(channel_1));
    EXPECT_TRUE(processUntil([&] { return display->text() == "500"; }));
}

TEST_F(QtView, ModalMessageFromAWorkerBlocksOnlyThatWorker) {
    std::atomic<bool> acknowledged{false};
    std::atomic<bool> sawBox{false};
    std::atomic<bool> closeRefused{false};
    QTimer operatorHand;
    operatorHand.setInterval(10);
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        sawBox = box->windowTitle() == "USB Error" && box->text() == "Telemetry not in sync";
        closeRefused = !operatorClosePanel(panelHandle);
        box->accept();
    });
    operatorHand.start();
    std::thread worker([&] {
        showMessage("USB Error", "Telemetry not in sync");
        acknowledged = true;
    });
    EXPECT_FALSE(acknowledged) << "the worker waits for the operator";
    EXPECT_TRUE(processUntil([&] { return acknowledged.load(); }));
    worker.join();
    EXPECT_TRUE(sawBox);
    EXPECT_TRUE(closeRefused) << "no closing while the message is up";
    EXPECT_FALSE(modalActive());
}

TEST_F(QtView, PanelSizeAndChartsFollowTheModel) {
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

TEST(QtProgram, RunsUntilItsWindowClosesThenDiscardsThePanel) {
    ASSERT_TRUE(frontend());
    installFrontend(frontend());
    int shownPanel = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        PanelWindow *window = frontend()->windowOf(panelHandle);
        if (window == nullptr || !window->isVisible()) return;
        shownPanel = panelHandle;
        window->close();
    });
    closer.start(10);
    QTimer::singleShot(20000, [] { QApplication::exit(1); });  // safety net
    runMainPanel();
    EXPECT_GT(shownPanel, 0);
    EXPECT_EQ(panelHandle, 0);
    EXPECT_FALSE(panelState(shownPanel).has_value());
    EXPECT_EQ(DiscardTimer(timerID_Modules), kTimerErrNoSuchTimer) << "no scan outlives the panel";
    EXPECT_TRUE(processUntil([&] { return frontend()->windowOf(shownPanel) == nullptr; }));
    installFrontend(nullptr);
}

}  // namespace
}  // namespace ostrel::ui::qt
