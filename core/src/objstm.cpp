// Object streams (PDF 1.5): a stream whose decoded data starts with N pairs
// "objnum offset" and continues, from byte /First, with the objects.
#include <limits>

#include "objstm.h"

namespace vellox_core {

namespace {

Error objstm_error(const char* message) { return {ErrorKind::InvalidObject, message}; }

}  // namespace

namespace objstm {

Result<std::uint64_t> uint(const Dictionary& dict, std::string_view key) {
    const Object* v = dict.get(key);
    const std::int64_t* i = v != nullptr ? v->as_int() : nullptr;
    if (i == nullptr) return objstm_error("objstm missing key");
    if (*i < 0) return objstm_error("objstm negative key");
    return static_cast<std::uint64_t>(*i);
}

Result<std::uint64_t> read_uint(Lexer& lexer) {
    lexer.skip_whitespace();
    const auto tok = lexer.read_keyword();
    if (!tok) return objstm_error("objstm truncated header");
    const auto v = parse_unsigned(*tok, std::numeric_limits<std::uint64_t>::max());
    if (!v) return objstm_error("objstm bad integer");
    return *v;
}

}  // namespace objstm

Result<ObjStm> ObjStm::parse(const Dictionary& dict, Bytes data) {
    auto n = objstm::uint(dict, "N");
    if (!n) return std::move(n).error();
    auto first = objstm::uint(dict, "First");
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
            auto num = objstm::read_uint(lx);
            if (!num) return std::move(num).error();
            auto offset = objstm::read_uint(lx);
            if (!offset) return std::move(offset).error();
            out.nums.push_back(static_cast<std::uint32_t>(*num & 0xFFFFFFFFu));
            out.offsets.push_back(*offset);
        }
    }
    out.data = std::move(data);
    return out;
}

}  // namespace vellox_core
