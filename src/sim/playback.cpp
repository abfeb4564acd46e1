#include "sim/playback.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "recording/path_names.h"
#include "recording/recording_description.h"
#include "recording/recording_reader.h"
#include "telemetry/link_timing.h"
#include "telemetry/tables.h"
#include "usb/program_name.h"

namespace ostrel::sim {

namespace {

constexpr int kMaxKbps = 100000;
constexpr std::size_t kChunkWords = 1 << 16;

bool isFrameSize(std::size_t words) {
    return words == 4 || words == 8 || words == 16 || words == 32;
}

bool fileExists(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The description's speed and type when it exists, agrees with the log file and can be read.
struct DescribedLink {
    int kbps = 0;
    std::optional<int> typeIndex;
    std::vector<recording::RecordingMarker> markers;
};

// The file is what is played; a description that counts other cycles (a recording killed or
// cut off before its description caught up) is told, not believed.
std::string cycleMismatch(const std::string &descriptionPath, uint64_t describedCycles,
                          std::size_t words, uint64_t records) {
    const uint64_t described = describedCycles * (LOGCOUNT / words);
    if (described == records) return {};
    return descriptionPath + ": counts " + std::to_string(describedCycles) + " cycles (" +
           std::to_string(described) + " records), the log file holds " + std::to_string(records) +
           " records; the log file's records are played";
}

std::optional<DescribedLink> describedLink(const std::string &path, std::size_t words,
                                           uint64_t records, std::string &warning) {
    const std::string descriptionPath = recording::descriptionPathFor(path);
    if (!fileExists(descriptionPath)) return std::nullopt;
    const recording::ParsedDescription parsed = recording::readDescription(descriptionPath);
    if (!parsed.description) {
        warning = parsed.error + "; the speed is taken from the time base";
        return std::nullopt;
    }
    const recording::RecordingDescription &d = *parsed.description;
    if (std::size_t(d.channelCount) != words || d.speedKbps < 1 || d.speedKbps > kMaxKbps) {
        warning = descriptionPath +
                  ": does not match the log file's columns or names no speed; the speed is "
                  "taken from the time base";
        return std::nullopt;
    }
    warning = cycleMismatch(descriptionPath, d.cycles, words, records);
    DescribedLink link{d.speedKbps, std::nullopt, d.markers};
    if (isValidType(d.typeIndex) && std::size_t(number_of_channels[d.typeIndex]) == words) {
        link.typeIndex = d.typeIndex;
    }
    return link;
}

// Reads the file through to its end, keeping nothing: the whole records it holds, or the
// reader's error. A last record cut short (a recording that was being written) is left out
// and told in `cut`, as the converter does. The words are streamed again when played.
std::string countRecords(recording::RecordingReader &reader, uint64_t &records, std::string &cut) {
    std::vector<uint16_t> chunk(kChunkWords / reader.wordsPerRecord() * reader.wordsPerRecord());
    while (reader.nextRecords(chunk) > 0) {
    }
    records = reader.recordsRead();
    if (!reader.error()) return {};
    if (!reader.error()->truncated || records == 0) return reader.error()->message();
    cut = reader.error()->message() + "; the " + std::to_string(records) + " whole " +
          (records == 1 ? "record" : "records") + " before it are played";
    return {};
}

void addWarning(std::string &warnings, const std::string &warning) {
    if (warning.empty()) return;
    warnings += (warnings.empty() ? "" : "\n") + warning;
}

}  // namespace

int kbpsFromTimeBase(int words, double timeBaseMicros) {
    if (!(timeBaseMicros > 0) || !std::isfinite(timeBaseMicros)) return 0;
    const double kbps =
        double(words) * double(link_word_nanos_times_kbps) / 1000.0 / timeBaseMicros;
    if (!(kbps >= 0.5) || kbps > kMaxKbps) return 0;
    return int(std::lround(kbps));
}

LoadedPlayback loadPlayback(const std::string &path) {
    LoadedPlayback result;
    recording::RecordingReader reader(path);
    if (reader.error()) {
        result.error = reader.error()->message();
        return result;
    }
    const std::size_t words = reader.wordsPerRecord();
    if (!isFrameSize(words)) {
        result.error =
            path + ": line 2: expected 4, 8, 16 or 32 columns, found " + std::to_string(words);
        return result;
    }
    auto recording = std::make_shared<PlaybackRecording>();
    recording->path = path;
    recording->wordsPerFrame = int(words);
    std::string cut;
    if (std::string error = countRecords(reader, recording->frames, cut); !error.empty()) {
        result.error = std::move(error);
        return result;
    }
    if (recording->frames == 0) {
        result.error = path + ": holds no records to play back";
        return result;
    }
    std::string described;
    const auto link = describedLink(path, words, recording->frames, described);
    addWarning(result.warning, cut);
    addWarning(result.warning, described);
    if (link) {
        recording->kbps = link->kbps;
        recording->typeIndex = link->typeIndex;
        recording->markers = link->markers;
    } else {
        recording->kbps = kbpsFromTimeBase(int(words), reader.header().timeBaseMicros);
        if (recording->kbps == 0) {
            result.error = path + ": line 1: expected a time base that gives a link speed";
            return result;
        }
    }
    result.recording = std::move(recording);
    return result;
}

std::optional<std::string> preparePlayback(ModuleConfig &config) {
    if (!config.playback || config.playback->recording) return std::nullopt;
    LoadedPlayback loaded = loadPlayback(config.playback->file);
    std::size_t from = 0;
    while (from < loaded.warning.size()) {
        const std::size_t end = std::min(loaded.warning.find('\n', from), loaded.warning.size());
        std::fprintf(stderr, "%s: %.*s\n", usbProgramName().c_str(), int(end - from),
                     loaded.warning.data() + from);
        from = end + 1;
    }
    if (!loaded.recording) return loaded.error;
    config.wordsPerFrame = loaded.recording->wordsPerFrame;
    config.kbps = loaded.recording->kbps;
    config.signal = SignalKind::Plain;
    config.playback->recording = std::move(loaded.recording);
    if (config.fifoBytes < uint32_t(config.wordsPerFrame) * 2) {
        config.fifoBytes = uint32_t(config.wordsPerFrame) * 2;
    }
    return std::nullopt;
}

std::string playbackModuleName(std::string_view path) {
    const std::string_view file = recording::baseNameOf(path);
    std::string name;
    for (const char c : file) {
        name += isNameCharacter(c) ? c : '_';
        if (name.size() == kMaxNameLength) break;
    }
    return name.empty() ? std::string("PLAYBACK") : name;
}

}  // namespace ostrel::sim
