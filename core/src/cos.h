// The recursive object parser over a Lexer.
#pragma once

#include "lex.h"
#include "object.h"
#include "result.h"

namespace vellox_core::cos {

// Skips white space and comments, then reads exactly one direct object and
// leaves the cursor behind it. Never returns a Stream.
Result<Object> parse_object(Lexer& lexer);

// Called with pos at the first '<' of "<<"; reads through the closing ">>".
Result<Dictionary> parse_dictionary(Lexer& lexer);

}  // namespace vellox_core::cos
