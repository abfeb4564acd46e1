#include "app/recorder.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "acquisition/markers.h"
#include "acquisition/measurement.h"
#include "acquisition/module_discovery.h"
#include "app/marker_input.h"
#include "app/replay.h"
#include "app/startup.h"
#include "logging/log_description.h"
#include "logging/log_directory.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "telemetry/number_text.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"
#include "ui/frontend.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel::record {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kProgressInterval = std::chrono::seconds(1);
constexpr const char *kProgram = "ostrel-record: ";
constexpr const char *kClearLine = "\r\033[K";

// The headless front end that also tells every message on stderr as it comes, from whichever
// thread raises it. Messages are acknowledged at once: nobody is there to press OK.
class RecorderFrontend final : public ui::HeadlessFrontend {
  public:
    RecorderFrontend(std::ostream &err, bool terminal) : err_(err), terminal_(terminal) {}

    void showMessage(const std::string &title, const std::string &text) override {
        tell(title, text);
        HeadlessFrontend::showMessage(title, text);
    }
    void postMessage(const std::string &title, const std::string &text) override {
        tell(title, text);
        HeadlessFrontend::postMessage(title, text);
    }
    void printProgress(const std::string &line) {
        std::lock_guard lock(errMutex_);
        err_ << kClearLine << line << std::flush;
        progressShown_ = true;
    }
    void endProgress() {
        std::lock_guard lock(errMutex_);
        if (progressShown_) err_ << '\n' << std::flush;
        progressShown_ = false;
    }
    void tellLine(const std::string &line) {
        std::lock_guard lock(errMutex_);
        if (progressShown_ && terminal_) err_ << kClearLine;
        progressShown_ = false;
        err_ << kProgram << line << '\n' << std::flush;
    }

  private:
    // "ostrel-record: USB Error: Can't open USB module", the text's lines joined.
    void tell(const std::string &title, const std::string &text) {
        std::string line = title + ": ";
        for (const char c : text) line += c == '\n' ? ' ' : c;
        tellLine(line);
    }

    std::ostream &err_;
    const bool terminal_;
    std::mutex errMutex_;         // guards err_ and progressShown_
    bool progressShown_ = false;  // a progress line is on the screen without its line end
};

uint64_t fileBytes(const std::string &path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
}

bool fileExists(const std::string &path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

// The settings of the panel, chosen as the operator would choose them.
void chooseSettings(int panel, const RecordOptions &options) {
    ui::operatorSelectRingItem(panel, CH_SLIDE, options.type);
    if (!isSteeringType(options.type)) {
        ui::operatorSelectRingItem(panel, SPEED_SLIDE, options.speedIndex);
    }
    ui::operatorSelectRingItem(panel, FILE_SEP, options.separator - 1);
    ui::setValue(panel, LOG_STATE, 1);
    if (options.directory) {
        ui::setValue(panel, LOGPATH, *options.directory);
        noteLogDirectorySource(*options.directory, LogDirectorySource::commandLine);
    }
    limitLoggedCycles(options.cycles.value_or(0));
}

// Selects the module named in the module ring; false when it is not listed.
bool chooseModule(int panel, const std::string &name) {
    findModules();
    int count = 0;
    ui::getRingItemCount(panel, usbinterface, &count);
    for (int index = 0; index < count; ++index) {
        if (moduleNameAt(index) == name) {
            return ui::operatorSelectRingItem(panel, usbinterface, index, name);
        }
    }
    return false;
}

// Presses the START/STOP toggle: the same commit the window's button gives.
void pressStartStop(int panel, int value) {
    ui::setValue(panel, meas_start_stop, value);
    startStop();
}

bool limitReached(const RecordOptions &options, Clock::time_point started) {
    if (options.cycles) return loggedCycles() >= *options.cycles;
    const std::chrono::duration<double> elapsed = Clock::now() - started;
    return elapsed.count() >= *options.seconds;
}

// "marker 2 at 12.500 s (record 100000): curve entered"; what a marker not set says.
std::string markerLine(const recording::RecordingMarker &marker, const std::string &label,
                       bool truncated) {
    const std::string cut =
        truncated ? " (label cut to " + std::to_string(MarkerLines::kMaxLabelBytes) + " bytes)"
                  : "";
    if (marker.number == 0) return "no measurement is running: marker not set" + cut;
    return "marker " + std::to_string(marker.number) + " at " + fixedText(marker.seconds, 3) +
           " s (record " + std::to_string(marker.record) + ")" +
           (label.empty() ? "" : ": " + label) + cut;
}

void setMarkerAndTell(const std::string &label, bool truncated, RecorderFrontend &frontend) {
    frontend.tellLine(markerLine(setMarker(label), label, truncated));
}

// The unlabelled markers of the SIGUSR1s that came since `seen`.
void markSignals(const RecorderIo &io, int &seen, RecorderFrontend &frontend) {
    if (io.markerSignals == nullptr) return;
    for (const int now = io.markerSignals->load(); seen < now; ++seen) {
        setMarkerAndTell({}, false, frontend);
    }
}

// Serves messages until the limit, an interruption, a failed write or the measurement's own
// end. Each SIGUSR1 since `signalsSeen` (taken before START) sets a marker.
void waitWhileRecording(const RecordOptions &options, RecorderIo &io, RecorderFrontend &frontend,
                        int signalsSeen) {
    const Clock::time_point started = Clock::now();
    Clock::time_point nextProgress = started + kProgressInterval;
    while (measurementOpen()) {
        ui::serveMessages();
        markSignals(io, signalsSeen, frontend);
        if (io.interrupt != nullptr && io.interrupt->load() != 0) {
            noteMeasurementEnd(recording::MeasurementEnd::interrupted);
            break;
        }
        if (limitReached(options, started)) break;
        if (log_to_file.load() == 0) break;  // a write failed: this recording is over
        const Clock::time_point now = Clock::now();
        if (io.progress && now >= nextProgress) {
            const std::chrono::duration<double> elapsed = now - started;
            frontend.printProgress(
                progressLine(elapsed.count(), loggedCycles(), fileBytes(logFilePath())));
            nextProgress += kProgressInterval;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    frontend.endProgress();
}

// One logged cycle at the chosen type and speed, in seconds; 0 when unknown.
double cycleSeconds(const RecordOptions &options) {
    const int speed = isSteeringType(options.type) ? steering_speed_index : options.speedIndex;
    const double frameMicros = samplePeriodMicros(options.type, speed);
    return double(framesPerLoggedCycle(options.type)) * frameMicros / 1e6;
}

// "10.4 s at 40 kbps"
std::string cycleText(const RecordOptions &options) {
    const int speed = isSteeringType(options.type) ? steering_speed_index : options.speedIndex;
    const int kbps = isValidSpeed(speed) ? telemetry_speeds[speed].item_value : 0;
    return fixedText(cycleSeconds(options), 1) + " s at " + std::to_string(kbps) + " kbps";
}

int interruptions(const RecorderIo &io) {
    return io.interrupt != nullptr ? io.interrupt->load() : 0;
}

// The stop completes the cycle in progress (up to 10.4 s at 40 kbps); one more interruption
// meanwhile stops at once.
void waitForStop(RecorderIo &io, RecorderFrontend &frontend) {
    const int before = interruptions(io);
    bool atOnce = false;
    while (measurementBusy()) {
        ui::serveMessages();
        if (!atOnce && interruptions(io) > before) {
            atOnce = true;
            frontend.tellLine(
                "interrupted again: stopping at once; the incomplete cycle is "
                "not written");
            requestStop(true);
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

int record(int panel, RecordOptions options, RecorderIo &io, RecorderFrontend &frontend) {
    if (std::optional<std::string> problem = usbLibraryLoadProblem()) {
        frontend.tellLine("USB Error: " + *problem);
        return kStatusModule;
    }
    if (auto problem = settleTypeAndSpeed(options, playbackSetup(options.module))) {
        io.err << *problem << std::flush;
        return kStatusUsage;
    }
    chooseSettings(panel, options);
    if (!chooseModule(panel, options.module)) {
        frontend.tellLine("USB Error: Can't open USB module");
        frontend.tellLine("no module \"" + options.module +
                          "\" is listed (ostrel-record --list shows the modules)");
        return kStatusModule;
    }
    if (options.seconds && *options.seconds < cycleSeconds(options)) {
        frontend.tellLine("note: one cycle takes " + cycleText(options) +
                          ": the recording ends when the cycle in progress is complete");
    }
    const int signalsSeen = io.markerSignals != nullptr ? io.markerSignals->load() : 0;
    pressStartStop(panel, 1);
    std::optional<MarkerLines> markerLines;
    if (io.markerInput >= 0 && measurementOpen()) {
        markerLines.emplace(io.markerInput, [&frontend](const std::string &line, bool cut) {
            setMarkerAndTell(line, cut, frontend);
        });
    }
    waitWhileRecording(options, io, frontend, signalsSeen);
    if (measurementOpen()) pressStartStop(panel, 0);
    waitForStop(io, frontend);
    markerLines.reset();
    joinAcquisitionThread();
    ui::serveMessages();
    // A file that was lost with its directory is not named: scripts take the path as a file.
    if (fileExists(logFilePath())) io.out << logFilePath() << '\n' << std::flush;
    Status status = statusOf(frontend.messages());
    if (!io.out) {
        // Scripts take the path from standard output: one they cannot read is a failure.
        frontend.tellLine("cannot write the log file's path to standard output: " + logFilePath());
        if (status == kStatusOk || status == kStatusOverrun) status = kStatusWriteError;
    }
    if (status != kStatusOk || loggedCycles() > 0) return status;
    frontend.tellLine("no whole cycle was written (one takes " + cycleText(options) + ")");
    return kStatusNoCycle;
}

}  // namespace

std::string progressLine(double elapsedSeconds, uint64_t cycles, uint64_t bytes) {
    const auto whole = uint64_t(elapsedSeconds < 0 ? 0 : elapsedSeconds);
    const double megabytes = double(bytes) / 1e6;
    const double rate = elapsedSeconds > 0 ? megabytes / elapsedSeconds : 0.0;
    char clock[64];
    std::snprintf(clock, sizeof clock, "%02llu:%02llu:%02llu  %llu %s  ",
                  static_cast<unsigned long long>(whole / 3600),
                  static_cast<unsigned long long>(whole / 60 % 60),
                  static_cast<unsigned long long>(whole % 60),
                  static_cast<unsigned long long>(cycles), cycles == 1 ? "cycle" : "cycles");
    // The figures through fixedText: printf's "%f" would follow the process locale.
    return clock + fixedText(megabytes, 1) + " MB  " + fixedText(rate, 2) + " MB/s";
}

Status statusOf(const std::vector<ui::RecordedMessage> &messages) {
    bool overrun = false;
    for (const ui::RecordedMessage &message : messages) {
        overrun = overrun || message.title == log_overrun_title ||
                  message.title == receiver_overrun_title;
        if (message.title == "USB Error") {
            return message.text == "Data transfer error from USB module" ? kStatusTransfer
                                                                         : kStatusModule;
        }
        if (message.title == log_path_error_title) return kStatusLogPath;
        if (message.title == log_write_error_title) return kStatusWriteError;
    }
    return overrun ? kStatusOverrun : kStatusOk;
}

int listModules(RecorderIo &io) {
    if (std::optional<std::string> problem = usbLibraryLoadProblem()) {
        io.err << kProgram << "USB Error: " << *problem << '\n';
        return kStatusModule;
    }
    char list[NAME_LIST_SIZE] = {};
    if (UsbFindModules(list, sizeof list) == 0) return kStatusOk;
    for (const std::string &name : namesInList(list, sizeof list)) io.out << name << '\n';
    return kStatusOk;
}

int runRecording(const RecordOptions &options, RecorderIo &io) {
    auto frontend = std::make_shared<RecorderFrontend>(io.err, io.progress);
    ui::installFrontend(frontend);
    const int panel = ui::loadPanel(mainPanelDescription());
    panelHandle = panel;
    attachCallbacks(panel);
    startPanel();
    const int status = record(panel, options, io, *frontend);
    discardMainPanel();
    frontend->shutdown();
    ui::installFrontend(nullptr);
    return status;
}

}  // namespace ostrel::record
