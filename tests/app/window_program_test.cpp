// The program as a process: its private runtime directory when the session has none, its
// line and status without a display, and the orderly end SIGTERM, SIGHUP and SIGINT give it.
#include <sys/stat.h>

#include <cstring>
#include <optional>

#include "app/runtime_directory.h"
#include "process_support.h"
#include "support/scratch_directory.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ScratchDirectory : public ::testing::Test {
  protected:
    const test::ScratchDirectory scratch{"ostrel-program"};
    const fs::path directory = scratch.path();
};

mode_t modeOf(const fs::path &path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

using RuntimeDirectory = ScratchDirectory;

TEST_F(RuntimeDirectory, OwnWhenFreeOrPrivateElseAFreshOne) {
    const std::string own = "runtime-" + std::to_string(::getuid());
    // What is at <base>/runtime-<uid> before (a link: to a directory elsewhere), the
    // directories' mode, and whether it is the one chosen.
    const struct {
        const char *before;
        char kind;
        mode_t mode;
        bool chosen;
    } cases[] = {
        {"nothing", '-', 0, true},
        {"private directory", 'd', 0700, true},
        {"directory open to others", 'd', 0755, false},
        {"file", 'f', 0, false},
        {"link to a private directory", 'l', 0700, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.before);
        const fs::path base = directory / std::to_string(&c - cases);
        fs::create_directory(base);
        const fs::path expected = base / own, made = c.kind == 'l' ? base / "elsewhere" : expected;
        if (c.kind == 'd' || c.kind == 'l')
            fs::create_directory(made), ::chmod(made.c_str(), c.mode);
        if (c.kind == 'l') fs::create_directory_symlink(made, expected);
        if (c.kind == 'f') std::ofstream(expected) << "x";
        const std::string chosen = privateRuntimeDirectoryIn(base.string());
        if (c.chosen) {
            EXPECT_EQ(chosen, expected.string());
        } else {
            EXPECT_NE(chosen, expected.string());
            EXPECT_EQ(fs::path(chosen).parent_path(), base);
            EXPECT_EQ(fs::path(chosen).filename().string().rfind(own + "-", 0), 0u) << chosen;
        }
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(chosen))) << chosen;
        EXPECT_EQ(modeOf(chosen), 0700u) << chosen;
    }
    EXPECT_EQ(privateRuntimeDirectoryIn((directory / "missing").string()), "");
}

TEST_F(RuntimeDirectory, SetOnlyWhenTheSessionHasNone) {
    std::map<std::string, std::optional<std::string>> kept;  // put back at the end
    for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        kept[name] = ::getenv(name) ? std::optional<std::string>(::getenv(name)) : std::nullopt;
    }
    ::setenv("TMPDIR", directory.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", "/run/user/elsewhere", 1);
    EXPECT_EQ(providePrivateRuntimeDirectory(), "");
    EXPECT_STREQ(::getenv("XDG_RUNTIME_DIR"), "/run/user/elsewhere");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    const std::string made = providePrivateRuntimeDirectory();
    EXPECT_EQ(made, (directory / ("runtime-" + std::to_string(::getuid()))).string());
    EXPECT_EQ(::getenv("XDG_RUNTIME_DIR"), made);
    for (const auto &[name, value] : kept) {
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
}

// Whether the process catches `signal` (its handler is installed): bit signal - 1 of SigCgt.
bool catches(pid_t child, int signal) {
    std::ifstream status("/proc/" + std::to_string(child) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (signal - 1) & 1) != 0;
    }
    return false;
}

using Program = ScratchDirectory;

TEST_F(Program, WithoutADisplayItSaysSoAndFails) {
    const fs::path err = directory / "stderr";
    const pid_t child = test::spawnProgram(
        {OSTREL_PROGRAM}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}},
        directory, err);
    ASSERT_GT(child, 0);
    const int status = test::waitForEnd(child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(test::readFile(err),
              "ostrel: no display found (DISPLAY and WAYLAND_DISPLAY are not set); ostrel-record "
              "records without a display\n");
}

// Every signal that ends a session ends the program as its window's close button does, with
// status 0; a session without XDG_RUNTIME_DIR gets a private one and no warning from Qt.
TEST_F(Program, SigtermSighupAndSigintCloseTheWindow) {
    const std::string runtime = "runtime-" + std::to_string(::getuid());
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(::strsignal(signal));
        const fs::path err = directory / "stderr";
        const pid_t child = test::spawnProgram({OSTREL_PROGRAM},
                                               {{"QT_QPA_PLATFORM", "offscreen"},
                                                {"OSTREL_SIM", "IDLE:words=4,kbps=40"},
                                                {"XDG_RUNTIME_DIR", ""},
                                                {"TMPDIR", directory.string()}},
                                               directory, err);
        ASSERT_GT(child, 0);
        EXPECT_TRUE(test::waitFor([&] { return catches(child, signal); }, 60s))
            << "the handler was not installed";
        ::kill(child, signal);
        const int status = test::waitForEnd(child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(test::readFile(err).find("XDG_RUNTIME_DIR"), std::string::npos)
            << test::readFile(err);
        EXPECT_EQ(modeOf(directory / runtime), 0700u);
    }
}

}  // namespace
}  // namespace ostrel
