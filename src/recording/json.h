// The JSON of the recording descriptions, on nlohmann-json: a parse into a small value tree
// that knows the line of every value, and the quoting of a string for writing. nlohmann
// checks the grammar, decodes the strings and converts the numbers; this layer keeps the
// line of each value, and when the text is not JSON it says where and what was expected in
// this program's own words ("line 3: expected ':' after a key"). Hostile input cannot
// exhaust the stack: nesting deeper than kMaxDepth is refused.
//
// Strings are byte strings (a module name from an adapter library may be any bytes), and
// the text written is valid UTF-8 all the same: a byte 0x80..0xFF that is not part of valid
// UTF-8 is written as the escape of the private-use code point U+F700 + byte ("\uf7ff" for
// 0xFF), and the parser reads every U+F780..U+F7FF, escaped or as UTF-8, as that byte. The
// writer writes a genuine U+F780..U+F7FF byte by byte the same way (three escapes), so every
// byte string reads back exactly; only a foreign writer's U+F780..U+F7FF reads as bytes.
// Other bytes outside ASCII are taken as they are (also invalid UTF-8, as older
// descriptions hold it). Pure; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::recording::json {

// Deepest nesting of arrays and objects the parser accepts.
inline constexpr int kMaxDepth = 64;

struct Value {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool boolean = false;
    std::string text;               // a string's content
    std::vector<Value> items;       // array elements, or object member values
    std::vector<std::string> keys;  // object member keys, parallel to `items`
    uint64_t line = 0;              // line (from 1) where the value starts
    // A number as each type holds it: an integer literal in the type's range, and any
    // literal as the nearest finite double (none when it is out of a double's range).
    std::optional<int64_t> int64;
    std::optional<uint64_t> uint64;
    std::optional<double> real;

    // The member named `key` (the last one if a key repeats); nullptr when absent or
    // when this is not an object.
    const Value *member(std::string_view key) const;
};

struct ParseResult {
    std::optional<Value> value;
    std::string error;  // "line 3: expected ':' after a key"
};

// Parses one JSON value filling all of `text` (surrounding whitespace allowed).
ParseResult parse(std::string_view text);

// Appends `text` as a JSON string literal, quotes included: '"' and '\\' escaped, control
// characters as \n, \t, ... or \u00XX, bytes that are not valid UTF-8 (and the UTF-8 of
// U+F780..U+F7FF) as \uf780..\uf7ff; valid UTF-8 as it is.
void appendQuoted(std::string &out, std::string_view text);

}  // namespace ostrel::recording::json
