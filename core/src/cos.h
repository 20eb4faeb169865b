// The recursive object parser over a Lexer.
#pragma once

#include <cstdint>
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
};

// Plain integers and decimals with up to 22 fraction digits. None when the
// token needs the general path (exponents, inf, huge values) or is no
// number at all.
Number parse_number_fast(std::string_view token);

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
