// Choosing the source of modules, and a module library loaded at run time.
#include <cstdlib>
#include <cstring>

#include "sim_test_support.h"
#include "usb/module_library_selection.h"
#include "usb/usb_module.h"

namespace ostrel::test {
namespace {

using sim::test::Block;
using sim::test::kBlockBytes;
using sim::test::kRunBits;
using sim::test::kSyncBit;
using namespace std::chrono_literals;

uint32_t lastError(ModuleLibrary &library) {
    uint32_t code = 0;
    library.UsbGetLastError(&code);
    return code;
}

std::string names(ModuleLibrary &library) {
    std::array<char, 512> list{};
    library.UsbFindModules(list.data(), list.size());
    std::string joined;
    for (const char *name = list.data(); *name != '\0'; name += std::strlen(name) + 1) {
        joined += std::string(name) + ";";
    }
    return joined;
}

// A measurement as the acquisition thread runs it: warm-up, sync test, run bits, a ring of 16
// reads waited for in order and re-queued, then the stop.
void runMeasurement(ModuleLibrary &library, const char *moduleName, int blocks) {
    void *handle = nullptr;
    ASSERT_NE(library.UsbOpen(&handle, moduleName), 0) << lastError(library);
    std::array<uint8_t, 4096> idle{};
    uint32_t length = 512;
    library.UsbReadData(handle, idle.data(), &length);
    library.UsbReadData(handle, idle.data(), &length);
    ASSERT_NE(library.UsbSetTimeout(handle, 2000), 0);
    uint16_t port = 0, portLength = 2;
    ASSERT_NE(library.UsbReadPort(handle, 0, &port, &portLength), 0);
    ASSERT_EQ(port & kSyncBit, kSyncBit);
    port |= kRunBits;
    ASSERT_NE(library.UsbWritePort(handle, 0, &port, 2), 0);

    std::vector<Block> ring(16);
    std::array<uint8_t, 16> ids{};
    uint32_t blockSize = kBlockBytes;
    for (size_t k = 0; k < ring.size(); ++k) {
        ASSERT_NE(library.UsbReadDataAsync(handle, ring[k].data(), &blockSize, &ids[k]), 0);
    }
    std::set<Block> distinct;
    for (int n = 0; n < blocks; ++n) {
        const size_t k = n % 16;
        uint32_t bytes = 0;
        ASSERT_NE(library.UsbAsyncWait(handle, &bytes, ids[k], 0), 0) << lastError(library);
        EXPECT_EQ(bytes, kBlockBytes);
        distinct.insert(ring[k]);
        if (n + 16 < blocks) {
            ASSERT_NE(library.UsbReadDataAsync(handle, ring[k].data(), &blockSize, &ids[k]), 0);
        }
    }
    EXPECT_GT(distinct.size(), static_cast<size_t>(blocks) / 2);
    port &= 0xFEFE;
    library.UsbWritePort(handle, 0, &port, 2);
    EXPECT_NE(library.UsbClose(handle), 0);
    uint32_t bytes = 0;
    EXPECT_EQ(library.UsbAsyncWait(handle, &bytes, ids[0], 0), 0);
}

TEST(ModuleLibrarySelection, NoPathMeansTheSimulatorBus) {
    for (const char *path : {static_cast<const char *>(nullptr), ""}) {
        const ModuleLibrarySelection selection = selectModuleLibrary(path);
        EXPECT_EQ(selection.library.get(), &sim::bus());
        EXPECT_FALSE(selection.problem);
    }
}

TEST(ModuleLibrarySelection, TestLibraryWorksEndToEnd) {
    const ModuleLibrarySelection selection = selectModuleLibrary(OSTREL_TEST_MODULE_LIBRARY);
    ASSERT_FALSE(selection.problem) << *selection.problem;
    ModuleLibrary &library = *selection.library;
    EXPECT_EQ(names(library), "LIB-A;LIB-B;");
    runMeasurement(library, "LIB-B", 48);
    runMeasurement(library, "LIB-A", 20);

    void *handle = nullptr;
    EXPECT_EQ(library.UsbOpen(&handle, "NOPE"), 0);
    EXPECT_EQ(lastError(library), kUsbErrorNoSuchModule);  // the library's own last error
}

TEST(ModuleLibrarySelection, LibraryLackingAnOperationGivesNoModules) {
    const ModuleLibrarySelection selection =
        selectModuleLibrary(OSTREL_TEST_INCOMPLETE_MODULE_LIBRARY);
    ASSERT_TRUE(selection.problem);
    EXPECT_NE(selection.problem->find(OSTREL_TEST_INCOMPLETE_MODULE_LIBRARY), std::string::npos);
    EXPECT_NE(selection.problem->find("lacks the operation UsbAsyncWait"), std::string::npos)
        << *selection.problem;
    EXPECT_EQ(names(*selection.library), "");
    void *handle = nullptr;
    EXPECT_EQ(selection.library->UsbOpen(&handle, "LIB-A"), 0);
    EXPECT_EQ(lastError(*selection.library), kUsbErrorNoLibrary);
}

TEST(ModuleLibrarySelection, MissingFileGivesNoModules) {
    const char *path = "/nonexistent/libostrel-no-such-module-library.so";
    const ModuleLibrarySelection selection = selectModuleLibrary(path);
    ASSERT_TRUE(selection.problem);
    EXPECT_NE(selection.problem->find(std::string("\"") + path + "\""), std::string::npos);
    EXPECT_NE(selection.problem->find("No such file"), std::string::npos) << *selection.problem;
    EXPECT_EQ(names(*selection.library), "");
}

// The process-wide source is chosen once from the environment, so these run in a child process
// that exits with 0 when every check held.
void unusableLibraryChild() {
    setenv("OSTREL_MODULE_LIBRARY", "/nonexistent/libmissing.so", 1);
    std::array<char, 512> list;
    list.fill('x');
    UsbFindModules(list.data(), list.size());
    UsbFindModules(list.data(), list.size());
    const std::optional<std::string> problem = usbLibraryLoadProblem();
    const bool ok = list[0] == '\0' && problem &&
                    problem->find("/nonexistent/libmissing.so") != std::string::npos;
    std::exit(ok ? 0 : 1);
}

void namedLibraryChild() {
    setenv("OSTREL_MODULE_LIBRARY", OSTREL_TEST_MODULE_LIBRARY, 1);
    std::array<char, 512> list{};
    UsbFindModules(list.data(), list.size());
    void *handle = nullptr;
    const bool opened = UsbOpen(&handle, "LIB-A") != 0 && UsbClose(handle) != 0;
    const bool ok = std::string(list.data()) == "LIB-A" && opened && !usbLibraryLoadProblem();
    std::exit(ok ? 0 : 1);
}

class ProcessWideSelection : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ProcessWideSelection, UnusableLibraryIsReportedOnceAndGivesNoModules) {
    EXPECT_EXIT(
        unusableLibraryChild(), ::testing::ExitedWithCode(0),
        "^ostrel: Can't use the USB module library \"/nonexistent/libmissing.so\": [^\n]*\n$");
}

TEST_F(ProcessWideSelection, NamedLibraryIsUsedInsteadOfTheSimulator) {
    EXPECT_EXIT(namedLibraryChild(), ::testing::ExitedWithCode(0), "^$");
}

TEST(ProcessWideDispatch, SimulatorServesTheOperationsByDefault) {
    if (std::getenv("OSTREL_MODULE_LIBRARY") != nullptr) GTEST_SKIP() << "a library is named";
    ASSERT_TRUE(sim::bus().plug(sim::test::withConfig("DISPATCH-FAST:pace=fast")));
    std::array<char, 512> list{};
    ASSERT_NE(UsbFindModules(list.data(), list.size()), 0);
    bool listed = false;
    for (const char *name = list.data(); *name != '\0'; name += std::strlen(name) + 1) {
        listed = listed || std::string(name) == "DISPATCH-FAST";
    }
    EXPECT_TRUE(listed);
    EXPECT_FALSE(usbLibraryLoadProblem());

    void *handle = nullptr;
    ASSERT_NE(UsbOpen(&handle, "DISPATCH-FAST"), 0);
    uint16_t run = kRunBits;
    ASSERT_NE(UsbWritePort(handle, 0, &run, 2), 0);
    Block block{};
    uint32_t length = kBlockBytes, bytes = 0;
    uint8_t id = 0;
    ASSERT_NE(UsbReadDataAsync(handle, block.data(), &length, &id), 0);
    ASSERT_NE(UsbAsyncWait(handle, &bytes, id, 0), 0);
    EXPECT_EQ(bytes, kBlockBytes);
    EXPECT_NE(UsbClose(handle), 0);
    EXPECT_EQ(UsbClose(handle), 0);
    uint32_t code = 0;
    ASSERT_NE(UsbGetLastError(&code), 0);
    EXPECT_EQ(code, kUsbErrorInvalidHandle);
    EXPECT_TRUE(sim::bus().unplug("DISPATCH-FAST"));
}

}  // namespace
}  // namespace ostrel::test
