// Fuzz target: the OSTREL_SIM grammar (sim::parseSimConfig) and the simulated bus's name list,
// the input being the value of OSTREL_SIM. The properties, listed in README.md: modules
// well-formed and unique, each entry one module or one problem as when parsed alone, modules
// written back parse to themselves, and the name list inside buffers of several sizes. (The one
// stderr line naming the problems is SimConfig.MalformedModulesAreNamedInOneMessage...'s.)
#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "fuzz_support.h"
#include "sim/clock.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"

namespace {

using ostrel::sim::ModuleConfig;
using ostrel::sim::parseSimConfig;
using ostrel::sim::SignalKind;

std::vector<std::string_view> entriesOf(std::string_view text) {
    std::vector<std::string_view> entries;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(';', start), text.size());
        std::string_view entry = text.substr(start, end - start);
        const std::size_t first = entry.find_first_not_of(" \t");
        if (first != entry.npos)
            entries.push_back(entry.substr(first, entry.find_last_not_of(" \t") - first + 1));
        start = end + 1;
    }
    return entries;
}

// What the grammar states of a module.
auto stated(const ModuleConfig &m) {
    const auto &f = m.faults;
    return std::tie(m.name, m.wordsPerFrame, m.kbps, m.signal, m.seed, m.pace.fast, m.pace.factor,
                    m.fifoBytes, f.noSync, f.openFails, f.failBlock, f.queueFail, f.unplugAfter,
                    f.stallAfter);
}
bool sameModule(const ModuleConfig &a, const ModuleConfig &b) {
    return stated(a) == stated(b);
}
bool sameModules(const std::vector<ModuleConfig> &a, const std::vector<ModuleConfig> &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameModule);
}

void checkWellFormed(const ModuleConfig &m) {
    FUZZ_CHECK(!m.name.empty() && m.name.size() <= 64);
    for (const char c : m.name)
        FUZZ_CHECK(c >= ' ' && c <= '~' && c != ',' && c != '=' && c != ':' && c != ';');
    FUZZ_CHECK(m.name.front() != ' ' && m.name.back() != ' ');
    const int w = m.wordsPerFrame;
    FUZZ_CHECK(w == 4 || w == 8 || w == 16 || w == 32);
    FUZZ_CHECK(m.kbps >= 1 && m.kbps <= 100000);
    FUZZ_CHECK(m.signal == SignalKind::Plain || (m.signal == SignalKind::Steering && w == 32));
    FUZZ_CHECK(m.fifoBytes >= uint32_t(w) * 2 && m.fifoBytes <= (64u << 20));
    FUZZ_CHECK(m.pace.fast
                   ? m.pace.factor == 1.0
                   : std::isfinite(m.pace.factor) && m.pace.factor > 0 && m.pace.factor <= 1e6);
    if (m.faults.unplugAfter) {
        const int64_t ms = m.faults.unplugAfter->count();
        FUZZ_CHECK(ms >= 0);
        FUZZ_CHECK(ms <= int64_t(UINT32_MAX) || (ms % 1000 == 0 && ms / 1000 <= UINT32_MAX));
    }
}

template <typename T>
std::string number(T value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    FUZZ_CHECK(result.ec == std::errc{});
    return std::string(text, result.ptr);
}

// The module in the grammar, every key stated.
std::string moduleText(const ModuleConfig &m) {
    const auto &f = m.faults;
    std::string text = m.name + ":words=" + number(m.wordsPerFrame) + ",kbps=" + number(m.kbps);
    text += m.signal == SignalKind::Steering ? ",signal=steering" : ",signal=plain";
    text += ",seed=" + number(m.seed) +
            ",pace=" + (m.pace.fast ? std::string("fast") : number(m.pace.factor)) +
            ",fifo=" + number(m.fifoBytes);
    if (f.noSync) text += ",nosync";
    if (f.openFails) text += ",openfail";
    if (f.failBlock != 0) text += ",failblock=" + number(f.failBlock);
    if (f.queueFail != 0) text += ",queuefail=" + number(f.queueFail);
    if (const auto unplug = f.unplugAfter) {
        const int64_t ms = unplug->count();
        text +=
            ",unplug=" + (ms <= int64_t(UINT32_MAX) ? number(ms) + "ms" : number(ms / 1000) + "s");
    }
    if (f.stallAfter) text += ",stall=" + number(*f.stallAfter);
    return text;
}

// Modules and problems are those of the entries parsed one by one; the later of two entries
// of one name is a problem.
void checkNothingLost(std::string_view text, const ostrel::sim::SimConfig &config) {
    const std::vector<std::string_view> entries = entriesOf(text);
    FUZZ_CHECK(config.modules.size() + config.problems.size() == entries.size());
    std::set<std::string> names;
    std::size_t module = 0;
    std::size_t problem = 0;
    for (const std::string_view entry : entries) {
        const ostrel::sim::SimConfig alone = parseSimConfig(entry);
        FUZZ_CHECK(alone.modules.size() + alone.problems.size() == 1);
        if (alone.modules.size() == 1 && names.insert(alone.modules[0].name).second) {
            FUZZ_CHECK(module < config.modules.size());
            FUZZ_CHECK(sameModule(config.modules[module++], alone.modules[0]));
            continue;
        }
        FUZZ_CHECK(problem < config.problems.size());
        const std::string &message = config.problems[problem++];
        const std::string head = "\"" + std::string(entry) + "\" (";
        FUZZ_CHECK(message.size() > head.size() + 1 && message.starts_with(head) &&
                   message.back() == ')');
        if (alone.problems.size() == 1) FUZZ_CHECK(message == alone.problems[0]);
    }
}

void checkRoundTrip(const std::vector<ModuleConfig> &modules) {
    std::string all;
    for (const ModuleConfig &m : modules) {
        const std::string text = moduleText(m);
        const ostrel::sim::SimConfig again = parseSimConfig(text);
        FUZZ_CHECK(again.problems.empty() && again.modules.size() == 1);
        FUZZ_CHECK(sameModule(again.modules[0], m));
        all += (all.empty() ? "" : ";") + text;
    }
    const ostrel::sim::SimConfig again = parseSimConfig(all);
    FUZZ_CHECK(again.problems.empty() && sameModules(again.modules, modules));
}

// The bus lists the present modules in order up to the first that does not fit, each with its
// zero byte, ended by an empty name, never past the buffer.
void checkNameList(const std::vector<ModuleConfig> &modules, std::size_t hint) {
    ostrel::sim::SimulatedBus bus(modules, std::make_shared<ostrel::sim::ManualClock>());
    std::vector<std::string> present;  // a module that leaves at once is not listed
    for (const ModuleConfig &m : modules) {
        if (!m.faults.unplugAfter || m.faults.unplugAfter->count() > 0) present.push_back(m.name);
    }
    FUZZ_CHECK(bus.moduleNames() == present);
    std::size_t whole = 1;
    for (const std::string &name : present) whole += name.size() + 1;
    for (const std::size_t size : {std::size_t{1}, std::size_t{2}, whole - 1, whole, whole + 1,
                                   std::size_t{512}, 1 + hint % (whole + 8)}) {
        if (size == 0) continue;
        std::string expected;
        for (const std::string &name : present) {
            if (expected.size() + name.size() + 2 > size) break;
            expected += name + '\0';
        }
        expected += '\0';
        std::vector<char> list(size, 0x5a);  // exactly `size` bytes on the heap
        FUZZ_CHECK(bus.UsbFindModules(list.data(), uint32_t(size)) != 0);
        FUZZ_CHECK(std::string_view(list.data(), expected.size()) == expected);
    }
    FUZZ_CHECK(bus.UsbFindModules(nullptr, 64) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const ostrel::sim::SimConfig config = parseSimConfig(text);
    std::set<std::string> names;
    for (const ModuleConfig &m : config.modules) {
        checkWellFormed(m);
        FUZZ_CHECK(names.insert(m.name).second);
    }
    checkNothingLost(text, config);
    checkRoundTrip(config.modules);
    checkNameList(config.modules, size);
    return 0;
}
