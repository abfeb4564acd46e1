// The programs as processes: started with changes to this process's environment, waited for
// within a bound, their output read (and `waitFor`, the bounded poll).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/log_file_check.h"
#include "support/wait.h"

extern char **environ;

namespace ostrel::test {

// Starts `args` (the program first), standard input /dev/null, with this process's environment,
// `changes` applied ("" removes a variable), in `directory` and with stderr into `errFile` when
// they are given. -1 when it cannot start.
inline pid_t spawnProgram(std::vector<std::string> args,
                          const std::map<std::string, std::string> &changes = {},
                          const std::string &directory = "", const std::string &errFile = "") {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (changes.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
    }
    for (const auto &[name, value] : changes) {
        if (!value.empty()) env.push_back(name + "=" + value);
    }
    std::vector<char *> argv, envp;
    for (std::string &a : args) argv.push_back(a.data());
    for (std::string &e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    // Not the test's input: ostrel-record would take its lines for markers.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!errFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    pid_t child = 0;
    const int rc = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? child : -1;
}

// The status the child ended with; after `bound` it is killed, the test fails and it is -1.
inline int waitForEnd(pid_t child, std::chrono::seconds bound = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int status = -1;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the program did not end";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

// What a shell command line writes to standard output, and the status it ends with.
inline std::string commandOutput(const std::string &command, int *status = nullptr) {
    std::string output;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    const int ended = ::pclose(pipe);
    if (status != nullptr) *status = ended;
    return output;
}

}  // namespace ostrel::test
