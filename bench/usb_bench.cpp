// Throughput of one simulated module at the fast pace, read the way the acquisition thread reads:
// 16 reads of 4096 bytes in flight, waited for in ring order and re-queued into the same buffer.
// Reports the frames the module lost (lost_frames), which must be 0.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/simulated_bus.h"
#include "usb/port_word.h"
#include "usb/usb_module.h"

namespace {

constexpr uint32_t kBlockBytes = 4096;
constexpr size_t kRing = 16;

void ringThroughput(benchmark::State &state, const std::string &config) {
    if (std::getenv("OSTREL_MODULE_LIBRARY") != nullptr) {
        state.SkipWithError("OSTREL_MODULE_LIBRARY is set; the simulator is not in use");
        return;
    }
    const ostrel::sim::SimConfig parsed = ostrel::sim::parseSimConfig(config);
    ostrel::sim::bus().plug(parsed.modules.front());
    const char *name = parsed.modules.front().name.c_str();
    void *handle = nullptr;
    if (ostrel::UsbOpen(&handle, name) == 0) {
        state.SkipWithError("cannot open the module");
        return;
    }
    uint16_t run = ostrel::kRunBits;
    ostrel::UsbWritePort(handle, 0, &run, 2);
    std::vector<std::array<uint8_t, kBlockBytes>> ring(kRing);
    std::array<uint8_t, kRing> ids{};
    uint32_t length = kBlockBytes;
    for (size_t k = 0; k < kRing; ++k) {
        ostrel::UsbReadDataAsync(handle, ring[k].data(), &length, &ids[k]);
    }
    size_t index = 0;
    for (auto _ : state) {
        uint32_t bytes = 0;
        if (ostrel::UsbAsyncWait(handle, &bytes, ids[index], 0) == 0) {
            state.SkipWithError("a wait failed");
            break;
        }
        ostrel::UsbReadDataAsync(handle, ring[index].data(), &length, &ids[index]);
        benchmark::DoNotOptimize(ring[index].data());
        index = (index + 1) % kRing;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlockBytes);
    ostrel::UsbClose(handle);
    // Frames lost to receive buffer overruns: always 0, the fast pace never overruns.
    state.counters["lost_frames"] =
        static_cast<double>(ostrel::sim::bus().lostFrames(parsed.modules.front().name));
    ostrel::sim::bus().unplug(parsed.modules.front().name);
}

void BM_FastRing8Words(benchmark::State &state) {
    ringThroughput(state, "B8:words=8,pace=fast");
}
void BM_FastRing32Words(benchmark::State &state) {
    ringThroughput(state, "B32:words=32,kbps=640,pace=fast");
}
void BM_FastRingSteering(benchmark::State &state) {
    ringThroughput(state, "BS:signal=steering,pace=fast");
}

BENCHMARK(BM_FastRing8Words);
BENCHMARK(BM_FastRing32Words);
BENCHMARK(BM_FastRingSteering);

}  // namespace

BENCHMARK_MAIN();
