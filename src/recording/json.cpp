#include "recording/json.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace ostrel::recording::json {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Shows one byte of the input in an error message: printable ASCII as it is, anything
// else as \xNN.
std::string describeByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) return std::string("'") + c + "'";
    return std::string("byte \\x") + kHexDigits[byte >> 4] + kHexDigits[byte & 0xF];
}

// Strings are bytes. A byte 0x80..0xFF that is not part of valid UTF-8 is written as the
// escape of the private-use code point U+F700 + byte (U+F780..U+F7FF), and every such code
// point read back, escaped or not, is that byte again. The writer also writes the UTF-8 of
// U+F780..U+F7FF itself byte by byte this way, so any byte string reads back exactly and the
// text stays valid Unicode.
constexpr uint32_t kByteEscapeBase = 0xF700;
constexpr uint32_t kFirstByteEscape = kByteEscapeBase + 0x80;
constexpr uint32_t kLastByteEscape = kByteEscapeBase + 0xFF;

bool isByteEscape(uint32_t codePoint) {
    return codePoint >= kFirstByteEscape && codePoint <= kLastByteEscape;
}

// Length of the well-formed UTF-8 sequence at the start of `text`, from a byte >= 0x80 (the
// ranges of Unicode's table of well-formed sequences: no overlong form, no surrogate,
// nothing above U+10FFFF); 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80;  // the second byte's range; the later ones are 80..BF
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF) return 0;
    }
    return length;
}

// The code point of the three-byte sequence at `text` when it is U+F780..U+F7FF
// (EF 9E 80..EF 9F BF); 0 otherwise.
uint32_t byteEscapeAt(std::string_view text) {
    if (text.size() < 3) return 0;
    const auto b0 = static_cast<unsigned char>(text[0]);
    const auto b1 = static_cast<unsigned char>(text[1]);
    const auto b2 = static_cast<unsigned char>(text[2]);
    if (b0 != 0xEF || (b1 != 0x9E && b1 != 0x9F) || b2 < 0x80 || b2 > 0xBF) return 0;
    return uint32_t(0xF000) | uint32_t(b1 & 0x3F) << 6 | uint32_t(b2 & 0x3F);
}

void appendByteEscape(std::string &out, unsigned char byte) {
    out += "\\uf7";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0xF];
}

void appendUtf8(std::string &out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += char(codePoint);
    } else if (codePoint < 0x800) {
        out += char(0xC0 | (codePoint >> 6));
        out += char(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += char(0xE0 | (codePoint >> 12));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    } else {
        out += char(0xF0 | (codePoint >> 18));
        out += char(0x80 | ((codePoint >> 12) & 0x3F));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    }
}

// Recursive descent over the whole text, at most kMaxDepth + 1 calls deep. The first
// error stops the parse.
class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    ParseResult run() {
        ParseResult result;
        Value value;
        skipWhitespace();
        if (parseValue(value, 0)) {
            skipWhitespace();
            if (pos_ < text_.size()) {
                fail("unexpected " + describeByte(text_[pos_]) + " after the JSON value");
            } else {
                result.value = std::move(value);
            }
        }
        if (!result.value) result.error = "line " + std::to_string(errorLine_) + ": " + error_;
        return result;
    }

  private:
    bool fail(std::string what) {
        if (error_.empty()) {
            error_ = std::move(what);
            errorLine_ = line_;
        }
        return false;
    }

    bool atEnd() const { return pos_ >= text_.size(); }

    void skipWhitespace() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
            line_ += c == '\n';
            ++pos_;
        }
    }

    bool parseValue(Value &value, int depth) {
        if (atEnd()) return fail("unexpected end of the text, expected a value");
        value.line = line_;
        const char c = text_[pos_];
        switch (c) {
            case '{':
                return parseObject(value, depth + 1);
            case '[':
                return parseArray(value, depth + 1);
            case '"':
                value.kind = Value::Kind::string;
                return parseString(value.text);
            case 't':
                return parseWord("true", value, Value::Kind::boolean, true);
            case 'f':
                return parseWord("false", value, Value::Kind::boolean, false);
            case 'n':
                return parseWord("null", value, Value::Kind::null, false);
            default:
                if (c == '-' || (c >= '0' && c <= '9')) return parseNumber(value);
                return fail("unexpected " + describeByte(c) + ", expected a value");
        }
    }

    bool parseWord(std::string_view word, Value &value, Value::Kind kind, bool boolean) {
        if (text_.substr(pos_, word.size()) != word) {
            return fail("unexpected " + describeByte(text_[pos_]) + ", expected a value");
        }
        pos_ += word.size();
        value.kind = kind;
        value.boolean = boolean;
        return true;
    }

    bool digits() {
        const std::size_t start = pos_;
        while (!atEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, kept as text.
    bool parseNumber(Value &value) {
        const std::size_t start = pos_;
        if (text_[pos_] == '-') ++pos_;
        if (!atEnd() && text_[pos_] == '0') {
            ++pos_;
        } else if (!digits()) {
            return fail("a number needs a digit after '-'");
        }
        if (!atEnd() && text_[pos_] == '.') {
            ++pos_;
            if (!digits()) return fail("a number needs a digit after '.'");
        }
        if (!atEnd() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (!atEnd() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (!digits()) return fail("a number needs a digit in its exponent");
        }
        if (!atEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            return fail("a number must not start with '0' followed by digits");
        }
        value.kind = Value::Kind::number;
        value.text.assign(text_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(uint32_t &out) {
        if (text_.size() - pos_ < 4) return fail("unexpected end of the text in a \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_];
            uint32_t digit;
            if (c >= '0' && c <= '9') {
                digit = uint32_t(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = uint32_t(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = uint32_t(c - 'A' + 10);
            } else {
                return fail("\\u needs four hex digits, found " + describeByte(c));
            }
            out = out << 4 | digit;
            ++pos_;
        }
        return true;
    }

    // After "\u": one code point, a surrogate pair joined, as UTF-8.
    bool parseUnicodeEscape(std::string &out) {
        uint32_t unit = 0;
        if (!hex4(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("\\u escape: a low surrogate alone");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u") return fail("\\u escape: a high surrogate alone");
            pos_ += 2;
            uint32_t low = 0;
            if (!hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) {
                return fail("\\u escape: a high surrogate not followed by a low one");
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        if (isByteEscape(unit)) {
            out += char(unit - kByteEscapeBase);
        } else {
            appendUtf8(out, unit);
        }
        return true;
    }

    bool parseString(std::string &out) {
        ++pos_;  // the opening quote
        out.clear();
        while (true) {
            if (atEnd()) return fail("the text ends inside a string");
            const char c = text_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return fail("a string holds a control character (" + describeByte(c) +
                            "); write it as an escape");
            }
            if (c != '\\') {
                // A byte escape written as UTF-8 (a tool that rewrote the text) is the byte.
                if (const uint32_t escape = byteEscapeAt(text_.substr(pos_)); escape != 0) {
                    out += char(escape - kByteEscapeBase);
                    pos_ += 3;
                    continue;
                }
                out += c;
                ++pos_;
                continue;
            }
            ++pos_;
            if (atEnd()) return fail("the text ends inside a string");
            const char e = text_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    if (!parseUnicodeEscape(out)) return false;
                    break;
                default:
                    --pos_;
                    return fail("unknown escape \\" + std::string(1, e) + " in a string");
            }
        }
    }

    bool enter(int depth) {
        if (depth > kMaxDepth) {
            return fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        ++pos_;  // '[' or '{'
        skipWhitespace();
        return true;
    }

    bool parseArray(Value &value, int depth) {
        if (!enter(depth)) return false;
        value.kind = Value::Kind::array;
        if (!atEnd() && text_[pos_] == ']') {
            ++pos_;
            return true;
        }
        while (true) {
            value.items.emplace_back();
            if (!parseValue(value.items.back(), depth)) return false;
            skipWhitespace();
            if (atEnd()) return fail("the text ends inside an array, expected ',' or ']'");
            if (text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            if (text_[pos_] != ',') {
                return fail("expected ',' or ']' in an array, found " + describeByte(text_[pos_]));
            }
            ++pos_;
            skipWhitespace();
        }
    }

    bool parseObject(Value &value, int depth) {
        if (!enter(depth)) return false;
        value.kind = Value::Kind::object;
        if (!atEnd() && text_[pos_] == '}') {
            ++pos_;
            return true;
        }
        while (true) {
            if (atEnd()) return fail("the text ends inside an object, expected a key");
            if (text_[pos_] != '"') {
                return fail("expected a key in quotes, found " + describeByte(text_[pos_]));
            }
            value.keys.emplace_back();
            if (!parseString(value.keys.back())) return false;
            skipWhitespace();
            if (atEnd() || text_[pos_] != ':') return fail("expected ':' after a key");
            ++pos_;
            skipWhitespace();
            value.items.emplace_back();
            if (!parseValue(value.items.back(), depth)) return false;
            skipWhitespace();
            if (atEnd()) return fail("the text ends inside an object, expected ',' or '}'");
            if (text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            if (text_[pos_] != ',') {
                return fail("expected ',' or '}' in an object, found " + describeByte(text_[pos_]));
            }
            ++pos_;
            skipWhitespace();
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    uint64_t line_ = 1;  // line of pos_: a line break can only be whitespace between tokens
    std::string error_;
    uint64_t errorLine_ = 0;
};

template <typename Int>
std::optional<Int> integerOf(const Value &value) {
    if (value.kind != Value::Kind::number) return std::nullopt;
    Int result{};
    const char *first = value.text.data();
    const char *last = first + value.text.size();
    const auto [ptr, ec] = std::from_chars(first, last, result);
    if (ec != std::errc{} || ptr != last) return std::nullopt;
    return result;
}

}  // namespace

const Value *Value::member(std::string_view key) const {
    if (kind != Kind::object) return nullptr;
    for (std::size_t i = keys.size(); i-- > 0;) {
        if (keys[i] == key) return &items[i];
    }
    return nullptr;
}

std::optional<int64_t> Value::asInt64() const {
    return integerOf<int64_t>(*this);
}

std::optional<uint64_t> Value::asUint64() const {
    return integerOf<uint64_t>(*this);
}

std::optional<double> Value::asDouble() const {
    if (kind != Kind::number) return std::nullopt;
    double result = 0;
    const char *first = text.data();
    const char *last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, result);
    if (ec != std::errc{} || ptr != last || !std::isfinite(result)) return std::nullopt;
    return result;
}

ParseResult parse(std::string_view text) {
    return Parser(text).run();
}

namespace {

// Appends the bytes from 0x80 on at the start of `text` (at least one): a well-formed UTF-8
// sequence as it is, any other byte, and the UTF-8 of U+F780..U+F7FF, as byte escapes.
// Returns how many bytes it took.
std::size_t appendNonAscii(std::string &out, std::string_view text) {
    const std::size_t length = utf8SequenceLength(text);
    if (length == 0) {
        appendByteEscape(out, static_cast<unsigned char>(text[0]));
        return 1;
    }
    if (byteEscapeAt(text) != 0) {
        for (std::size_t i = 0; i < length; ++i)
            appendByteEscape(out, static_cast<unsigned char>(text[i]));
    } else {
        out.append(text.substr(0, length));
    }
    return length;
}

}  // namespace

void appendQuoted(std::string &out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            i += appendNonAscii(out, text.substr(i));
            continue;
        }
        ++i;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHexDigits[byte >> 4];
                    out += kHexDigits[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

}  // namespace ostrel::recording::json
