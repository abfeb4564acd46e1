#include "support/process_counters.h"

#include <fstream>

namespace ostrel::test {

namespace fs = std::filesystem;

namespace {

int entriesIn(const char *directory) {
    std::error_code error;
    int count = 0;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return count;
}

}  // namespace

int threadCount() {
    return entriesIn("/proc/self/task");
}

int descriptorCount() {
    return entriesIn("/proc/self/fd");
}

std::map<int, std::string> threadsById() {
    std::map<int, std::string> threads;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/task", error), end; !error && it != end;
         it.increment(error)) {
        std::ifstream comm(it->path() / "comm");
        std::string name;
        std::getline(comm, name);
        threads[std::stoi(it->path().filename().string())] = name;
    }
    return threads;
}

std::vector<std::string> openFilesUnder(const fs::path &directory) {
    std::vector<std::string> open;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(it->path(), unreadable);
        if (!unreadable && target.string().rfind(directory.string() + "/", 0) == 0)
            open.push_back(target.string());
    }
    return open;
}

}  // namespace ostrel::test
