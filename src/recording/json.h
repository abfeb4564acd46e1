// Just enough JSON for the recording descriptions: a parser into a small value tree and
// the escaping of a string for writing. Objects, arrays, strings (every escape, \uXXXX
// and surrogate pairs to UTF-8), numbers (kept as their text, so 64-bit integers stay
// exact), true, false, null. Hostile input cannot exhaust the stack: nesting deeper than
// kMaxDepth is refused.
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
    std::string text;               // a string's content, or a number's literal text
    std::vector<Value> items;       // array elements, or object member values
    std::vector<std::string> keys;  // object member keys, parallel to `items`
    uint64_t line = 0;              // line (from 1) where the value starts

    // The member named `key` (the last one if a key repeats); nullptr when absent or
    // when this is not an object.
    const Value *member(std::string_view key) const;

    // A number that is an integer literal in the type's range; nullopt otherwise.
    std::optional<int64_t> asInt64() const;
    std::optional<uint64_t> asUint64() const;
    // Any number literal as the nearest double; nullopt for a non-number or one out of range.
    std::optional<double> asDouble() const;
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
