#include "app/startup.h"

#include <optional>
#include <string>

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

void attachCallbacks(int panel) {
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

int panelCB(int /*panel*/, int event, void * /*callbackData*/, int /*eventData1*/,
            int /*eventData2*/) {
    if (event != ui::EVENT_CLOSE) return 0;
    // Running, draining or ended on its own: the measurement is closed
    // completely and its thread joined before the event loop ends.
    noteMeasurementEnd(recording::MeasurementEnd::windowClosed);
    endMeasurement();
    ui::quitEventLoop(0);
    return 0;
}

}  // namespace ostrel
