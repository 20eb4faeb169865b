// Framing of indirect objects in the file body: "num gen obj" headers and
// the "stream" ... "endstream" bodies that follow stream dictionaries.
#pragma once

#include <cstdint>
#include <optional>

#include "lex.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

struct ObjHeader {
    std::uint32_t num = 0;
    std::uint32_t gen = 0;
};

// "num gen obj" at the cursor; InvalidObject "expected integer", "bad
// integer" (not an unsigned 32-bit number) or "missing obj keyword".
Result<ObjHeader> read_header(Lexer& lexer);

// Turns a dictionary followed by "stream" ... "endstream" into a Stream; any
// other object comes back unchanged. `data` is the whole file; `declared` is
// the stream's /Length, when it has a usable one.
Object assemble_stream(ByteView data, Lexer& lexer, Object obj,
                       std::optional<std::uint64_t> declared);

}  // namespace vellox_core
