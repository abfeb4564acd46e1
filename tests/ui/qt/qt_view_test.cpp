// The Qt view, offscreen, on a small test panel: operator input, cross-thread
// updates, modal messages, GUI-thread waits that serve messages, the sync's
// revision mark, and the shutdown of the front end.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <atomic>
#include <thread>

#include "../test_panel.h"
#include "qt_test_support.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"
#include "ui/qt/display_box.h"
#include "ui/qt/panel_window.h"
#include "ui/qt/path_field.h"
#include "ui/qt/ring_box.h"
#include "ui/qt/strip_chart.h"

namespace ostrel::ui::qt {
namespace {

using namespace ostrel::ui::qt::testing;
using ostrel::ui::testing::BUTTON;
using ostrel::ui::testing::CHART_ID;
using ostrel::ui::testing::DISPLAY;
using ostrel::ui::testing::FIELD;
using ostrel::ui::testing::RING;
using ostrel::ui::testing::TOGGLE;

const auto *const qtShutdown = ::testing::AddGlobalTestEnvironment(new QtShutdown);

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
        panel = loadPanel(ui::testing::testPanel());
        for (int id : {RING, TOGGLE, BUTTON})
            installControlCallback(panel, id, recordCommit, nullptr);
        displayPanel(panel);
        ASSERT_TRUE(processUntil([this] { return frontend()->windowOf(panel) != nullptr; }));
        window = frontend()->windowOf(panel);
        commits = 0;
    }
    void TearDown() override {
        discardPanel(panel);
        processUntil([this] { return frontend()->windowOf(panel) == nullptr; });
        installFrontend(nullptr);
    }
    void settle() { QCoreApplication::processEvents(); }
    template <typename T>
    T *body(int control) {
        return static_cast<T *>(window->bodyOf(control));
    }
    int panel = 0;
    PanelWindow *window = nullptr;
};

TEST_F(QtView, OperatorActionsReachTheCallbackOnTheGuiThread) {
    auto *ring = body<QComboBox>(RING);
    EXPECT_EQ(ring->currentText(), "two");
    ring->setCurrentIndex(2);
    emit ring->activated(2);
    EXPECT_EQ(commits, 1);
    EXPECT_TRUE(commitOnGuiThread);
    EXPECT_EQ(controlState(panel, RING)->selectedLabel(), "three");
    body<QPushButton>(TOGGLE)->click();
    settle();
    EXPECT_EQ(controlState(panel, TOGGLE)->intValue(), 1);
    EXPECT_TRUE(body<QPushButton>(TOGGLE)->isChecked());
}

TEST_F(QtView, ValueFromAnotherThreadAppearsWithoutBlockingIt) {
    std::thread worker([this] {
        for (int i = 0; i <= 500; ++i) setValue(panel, DISPLAY, std::to_string(i));
    });
    worker.join();  // finished although the GUI thread processed nothing meanwhile
    auto *display = body<DisplayBox>(DISPLAY);
    EXPECT_TRUE(processUntil([&] { return display->text() == "500"; }));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(display);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), "500") << "a screen reader reads the value";
}

// The stop's shape: the GUI thread busy-waits for a worker that raises a
// message before it finishes. Serving messages on every pass ends the wait;
// meanwhile model changes reach the window and a click is neither applied nor
// kept for later.
TEST_F(QtView, AWaitThatServesMessagesOutlivesAWorkersMessage) {
    MessageBoxes hand;
    auto *toggle = body<QPushButton>(TOGGLE);
    QMetaObject::invokeMethod(toggle, &QPushButton::click, Qt::QueuedConnection);
    std::atomic<bool> stopped{false};
    std::thread worker([&] {
        setValue(panel, DISPLAY, "draining");
        showMessage("USB Error", "Telemetry not in sync");
        stopped = true;
    });
    bool sawDraining = false;
    while (!stopped) {
        serveMessages();
        sawDraining = sawDraining || body<DisplayBox>(DISPLAY)->text() == "draining";
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(hand.seen, std::vector<std::string>{"USB Error: Telemetry not in sync"});
    EXPECT_TRUE(sawDraining) << "the window followed the model during the wait";
    settle();
    EXPECT_EQ(commits, 0) << "the click during the wait was dropped";
    EXPECT_EQ(controlState(panel, TOGGLE)->intValue(), 0);
    EXPECT_FALSE(toggle->isChecked());
    std::thread([] { postMessage("Measurement", "posted, not waited for"); }).join();
    EXPECT_TRUE(processUntil([&] { return hand.seen.size() == 2; }));
    EXPECT_EQ(hand.seen.back(), "Measurement: posted, not waited for");
}

// A value display looks as the read-only line edit it stands for, pixel for
// pixel: digits and units set from its glyph cache, a kerned text shaped, a text
// too wide scrolled to its end (from where the last one was), disabled too.
TEST_F(QtView, ADisplayLooksAsAReadOnlyLineEdit) {
    auto *display = body<DisplayBox>(DISPLAY);
    QLineEdit line(window);
    line.setReadOnly(true);
    line.setFocusPolicy(Qt::NoFocus);
    display->setGeometry(10, 100, 61, 18);  // the test panel's display has no size
    line.setGeometry(10, 130, 61, 18);
    DisplayBox keeper(window);  // keeps the first font's glyphs in use throughout
    keeper.setText("-0.5");
    QFont larger = display->font();
    larger.setPixelSize(larger.pixelSize() + 4);
    for (const QFont &font : {display->font(), larger}) {
        display->setFont(font);
        line.setFont(font);
        for (const bool enabled : {true, false}) {
            display->setEnabled(enabled);
            line.setEnabled(enabled);
            for (const char *text :
                 {"-12.50 Nm", "37.5 \u00b0C", "wider text", "",
                  "a text far too wide for the display 0123456789", "Wave Type: 0123"}) {
                display->setText(QString::fromUtf8(text));
                line.setText(QString::fromUtf8(text));
                const auto image = [](QWidget *w) {
                    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
                };
                EXPECT_EQ(image(display), image(&line))
                    << text << " " << enabled << " " << font.pixelSize();
            }
        }
    }
}

// What the screen shows after new values is what a whole repaint shows: a
// display and a chart repaint only part of themselves and leave nothing stale.
TEST_F(QtView, APartialRepaintLeavesNothingStale) {
    auto *display = body<DisplayBox>(DISPLAY);
    auto *chart = body<StripChart>(CHART_ID);
    display->setGeometry(10, 2, 61, 18);  // the test panel's controls have no size
    chart->setGeometry(5, 25, 290, 169);
    chart->setYRange(-1000, 1000);
    const auto image = [](const QPixmap &pixmap) {
        return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto onScreen = [&](QWidget *widget) {
        const QRect place(widget->mapTo(window, QPoint(0, 0)), widget->size());
        return image(window->screen()->grabWindow(window->winId(), place.x(), place.y(),
                                                  place.width(), place.height()));
    };
    std::deque<float> points;
    for (int step = 0; step < 4; ++step) {
        display->setText(QString::fromUtf8(step % 2 == 0 ? "-1000.00 Nm" : "1"));
        points.push_back(step % 2 == 0 ? 900.0f : -900.0f);
        chart->setPoints(points, 150 + std::uint64_t(step));
        chart->setMarkers(step == 1 ? std::deque<ChartMarker>{{145, 1}}
                                    : std::deque<ChartMarker>{});
        for (int pass = 0; pass < 3; ++pass) settle();
        EXPECT_EQ(onScreen(display), image(display->grab())) << step;
        EXPECT_EQ(onScreen(chart), image(chart->grab())) << step;
    }
}

// A sync never lowers the revision it has applied: a text being edited
// survives unrelated changes and a busy-cursor toggle.
TEST_F(QtView, ATextBeingEditedSurvivesUnrelatedChanges) {
    setValue(panel, FIELD, "/from/the/model");
    settle();
    auto *field = body<QLineEdit>(FIELD);
    field->setText("/typed/by/the/operator");  // not committed yet
    setValue(panel, DISPLAY, "1");
    settle();
    setBusyCursor(true);
    settle();
    setBusyCursor(false);
    settle();
    window->sync();  // nothing new: applies nothing
    setValue(panel, DISPLAY, "2");
    settle();
    EXPECT_EQ(field->text(), "/typed/by/the/operator");
    EXPECT_EQ(body<DisplayBox>(DISPLAY)->text(), "2");
}

// A path longer than its field shows its end, elided at the start, never a tail that reads
// like another path; the whole path is the tooltip and the accessible name, and what the
// operator edits.
TEST_F(QtView, ALongPathShowsItsEndElidedAtTheStart) {
    const QString path = "/home/operator/clients/shot/2026-12-07/track-4/runs";
    setValue(panel, FIELD, path.toStdString());
    settle();
    auto *field = body<PathField>(FIELD);
    field->resize(field->fontMetrics().horizontalAdvance(path) / 3, field->height());
    EXPECT_TRUE(field->text().startsWith(QChar(0x2026)) && field->text().endsWith("/runs"))
        << field->text().toStdString();
    EXPECT_EQ(field->toolTip(), path);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), path);
    QFocusEvent focusIn(QEvent::FocusIn);
    QApplication::sendEvent(field, &focusIn);
    EXPECT_EQ(field->text(), path) << "edited whole";
}

// The ring on screen still lists "one two three" while the model's ring lost
// "one": the operator's pick means the label seen, never the model's index.
TEST_F(QtView, ARingChoiceMeansTheItemSeen) {
    auto *ring = body<QComboBox>(RING);
    replaceRingItems(panel, RING, {{"two", 2}, {"three", 3}});  // the view has not synced
    ASSERT_EQ(ring->count(), 3);
    emit ring->activated(1);  // "two" as shown
    EXPECT_EQ(controlState(panel, RING)->selectedLabel(), "two");
    EXPECT_EQ(ring->count(), 2) << "the view shows the model's ring again";
    EXPECT_EQ(ring->currentText(), "two");
    ring->insertItem(0, "one");  // a view still showing the gone item
    emit ring->activated(0);
    EXPECT_EQ(controlState(panel, RING)->selectedLabel(), "two") << "refused";
    EXPECT_EQ(ring->currentText(), "two");
    EXPECT_EQ(commits, 1);
}

// A label wider than its box ("jex-log-07122026093000.dat" in 80 pixels): the item keeps it
// whole, so the operator's pick hands it back; the open list is as wide as it; the closed box
// shows it elided in the middle; it is the box's tooltip and accessible name.
TEST_F(QtView, ALongRingLabelIsKeptWholeAndShownElided) {
    const QString name = "jex-log-07122026093000.dat";
    replaceRingItems(panel, RING, {{"one", 1}, {name.toStdString(), 2}});
    settle();
    auto *ring = body<RingBox>(RING);
    ASSERT_EQ(ring->count(), 2);
    EXPECT_EQ(ring->itemText(1), name);
    EXPECT_EQ(ring->itemData(1, Qt::ToolTipRole).toString(), name);
    EXPECT_GT(ring->view()->minimumWidth(), ring->view()->fontMetrics().horizontalAdvance(name));
    emit ring->activated(1);
    EXPECT_EQ(controlState(panel, RING)->selectedLabel(), name.toStdString());
    EXPECT_EQ(ring->currentText(), name);
    const QString shown = ring->shownText();
    EXPECT_TRUE(shown.startsWith("jex") && shown.endsWith(".dat") && shown.contains(QChar(0x2026)))
        << shown.toStdString();
    EXPECT_EQ(ring->toolTip(), name);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(ring);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), name);
    emit ring->activated(0);
    EXPECT_EQ(ring->shownText(), "one") << "a label that fits is shown as it is";
    EXPECT_EQ(ring->toolTip(), "one");
}

// A module name from an adapter library may be any bytes. The item shows it with replacement
// characters, and picking it selects that very item in the model, also beside a name that
// looks the same on screen.
TEST_F(QtView, ARingLabelThatIsNotUtf8IsPickedByItsBytes) {
    const std::vector<std::string> labels = {"Empf\xC3\xA4nger", "RX-\xFF\xFE", "RX-\xFE\xFF"};
    replaceRingItems(panel, RING, {{labels[0], 1}, {labels[1], 2}, {labels[2], 3}});
    settle();
    auto *ring = body<RingBox>(RING);
    ASSERT_EQ(ring->count(), 3);
    EXPECT_EQ(ring->itemText(0), QStringLiteral(u"Empf\u00E4nger"));
    EXPECT_TRUE(ring->itemText(1).contains(QChar::ReplacementCharacter));
    EXPECT_EQ(ring->itemText(1), ring->itemText(2));
    for (const int index : {2, 1, 0, 2}) {
        emit ring->activated(index);
        EXPECT_EQ(controlState(panel, RING)->selectedLabel(), labels[std::size_t(index)]) << index;
        EXPECT_EQ(ring->currentIndex(), index);
    }
    EXPECT_EQ(commits, 4);
}

// After shutdown the front end answers messages at once and owns no window;
// whichever thread drops the last reference, no Qt object is touched.
TEST_F(QtView, ShutdownReleasesWaitingWorkersAndDropsTheWindows) {
    auto second = std::make_shared<QtFrontend>();
    installFrontend(second);
    setValue(panel, DISPLAY, "shown by the second front end");
    ASSERT_TRUE(processUntil([&] { return second->windowOf(panel) != nullptr; }));
    std::atomic<bool> released{false};
    std::thread waiting([&] {
        showMessage("USB Error", "Data transfer error from USB module");
        released = true;
    });
    while (!modalActive()) std::this_thread::yield();  // the message is queued
    second->shutdown();
    waiting.join();
    EXPECT_TRUE(released);
    EXPECT_EQ(second->windowOf(panel), nullptr);
    std::thread late([&] { showMessage("USB Error", "Telemetry not in sync"); });
    late.join();  // answered at once
    installFrontend(frontend());
    std::thread last([held = std::move(second)]() mutable { held.reset(); });
    last.join();
    settle();
    EXPECT_FALSE(modalActive());
}

}  // namespace
}  // namespace ostrel::ui::qt
