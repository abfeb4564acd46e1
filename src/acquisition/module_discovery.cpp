#include "acquisition/module_discovery.h"

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "panel/ostrel_panel.h"
#include "timer/async_timer.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel {
namespace {

// The last scanned list. A scan may still run on a timer thread while the
// process exits, so this state is never destroyed.
struct ScanState {
    std::mutex mutex;  // guards nameList and the refill of usbinterface: one scan at a time
    std::array<char, NAME_LIST_SIZE> nameList{};
};

std::atomic<ModuleLister> moduleLister{nullptr};

ScanState &scanState() {
    static ScanState *const instance = new ScanState;
    return *instance;
}

}  // namespace

std::vector<std::string> namesInList(const char *list, std::size_t size) {
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (pos < size && list[pos] != '\0') {
        const void *end = std::memchr(list + pos, '\0', size - pos);
        const std::size_t length = end != nullptr
                                       ? std::size_t(static_cast<const char *>(end) - (list + pos))
                                       : size - pos;
        names.emplace_back(list + pos, length);
        pos += length + 1;
    }
    return names;
}

void refillModuleRing(int panel, const char *list, std::size_t size) {
    std::vector<ui::RingItem> items;
    for (const std::string &name : namesInList(list, size)) items.push_back({name, name});
    ui::replaceRingItems(panel, usbinterface, std::move(items));
}

void findModules() {
    ScanState &state = scanState();
    std::lock_guard lock(state.mutex);
    const int panel = panelHandle;
    if (panel == 0) return;  // shut down (or not started): no library call, no panel
    const ModuleLister lister = moduleLister.load();
    (lister != nullptr ? lister : UsbFindModules)(state.nameList.data(),
                                                  uint32_t(state.nameList.size()));
    refillModuleRing(panel, state.nameList.data(), state.nameList.size());
}

int findModulesCB(int, int, int, void *, int, int) {
    findModules();
    return 0;
}

void startModuleScan() {
    timerID_Modules = CreateTimer(MODULE_SCAN_INTERVAL, -1, 1, findModulesCB, nullptr);
}

void useModuleLister(ModuleLister lister) {
    moduleLister = lister;
}

std::string moduleNameAt(int index) {
    ScanState &state = scanState();
    std::lock_guard lock(state.mutex);
    const std::vector<std::string> names =
        namesInList(state.nameList.data(), state.nameList.size());
    return index >= 0 && index < int(names.size()) ? names[index] : std::string();
}

}  // namespace ostrel
