// Replays fuzz inputs through a fuzz target without libFuzzer, so that any compiler and any
// sanitizer build runs the committed corpus as an ordinary test.
//
//   fuzz_<target>_replay PATH...
//
// A PATH is an input file or a directory whose regular files are inputs (in name order). Each
// input is handed to LLVMFuzzerTestOneInput in a heap buffer of exactly its size, as libFuzzer
// does, so that AddressSanitizer sees a read past its end. Fails when a path cannot be read
// (a directory that cannot be listed throws) or no input was found; a broken invariant aborts
// in the target.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        if (!fs::is_directory(path)) {
            inputs.push_back(path);  // read below, or the replay fails there
            continue;
        }
        std::vector<fs::path> files;
        for (const fs::directory_entry &entry : fs::directory_iterator(path))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        inputs.insert(inputs.end(), files.begin(), files.end());
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs found; usage: %s PATH...\n", argv[0]);
        return 1;
    }
    std::size_t totalBytes = 0;
    for (const fs::path &path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
        if (!in || in.bad()) {
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
