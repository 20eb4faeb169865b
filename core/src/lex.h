// The lexer: a read-only cursor over bytes with the PDF byte classes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "object.h"

namespace vellox_core {

// 0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20.
bool is_whitespace(std::uint8_t c);
// ( ) < > [ ] { } / %
bool is_delimiter(std::uint8_t c);
// Every byte that is neither white space nor a delimiter.
inline bool is_regular(std::uint8_t c) { return !is_whitespace(c) && !is_delimiter(c); }

// An unsigned decimal token (an optional leading '+', then digits only) of at
// most `max`; nothing for a sign alone, a '-', any other byte, or overflow.
std::optional<std::uint64_t> parse_unsigned(ByteView token, std::uint64_t max);

struct Lexer {
    ByteView input;
    std::size_t pos = 0;

    Lexer() = default;
    explicit Lexer(ByteView in, std::size_t at = 0)
        : input(in), pos(at < in.size() ? at : in.size()) {}

    bool at_end() const { return pos >= input.size(); }
    std::uint8_t peek() const { return input[pos]; }  // only when !at_end()

    // Skips white space and % comments (a comment runs through the first CR
    // or LF, or to the end of the input).
    void skip_whitespace();
    // The maximal run of regular bytes at pos (a view into the input), or
    // nothing (pos unchanged) at the end or at white space or a delimiter.
    std::optional<ByteView> read_keyword();
    // Takes `keyword` when the input at pos starts with it and the byte after
    // it is white space, a delimiter, or the end of the input.
    bool eat_keyword(std::string_view keyword);
};

}  // namespace vellox_core
