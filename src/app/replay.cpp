#include "app/replay.h"

#include "acquisition/markers.h"
#include "acquisition/module_discovery.h"
#include "panel/ostrel_panel.h"
#include "sim/playback.h"
#include "sim/simulated_bus.h"
#include "telemetry/tables.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel {

namespace {

// The plain type of a frame size: its words are channels.
int plainTypeFor(int words) {
    for (int type = 0; type < first_steering_type; ++type) {
        if (number_of_channels[type] == words) return type;
    }
    return default_telemetry_type;
}

std::optional<int> speedIndexFor(int kbps) {
    for (int s = 0; s < speed_count; ++s) {
        if (telemetry_speeds[s].item_value == kbps) return s;
    }
    return std::nullopt;
}

ReplaySetup setupFor(const std::string &moduleName, const sim::PlaybackRecording &recording) {
    ReplaySetup setup;
    setup.moduleName = moduleName;
    setup.type = recording.typeIndex.value_or(plainTypeFor(recording.wordsPerFrame));
    setup.speedIndex = speedIndexFor(recording.kbps);
    setup.kbps = recording.kbps;
    return setup;
}

}  // namespace

void replayMarkersOfPlayback() {
    setReplayedMarkers([](const std::string &moduleName) {
        if (!usbModulesSimulated()) return std::vector<recording::RecordingMarker>{};
        const auto recording = sim::bus().playbackRecording(moduleName);
        return recording ? recording->markers : std::vector<recording::RecordingMarker>{};
    });
}

std::optional<ReplaySetup> playbackSetup(const std::string &moduleName) {
    if (!usbModulesSimulated()) return std::nullopt;
    const auto recording = sim::bus().playbackRecording(moduleName);
    if (!recording) return std::nullopt;
    return setupFor(moduleName, *recording);
}

ReplayResult addReplayModule(const std::string &path) {
    ReplayResult result;
    if (!usbModulesSimulated()) {
        result.problem = "Can't play back \"" + path +
                         "\": OSTREL_MODULE_LIBRARY is set, and playback needs the simulated "
                         "modules.";
        return result;
    }
    sim::LoadedPlayback loaded = sim::loadPlayback(path);
    if (!loaded.recording) {
        result.problem = "Can't play back the recording:\n" + loaded.error;
        return result;
    }
    sim::ModuleConfig config;
    config.name = sim::playbackModuleName(path);
    config.wordsPerFrame = loaded.recording->wordsPerFrame;
    config.kbps = loaded.recording->kbps;
    config.playback = sim::Playback{path, false, loaded.recording};
    if (!sim::bus().plug(config, sim::SimulatedBus::Placement::first)) {
        result.problem = "Can't play back \"" + path + "\": a module named \"" + config.name +
                         "\" is listed already.";
        return result;
    }
    result.warning = loaded.warning;
    result.setup = setupFor(config.name, *loaded.recording);
    return result;
}

void applyReplaySetup(int panel, const ReplaySetup &setup) {
    ui::operatorSelectRingItem(panel, CH_SLIDE, setup.type);
    if (setup.speedIndex && !isSteeringType(setup.type)) {
        ui::operatorSelectRingItem(panel, SPEED_SLIDE, *setup.speedIndex);
    }
    findModules();
    ui::setValue(panel, usbinterface, setup.moduleName);
}

}  // namespace ostrel
