// The lexer: a read-only cursor over bytes with the PDF byte classes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "object.h"

namespace vellox_core {

namespace lex_detail {

enum ByteClass : std::uint8_t { kRegular = 0, kWhite = 1, kDelim = 2 };

constexpr std::array<std::uint8_t, 256> make_classes() {
    std::array<std::uint8_t, 256> t{};
    for (std::uint8_t c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) t[c] = kWhite;
    for (char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) {
        t[static_cast<std::uint8_t>(c)] = kDelim;
    }
    return t;
}

// The class of every byte. In the header so that the scanning loops below,
// which run for nearly every byte of every content stream, are inlined
// into the parsers.
inline constexpr std::array<std::uint8_t, 256> kClasses = make_classes();

}  // namespace lex_detail

// 0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20.
inline bool is_whitespace(std::uint8_t c) { return lex_detail::kClasses[c] == lex_detail::kWhite; }
// ( ) < > [ ] { } / %
inline bool is_delimiter(std::uint8_t c) { return lex_detail::kClasses[c] == lex_detail::kDelim; }
// Every byte that is neither white space nor a delimiter.
inline bool is_regular(std::uint8_t c) { return lex_detail::kClasses[c] == lex_detail::kRegular; }

// The scanning steps on plain pointers, for the loops that keep their
// cursor in a register (the content reader's); the Lexer's own steps below
// are these on its position.
//
// The first byte at or after `p` that is neither white space nor in a %
// comment (a comment runs through the first CR or LF, or to the end).
inline const std::uint8_t* skip_whitespace_from(const std::uint8_t* p, const std::uint8_t* end) {
    while (p != end) {
        if (is_whitespace(*p)) {
            ++p;
        } else if (*p == '%') {
            while (p != end && *p != '\r' && *p != '\n') ++p;
            if (p != end) ++p;
        } else {
            break;
        }
    }
    return p;
}
// The end of the run of regular bytes that starts at `p`.
inline const std::uint8_t* regular_run_end(const std::uint8_t* p, const std::uint8_t* end) {
    while (p != end && is_regular(*p)) ++p;
    return p;
}

// An unsigned decimal token (an optional leading '+', then digits only) of at
// most `max`; nothing for a sign alone, a '-', any other byte, or overflow.
std::optional<std::uint64_t> parse_unsigned(ByteView token, std::uint64_t max);

// An unsigned number token as the file structure writes them (object
// headers, cross-reference entries, object-stream offsets), or why there is
// none: each reader turns the failure into its own error.
struct UintToken {
    enum class Status : std::uint8_t {
        Ok,
        Missing,  // no token: white space, a delimiter or the end follows
        Bad,      // a token that is not an unsigned number of at most `max`
    };
    Status status = Status::Missing;
    std::uint64_t value = 0;
};

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
    void skip_whitespace() {
        // A position past the end (set by a caller) stays where it is.
        if (pos >= input.size()) return;
        const std::uint8_t* const begin = input.data();
        pos = static_cast<std::size_t>(skip_whitespace_from(begin + pos, begin + input.size()) -
                                       begin);
    }
    // The maximal run of regular bytes at pos (a view into the input), or
    // nothing (pos unchanged) at the end or at white space or a delimiter.
    std::optional<ByteView> read_keyword() {
        const std::uint8_t* const begin = input.data();
        const std::size_t start = pos;
        const auto end =
            static_cast<std::size_t>(regular_run_end(begin + pos, begin + input.size()) - begin);
        if (end == start) return std::nullopt;
        pos = end;
        return input.subspan(start, end - start);
    }
    // Takes `keyword` when the input at pos starts with it and the byte after
    // it is white space, a delimiter, or the end of the input.
    bool eat_keyword(std::string_view keyword);
    // Skips white space and comments, then reads one token as an unsigned
    // decimal number of at most `max` (see parse_unsigned). The token is
    // taken whether or not it is one.
    UintToken read_uint(std::uint64_t max);
};

}  // namespace vellox_core
