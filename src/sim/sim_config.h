#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording/recording_description.h"

namespace ostrel::sim {

enum class SignalKind { Plain, Steering };

// How fast the link delivers: real time scaled by `factor`, or as fast as reads are queued.
struct Pace {
    bool fast = false;
    double factor = 1.0;
};

// Faults a simulated module can be told to show.
struct Faults {
    bool noSync = false;      // the sync bit stays clear
    bool openFails = false;   // UsbOpen fails
    uint64_t failBlock = 0;   // the wait of this streamed block fails (from 1)
    uint64_t shortBlock = 0;  // this streamed block arrives one frame short (from 1)
    uint64_t queueFail = 0;   // this queuing of an open module fails (from 1)
    std::optional<std::chrono::milliseconds> unplugAfter;  // gone this long after being plugged
    std::optional<uint64_t> stallAfter;  // blocks streamed before the stream stalls
};

// A recording a module plays back instead of a generated signal: its frame size and link
// speed come from the log file and the description beside it. Its words stay in the file
// (sim/playback_stream.h streams them).
struct PlaybackRecording {
    std::string path;
    int wordsPerFrame = 8;
    int kbps = 160;
    std::optional<int> typeIndex;  // the telemetry type its description names
    uint64_t frames = 0;           // records in the file when it was loaded; never 0
    std::vector<recording::RecordingMarker> markers;  // the markers its description lists
};

// A module's playback: the file as configured, whether it repeats, and the recording once
// loaded (preparePlayback in sim/playback.h).
struct Playback {
    std::string file;
    bool loop = false;
    std::shared_ptr<const PlaybackRecording> recording;
};

// The receive buffer of a module paced in real time, in bytes (whole frames are kept).
inline constexpr uint32_t kDefaultFifoBytes = 16384;

struct ModuleConfig {
    std::string name;
    int wordsPerFrame = 8;  // 4, 8, 16 or 32
    int kbps = 160;         // link speed
    SignalKind signal = SignalKind::Plain;
    uint32_t seed = 1;
    Pace pace;
    uint32_t fifoBytes = kDefaultFifoBytes;  // receive buffer; the fast pace needs none
    Faults faults;
    std::optional<Playback> playback;  // set: the module streams this recording
};

// A module's name: 1 to kMaxNameLength printable ASCII characters, none of the grammar's
// separators , = : ;
inline constexpr std::size_t kMaxNameLength = 64;
constexpr bool isNameCharacter(char c) {
    return c >= ' ' && c <= '~' && c != ',' && c != '=' && c != ':' && c != ';';
}

// The modules listed when OSTREL_SIM is unset, in list order.
std::vector<ModuleConfig> defaultModules();

struct SimConfig {
    std::vector<ModuleConfig> modules;  // the well-formed modules, in the order given
    std::vector<std::string> problems;  // one per ignored part: the part and what is wrong
};

// Parses `NAME:key=value,...;NAME:...` (grammar in src/sim/README.md). Malformed modules are
// left out and described in `problems`; the others are kept.
SimConfig parseSimConfig(std::string_view text);

// The modules for a value of OSTREL_SIM (null: unset). Prints one message on stderr naming the
// malformed parts, if any. Playback modules have their recording loaded; one that cannot be
// played back is left out with a message naming the file and the line.
std::vector<ModuleConfig> modulesFromEnvironment(const char *value);

}  // namespace ostrel::sim
