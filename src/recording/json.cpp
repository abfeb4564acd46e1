#include "recording/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <system_error>

#include "recording/byte_escape.h"

namespace ostrel::recording::json {
namespace {

// Strings are bytes. A byte 0x80..0xFF that is not part of valid UTF-8 stands for the
// private-use code point U+F700 + byte (U+F780..U+F7FF), and every such code point read
// back, escaped or not, is that byte again. The writer also writes the UTF-8 of
// U+F780..U+F7FF itself byte by byte this way, so any byte string reads back exactly and the
// text stays valid Unicode.
constexpr uint32_t kByteEscapeBase = 0xF700;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Shows one byte of the input in an error message: printable ASCII as it is, anything
// else as \xNN.
std::string describeByte(unsigned char byte) {
    if (byte >= 0x20 && byte < 0x7F) return std::string("'") + char(byte) + "'";
    std::string text = "byte \\x";
    appendHexByte(text, byte);
    return text;
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

// The byte that the three-byte sequence at `text` stands for when it is the UTF-8 of
// U+F780..U+F7FF (EF 9E 80..EF 9F BF); nullopt otherwise.
std::optional<unsigned char> byteEscapeAt(std::string_view text) {
    if (text.size() < 3) return std::nullopt;
    const auto b0 = static_cast<unsigned char>(text[0]);
    const auto b1 = static_cast<unsigned char>(text[1]);
    const auto b2 = static_cast<unsigned char>(text[2]);
    if (b0 != 0xEF || (b1 != 0x9E && b1 != 0x9F) || b2 < 0x80 || b2 > 0xBF) return std::nullopt;
    return static_cast<unsigned char>(
        (uint32_t(0xF000) | uint32_t(b1 & 0x3F) << 6 | uint32_t(b2 & 0x3F)) - kByteEscapeBase);
}

// Appends the UTF-8 of U+F700 + `byte`, the code point that stands for the byte.
void appendByteCodePoint(std::string &out, unsigned char byte) {
    const uint32_t codePoint = kByteEscapeBase + byte;
    out += char(0xE0 | (codePoint >> 12));
    out += char(0x80 | ((codePoint >> 6) & 0x3F));
    out += char(0x80 | (codePoint & 0x3F));
}

// The byte string a decoded JSON string stands for: each U+F780..U+F7FF its byte.
std::string bytesOf(const std::string &unicode) {
    if (unicode.find('\xEF') == std::string::npos) return unicode;
    std::string bytes;
    for (std::size_t i = 0; i < unicode.size();) {
        if (const auto byte = byteEscapeAt(std::string_view(unicode).substr(i))) {
            bytes += char(*byte);
            i += 3;
        } else {
            bytes += unicode[i++];
        }
    }
    return bytes;
}

// The input as nlohmann reads it: valid UTF-8 throughout, each byte that is not part of
// valid UTF-8 replaced by the code point that stands for it (the line breaks stay where
// they are). `expanded` holds where those replacements start, for the messages, which name
// the byte of the input.
struct Prepared {
    std::string text;
    std::vector<std::size_t> expanded;
    std::size_t inputSize;

    explicit Prepared(std::string_view input) : inputSize(input.size()) {
        text.reserve(input.size());
        for (std::size_t i = 0; i < input.size();) {
            const auto byte = static_cast<unsigned char>(input[i]);
            const std::size_t length = byte < 0x80 ? 1 : utf8SequenceLength(input.substr(i));
            if (length == 0) {
                expanded.push_back(text.size());
                appendByteCodePoint(text, byte);
                ++i;
            } else {
                text.append(input.substr(i, length));
                i += length;
            }
        }
    }

    // How many bytes of the input are left from `pos` of `text` on.
    std::size_t bytesLeft(std::size_t pos) const {
        const auto before = std::lower_bound(expanded.begin(), expanded.end(), pos);
        return inputSize - (pos - 2 * std::size_t(before - expanded.begin()));
    }

    // The input's byte at `pos` of `text`.
    unsigned char byteAt(std::size_t pos) const {
        if (std::binary_search(expanded.begin(), expanded.end(), pos)) {
            return *byteEscapeAt(std::string_view(text).substr(pos));
        }
        return static_cast<unsigned char>(text[pos]);
    }
};

// Length of the number literal at `start` ('-' or a digit),
// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?; 0 when there is none, and `problem` says why.
std::size_t numberLength(std::string_view text, std::size_t start, std::string *problem) {
    std::size_t i = start;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && isDigit(text[i])) ++i;
        return i > from;
    };
    const auto fail = [&](const char *what) {
        if (problem) *problem = what;
        return std::size_t(0);
    };
    if (i < text.size() && text[i] == '-') ++i;
    if (i < text.size() && text[i] == '0') {
        ++i;
    } else if (!digits()) {
        return fail("a number needs a digit after '-'");
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (!digits()) return fail("a number needs a digit after '.'");
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (!digits()) return fail("a number needs a digit in its exponent");
    }
    return i - start;
}

// Where the number literals outside strings start that no double holds (1e999, 1e-999, an
// integer of 400 digits), in order. nlohmann stops at a number that overflows; such a
// literal is handed to it as "0e000..." of the same length, and read as a number without a
// value, which the description refuses only where it needs the number.
std::vector<std::size_t> numbersOutOfRange(std::string_view text) {
    std::vector<std::size_t> starts;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            continue;
        }
        const bool afterNumberCharacter =
            i > 0 && (isDigit(text[i - 1]) ||
                      std::string_view("+-.eE").find(text[i - 1]) != std::string_view::npos);
        if ((c != '-' && !isDigit(c)) || afterNumberCharacter) continue;
        const std::size_t length = numberLength(text, i, nullptr);
        if (length == 0) continue;
        double value = 0;
        const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + i + length, value);
        if (ec != std::errc{} || !std::isfinite(value)) starts.push_back(i);
        i += length - 1;
    }
    return starts;
}

// nlohmann's SAX events into the value tree. It follows the grammar along the text itself
// (`end_`: the end of the last token nlohmann has taken), so it knows where each value
// starts, its line, and, when nlohmann refuses the text, what was expected at that point.
class TreeBuilder {
  public:
    using Json = nlohmann::json;

    TreeBuilder(const Prepared &input, const std::vector<std::size_t> &outOfRange)
        : input_(input), text_(input.text), outOfRange_(outOfRange) {}

    bool null() {
        place(Value::Kind::null, tokenStart(), 4);
        return true;
    }
    bool boolean(bool value) {
        place(Value::Kind::boolean, tokenStart(), value ? 4 : 5).boolean = value;
        return true;
    }
    bool number_integer(Json::number_integer_t number) {
        const std::size_t start = tokenStart();
        Value &value = placeNumber(start);
        value.int64 = number;
        if (number >= 0 && text_[start] != '-') value.uint64 = uint64_t(number);  // not "-0"
        value.real = double(number);
        return true;
    }
    bool number_unsigned(Json::number_unsigned_t number) {
        Value &value = placeNumber(tokenStart());
        if (number <= uint64_t(std::numeric_limits<int64_t>::max())) value.int64 = int64_t(number);
        value.uint64 = number;
        value.real = double(number);
        return true;
    }
    bool number_float(Json::number_float_t number, const Json::string_t &) {
        const std::size_t start = tokenStart();
        Value &value = placeNumber(start);
        if (!std::binary_search(outOfRange_.begin(), outOfRange_.end(), start)) value.real = number;
        return true;
    }
    bool string(Json::string_t &text) {
        const std::size_t start = tokenStart();
        place(Value::Kind::string, start, stringLength(start)).text = bytesOf(text);
        return true;
    }
    bool binary(Json::binary_t &) { return false; }  // JSON text has none
    bool start_object(std::size_t) { return open(Value::Kind::object, Next::key); }
    bool key(Json::string_t &text) {
        const std::size_t start = tokenStart();
        end_ = start + stringLength(start);
        open_.back()->keys.push_back(bytesOf(text));
        next_ = Next::colon;
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Value::Kind::array, Next::value); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string &, const Json::exception &) {
        error_ = diagnose();
        return false;
    }

    // The tree after nlohmann's parse gave `parsed`.
    ParseResult result(bool parsed) {
        if (parsed && error_.empty()) {
            // nlohmann takes a zero byte for the end of the text.
            skipWhitespace();
            if (end_ < text_.size()) error_ = diagnose();
        }
        if (!parsed || !error_.empty()) return {std::nullopt, error_.empty() ? here("") : error_};
        return {std::move(root_), {}};
    }

    // What is wrong at the point the tree has reached, in this program's words, with the
    // line: the first thing nlohmann refused.
    std::string diagnose() {
        skipWhitespace();
        switch (next_) {
            case Next::value:
                return valueProblem();
            case Next::key:
                return keyProblem();
            case Next::colon:
                if (!at(':')) return here("expected ':' after a key");
                ++end_;
                skipWhitespace();
                return valueProblem();
            case Next::commaOrClose:
                if (at(',')) {
                    ++end_;
                    skipWhitespace();
                    return inObject() ? keyProblem() : valueProblem();
                }
                if (leadingZero()) return here(kLeadingZero);
                if (end_ >= text_.size()) {
                    return here(inObject() ? "the text ends inside an object, expected ',' or '}'"
                                           : "the text ends inside an array, expected ',' or ']'");
                }
                return here((inObject() ? "expected ',' or '}' in an object, found "
                                        : "expected ',' or ']' in an array, found ") +
                            describe(end_));
            case Next::end:
                break;
        }
        if (leadingZero()) return here(kLeadingZero);
        return here("unexpected " + describe(end_) + " after the JSON value");
    }

  private:
    // What the grammar allows after the last token taken.
    enum class Next { value, key, colon, commaOrClose, end };

    static constexpr const char *kLeadingZero =
        "a number must not start with '0' followed by digits";

    bool at(char c) const { return end_ < text_.size() && text_[end_] == c; }
    bool inObject() const { return !open_.empty() && open_.back()->kind == Value::Kind::object; }
    std::string describe(std::size_t pos) const { return describeByte(input_.byteAt(pos)); }
    std::string here(const std::string &what) const {
        return "line " + std::to_string(line_) + ": " + (what.empty() ? "not valid JSON" : what);
    }

    // "01": nlohmann took the "0" and refused the next digit.
    bool leadingZero() const {
        return end_ > 0 && end_ < text_.size() && isDigit(text_[end_]) && isDigit(text_[end_ - 1]);
    }

    void skipWhitespace() {
        while (end_ < text_.size()) {
            const char c = text_[end_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
            line_ += c == '\n';
            ++end_;
        }
    }

    // The start of the token nlohmann has just read: past whitespace and the ':' or ','
    // that may come first.
    std::size_t tokenStart() {
        skipWhitespace();
        if ((next_ == Next::colon && at(':')) || (next_ == Next::commaOrClose && at(','))) {
            ++end_;
            skipWhitespace();
        }
        return end_;
    }

    // Length of the string literal at `start`, which nlohmann has taken.
    std::size_t stringLength(std::size_t start) const {
        std::size_t i = start + 1;
        while (i < text_.size() && text_[i] != '"') i += text_[i] == '\\' ? 2 : 1;
        return std::min(i + 1, text_.size()) - start;
    }

    Value &place(Value::Kind kind, std::size_t start, std::size_t length) {
        Value *value = &root_;
        if (!open_.empty()) value = &open_.back()->items.emplace_back();
        value->kind = kind;
        value->line = line_;
        end_ = start + length;
        next_ = open_.empty() ? Next::end : Next::commaOrClose;
        return *value;
    }

    Value &placeNumber(std::size_t start) {
        return place(Value::Kind::number, start, numberLength(text_, start, nullptr));
    }

    bool open(Value::Kind kind, Next next) {
        const std::size_t start = tokenStart();
        if (open_.size() >= std::size_t(kMaxDepth)) {
            error_ = here("nested deeper than " + std::to_string(kMaxDepth) + " levels");
            return false;
        }
        open_.push_back(&place(kind, start, 1));
        next_ = next;
        return true;
    }

    bool close() {
        end_ = tokenStart() + 1;
        open_.pop_back();
        next_ = open_.empty() ? Next::end : Next::commaOrClose;
        return true;
    }

    std::string valueProblem() {
        if (end_ >= text_.size()) return here("unexpected end of the text, expected a value");
        const char c = text_[end_];
        if (c == '"') return stringProblem();
        if (c == '-' || isDigit(c)) {
            std::string problem;
            numberLength(text_, end_, &problem);
            return here(problem);
        }
        return here("unexpected " + describe(end_) + ", expected a value");
    }

    std::string keyProblem() {
        if (end_ >= text_.size()) return here("the text ends inside an object, expected a key");
        if (at('"')) return stringProblem();
        return here("expected a key in quotes, found " + describe(end_));
    }

    // Four hex digits at `pos` as `unit`; the problem when they are not there.
    std::string hex4(std::size_t &pos, uint32_t &unit) const {
        if (input_.bytesLeft(pos) < 4) return "unexpected end of the text in a \\u escape";
        const char *first = text_.data() + pos;
        const auto [ptr, ec] = std::from_chars(first, first + 4, unit, 16);
        if (ec != std::errc{} || ptr != first + 4) {
            return "\\u needs four hex digits, found " + describe(pos + std::size_t(ptr - first));
        }
        pos += 4;
        return {};
    }

    // The string literal at `end_` that nlohmann refused.
    std::string stringProblem() {
        for (std::size_t i = end_ + 1;;) {
            if (i >= text_.size()) return here("the text ends inside a string");
            const auto c = static_cast<unsigned char>(text_[i]);
            if (c == '"') return here("");
            if (c < 0x20) {
                return here("a string holds a control character (" + describe(i) +
                            "); write it as an escape");
            }
            if (c != '\\') {
                ++i;
                continue;
            }
            if (++i >= text_.size()) return here("the text ends inside a string");
            const char e = text_[i++];
            if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) continue;
            if (e != 'u') {
                return here("unknown escape \\" + std::string(1, char(input_.byteAt(i - 1))) +
                            " in a string");
            }
            uint32_t unit = 0;
            if (std::string problem = hex4(i, unit); !problem.empty()) return here(problem);
            if (unit >= 0xDC00 && unit <= 0xDFFF) return here("\\u escape: a low surrogate alone");
            if (unit < 0xD800 || unit > 0xDBFF) continue;
            if (text_.substr(i, 2) != "\\u") return here("\\u escape: a high surrogate alone");
            i += 2;
            if (std::string problem = hex4(i, unit); !problem.empty()) return here(problem);
            if (unit < 0xDC00 || unit > 0xDFFF) {
                return here("\\u escape: a high surrogate not followed by a low one");
            }
        }
    }

    const Prepared &input_;
    std::string_view text_;
    const std::vector<std::size_t> &outOfRange_;
    std::size_t end_ = 0;  // end of the last token taken
    uint64_t line_ = 1;    // line of end_: a line break can only be whitespace between tokens
    Next next_ = Next::value;
    Value root_;
    std::vector<Value *> open_;  // the arrays and objects being filled, outermost first
    std::string error_;
};

}  // namespace

const Value *Value::member(std::string_view key) const {
    if (kind != Kind::object) return nullptr;
    for (std::size_t i = keys.size(); i-- > 0;) {
        if (keys[i] == key) return &items[i];
    }
    return nullptr;
}

ParseResult parse(std::string_view text) {
    const Prepared input(text);
    const std::vector<std::size_t> outOfRange = numbersOutOfRange(input.text);
    TreeBuilder builder(input, outOfRange);
    // nlohmann skips a byte order mark, which a description never has.
    if (!input.text.empty() && input.text[0] == '\xEF') return {std::nullopt, builder.diagnose()};
    std::string handed = input.text;
    for (const std::size_t start : outOfRange) {
        const std::size_t length = numberLength(handed, start, nullptr);
        handed.replace(start, length, "0e" + std::string(length - 2, '0'));
    }
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(handed, &builder);
    } catch (const nlohmann::json::exception &) {
        parsed = false;
    }
    return builder.result(parsed);
}

void appendQuoted(std::string &out, std::string_view text) {
    // nlohmann writes valid UTF-8 only: each byte that is not part of valid UTF-8, and each
    // byte of U+F780..U+F7FF, goes in as the code point that stands for it, and comes out
    // as its escape.
    std::string unicode;
    unicode.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80 ? 1 : utf8SequenceLength(text.substr(i));
        if (length == 0 || byteEscapeAt(text.substr(i, length))) {
            for (std::size_t k = 0; k < std::max<std::size_t>(length, 1); ++k) {
                appendByteCodePoint(unicode, static_cast<unsigned char>(text[i + k]));
            }
        } else {
            unicode.append(text.substr(i, length));
        }
        i += std::max<std::size_t>(length, 1);
    }
    const std::string quoted =
        nlohmann::json(unicode).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    for (std::size_t i = 0; i < quoted.size();) {
        if (const auto escaped = byteEscapeAt(std::string_view(quoted).substr(i))) {
            out += "\\uf7";
            appendHexByte(out, *escaped);
            i += 3;
        } else {
            out += quoted[i++];
        }
    }
}

}  // namespace ostrel::recording::json
