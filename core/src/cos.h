// The recursive object parser over a Lexer.
#pragma once

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

}  // namespace vellox_core::cos
