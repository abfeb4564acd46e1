// The installed program's outer edges, run as a process: its private runtime directory when
// the session has none, its line and status without a display, and the orderly end that
// SIGTERM, SIGHUP and SIGINT give it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/runtime_directory.h"
#include "support/log_file_check.h"
#include "support/scratch_directory.h"

extern char **environ;

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

// ---------------------------------------------------------------------------------------
// The private runtime directory
// ---------------------------------------------------------------------------------------

using RuntimeDirectory = ScratchDirectory;

TEST_F(RuntimeDirectory, OwnWhenFreeOrPrivateElseAFreshOne) {
    const std::string own = "runtime-" + std::to_string(::getuid());
    // What is at <base>/runtime-<uid> before, and whether it is the one chosen.
    const struct {
        const char *before;
        bool chosen;
    } cases[] = {
        {"nothing", true},
        {"private directory", true},
        {"directory open to others", false},
        {"file", false},
        {"link to a private directory", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.before);
        const fs::path base = directory / std::to_string(&c - cases);
        fs::create_directory(base);
        const fs::path expected = base / own;
        const std::string before = c.before;
        if (before == "private directory") fs::create_directory(expected);
        if (before == "private directory") fs::permissions(expected, fs::perms::owner_all);
        if (before == "directory open to others") fs::create_directory(expected);
        if (before == "directory open to others") ::chmod(expected.c_str(), 0755);
        if (before == "file") std::ofstream(expected) << "x";
        if (before == "link to a private directory") {
            fs::create_directory(base / "elsewhere");
            fs::permissions(base / "elsewhere", fs::perms::owner_all);
            fs::create_directory_symlink(base / "elsewhere", expected);
        }
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
    const char *before = ::getenv("XDG_RUNTIME_DIR");
    const std::string kept = before != nullptr ? before : "";
    const char *tmpBefore = ::getenv("TMPDIR");
    const std::string tmpKept = tmpBefore != nullptr ? tmpBefore : "";
    ::setenv("TMPDIR", directory.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", "/run/user/elsewhere", 1);
    EXPECT_EQ(providePrivateRuntimeDirectory(), "");
    EXPECT_STREQ(::getenv("XDG_RUNTIME_DIR"), "/run/user/elsewhere");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    const std::string made = providePrivateRuntimeDirectory();
    EXPECT_EQ(made, (directory / ("runtime-" + std::to_string(::getuid()))).string());
    EXPECT_EQ(::getenv("XDG_RUNTIME_DIR"), made);
    ::setenv("XDG_RUNTIME_DIR", kept.c_str(), 1);
    if (before == nullptr) ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", tmpKept.c_str(), 1);
    if (tmpBefore == nullptr) ::unsetenv("TMPDIR");
}

// ---------------------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------------------

// The program started in `workingDirectory` with this process's environment, `changes` applied
// ("" removes a variable), stderr into `errFile`.
pid_t startProgram(const fs::path &workingDirectory,
                   const std::map<std::string, std::string> &changes, const fs::path &errFile) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (changes.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
    }
    for (const auto &[name, value] : changes) {
        if (!value.empty()) env.push_back(name + "=" + value);
    }
    std::vector<char *> envp;
    for (std::string &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = OSTREL_PROGRAM;
    char *argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = 0;
    const int rc = ::posix_spawn(&child, argv[0], &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? child : -1;
}

// The status the child ended with; kills it and fails after a generous bound.
int waitForEnd(pid_t child) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    int status = -1;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the program did not end";
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return status;
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
    const pid_t child = startProgram(
        directory, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, err);
    ASSERT_GT(child, 0);
    const int status = waitForEnd(child);
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
        const pid_t child = startProgram(directory,
                                         {{"QT_QPA_PLATFORM", "offscreen"},
                                          {"OSTREL_SIM", "IDLE:words=4,kbps=40"},
                                          {"XDG_RUNTIME_DIR", ""},
                                          {"TMPDIR", directory.string()}},
                                         err);
        ASSERT_GT(child, 0);
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!catches(child, signal) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(catches(child, signal)) << "the handler was not installed";
        ::kill(child, signal);
        const int status = waitForEnd(child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(test::readFile(err).find("XDG_RUNTIME_DIR"), std::string::npos)
            << test::readFile(err);
        EXPECT_EQ(modeOf(directory / runtime), 0700u);
    }
}

}  // namespace
}  // namespace ostrel
