#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sim/clock.h"
#include "sim/frame_source.h"
#include "sim/signal_table.h"
#include "sim/sim_config.h"

namespace ostrel::sim {

// A module attached to a simulated bus: its configuration, its signal and when it leaves the bus.
// Shared by the bus and the session that has it open; every member is safe to use from any
// thread.
class SimulatedModule {
  public:
    SimulatedModule(ModuleConfig config, Nanos pluggedAt);

    const ModuleConfig &config() const { return config_; }

    // The module is attached before this time: its configured unplug time or the moment it
    // was unplugged by hand, whichever came first.
    Nanos goneAt() const { return Nanos{goneAt_.load()}; }
    bool presentAt(Nanos now) const { return now < goneAt(); }
    void unplugAt(Nanos when);

    // The precomputed signal, built on first use. Throws std::bad_alloc when memory runs out.
    std::shared_ptr<const SignalTable> signal();

    // The frames for a new session: the recording streamed from its first record, or the
    // shared signal. Null when the recording can no longer be read (said on stderr). Throws
    // std::bad_alloc when memory runs out.
    std::unique_ptr<FrameSource> openSource();

    // Frames lost to receive buffer overruns over all the times the module was open.
    uint64_t lostFrames() const { return lostFrames_.load(); }
    void countLostFrames(uint64_t frames) { lostFrames_.fetch_add(frames); }

  private:
    const ModuleConfig config_;
    std::atomic<Nanos::rep> goneAt_;
    std::atomic<uint64_t> lostFrames_{0};
    std::once_flag signalBuilt_;
    std::shared_ptr<const SignalTable> signal_;  // written once under signalBuilt_
};

}  // namespace ostrel::sim
