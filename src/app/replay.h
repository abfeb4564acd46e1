// `ostrel --replay PATH`: a simulated module that plays the recording back, at the top of the
// module ring, with the recording's telemetry type and speed chosen on the panel.
#pragma once

#include <optional>
#include <string>

namespace ostrel {

struct ReplaySetup {
    std::string moduleName;
    int type = -1;                  // the telemetry type to choose
    std::optional<int> speedIndex;  // the speed ring's item, when the speed is one of them
    int kbps = 0;                   // the recording's link speed
};

struct ReplayResult {
    std::optional<ReplaySetup> setup;
    std::string problem;  // why the recording cannot be played back (file, line, what)
    std::string warning;  // what is played otherwise than it is described, a line each
};

// Loads the recording and plugs its module at the top of the simulated modules.
ReplayResult addReplayModule(const std::string &path);

// A measurement from a playback module sets the markers of its recording again as it plays.
void replayMarkersOfPlayback();

// The module, type and speed of the simulated module `moduleName` when it plays a recording
// back (OSTREL_SIM's P:file=...); none for a generated signal or real hardware.
std::optional<ReplaySetup> playbackSetup(const std::string &moduleName);

// Chooses the replay's module, type and speed on the panel, as the operator would. Main thread.
void applyReplaySetup(int panel, const ReplaySetup &setup);

}  // namespace ostrel
