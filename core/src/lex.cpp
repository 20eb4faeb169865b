#include "lex.h"

namespace vellox_core {

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

bool Lexer::eat_keyword(std::string_view keyword) {
    if (input.size() - pos < keyword.size()) return false;
    if (as_text(input.subspan(pos, keyword.size())) != keyword) return false;
    const std::size_t after = pos + keyword.size();
    if (after < input.size() && is_regular(input[after])) return false;
    pos = after;
    return true;
}

UintToken Lexer::read_uint(std::uint64_t max) {
    skip_whitespace();
    const auto token = read_keyword();
    if (!token) return {UintToken::Status::Missing, 0};
    const auto value = parse_unsigned(*token, max);
    if (!value) return {UintToken::Status::Bad, 0};
    return {UintToken::Status::Ok, *value};
}

}  // namespace vellox_core
