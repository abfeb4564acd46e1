// Fuzz target: the walk of a module name list (namesInList) as a module library may hand it
// over: the input is the whole buffer, exactly `size` bytes (AddressSanitizer sees a read past
// it), not necessarily terminated. The names are those of a plain walk, none empty, within
// `size`; a shorter view of the buffer gives a prefix of them, the last possibly cut.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/module_discovery.h"
#include "fuzz_support.h"

namespace {

std::vector<std::string> walk(const char *list, std::size_t size) {
    std::vector<std::string> names;
    std::string current;
    // Up to the buffer's end or an empty name.
    for (std::size_t i = 0; i < size && (list[i] != '\0' || !current.empty()); ++i) {
        if (list[i] != '\0')
            current += list[i];
        else
            names.push_back(std::exchange(current, {}));
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

std::vector<std::string> checkedList(const char *list, std::size_t size) {
    const std::vector<std::string> names = ostrel::namesInList(list, size);
    FUZZ_CHECK(names == walk(list, size));
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const char *list = reinterpret_cast<const char *>(data);
    const std::vector<std::string> names = checkedList(list, size);
    // A shorter view: the first `cut` bytes. Its names are a prefix of the full list, the last
    // one possibly cut.
    const std::vector<std::string> shorter =
        checkedList(list, size == 0 ? 0 : std::size_t(data[0]) % (size + 1));
    FUZZ_CHECK(shorter.size() <= names.size());
    for (std::size_t i = 0; i < shorter.size(); ++i) {
        FUZZ_CHECK(i + 1 < shorter.size() ? shorter[i] == names[i]
                                          : names[i].starts_with(shorter[i]));
    }
    FUZZ_CHECK(ostrel::namesInList(nullptr, 0).empty());
    return 0;
}
