// The recursive object parser over a Lexer.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "lex.h"
#include "object.h"
#include "result.h"

namespace vellox_core::cos {

// Skips white space and comments, then reads exactly one direct object and
// leaves the cursor behind it. Never returns a Stream.
Result<Object> parse_object(Lexer& lexer);

// The same, for callers that bound the objects they keep from data that is
// not the file itself (a decoded content stream can be a gigabyte): every
// object read, nested ones included, takes one unit of `budget`, and the
// parse fails with "too many objects" when it runs out. Each object costs
// tens of bytes, so a byte of input can otherwise cost fifty of memory.
Result<Object> parse_object(Lexer& lexer, std::size_t& budget);
// The same again, with `scratch` as working space for array items: a caller
// reading many objects keeps it between calls to save allocations. It holds
// the same elements after the call as before.
Result<Object> parse_object(Lexer& lexer, std::size_t& budget, std::vector<Object>& scratch);

// Called with pos at the first '<' of "<<"; reads through the closing ">>".
Result<Dictionary> parse_dictionary(Lexer& lexer);

// The value of `key` in the dictionary at the cursor (its first '<' of
// "<<"), read without building the dictionary, when it is a plain name:
// its text, a view into the input. Nothing when the entry is absent or
// anything else, and whenever the dictionary does not read cleanly, so
// that a caller who gets a name knows that parse_dictionary would give a
// dictionary whose `key` holds that name, or fail. The cursor is left
// where it ends up.
std::optional<std::string_view> peek_name_entry(Lexer& lexer, std::string_view key);

// ------------------------------------------------ pieces of the parser
// Shared with the content reader, which takes the common operands without
// building objects for them; these are the parser's own steps.

// A number token read without the general decimal conversion.
struct Number {
    enum Kind : std::uint8_t { None, Integer, Real } kind = None;
    std::int64_t integer = 0;
    double real = 0;

    static Number of(std::int64_t i) { return {Integer, i, 0}; }
    static Number of(double d) { return {Real, 0, d}; }
    Object object() const { return kind == Integer ? Object(integer) : Object(real); }
    // The value as a double, whichever its kind.
    double value() const { return kind == Integer ? static_cast<double>(integer) : real; }
};

// Plain integers and decimals with up to 22 fraction digits. None when the
// token needs the general path (exponents, inf, huge values) or is no
// number at all.
Number parse_number_fast(std::string_view token);

namespace number_detail {

// Exact doubles 1e0 .. 1e22: dividing by one of them is a single rounding.
inline constexpr std::array<double, 23> kPow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The longest token (sign and point included) whose digits all fit in an
// int64_t without checking.
inline constexpr std::size_t kShortNumber = 18;

// parse_number_fast for a token longer than kShortNumber, its digits checked
// for overflow.
Number parse_long_number(std::string_view token);

// Reading digits eight bytes at a time (little-endian machines): the number
// of decimal digits that begin the eight bytes of `word`, in memory order.
// A byte is a digit when, xor '0', it is below 10: adding 0x76 sets its top
// bit from 10 on. A carry out of one byte can only disturb later bytes,
// behind the first that is no digit.
// non_digit_marks sets the top bit of each byte that is no digit (and of
// bytes behind it that a carry disturbed); leading_digits counts the bytes
// before the first mark.
inline std::uint64_t non_digit_marks(std::uint64_t word) {
    const std::uint64_t x = word ^ 0x3030303030303030u;
    return (x | (x + 0x7676767676767676u)) & 0x8080808080808080u;
}

inline unsigned leading_digits_of_marks(std::uint64_t marks) {
    return marks == 0 ? 8 : static_cast<unsigned>(std::countr_zero(marks)) / 8;
}

inline unsigned leading_digits(std::uint64_t word) {
    return leading_digits_of_marks(non_digit_marks(word));
}

// The value of the first `count` (1 to 8) bytes of `word`, all digits: they
// are moved to the top, behind zeros, and the eight digits are combined in
// pairs, then fours, then all.
inline std::uint64_t digits_value(std::uint64_t word, unsigned count) {
    std::uint64_t x = (word ^ 0x3030303030303030u) << (8 * (8 - count));
    x = x * 10 + (x >> 8);
    x = ((x & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
         ((x >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
        32;
    return x & 0xFFFFFFFFu;
}

// A decimal that fits one word with the byte that ends it: its digits'
// value with the point taken out, the index of the ending byte, and the
// count of digits behind the point.
struct ShortDecimal {
    std::uint64_t value;
    unsigned end;
    unsigned fraction;
};

// The decimal that begins the eight bytes of `word` (its non_digit_marks
// in `marks`), whose first byte that is no digit, at `whole`, is a point:
// digits, the point, digits (at least one digit in all), then a byte that
// is neither, all within the word; nothing when the token runs past the
// word. The point's byte and digit bytes never carry into the next byte
// when the marks' test adds 0x76 (only bytes from 0x8A on, xor '0', do),
// so the marks also show the first byte behind the point that is no digit
// exactly. The digits on both sides, closed up over the point, read as one
// run of at most seven.
inline std::optional<ShortDecimal> short_decimal(std::uint64_t word, std::uint64_t marks,
                                                 unsigned whole) {
    const std::uint64_t behind = marks & (marks - 1);  // the point's mark cleared
    if (behind == 0) return std::nullopt;              // the token runs past the word
    const unsigned end = static_cast<unsigned>(std::countr_zero(behind)) / 8;
    const unsigned digits = end - 1;
    if (digits == 0) return std::nullopt;  // a point alone
    const std::uint64_t below = (std::uint64_t{1} << (8 * whole)) - 1;
    const std::uint64_t closed = (word & below) | ((word >> 8) & ~below);
    return ShortDecimal{digits_value(closed, digits), end, end - whole - 1};
}

// The bytes a short number is read from at once: a sign, seven digits, a
// point, eight bytes of fraction, and the byte behind them.
inline constexpr std::ptrdiff_t kWordSpan = 18;

inline constexpr std::array<std::uint64_t, 8> kIntPow10 = {1,     10,     100,     1000,
                                                           10000, 100000, 1000000, 10000000};

}  // namespace number_detail

// The same for the token at `p` (before `end`), read in the pass that finds
// its end (content streams are mostly numbers, and scanning a token and
// then parsing it read every byte twice). `stop` is set behind the token
// (its run of regular bytes) whether or not it is such a number. In the
// header, on plain pointers, so that the content reader's loop, which calls
// it for nearly every token, inlines it and keeps its cursor in a register.
[[gnu::always_inline]] inline Number read_number_at(const std::uint8_t* p, const std::uint8_t* end,
                                                    const std::uint8_t*& stop) {
    const std::uint8_t* const start = p;
    if (p == end) {
        stop = p;
        return {};
    }
    // A lone digit ("0 g", "1 0 0 1 cm") is a fifth of a page's numbers.
    if (const unsigned digit = static_cast<unsigned>(*p - '0'); digit < 10u) {
        if (end - p == 1 || !is_regular(p[1])) {
            stop = p + 1;
            return Number::of(static_cast<std::int64_t>(digit));
        }
    }
    // Most numbers of a page are short ("0.3985", "-16.1902", "72"): with
    // room behind them, their whole and fraction digits are read a word at
    // a time. Anything else (a long number, a second point, a letter, the
    // end of the input near) takes the byte loop below.
    if constexpr (std::endian::native == std::endian::little) {
        if (end - p >= number_detail::kWordSpan) {
            const std::uint8_t* q = p;
            const bool minus = *q == '-';
            if (*q == '+' || *q == '-') ++q;
            std::uint64_t word = 0;
            std::memcpy(&word, q, sizeof word);
            const std::uint64_t marks = number_detail::non_digit_marks(word);
            const unsigned whole = number_detail::leading_digits_of_marks(marks);
            // Nearly every decimal of a page ("90.142", "-16.1902") ends
            // within the eight bytes behind its sign: its end is found in
            // the one word, and the digits on both sides of the point,
            // closed up over it, read in one step.
            if (q[whole] == '.') {
                if (const auto small = number_detail::short_decimal(word, marks, whole)) {
                    if (!is_regular(q[small->end])) {
                        stop = q + small->end;
                        const auto magnitude = static_cast<std::int64_t>(small->value);
                        const std::int64_t signed_value = minus ? -magnitude : magnitude;
                        return Number::of(static_cast<double>(signed_value) /
                                          number_detail::kPow10[small->fraction]);
                    }
                }
            }
            std::uint64_t value = whole == 0 ? 0 : number_detail::digits_value(word, whole);
            q += whole;
            unsigned fraction = 0;
            const bool has_point = *q == '.';
            if (has_point) {
                ++q;
                std::memcpy(&word, q, sizeof word);
                fraction = number_detail::leading_digits(word);
                if (fraction > 0 && fraction < 8) {
                    value = value * number_detail::kIntPow10[fraction] +
                            number_detail::digits_value(word, fraction);
                }
                q += fraction;
            }
            if (whole < 8 && fraction < 8 && whole + fraction > 0 && !is_regular(*q)) {
                stop = q;
                const auto magnitude = static_cast<std::int64_t>(value);
                const std::int64_t signed_value = minus ? -magnitude : magnitude;
                if (!has_point) return Number::of(signed_value);
                return Number::of(static_cast<double>(signed_value) /
                                  number_detail::kPow10[fraction]);
            }
        }
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    std::uint64_t digits = 0;  // may wrap on a long token, which is not read from it
    const std::uint8_t* const first_digit = p;
    while (p != end && static_cast<unsigned>(*p - '0') < 10u) {
        digits = digits * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    const std::uint8_t* point = nullptr;
    if (p != end && *p == '.') {
        point = p++;
        while (p != end && static_cast<unsigned>(*p - '0') < 10u) {
            digits = digits * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
    }
    if (p != end && is_regular(*p)) {
        // More of the token (a second sign or point, a letter): no plain
        // number, and the cursor goes behind the whole token.
        stop = regular_run_end(p, end);
        return {};
    }
    stop = p;
    const auto length = static_cast<std::size_t>(p - start);
    if (length > number_detail::kShortNumber) {
        return number_detail::parse_long_number(
            std::string_view(reinterpret_cast<const char*>(start), length));
    }
    if (p - first_digit == (point == nullptr ? 0 : 1)) return {};  // no digit
    // At most 18 digits cannot overflow.
    const auto value = static_cast<std::int64_t>(digits);
    const std::int64_t signed_value = negative ? -value : value;
    if (point == nullptr) return Number::of(signed_value);
    return Number::of(static_cast<double>(signed_value) / number_detail::kPow10[p - point - 1]);
}

// read_number_at for the token at the cursor, which ends up behind it.
inline Number read_number_fast(Lexer& lx) {
    const ByteView in = lx.input;
    const std::uint8_t* const begin = in.data();
    const std::uint8_t* stop = nullptr;
    const Number n = read_number_at(begin + lx.pos, begin + in.size(), stop);
    lx.pos = static_cast<std::size_t>(stop - begin);
    return n;
}

// Called with the cursor just behind the number `n`: when it is an integer
// from 0 to 2^32 - 1 and "g R" follows, takes that and returns the
// reference; otherwise leaves the cursor where it was.
std::optional<Reference> reference_after(Lexer& lexer, const Number& n);

// Called with the cursor just behind '(': appends the literal string's
// bytes to `out`, escapes decoded and balanced parentheses kept, and leaves
// the cursor behind its closing parenthesis. False when the input ends first.
bool read_literal_string(Lexer& lexer, Bytes& out);

// Called with the cursor just behind '<' of a hex string: appends its bytes
// to `out` (white space skipped, an odd last digit followed by 0) and leaves
// the cursor behind the '>'.
enum class HexString : std::uint8_t { Ok, BadDigit, End };
HexString read_hex_string(Lexer& lexer, Bytes& out);

// Called with the cursor just behind '/': a name of plain ASCII without #xx
// escapes is its own text, taken from the input; nothing, and the cursor
// unmoved, for any other name.
std::optional<std::string_view> take_plain_name(Lexer& lexer);

}  // namespace vellox_core::cos
