// Playback modules: a simulated module that streams a recording back. The recording's
// words, frame size and link speed come from the log file and the description beside it
// (from the time base and the column count when there is no usable description).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/sim_config.h"

namespace ostrel::sim {

// Reads the recording at `path` through once, checking every record and counting them; keeps
// none of its words (they are streamed when the module plays). On failure `error` names the file
// and, for a file that

// is not a recording, the line and what was expected; `warning` tells, a line each, a last
// record cut short (left out) and a description that could not be used (the log file's own
// header is then used) or that counts other cycles than the file holds.
struct LoadedPlayback {
    std::shared_ptr<const PlaybackRecording> recording;
    std::string error;
    std::string warning;
};
LoadedPlayback loadPlayback(const std::string &path);

// For a playback module without its recording: loads it and sets the module's frame size and
// link speed from it. Returns what is wrong, or nothing (also for any other module). Prints a
// description that could not be used on stderr.
std::optional<std::string> preparePlayback(ModuleConfig &config);

// A module name from a file path: the file's name, with the characters a module name may not
// hold (, = : and control characters) replaced by '_', cut to 64 characters.
std::string playbackModuleName(std::string_view path);

// Link speed of a recording from its time base: `words` words take `timeBaseMicros`; 0 when
// the time base gives no speed from 1 to 100000 kbps.
int kbpsFromTimeBase(int words, double timeBaseMicros);

}  // namespace ostrel::sim
