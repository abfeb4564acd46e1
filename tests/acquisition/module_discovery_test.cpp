// Module discovery: the module ring and the periodic scan (the name list walk: the name_list
// fuzz target).
#include "acquisition/module_discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "panel/ostrel_panel.h"
#include "sim/simulated_bus.h"
#include "support/wait.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/panel.h"
#include "ui/panel_state.h"
#include "usb/module_library_selection.h"
#include "usb/usb_module.h"

namespace ostrel {
namespace {

using Names = std::vector<std::string>;

class ModuleRing : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // This process's simulated bus starts without modules; tests plug their own.
        setenv("OSTREL_SIM", "", 1);
    }
    void SetUp() override {
        panelHandle = ui::loadPanel(mainPanelDescription());
        for (const std::string &name : sim::bus().moduleNames()) sim::bus().unplug(name);
    }
    void TearDown() override {
        DiscardTimer(kAllTimers);
        ui::discardPanel(panelHandle.exchange(0));
        for (const std::string &name : sim::bus().moduleNames()) sim::bus().unplug(name);
    }
    static void plug(const std::string &name) {
        sim::ModuleConfig module;
        module.name = name;
        sim::bus().plug(module);
    }
    static ui::ControlState ring() { return *ui::controlState(panelHandle, usbinterface); }
    static Names labels() {
        Names names;
        for (const ui::RingItem &item : ring().items) names.push_back(item.label);
        return names;
    }
};

TEST_F(ModuleRing, MirrorsTheListInLibraryOrderKeepingTheOperatorsChoiceWhileListed) {
    plug("SIM-B");
    plug("SIM-A");
    findModules();
    EXPECT_EQ(labels(), (Names{"SIM-B", "SIM-A"}));
    for (const ui::RingItem &item : ring().items) EXPECT_EQ(item.value, ui::Value(item.label));
    EXPECT_EQ(ring().index, 0);
    EXPECT_EQ(moduleNameAt(1), "SIM-A");
    EXPECT_EQ(moduleNameAt(2), "") << "beyond the list: the empty name";
    EXPECT_EQ(moduleNameAt(-1), "");
    ui::setRingIndex(panelHandle, usbinterface, 1);
    sim::bus().unplug("SIM-B");
    plug("SIM-C");
    findModules();
    EXPECT_EQ(labels(), (Names{"SIM-A", "SIM-C"}));
    EXPECT_EQ(ring().selectedLabel(), "SIM-A");
    sim::bus().unplug("SIM-A");
    findModules();
    EXPECT_EQ(ring().selectedLabel(), "SIM-C") << "gone: the first module";
    sim::bus().unplug("SIM-C");
    findModules();
    EXPECT_TRUE(ring().items.empty()) << "an empty list leaves no items";
    EXPECT_EQ(ring().index, -1);
    EXPECT_EQ(moduleNameAt(0), "");
}

TEST_F(ModuleRing, GarbageFromALoadedLibraryIsCutAtTheBuffer) {
    setenv("OSTREL_TEST_LIBRARY_GARBAGE", "1", 1);
    ModuleLibrarySelection selection = selectModuleLibrary(OSTREL_TEST_MODULE_LIBRARY);
    ASSERT_FALSE(selection.problem.has_value()) << *selection.problem;
    char list[NAME_LIST_SIZE];
    selection.library->UsbFindModules(list, sizeof list);
    unsetenv("OSTREL_TEST_LIBRARY_GARBAGE");
    refillModuleRing(panelHandle, list, sizeof list);
    ASSERT_EQ(ring().items.size(), 1u);
    EXPECT_EQ(ring().items[0].label, std::string(NAME_LIST_SIZE, 'G'));
}

TEST_F(ModuleRing, ConcurrentScansNeverInterleave) {
    for (const char *name : {"SIM-1", "SIM-2", "SIM-3", "SIM-4"}) plug(name);
    auto scanMany = [] {
        for (int i = 0; i < 300; ++i) findModules();
    };
    std::thread timerThread(scanMany);
    scanMany();  // the one-shot scan of a START on the main thread
    timerThread.join();
    EXPECT_EQ(labels(), (Names{"SIM-1", "SIM-2", "SIM-3", "SIM-4"})) << "no item twice";
}

// Records the module ring's size at every change the view is told about.
class RingWatcher : public ui::HeadlessFrontend {
  public:
    void modelChanged() override {
        if (auto ring = ui::controlState(panelHandle, usbinterface))
            sizes.push_back(ring->items.size());
    }
    std::vector<std::size_t> sizes;
};

TEST_F(ModuleRing, TheViewSeesOneWholeRingPerChangedList) {
    for (const char *name : {"SIM-1", "SIM-2", "SIM-3"}) plug(name);
    auto watcher = std::make_shared<RingWatcher>();
    ui::installFrontend(watcher);
    findModules();
    findModules();
    ui::installFrontend(nullptr);
    EXPECT_EQ(watcher->sizes, (std::vector<std::size_t>{3})) << "an unchanged list is no change";
}

std::atomic<int> listerCalls{0};
int countingLister(char *list, uint32_t size) {
    ++listerCalls;
    return UsbFindModules(list, size);
}

// At shutdown the panel handle is cleared before every timer is discarded: the
// scan's discard event then asks the library nothing and leaves the panel alone.
TEST_F(ModuleRing, ShutdownDiscardOfTheScanMakesNoLibraryCall) {
    useModuleLister(countingLister);
    plug("SIM-A");
    startModuleScan();
    ASSERT_GT(timerID_Modules, 0);
    findModules();
    ASSERT_GE(listerCalls, 1) << "scans go through the lister";
    const int panel = panelHandle.exchange(0);
    const std::uint64_t revision = ui::controlState(panel, usbinterface)->revision;
    const int calls = listerCalls;  // a tick may have run before the handle was cleared
    DiscardTimer(kAllTimers);
    EXPECT_EQ(listerCalls, calls);
    EXPECT_EQ(ui::controlState(panel, usbinterface)->revision, revision);
    panelHandle = panel;
    useModuleLister(nullptr);
}

TEST_F(ModuleRing, PeriodicScanSeesHotPlugWithinAboutOneScan) {
    startModuleScan();
    ASSERT_GT(timerID_Modules, 0);
    plug("SIM-HOT");
    EXPECT_TRUE(test::waitFor([] { return labels() == Names{"SIM-HOT"}; }));
    sim::bus().unplug("SIM-HOT");
    EXPECT_TRUE(test::waitFor([] { return labels().empty(); }));
}

}  // namespace
}  // namespace ostrel
