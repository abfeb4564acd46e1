#include "support/process_counters.h"

#include <fstream>

namespace ostrel::test {

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> entriesIn(const char *directory) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    return entries;
}

}  // namespace

int threadCount() {
    return int(entriesIn("/proc/self/task").size());
}

int descriptorCount() {
    return int(entriesIn("/proc/self/fd").size());
}

std::map<int, std::string> threadsById() {
    std::map<int, std::string> threads;
    for (const fs::path &task : entriesIn("/proc/self/task")) {
        std::ifstream comm(task / "comm");
        std::getline(comm, threads[std::stoi(task.filename().string())]);
    }
    return threads;
}

std::vector<std::string> openFilesUnder(const fs::path &directory) {
    std::vector<std::string> open;
    for (const fs::path &fd : entriesIn("/proc/self/fd")) {
        std::error_code unreadable;
        const std::string target = fs::read_symlink(fd, unreadable).string();
        if (!unreadable && target.rfind(directory.string() + "/", 0) == 0) open.push_back(target);
    }
    return open;
}

}  // namespace ostrel::test
