#include "app/startup.h"

#include <atomic>
#include <optional>
#include <string>

#include "acquisition/markers.h"
#include "acquisition/measurement.h"
#include "acquisition/module_discovery.h"
#include "display/channel_layout.h"
#include "display/charts.h"
#include "logging/log_description.h"
#include "logging/log_directory.h"
#include "panel/ostrel_panel.h"
#include "telemetry/selections.h"
#include "timer/async_timer.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel {

namespace {

// Closes of the main panel since it was loaded: the first ends a measurement after its cycle
// in progress, a second at once. GUI thread; read by the hook on the closing thread.
std::atomic<int> closeRequests{0};

// A close waits for the measurement to be closed completely, then ends the event loop.
void quitAfterClose() {
    if (closeRequests.load() > 0) ui::quitEventLoop(0);
}

}  // namespace

void attachCallbacks(int panel) {
    closeRequests = 0;
    onMeasurementClosed(quitAfterClose);
    replayMarkersOfPlayback();
    ui::installPanelCallback(panel, panelCB, nullptr);
    ui::installControlCallback(panel, CH_SLIDE, channel_change, nullptr);
    ui::installControlCallback(panel, CHART_SLIDE_1, chart_change_1, nullptr);
    ui::installControlCallback(panel, CHART_SLIDE_2, chart_change_2, nullptr);
    ui::installControlCallback(panel, SPEED_SLIDE, speed_change, nullptr);
    ui::installControlCallback(panel, CHARTSSWITCH, show_charts, nullptr);
    ui::installControlCallback(panel, LOGPATHBUTTON, selectLogPath, nullptr);
    ui::installControlCallback(panel, meas_start_stop, startstop, nullptr);
    ui::installControlCallback(panel, usbinterface, usb_interface, nullptr);
}

void runMainPanel(const StartupRequest &request) {
    const int panel = ui::loadPanel(mainPanelDescription());
    panelHandle = panel;
    if (panel > 0) {
        attachCallbacks(panel);
        startPanel();
        if (request.replay) applyReplaySetup(panel, *request.replay);
        ui::setPanelTop(panel, ui::AUTO_CENTER);
        ui::setPanelLeft(panel, ui::AUTO_CENTER);
        if (ui::displayPanel(panel) == ui::UI_OK) {
            reportModuleLibraryProblem();
            if (request.problem) ui::showMessage("Replay Error", *request.problem);
            if (request.notice) ui::showMessage("Replay", *request.notice);
            ui::runEventLoop();
        }
    }
    discardMainPanel();
}

void discardMainPanel() {
    noteMeasurementEnd(recording::MeasurementEnd::windowClosed);
    endMeasurement();  // nothing left open, no thread of ours left running
    const int panel = panelHandle.exchange(0);
    ui::discardPanel(panel);
    // The module scan is still scheduled; end it (its last scan finds no panel)
    // so that no timer thread outlives the program.
    DiscardTimer(kAllTimers);
}

void reportModuleLibraryProblem() {
    if (std::optional<std::string> problem = usbLibraryLoadProblem()) {
        ui::showMessage("USB Error", *problem);
    }
}

void startPanel() {
    const int panel = panelHandle;
    display_change = 1;
    int height = panel_height;
    for (int display : panel_rings) ui::setVisible(panel, display, false);
    for (int k = 0; k < channels; ++k) {
        ui::setVisible(panel, panel_rings[k], true);
        height += CHANNEL_ROW_SHARE;
    }
    ui::setPanelHeight(panel, height);
    for (int control : {CHART_SLIDE_1, CHART_SLIDE_2, CHART, CHART_2, timebase}) {
        ui::setVisible(panel, control, false);
    }
    int value = 0;
    int index = 0;
    ui::getValue(panel, CH_SLIDE, &value);
    ui::getRingIndex(panel, CH_SLIDE, &index);
    channels = value;
    channel_index = index;
    block_speed_factor = int(blocksize >> 9);
    change_time();
    display_change = 0;
    read_log_path();
    fillIdleBlock();
    startModuleScan();
}

int panelCB(int /*panel*/, int event, void * /*callbackData*/, int eventData1, int /*eventData2*/) {
    // Outside a measurement the marker key does nothing, and says nothing.
    if (event == ui::EVENT_KEYPRESS && eventData1 == ui::KEY_MARKER) setMarker();
    if (event != ui::EVENT_CLOSE) return 0;
    // Running, stopping or ended on its own: the window answers at once, and the event loop
    // ends when the measurement has been closed completely (its thread is joined after it).
    noteMeasurementEnd(recording::MeasurementEnd::windowClosed);
    const bool first = closeRequests.fetch_add(1) == 0;
    if (!measurementBusy()) {
        ui::quitEventLoop(0);
        return 0;
    }
    requestStop(!first);
    return 0;
}

}  // namespace ostrel
