// Time to turn one logged cycle (32768 words) into text records and hand it to the OS, for
// the 4-channel and the 32-channel types: the table-driven formatCycle with one write per
// cycle, formatCycle alone, and as the baseline an fprintf per field through stdio. All
// output goes to /dev/null, so only formatting and the system calls are measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "logging/record_writer.h"
#include "telemetry/tables.h"

namespace {

// Words as the receiver sends them: any value, mostly five digits.
std::vector<uint16_t> cycleWords() {
    std::mt19937 random(20130315);
    std::vector<uint16_t> words(ostrel::LOGCOUNT);
    for (uint16_t &w : words) w = uint16_t(random());
    return words;
}

void setCounters(benchmark::State &state) {
    state.SetItemsProcessed(state.iterations() * int64_t(ostrel::LOGCOUNT));
    state.counters["cycles/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void formatOnly(benchmark::State &state) {
    const int perRecord = int(state.range(0));
    const std::vector<uint16_t> words = cycleWords();
    std::vector<char> out(ostrel::kMaxCycleBytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ostrel::formatCycle(words.data(), ostrel::LOGCOUNT / perRecord,
                                                     perRecord, ',', out.data()));
        benchmark::ClobberMemory();
    }
    setCounters(state);
}

void formatAndWrite(benchmark::State &state) {
    const int perRecord = int(state.range(0));
    const std::vector<uint16_t> words = cycleWords();
    std::vector<char> out(ostrel::kMaxCycleBytes);
    const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    for (auto _ : state) {
        const std::size_t size = ostrel::formatCycle(words.data(), ostrel::LOGCOUNT / perRecord,
                                                     perRecord, ',', out.data());
        benchmark::DoNotOptimize(::write(fd, out.data(), size));
    }
    ::close(fd);
    setCounters(state);
}

// The straightforward writer: stdio, one fprintf per field, separators and line end by
// fputs/fputc.
void fprintfPerField(benchmark::State &state) {
    const int perRecord = int(state.range(0));
    const std::vector<uint16_t> words = cycleWords();
    std::FILE *file = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        const uint16_t *w = words.data();
        for (std::size_t r = 0; r < ostrel::LOGCOUNT / std::size_t(perRecord); ++r) {
            for (int j = 0; j < perRecord; ++j) {
                std::fprintf(file, "%u", unsigned(*w++));
                if (j + 1 < perRecord) std::fputc(',', file);
            }
            std::fputs("\r\n", file);
        }
        std::fflush(file);
    }
    std::fclose(file);
    setCounters(state);
}

BENCHMARK(formatAndWrite)->Arg(4)->Arg(32)->Unit(benchmark::kMicrosecond);
BENCHMARK(formatOnly)->Arg(4)->Arg(32)->Unit(benchmark::kMicrosecond);
BENCHMARK(fprintfPerField)->Arg(4)->Arg(32)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
