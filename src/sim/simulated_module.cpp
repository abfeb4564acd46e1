#include "sim/simulated_module.h"

#include <limits>

#include "sim/playback_stream.h"

namespace ostrel::sim {

namespace {

Nanos::rep initialGoneAt(const ModuleConfig &config, Nanos pluggedAt) {
    if (!config.faults.unplugAfter) return std::numeric_limits<Nanos::rep>::max();
    return (pluggedAt + *config.faults.unplugAfter).count();
}

}  // namespace

SimulatedModule::SimulatedModule(ModuleConfig config, Nanos pluggedAt)
    : config_(std::move(config)), goneAt_(initialGoneAt(config_, pluggedAt)) {}

void SimulatedModule::unplugAt(Nanos when) {
    Nanos::rep current = goneAt_.load();
    while (when.count() < current && !goneAt_.compare_exchange_weak(current, when.count())) {
    }
}

std::shared_ptr<const SignalTable> SimulatedModule::signal() {
    std::call_once(signalBuilt_, [this] { signal_ = std::make_shared<SignalTable>(config_); });
    return signal_;
}

std::unique_ptr<FrameSource> SimulatedModule::openSource() {
    if (!config_.playback) return tableSource(signal());
    auto stream = std::make_unique<PlaybackStream>(config_.playback->recording);
    if (!stream->open()) return nullptr;
    return stream;
}

}  // namespace ostrel::sim
