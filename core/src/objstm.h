// Object streams: the index of objects packed into one stream.
#pragma once

#include <cstdint>
#include <vector>

#include "lex.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

struct ObjStm {
    std::vector<std::uint32_t> nums;
    std::vector<std::uint64_t> offsets;  // relative to `first`
    Bytes data;                          // the decoded stream data
    std::uint64_t first = 0;

    static Result<ObjStm> parse(const Dictionary& dict, Bytes data);
};

namespace objstm {
// A non-negative Integer entry: "objstm missing key" / "objstm negative key".
Result<std::uint64_t> uint(const Dictionary& dict, std::string_view key);
// An unsigned 64-bit decimal header number: "objstm truncated header" /
// "objstm bad integer".
Result<std::uint64_t> read_uint(Lexer& lexer);
}  // namespace objstm

}  // namespace vellox_core
