// Type 1 font programs (/FontFile): the built-in encoding from the
// clear-text part.
//
// A Type 1 program is PostScript: a clear-text part that builds the font
// dictionary, the word "eexec", then the encrypted part with the glyph
// outlines. The encoding lives in the clear-text part, either as
//
//   /Encoding StandardEncoding def
//
// or as an array filled entry by entry, as TeX's fonts do:
//
//   /Encoding 256 array
//   0 1 255 {1 index exch /.notdef put} for
//   dup 12 /fi put
//   dup 65 /A put
//   readonly def
//
// so a small tokenizer over the clear text is enough; nothing is executed
// and the encrypted part is never read.
//
// In a PDF the clear-text part should be /Length1 bytes long, but the
// length is often wrong (or the stream is a whole PFB file, each part behind
// a six-byte segment header 0x80 0x01 <length, 4 bytes little-endian>).
// The clear text is therefore found here: after a PFB header if there is
// one, up to the first "eexec".
#include <algorithm>
#include <string_view>

#include "bounds.h"
#include "fontprog.h"
#include "fontprog/tables.h"

namespace vellox_core {

namespace {

constexpr bool is_space(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}
constexpr bool is_delimiter(std::uint8_t c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == '/' || c == '%';
}

enum class TokenKind : std::uint8_t { Name, LiteralName, Integer, Other, OpenProc, CloseProc };

struct Token {
    TokenKind kind = TokenKind::Other;
    std::string_view text;   // without the slash of a literal name
    std::int64_t value = 0;  // Integer only
};

// PostScript tokens of the clear text, with strings, hex strings and
// comments skipped as units so that "/Encoding" inside a /Notice string
// never counts.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : text_(text) {}

    std::optional<Token> next() {
        while (pos_ < text_.size()) {
            const auto c = static_cast<std::uint8_t>(text_[pos_]);
            if (is_space(c)) {
                ++pos_;
            } else if (c == '%') {
                while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
            } else if (c == '(') {
                skip_string();
                return Token{};
            } else if (c == '<' || c == '>') {
                // "<<", ">>", or a hex string <...>.
                const bool hex = c == '<' && pos_ + 1 < text_.size() && text_[pos_ + 1] != '<';
                const std::size_t end = hex ? text_.find('>', pos_) : pos_ + 1;
                pos_ = end < text_.size() ? end + 1 : text_.size();
                return Token{};
            } else if (c == '{' || c == '}') {
                ++pos_;
                return Token{c == '{' ? TokenKind::OpenProc : TokenKind::CloseProc, {}, 0};
            } else if (c == ')' || c == '[' || c == ']') {
                ++pos_;
                return Token{};
            } else if (c == '/') {
                ++pos_;
                return Token{TokenKind::LiteralName, word(), 0};
            } else {
                return classify(word());
            }
        }
        return std::nullopt;
    }

private:
    std::string_view word() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !is_space(static_cast<std::uint8_t>(text_[pos_])) &&
               !is_delimiter(static_cast<std::uint8_t>(text_[pos_]))) {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    // A (...) string: parentheses nest, a backslash escapes the next byte.
    void skip_string() {
        std::size_t depth = 0;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '\\') {
                ++pos_;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                return;
            }
        }
    }

    static Token classify(std::string_view w) {
        std::size_t i = 0;
        bool negative = false;
        if (!w.empty() && (w[0] == '-' || w[0] == '+')) {
            negative = w[0] == '-';
            i = 1;
        }
        if (i == w.size()) return Token{TokenKind::Name, w, 0};
        std::int64_t v = 0;
        for (; i < w.size(); ++i) {
            if (w[i] < '0' || w[i] > '9' || __builtin_mul_overflow(v, 10, &v) ||
                __builtin_add_overflow(v, w[i] - '0', &v)) {
                return Token{TokenKind::Name, w, 0};
            }
        }
        return Token{TokenKind::Integer, w, negative ? -v : v};
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// The clear-text part: after a PFB segment header when there is one, up to
// the first "eexec" (or the end of the first segment, or kMaxType1ClearText).
std::optional<std::string_view> clear_text(ByteView bytes) {
    if (bytes.size() >= 6 && bytes[0] == 0x80 && bytes[1] == 0x01) {
        const std::uint32_t length = bytes[2] | (bytes[3] << 8) | (bytes[4] << 16) |
                                     (static_cast<std::uint32_t>(bytes[5]) << 24);
        bytes = bytes.subspan(6);
        if (length < bytes.size()) bytes = bytes.first(length);
    }
    if (bytes.size() > limits::kMaxType1ClearText) bytes = bytes.first(limits::kMaxType1ClearText);
    std::string_view text = as_text(bytes);
    // "%!PS-AdobeFont-1.0" or "%!FontType1-1.0" opens every Type 1 program.
    if (text.substr(0, 2) != "%!") return std::nullopt;
    const std::size_t eexec = text.find("eexec");
    if (eexec != std::string_view::npos) text = text.substr(0, eexec);
    return text;
}

void set_standard(FontProgram& program) {
    const auto strings = fontprog::cff_standard_strings();
    const auto sids = fontprog::standard_encoding_sids();
    program.encoding = BuiltinEncoding::Standard;
    for (std::size_t code = 0; code < 256; ++code) {
        if (sids[code] != 0) program.code_names[code] = std::string(strings[sids[code]]);
    }
}

// The entries after "/Encoding" up to the "def" that closes its definition
// (outside procedures, so the "put" of the .notdef loop is not taken).
void read_encoding(Tokenizer& tokens, FontProgram& program) {
    std::optional<Token> first = tokens.next();
    if (!first) return;
    if (first->kind == TokenKind::Name && first->text == "StandardEncoding") {
        set_standard(program);
        return;
    }
    program.encoding = BuiltinEncoding::Custom;
    // The last three tokens before the current one: "dup <code> /<name>".
    Token window[3] = {{}, {}, *first};
    std::size_t depth = first->kind == TokenKind::OpenProc ? 1 : 0;
    while (std::optional<Token> t = tokens.next()) {
        if (t->kind == TokenKind::OpenProc) {
            ++depth;
        } else if (t->kind == TokenKind::CloseProc) {
            if (depth > 0) --depth;
        } else if (t->kind == TokenKind::Name && depth == 0) {
            if (t->text == "def") return;
            if (t->text == "put" && window[0].kind == TokenKind::Name && window[0].text == "dup" &&
                window[1].kind == TokenKind::Integer && window[2].kind == TokenKind::LiteralName &&
                window[1].value >= 0 && window[1].value <= 255 && window[2].text != ".notdef") {
                program.code_names[static_cast<std::size_t>(window[1].value)] =
                    std::string(window[2].text);
            }
        }
        window[0] = window[1];
        window[1] = window[2];
        window[2] = *t;
    }
}

}  // namespace

bool holds_type1_clear_text(ByteView prefix) {
    ByteView bytes = prefix;
    std::size_t window = limits::kMaxType1ClearText;
    if (bytes.size() >= 2 && bytes[0] == 0x80 && bytes[1] == 0x01) {
        // A PFB segment header, as clear_text reads it once all six bytes
        // are there.
        if (bytes.size() < 6) return false;
        const std::uint32_t length = bytes[2] | (bytes[3] << 8) | (bytes[4] << 16) |
                                     (static_cast<std::uint32_t>(bytes[5]) << 24);
        bytes = bytes.subspan(6);
        window = std::min<std::size_t>(window, length);
    }
    if (bytes.size() >= window) return clear_text(prefix).has_value();
    // Only part of the window is there: the clear text ends inside it when
    // "eexec" does (its first occurrence in the prefix is its first in the
    // whole program).
    const std::string_view text = as_text(bytes);
    return text.substr(0, 2) == "%!" && text.find("eexec") != std::string_view::npos;
}

std::optional<FontProgram> read_type1_program(ByteView bytes) {
    const std::optional<std::string_view> text = clear_text(bytes);
    if (!text) return std::nullopt;
    FontProgram program;
    program.format = FontProgramFormat::Type1;
    Tokenizer tokens(*text);
    while (std::optional<Token> t = tokens.next()) {
        if (t->kind == TokenKind::LiteralName && t->text == "Encoding") {
            read_encoding(tokens, program);
            break;
        }
    }
    return program;
}

}  // namespace vellox_core
