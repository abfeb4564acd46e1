// Seams for tests and benchmarks of the measurement. Not for the program.
#pragma once

#include <chrono>

namespace ostrel::measurement_testing {

// The measurement's fixed pauses: after starting the thread before the refresh
// timer (0.5 s), between the run bits and the first reads (1.0 s), and the rest
// of a released module before the next START opens one (0.5 s).
struct Pauses {
    std::chrono::milliseconds beforeRefresh{500};
    std::chrono::milliseconds beforeReads{1000};
    std::chrono::milliseconds afterRelease{500};
};
void usePauses(const Pauses &pauses);

// The next allocation of the transfer buffers fails.
void failNextBufferAllocation();

// Measurements closed by a stop since the process started.
int closesSoFar();

}  // namespace ostrel::measurement_testing
