// A module library loaded at run time: the test library end to end, unusable libraries, and the
// process-wide choice of the source.
#include <cstdlib>

#include "../sim/sim_test_support.h"
#include "usb/module_library_selection.h"
#include "usb/usb_module.h"

namespace ostrel::sim::test {
namespace {

// The first `bytes` bytes the library writes into a 512-byte name list.
std::string nameList(ModuleLibrary &library, size_t bytes) {
    std::array<char, 512> list;
    list.fill('x');
    EXPECT_NE(library.UsbFindModules(list.data(), list.size()), 0);
    return std::string(list.data(), bytes);
}

// A measurement as the acquisition thread runs it: warm-up, sync test, run bits, 16 reads in
// flight waited for in order, then the stop and close.
void runMeasurement(ModuleLibrary &library, const char *moduleName) {
    void *handle = nullptr;
    ASSERT_NE(library.UsbOpen(&handle, moduleName), 0) << lastError(library);
    std::vector<Block> ring(16);
    uint32_t length = kBlockBytes;
    ASSERT_NE(library.UsbReadData(handle, ring[0].data(), &length), 0);
    ASSERT_NE(library.UsbSetTimeout(handle, 2000), 0);
    uint16_t port = 0, portLength = 2;
    ASSERT_NE(library.UsbReadPort(handle, 0, &port, &portLength), 0);
    ASSERT_EQ(port & kSyncBit, kSyncBit);
    port |= kRunBits;
    ASSERT_NE(library.UsbWritePort(handle, 0, &port, 2), 0);
    std::array<uint8_t, 16> ids{};
    for (size_t k = 0; k < ring.size(); ++k) {
        ASSERT_NE(library.UsbReadDataAsync(handle, ring[k].data(), &length, &ids[k]), 0);
    }
    for (size_t k = 0; k < ring.size(); ++k) {
        uint32_t bytes = 0;
        ASSERT_NE(library.UsbAsyncWait(handle, &bytes, ids[k], 0), 0) << lastError(library);
        EXPECT_EQ(bytes, kBlockBytes);
    }
    EXPECT_NE(ring[14], ring[15]);
    port &= ~kRunBits;
    EXPECT_NE(library.UsbWritePort(handle, 0, &port, 2), 0);
    EXPECT_NE(library.UsbClose(handle), 0);
    EXPECT_EQ(library.UsbClose(handle), 0);
}

TEST(ModuleLibrarySelection, TestLibraryWorksEndToEnd) {
    const ModuleLibrarySelection selection = selectModuleLibrary(OSTREL_TEST_MODULE_LIBRARY);
    ASSERT_FALSE(selection.problem) << *selection.problem;
    ModuleLibrary &library = *selection.library;
    EXPECT_EQ(nameList(library, 13), std::string("LIB-A\0LIB-B\0\0", 13));
    runMeasurement(library, "LIB-B");
    runMeasurement(library, "LIB-A");
    void *handle = nullptr;
    EXPECT_EQ(library.UsbOpen(&handle, "NOPE"), 0);
    EXPECT_EQ(lastError(library), kUsbErrorNoSuchModule);  // the library's own last error
}

// The cancel is optional: a library with it cancels the reads and keeps the module open; one
// without it is usable all the same, and says it cannot cancel.
TEST(ModuleLibrarySelection, TheCancelOfReadsIsOptional) {
    for (const bool withCancel : {true, false}) {
        const ModuleLibrarySelection selection = selectModuleLibrary(
            withCancel ? OSTREL_TEST_MODULE_LIBRARY : OSTREL_TEST_NOCANCEL_MODULE_LIBRARY);
        ASSERT_FALSE(selection.problem) << *selection.problem;
        ModuleLibrary &library = *selection.library;
        EXPECT_EQ(library.canCancelReads(), withCancel);
        void *handle = nullptr;
        ASSERT_NE(library.UsbOpen(&handle, "LIB-A"), 0);
        EXPECT_EQ(library.UsbCancelReads(handle) != 0, withCancel);
        uint16_t port = 0;
        uint16_t length = 2;
        EXPECT_NE(library.UsbReadPort(handle, 0, &port, &length), 0) << "still open";
        EXPECT_NE(library.UsbClose(handle), 0);
    }
}

TEST(ModuleLibrarySelection, UnusableLibraryGivesNoModulesAndTheReason) {
    const std::pair<const char *, const char *> rows[] = {
        {OSTREL_TEST_INCOMPLETE_MODULE_LIBRARY, "lacks the operation UsbAsyncWait"},
        {"/nonexistent/libostrel-no-such-module-library.so", "No such file"}};
    for (const auto &[path, reason] : rows) {
        const ModuleLibrarySelection selection = selectModuleLibrary(path);
        ASSERT_TRUE(selection.problem) << path;
        EXPECT_NE(selection.problem->find(std::string("\"") + path + "\""), std::string::npos);
        EXPECT_NE(selection.problem->find(reason), std::string::npos) << *selection.problem;
        EXPECT_EQ(nameList(*selection.library, 1), std::string(1, '\0'));
        void *handle = nullptr;
        EXPECT_EQ(selection.library->UsbOpen(&handle, "LIB-A"), 0);
        EXPECT_EQ(lastError(*selection.library), kUsbErrorNoLibrary);
    }
}

// The process-wide source is chosen once from the environment, so each case runs in a child
// process: it exits with 0 when the named library's modules are listed or the problem names it.
void processWideChild(const char *path) {
    setenv("OSTREL_MODULE_LIBRARY", path, 1);
    std::array<char, 512> list{};
    UsbFindModules(list.data(), list.size());
    UsbFindModules(list.data(), list.size());
    const std::optional<std::string> problem = usbLibraryLoadProblem();
    std::exit(problem ? problem->find(path) == std::string::npos
                      : std::string(list.data()) != "LIB-A");
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
