// Object streams (PDF 1.5): a stream whose decoded data starts with N pairs
// "objnum offset" and continues, from byte /First, with the objects.
#include "objstm.h"

#include <limits>

#include "lex.h"

namespace vellox_core {

namespace {

Error objstm_error(const char* message) { return {ErrorKind::InvalidObject, message}; }

// A non-negative Integer entry of the stream dictionary.
Result<std::uint64_t> uint_entry(const Dictionary& dict, std::string_view key) {
    const Object* v = dict.get(key);
    const std::int64_t* i = v != nullptr ? v->as_int() : nullptr;
    if (i == nullptr) return objstm_error("objstm missing key");
    if (*i < 0) return objstm_error("objstm negative key");
    return static_cast<std::uint64_t>(*i);
}

// A number of the header's pairs: an unsigned 64-bit integer.
Result<std::uint64_t> header_number(Lexer& lexer) {
    const UintToken token = lexer.read_uint(std::numeric_limits<std::uint64_t>::max());
    switch (token.status) {
        case UintToken::Status::Ok: return token.value;
        case UintToken::Status::Missing: return objstm_error("objstm truncated header");
        case UintToken::Status::Bad: break;
    }
    return objstm_error("objstm bad integer");
}

}  // namespace

Result<ObjStm> ObjStm::parse(const Dictionary& dict, Bytes data) {
    auto n = uint_entry(dict, "N");
    if (!n) return std::move(n).error();
    auto first = uint_entry(dict, "First");
    if (!first) return std::move(first).error();

    ObjStm out;
    out.first = *first;
    {
        // The header is read from the start of the data, whatever /First
        // says. N is the file's claim: the tables grow only as pairs are
        // really read, and each pair consumes input, so a huge N ends at the
        // end of the data.
        Lexer lx(data);
        for (std::uint64_t k = 0; k < *n; ++k) {
            auto num = header_number(lx);
            if (!num) return std::move(num).error();
            auto offset = header_number(lx);
            if (!offset) return std::move(offset).error();
            out.nums.push_back(static_cast<std::uint32_t>(*num & 0xFFFFFFFFu));
            out.offsets.push_back(*offset);
        }
    }
    out.data = std::move(data);
    return out;
}

}  // namespace vellox_core
