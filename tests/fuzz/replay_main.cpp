// Replays fuzz inputs through a fuzz target without libFuzzer, so that any compiler and any
// sanitizer build runs the committed corpus as an ordinary test.
//
//   fuzz_<target>_replay PATH...
//
// A PATH is an input file or a directory whose regular files are inputs (in name order). Each
// input is handed to LLVMFuzzerTestOneInput in a heap buffer of exactly its size, as libFuzzer
// does, so that AddressSanitizer sees a read past its end. Fails when a path cannot be read or
// no input was found; a broken invariant aborts in the target.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool collectInputs(const fs::path &path, std::vector<fs::path> *inputs) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        std::vector<fs::path> files;
        for (const fs::directory_entry &entry : fs::directory_iterator(path, error)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        if (error) {
            std::fprintf(stderr, "replay: cannot list %s: %s\n", path.c_str(),
                         error.message().c_str());
            return false;
        }
        std::sort(files.begin(), files.end());
        inputs->insert(inputs->end(), files.begin(), files.end());
        return true;
    }
    if (fs::is_regular_file(path, error)) {
        inputs->push_back(path);
        return true;
    }
    std::fprintf(stderr, "replay: %s is neither an input file nor a directory\n", path.c_str());
    return false;
}

bool readInput(const fs::path &path, std::vector<char> *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH...  (input files or corpus directories)\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!collectInputs(argv[i], &inputs)) return 1;
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::size_t totalBytes = 0;
    for (const fs::path &path : inputs) {
        std::vector<char> bytes;
        if (!readInput(path, &bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        // Exactly the input's size, never a null pointer, like libFuzzer's copy.
        const std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), input.get());
        LLVMFuzzerTestOneInput(input.get(), bytes.size());
        totalBytes += bytes.size();
    }
    std::printf("replayed %zu inputs (%zu bytes)\n", inputs.size(), totalBytes);
    return 0;
}
