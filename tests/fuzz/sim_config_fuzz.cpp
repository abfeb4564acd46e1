// Fuzz target: the OSTREL_SIM grammar (sim::parseSimConfig, sim::modulesFromEnvironment) and the
// name list the simulated bus builds from the modules.
//
// The input is the value of OSTREL_SIM. Checks:
// - every module returned is well-formed: a name of 1 to 64 printable characters without
//   , = : ; and without blanks at either end, unique; words 4, 8, 16 or 32; kbps 1 to 100000;
//   a steering signal has 32 words; the receive buffer holds a frame and at most 64 MiB; the
//   pace is fast (factor 1) or a finite factor in (0, 1e6]; an unplug time that the grammar can
//   state.
// - nothing is lost: every non-blank entry gives one module or one problem, in order; an entry
//   parsed on its own gives the same module (or a problem naming the entry in quotes), the
//   later of two entries of one name is a problem.
// - a module written back in the grammar parses to the same module, and all of them together
//   to the same list without problems.
// - modulesFromEnvironment gives the same modules and prints exactly one line naming every
//   problem on stderr, nothing when there is none; unset gives the five default modules.
// - UsbFindModules of a bus of these modules, for buffers of several sizes, never writes past
//   the buffer, always terminates the list, and lists the present modules in order up to the
//   first that does not fit.
#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "sim/clock.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"

namespace {

using ostrel::sim::ModuleConfig;
using ostrel::sim::SignalKind;

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string_view> entriesOf(std::string_view text) {
    std::vector<std::string_view> entries;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(';', start);
        const std::string_view entry =
            trimmed(text.substr(start, end == text.npos ? text.npos : end - start));
        if (!entry.empty()) entries.push_back(entry);
        if (end == text.npos) return entries;
        start = end + 1;
    }
}

bool sameModule(const ModuleConfig &a, const ModuleConfig &b) {
    return a.name == b.name && a.wordsPerFrame == b.wordsPerFrame && a.kbps == b.kbps &&
           a.signal == b.signal && a.seed == b.seed && a.pace.fast == b.pace.fast &&
           a.pace.factor == b.pace.factor && a.fifoBytes == b.fifoBytes &&
           a.faults.noSync == b.faults.noSync && a.faults.openFails == b.faults.openFails &&
           a.faults.failBlock == b.faults.failBlock && a.faults.queueFail == b.faults.queueFail &&
           a.faults.unplugAfter == b.faults.unplugAfter &&
           a.faults.stallAfter == b.faults.stallAfter;
}

bool sameModules(const std::vector<ModuleConfig> &a, const std::vector<ModuleConfig> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameModule(a[i], b[i])) return false;
    }
    return true;
}

void checkWellFormed(const ModuleConfig &m) {
    FUZZ_CHECK(!m.name.empty() && m.name.size() <= 64);
    for (const char c : m.name) {
        FUZZ_CHECK(c >= ' ' && c <= '~' && c != ',' && c != '=' && c != ':' && c != ';');
    }
    FUZZ_CHECK(m.name.front() != ' ' && m.name.back() != ' ');
    const int w = m.wordsPerFrame;
    FUZZ_CHECK(w == 4 || w == 8 || w == 16 || w == 32);
    FUZZ_CHECK(m.kbps >= 1 && m.kbps <= 100000);
    FUZZ_CHECK(m.signal == SignalKind::Plain || m.signal == SignalKind::Steering);
    if (m.signal == SignalKind::Steering) FUZZ_CHECK(w == 32);
    FUZZ_CHECK(m.fifoBytes >= uint32_t(w) * 2 && m.fifoBytes <= (64u << 20));
    if (m.pace.fast) {
        FUZZ_CHECK(m.pace.factor == 1.0);
    } else {
        FUZZ_CHECK(std::isfinite(m.pace.factor) && m.pace.factor > 0 && m.pace.factor <= 1e6);
    }
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
    std::string text = m.name;
    text += ":words=" + number(m.wordsPerFrame) + ",kbps=" + number(m.kbps);
    text += m.signal == SignalKind::Steering ? ",signal=steering" : ",signal=plain";
    text += ",seed=" + number(m.seed);
    text += ",pace=" + (m.pace.fast ? std::string("fast") : number(m.pace.factor));
    text += ",fifo=" + number(m.fifoBytes);
    if (m.faults.noSync) text += ",nosync";
    if (m.faults.openFails) text += ",openfail";
    if (m.faults.failBlock != 0) text += ",failblock=" + number(m.faults.failBlock);
    if (m.faults.queueFail != 0) text += ",queuefail=" + number(m.faults.queueFail);
    if (m.faults.unplugAfter) {
        const int64_t ms = m.faults.unplugAfter->count();
        text +=
            ",unplug=" + (ms <= int64_t(UINT32_MAX) ? number(ms) + "ms" : number(ms / 1000) + "s");
    }
    if (m.faults.stallAfter) text += ",stall=" + number(*m.faults.stallAfter);
    return text;
}

// Checks modules and problems against the entries parsed one by one.
void checkNothingLost(std::string_view text, const ostrel::sim::SimConfig &config) {
    const std::vector<std::string_view> entries = entriesOf(text);
    FUZZ_CHECK(config.modules.size() + config.problems.size() == entries.size());
    std::set<std::string> names;
    std::size_t module = 0;
    std::size_t problem = 0;
    for (const std::string_view entry : entries) {
        const ostrel::sim::SimConfig alone = ostrel::sim::parseSimConfig(entry);
        FUZZ_CHECK(alone.modules.size() + alone.problems.size() == 1);
        if (alone.modules.size() == 1 && names.insert(alone.modules[0].name).second) {
            FUZZ_CHECK(module < config.modules.size());
            FUZZ_CHECK(sameModule(config.modules[module], alone.modules[0]));
            ++module;
            continue;
        }
        FUZZ_CHECK(problem < config.problems.size());
        const std::string &message = config.problems[problem];
        const std::string head = "\"" + std::string(entry) + "\" (";
        FUZZ_CHECK(message.size() > head.size() + 1 && message.starts_with(head) &&
                   message.back() == ')');
        if (alone.problems.size() == 1) FUZZ_CHECK(message == alone.problems[0]);
        ++problem;
    }
}

void checkRoundTrip(const std::vector<ModuleConfig> &modules) {
    std::string all;
    for (const ModuleConfig &m : modules) {
        const std::string text = moduleText(m);
        const ostrel::sim::SimConfig again = ostrel::sim::parseSimConfig(text);
        FUZZ_CHECK(again.problems.empty() && again.modules.size() == 1);
        FUZZ_CHECK(sameModule(again.modules[0], m));
        if (!all.empty()) all += ';';
        all += text;
    }
    const ostrel::sim::SimConfig again = ostrel::sim::parseSimConfig(all);
    FUZZ_CHECK(again.problems.empty());
    FUZZ_CHECK(sameModules(again.modules, modules));
}

// Runs modulesFromEnvironment with stderr going to a memory file; returns what it printed.
std::vector<ModuleConfig> modulesFromEnvironmentCaptured(const char *value, std::string *printed) {
    static const int capture = ::memfd_create("ostrel-sim-config-fuzz-stderr", MFD_CLOEXEC);
    FUZZ_CHECK(capture >= 0);
    // Emptied, and the offset the stderr writes share back at the start.
    FUZZ_CHECK(::ftruncate(capture, 0) == 0 && ::lseek(capture, 0, SEEK_SET) == 0);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    FUZZ_CHECK(saved >= 0);
    FUZZ_CHECK(::dup2(capture, STDERR_FILENO) >= 0);
    std::vector<ModuleConfig> modules = ostrel::sim::modulesFromEnvironment(value);
    std::fflush(stderr);
    FUZZ_CHECK(::dup2(saved, STDERR_FILENO) >= 0);
    ::close(saved);
    const off_t size = ::lseek(capture, 0, SEEK_END);
    FUZZ_CHECK(size >= 0);
    printed->assign(std::size_t(size), '\0');
    FUZZ_CHECK(::pread(capture, printed->data(), printed->size(), 0) == ssize_t(size));
    return modules;
}

void checkEnvironment(std::string_view text) {
    static const bool unsetChecked = [] {
        std::string printed;
        const std::vector<ModuleConfig> modules = modulesFromEnvironmentCaptured(nullptr, &printed);
        FUZZ_CHECK(printed.empty());
        FUZZ_CHECK(sameModules(modules, ostrel::sim::defaultModules()));
        FUZZ_CHECK(modules.size() == 5 && modules[0].name == "SIM-8CH");
        return true;
    }();
    (void)unsetChecked;

    // An environment value ends at its first zero byte.
    const std::string value(text.substr(0, text.find('\0')));
    const ostrel::sim::SimConfig config = ostrel::sim::parseSimConfig(value);
    std::string printed;
    const std::vector<ModuleConfig> modules =
        modulesFromEnvironmentCaptured(value.c_str(), &printed);
    FUZZ_CHECK(sameModules(modules, config.modules));
    if (config.problems.empty()) {
        FUZZ_CHECK(printed.empty());
        return;
    }
    std::string expected = "ostrel: OSTREL_SIM is malformed, ignoring ";
    for (std::size_t i = 0; i < config.problems.size(); ++i) {
        if (i > 0) expected += "; ";
        expected += config.problems[i];
    }
    FUZZ_CHECK(printed == expected + "\n");
}

void checkNameList(const std::vector<ModuleConfig> &modules, std::size_t hint) {
    ostrel::sim::SimulatedBus bus(modules, std::make_shared<ostrel::sim::ManualClock>());
    std::vector<std::string> present;  // a module that leaves at once is not listed
    for (const ModuleConfig &m : modules) {
        if (!m.faults.unplugAfter || m.faults.unplugAfter->count() > 0) present.push_back(m.name);
    }
    FUZZ_CHECK(bus.moduleNames() == present);
    std::size_t whole = 1;
    for (const std::string &name : present) whole += name.size() + 1;

    const std::size_t sizes[] = {1, 2, whole - 1, whole, whole + 1, 512, 1 + hint % (whole + 8)};
    for (const std::size_t size : sizes) {
        if (size == 0) continue;
        const std::unique_ptr<char[]> list(new char[size]);
        std::memset(list.get(), 0x5a, size);
        FUZZ_CHECK(bus.UsbFindModules(list.get(), uint32_t(size)) != 0);
        // The names that fit, each with its zero byte, leaving room for the list's end.
        std::size_t pos = 0;
        std::size_t listed = 0;
        while (listed < present.size() && pos + present[listed].size() + 2 <= size) {
            FUZZ_CHECK(std::memcmp(list.get() + pos, present[listed].c_str(),
                                   present[listed].size() + 1) == 0);
            pos += present[listed].size() + 1;
            ++listed;
        }
        FUZZ_CHECK(pos < size && list[pos] == '\0');
    }
    char byte = 0x5a;
    FUZZ_CHECK(bus.UsbFindModules(&byte, 0) == 0 && byte == 0x5a);
    FUZZ_CHECK(bus.UsbFindModules(nullptr, 64) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const ostrel::sim::SimConfig config = ostrel::sim::parseSimConfig(text);

    std::set<std::string> names;
    for (const ModuleConfig &m : config.modules) {
        checkWellFormed(m);
        FUZZ_CHECK(names.insert(m.name).second);
    }
    checkNothingLost(text, config);
    checkRoundTrip(config.modules);
    checkEnvironment(text);
    checkNameList(config.modules, size);
    return 0;
}
