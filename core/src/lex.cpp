#include "lex.h"

#include <array>

namespace vellox_core {

namespace {

enum ByteClass : std::uint8_t { kRegular = 0, kWhite = 1, kDelim = 2 };

constexpr std::array<std::uint8_t, 256> make_classes() {
    std::array<std::uint8_t, 256> t{};
    for (std::uint8_t c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) t[c] = kWhite;
    for (char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) {
        t[static_cast<std::uint8_t>(c)] = kDelim;
    }
    return t;
}

constexpr std::array<std::uint8_t, 256> kClasses = make_classes();

}  // namespace

bool is_whitespace(std::uint8_t c) { return kClasses[c] == kWhite; }
bool is_delimiter(std::uint8_t c) { return kClasses[c] == kDelim; }

std::optional<std::uint64_t> parse_unsigned(ByteView token, std::uint64_t max) {
    std::size_t i = 0;
    if (i < token.size() && token[i] == '+') ++i;
    if (i == token.size()) return std::nullopt;
    std::uint64_t v = 0;
    for (; i < token.size(); ++i) {
        const std::uint8_t c = token[i];
        if (c < '0' || c > '9') return std::nullopt;
        if (__builtin_mul_overflow(v, std::uint64_t{10}, &v) ||
            __builtin_add_overflow(v, static_cast<std::uint64_t>(c - '0'), &v) || v > max) {
            return std::nullopt;
        }
    }
    return v;
}

void Lexer::skip_whitespace() {
    const std::size_t n = input.size();
    while (pos < n) {
        const std::uint8_t c = input[pos];
        if (kClasses[c] == kWhite) {
            ++pos;
        } else if (c == '%') {
            // A comment runs through the first CR or LF.
            while (pos < n && input[pos] != '\r' && input[pos] != '\n') ++pos;
            if (pos < n) ++pos;
        } else {
            return;
        }
    }
}

std::optional<ByteView> Lexer::read_keyword() {
    const std::size_t start = pos;
    std::size_t end = pos;
    while (end < input.size() && kClasses[input[end]] == kRegular) ++end;
    if (end == start) return std::nullopt;
    pos = end;
    return input.subspan(start, end - start);
}

bool Lexer::eat_keyword(std::string_view keyword) {
    if (input.size() - pos < keyword.size()) return false;
    if (as_text(input.subspan(pos, keyword.size())) != keyword) return false;
    const std::size_t after = pos + keyword.size();
    if (after < input.size() && kClasses[input[after]] == kRegular) return false;
    pos = after;
    return true;
}

}  // namespace vellox_core
