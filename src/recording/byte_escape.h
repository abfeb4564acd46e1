// The one spelling of a byte as hex: the \xNN of messages that show bytes and the \uf7NN of
// the byte escapes in descriptions.
#pragma once

#include <string>

namespace ostrel::recording {

// Appends `byte` as two lower-case hex digits.
inline void appendHexByte(std::string &out, unsigned char byte) {
    constexpr char kHexDigits[] = "0123456789abcdef";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0xF];
}

}  // namespace ostrel::recording
