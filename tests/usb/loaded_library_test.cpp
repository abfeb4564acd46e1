// Choosing the source of modules, and a module library loaded at run time.
#include <cstdlib>
#include <set>

#include "sim_test_support.h"
#include "usb/module_library_selection.h"
#include "usb/usb_module.h"

namespace ostrel::sim::test {
namespace {

std::string nameList(ModuleLibrary &library) {
    std::array<char, 512> list{};
    EXPECT_NE(library.UsbFindModules(list.data(), list.size()), 0);
    return listedNames(list.data(), list.size());
}

// A measurement as the acquisition thread runs it: warm-up, sync test, run bits, a ring of 16
// reads waited for in order and re-queued, then the stop and close.
void runMeasurement(ModuleLibrary &library, const char *moduleName, int blocks) {
    void *handle = nullptr;
    ASSERT_NE(library.UsbOpen(&handle, moduleName), 0) << lastError(library);
    std::array<uint8_t, 512> idle{};
    uint32_t length = idle.size();
    ASSERT_NE(library.UsbReadData(handle, idle.data(), &length), 0);
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
    port &= ~kRunBits;
    EXPECT_NE(library.UsbWritePort(handle, 0, &port, 2), 0);
    EXPECT_NE(library.UsbClose(handle), 0);
    EXPECT_EQ(library.UsbClose(handle), 0);
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
    EXPECT_EQ(nameList(library), std::string("LIB-A\0LIB-B\0\0", 13));
    runMeasurement(library, "LIB-B", 48);
    runMeasurement(library, "LIB-A", 20);
    void *handle = nullptr;
    EXPECT_EQ(library.UsbOpen(&handle, "NOPE"), 0);
    EXPECT_EQ(lastError(library), kUsbErrorNoSuchModule);  // the library's own last error
}

TEST(ModuleLibrarySelection, UnusableLibraryGivesNoModulesAndTheReason) {
    const struct {
        const char *path, *reason;
    } rows[] = {{OSTREL_TEST_INCOMPLETE_MODULE_LIBRARY, "lacks the operation UsbAsyncWait"},
                {"/nonexistent/libostrel-no-such-module-library.so", "No such file"}};
    for (const auto &row : rows) {
        const ModuleLibrarySelection selection = selectModuleLibrary(row.path);
        ASSERT_TRUE(selection.problem) << row.path;
        EXPECT_NE(selection.problem->find(std::string("\"") + row.path + "\""), std::string::npos);
        EXPECT_NE(selection.problem->find(row.reason), std::string::npos) << *selection.problem;
        EXPECT_EQ(nameList(*selection.library), std::string(1, '\0'));
        void *handle = nullptr;
        EXPECT_EQ(selection.library->UsbOpen(&handle, "LIB-A"), 0);
        EXPECT_EQ(lastError(*selection.library), kUsbErrorNoLibrary);
    }
}

// The process-wide source is chosen once from the environment, so each case runs in a child
// process that exits with 0 when every check held.
void processWideChild(const char *libraryPath) {
    setenv("OSTREL_MODULE_LIBRARY", libraryPath, 1);
    std::array<char, 512> list;
    list.fill('x');
    UsbFindModules(list.data(), list.size());
    UsbFindModules(list.data(), list.size());
    const std::optional<std::string> problem = usbLibraryLoadProblem();
    void *handle = nullptr;
    const bool usable = UsbOpen(&handle, "LIB-A") != 0 && UsbClose(handle) != 0;
    const bool ok = problem ? list[0] == '\0' && problem->find(libraryPath) != std::string::npos
                            : usable && std::string(list.data()) == "LIB-A";
    std::exit(ok ? 0 : 1);
}

TEST(ProcessWideSelection, UnusableLibraryIsReportedOnceAndNamedLibraryIsUsed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        processWideChild("/nonexistent/libmissing.so"), ::testing::ExitedWithCode(0),
        "^ostrel: Can't use the USB module library \"/nonexistent/libmissing.so\": [^\n]*\n$");
    EXPECT_EXIT(processWideChild(OSTREL_TEST_MODULE_LIBRARY), ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
}  // namespace ostrel::sim::test
