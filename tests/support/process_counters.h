// What this process holds, read from /proc: its threads and its file descriptors.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ostrel::test {

int threadCount();      // entries of /proc/self/task
int descriptorCount();  // entries of /proc/self/fd (the listing's own descriptor included)
// The threads by id, with their names (/proc/self/task/<id>/comm).
std::map<int, std::string> threadsById();
// The files under `directory` this process holds open.
std::vector<std::string> openFilesUnder(const std::filesystem::path &directory);

}  // namespace ostrel::test
