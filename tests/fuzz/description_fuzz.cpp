// Fuzz target: the input as a recording description (parseDescription, describeAsJson) and as a
// string to write (json::appendQuoted). A refusal names a line within the input or the missing
// key in the reader's own words; a description that parses is written as JSON nlohmann accepts
// and that parses back the same; the string is written as JSON nlohmann accepts and reads back
// as exactly its bytes.
#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "recording/json.h"
#include "recording/recording_description.h"

namespace {

namespace recording = ostrel::recording;

// The line an error names; 0 when it names none.
uint64_t lineOf(const std::string &error) {
    return error.starts_with("line ") ? std::stoull(error.substr(5)) : 0;
}

void checkDescription(std::string_view content) {
    const recording::ParsedDescription parsed = recording::parseDescription(content);
    FUZZ_CHECK(parsed.description.has_value() == parsed.error.empty());
    if (!parsed.description) {
        const uint64_t lines = 1 + std::count(content.begin(), content.end(), '\n');
        FUZZ_CHECK(parsed.error.ends_with("\" is missing") ||
                   (lineOf(parsed.error) >= 1 && lineOf(parsed.error) <= lines));
        FUZZ_CHECK(!parsed.error.ends_with(": not valid JSON"));
        return;
    }
    const std::string json = recording::describeAsJson(*parsed.description);
    FUZZ_CHECK(nlohmann::json::accept(json));
    const recording::ParsedDescription again = recording::parseDescription(json);
    FUZZ_CHECK(again.description && *again.description == *parsed.description);
}

void checkString(std::string_view bytes) {
    std::string quoted;
    recording::json::appendQuoted(quoted, bytes);
    FUZZ_CHECK(nlohmann::json::accept(quoted));
    const recording::json::ParseResult back = recording::json::parse(quoted);
    FUZZ_CHECK(back.value && back.value->kind == recording::json::Value::Kind::string);
    FUZZ_CHECK(back.value->text == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    checkDescription(content);
    checkString(content);
    return 0;
}
