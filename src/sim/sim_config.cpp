#include "sim/sim_config.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

#include "sim/playback.h"
#include "usb/program_name.h"

namespace ostrel::sim {

namespace {

constexpr int kMaxKbps = 100000;
constexpr uint32_t kMaxFifoBytes = 64u << 20;

ModuleConfig makeModule(std::string name, int words, int kbps, SignalKind signal) {
    ModuleConfig config;
    config.name = std::move(name);
    config.wordsPerFrame = words;
    config.kbps = kbps;
    config.signal = signal;
    return config;
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

template <typename Int>
std::optional<Int> parseInteger(std::string_view text) {
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parseFactor(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (!std::isfinite(value) || value <= 0 || value > 1e6) return std::nullopt;
    return value;
}

// "250", "250ms" or "3s".
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text) {
    uint64_t scale = 1;
    if (text.ends_with("ms")) {
        text.remove_suffix(2);
    } else if (text.ends_with("s")) {
        text.remove_suffix(1);
        scale = 1000;
    }
    const auto value = parseInteger<uint32_t>(text);
    if (!value) return std::nullopt;
    return std::chrono::milliseconds{*value * scale};
}

// `"text"` followed by `what`. Built by appending, which also keeps GCC 12's -Wrestrict quiet.
std::string quoted(std::string_view text, std::string_view what) {
    std::string message;
    message.reserve(text.size() + what.size() + 2);
    message.append("\"").append(text).append("\"").append(what);
    return message;
}

bool isValidName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    return std::all_of(name.begin(), name.end(), isNameCharacter);
}

// What the keys of one module set, for the checks that need to know what was given.
struct ModuleDraft {
    ModuleConfig config;
    bool wordsGiven = false;
    bool kbpsGiven = false;
    bool signalGiven = false;
};

Playback &playbackOf(ModuleDraft &draft) {
    if (!draft.config.playback) draft.config.playback.emplace();
    return *draft.config.playback;
}

// Applies one key; returns what is wrong with it, or nothing.
std::optional<std::string> applyKey(std::string_view key, std::optional<std::string_view> value,
                                    ModuleDraft &draft) {
    Faults &faults = draft.config.faults;
    const bool isFlag = key == "nosync" || key == "openfail" || key == "queuefail" || key == "loop";
    if (!value && !isFlag) return quoted(key, " needs a value");
    if (value && (key == "nosync" || key == "openfail")) return quoted(key, " takes no value");
    if (key == "nosync") {
        faults.noSync = true;
    } else if (key == "openfail") {
        faults.openFails = true;
    } else if (key == "words") {
        const auto words = parseInteger<int>(*value);
        if (!words || (*words != 4 && *words != 8 && *words != 16 && *words != 32)) {
            return "words must be 4, 8, 16 or 32";
        }
        draft.config.wordsPerFrame = *words;
        draft.wordsGiven = true;
    } else if (key == "kbps") {
        const auto kbps = parseInteger<int>(*value);
        if (!kbps || *kbps < 1 || *kbps > kMaxKbps) return "kbps must be 1 to 100000";
        draft.config.kbps = *kbps;
        draft.kbpsGiven = true;
    } else if (key == "file") {
        if (value->empty()) return std::string("file needs the path of a recording");
        playbackOf(draft).file = std::string(*value);
    } else if (key == "loop") {
        if (value && *value != "0" && *value != "1") return std::string("loop must be 0 or 1");
        playbackOf(draft).loop = !value || *value == "1";
    } else if (key == "signal") {
        draft.signalGiven = true;
        if (*value == "plain") {
            draft.config.signal = SignalKind::Plain;
        } else if (*value == "steering") {
            draft.config.signal = SignalKind::Steering;
        } else {
            return "signal must be plain or steering";
        }
    } else if (key == "seed") {
        const auto seed = parseInteger<uint32_t>(*value);
        if (!seed) return "seed must be a number from 0 to 4294967295";
        draft.config.seed = *seed;
    } else if (key == "pace") {
        Pace &pace = draft.config.pace;
        if (*value == "realtime") {
            pace = Pace{};
        } else if (*value == "fast") {
            pace = Pace{.fast = true, .factor = 1.0};
        } else if (const auto factor = parseFactor(*value)) {
            pace = Pace{.fast = false, .factor = *factor};
        } else {
            return "pace must be realtime, fast or a factor above 0";
        }
    } else if (key == "fifo") {
        const auto bytes = parseInteger<uint32_t>(*value);
        if (!bytes || *bytes == 0 || *bytes > kMaxFifoBytes) {
            return "fifo must be a number of bytes from one frame to 67108864";
        }
        draft.config.fifoBytes = *bytes;
    } else if (key == "failblock") {
        const auto block = parseInteger<uint64_t>(*value);
        if (!block || *block == 0) return "failblock must be a block number from 1";
        faults.failBlock = *block;
    } else if (key == "shortblock") {
        const auto block = parseInteger<uint64_t>(*value);
        if (!block || *block == 0) return "shortblock must be a block number from 1";
        faults.shortBlock = *block;
    } else if (key == "queuefail") {
        const auto call = value ? parseInteger<uint64_t>(*value) : std::optional<uint64_t>{1};
        if (!call || *call == 0) return "queuefail must be a queuing number from 1";
        faults.queueFail = *call;
    } else if (key == "unplug") {
        const auto after = parseDuration(*value);
        if (!after) return "unplug must be a time such as 1500, 1500ms or 2s";
        faults.unplugAfter = after;
    } else if (key == "stall") {
        const auto blocks = parseInteger<uint64_t>(*value);
        if (!blocks) return "stall must be a number of blocks";
        faults.stallAfter = blocks;
    } else {
        return "unknown key " + quoted(key, "");
    }
    return std::nullopt;
}

// A playback module takes its words and speed from the recording; loop needs a file.
std::optional<std::string> checkPlayback(const ModuleDraft &draft) {
    const std::optional<Playback> &playback = draft.config.playback;
    if (!playback) return std::nullopt;
    if (playback->file.empty()) return std::string("loop needs file=PATH");
    if (draft.wordsGiven || draft.kbpsGiven || draft.signalGiven) {
        return std::string("words, kbps and signal come from the recording played back");
    }
    return std::nullopt;
}

// Steering modules default to 32 words at 640 kbps and need 32 words. The receive buffer holds
// at least one frame.
std::optional<std::string> completeDraft(ModuleDraft &draft) {
    if (auto problem = checkPlayback(draft)) return problem;
    ModuleConfig &config = draft.config;
    if (config.signal == SignalKind::Steering) {
        if (!draft.wordsGiven) config.wordsPerFrame = 32;
        if (!draft.kbpsGiven) config.kbps = 640;
        if (config.wordsPerFrame != 32) return std::string("a steering signal needs words=32");
    }
    const auto frameBytes = static_cast<uint32_t>(config.wordsPerFrame) * 2;
    if (config.fifoBytes < frameBytes) {
        return "fifo must hold one frame, " + std::to_string(frameBytes) + " bytes";
    }
    return std::nullopt;
}

std::optional<std::string> parseModule(std::string_view entry, ModuleConfig &module) {
    const size_t colon = entry.find(':');
    const std::string_view name = trimmed(entry.substr(0, colon));
    if (!isValidName(name)) {
        return std::string("the name must be 1 to 64 printable characters without , = :");
    }
    ModuleDraft draft;
    draft.config.name = std::string(name);
    if (colon != std::string_view::npos) {
        for (const std::string_view rawParameter : split(entry.substr(colon + 1), ',')) {
            const std::string_view parameter = trimmed(rawParameter);
            if (parameter.empty()) continue;
            const size_t equals = parameter.find('=');
            const std::string_view key = trimmed(parameter.substr(0, equals));
            std::optional<std::string_view> value;
            if (equals != std::string_view::npos) value = trimmed(parameter.substr(equals + 1));
            if (auto problem = applyKey(key, value, draft)) return problem;
        }
    }
    if (auto problem = completeDraft(draft)) return problem;
    module = std::move(draft.config);
    return std::nullopt;
}

}  // namespace

std::vector<ModuleConfig> defaultModules() {
    return {
        makeModule("SIM-8CH", 8, 160, SignalKind::Plain),
        makeModule("SIM-4CH", 4, 40, SignalKind::Plain),
        makeModule("SIM-16CH", 16, 320, SignalKind::Plain),
        makeModule("SIM-32CH", 32, 640, SignalKind::Plain),
        makeModule("SIM-STEER", 32, 640, SignalKind::Steering),
    };
}

SimConfig parseSimConfig(std::string_view text) {
    SimConfig result;
    std::set<std::string, std::less<>> names;
    for (const std::string_view rawEntry : split(text, ';')) {
        const std::string_view entry = trimmed(rawEntry);
        if (entry.empty()) continue;
        ModuleConfig module;
        std::optional<std::string> problem = parseModule(entry, module);
        if (!problem && names.contains(module.name)) problem = "the name is already listed";
        if (problem) {
            result.problems.push_back(quoted(entry, " (" + *problem + ")"));
            continue;
        }
        names.insert(module.name);
        result.modules.push_back(std::move(module));
    }
    return result;
}

std::vector<ModuleConfig> modulesFromEnvironment(const char *value) {
    if (value == nullptr) return defaultModules();
    SimConfig config = parseSimConfig(value);
    if (!config.problems.empty()) {
        std::string message = usbProgramName() + ": OSTREL_SIM is malformed, ignoring ";
        for (size_t i = 0; i < config.problems.size(); ++i) {
            if (i > 0) message += "; ";
            message += config.problems[i];
        }
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    std::vector<ModuleConfig> modules;
    for (ModuleConfig &module : config.modules) {
        if (const std::optional<std::string> problem = preparePlayback(module)) {
            std::fprintf(stderr, "%s: OSTREL_SIM: module \"%s\" can't play back: %s\n",
                         usbProgramName().c_str(), module.name.c_str(), problem->c_str());
            continue;
        }
        modules.push_back(std::move(module));
    }
    return modules;
}

}  // namespace ostrel::sim
