#include "usb/module_discovery.h"

#include <array>
#include <cstring>
#include <mutex>

#include "timer/async_timer.h"
#include "ui/ostrel_panel.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel {
namespace {

std::mutex scanMutex;  // guards nameList and the refill of usbinterface: one scan at a time
std::array<char, NAME_LIST_SIZE> nameList{};

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
    ui::clearRing(panel, usbinterface);
    int position = 0;
    for (const std::string &name : namesInList(list, size)) {
        ui::insertRingItem(panel, usbinterface, position++, name, name);
    }
}

void findModules() {
    std::lock_guard lock(scanMutex);
    UsbFindModules(nameList.data(), uint32_t(nameList.size()));
    refillModuleRing(panelHandle, nameList.data(), nameList.size());
}

int findModulesCB(int, int, int, void *, int, int) {
    findModules();
    return 0;
}

void startModuleScan() {
    timerID_Modules = CreateTimer(MODULE_SCAN_INTERVAL, -1, 1, findModulesCB, nullptr);
}

std::string moduleNameAt(int index) {
    std::lock_guard lock(scanMutex);
    const std::vector<std::string> names = namesInList(nameList.data(), nameList.size());
    return index >= 0 && index < int(names.size()) ? names[index] : std::string();
}

}  // namespace ostrel
