// Framing of indirect objects in the file body: "num gen obj" headers and
// the "stream" ... "endstream" bodies that follow stream dictionaries.
#include "framing.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "bounds.h"

namespace vellox_core {

namespace {

// One number of an object header: an unsigned 32-bit integer.
Result<std::uint32_t> header_number(Lexer& lexer) {
    const UintToken token = lexer.read_uint(std::numeric_limits<std::uint32_t>::max());
    switch (token.status) {
        case UintToken::Status::Ok: return static_cast<std::uint32_t>(token.value);
        case UintToken::Status::Missing: return Error{ErrorKind::InvalidObject, "expected integer"};
        case UintToken::Status::Bad: break;
    }
    return Error{ErrorKind::InvalidObject, "bad integer"};
}

}  // namespace

Result<ObjHeader> read_header(Lexer& lexer) {
    auto num = header_number(lexer);
    if (!num) return std::move(num).error();
    auto gen = header_number(lexer);
    if (!gen) return std::move(gen).error();
    lexer.skip_whitespace();
    if (!lexer.eat_keyword("obj")) return Error{ErrorKind::InvalidObject, "missing obj keyword"};
    return ObjHeader{*num, *gen};
}

namespace {

constexpr std::string_view kEndstream = "endstream";

bool only_whitespace(ByteView bytes) {
    for (std::uint8_t c : bytes) {
        if (!is_whitespace(c)) return false;
    }
    return true;
}

}  // namespace

Object assemble_stream(ByteView data, Lexer& lexer, Object obj,
                       std::optional<std::uint64_t> declared) {
    Dictionary* dict = obj.as_dict();
    if (dict == nullptr) return obj;
    lexer.skip_whitespace();
    if (!lexer.eat_keyword("stream")) return obj;

    // The keyword is followed by CR LF, LF, or a lone CR; any other byte
    // (even a space) already belongs to the data.
    std::size_t start = lexer.pos;
    if (start < data.size() && data[start] == '\r') ++start;
    if (start < data.size() && data[start] == '\n') ++start;
    const std::string_view text = as_text(data);

    std::optional<std::size_t> end;
    std::uint64_t declared_end = 0;
    if (declared &&
        !__builtin_add_overflow(static_cast<std::uint64_t>(start), *declared, &declared_end) &&
        declared_end <= data.size()) {
        // Trust the declared length when "endstream" follows within a few
        // bytes and only an end-of-line marker (white space) stands between.
        // A length that is a few bytes short would otherwise cut the body.
        const std::size_t e = static_cast<std::size_t>(declared_end);
        const std::size_t window_end =
            std::min(data.size() - e, limits::kMaxEndstreamGap + kEndstream.size()) + e;
        const std::string_view window = text.substr(e, window_end - e);
        const std::size_t hit = window.find(kEndstream);
        if (hit != std::string_view::npos && hit <= limits::kMaxEndstreamGap &&
            only_whitespace(data.subspan(e, hit))) {
            end = e;
        }
    }
    if (!end) {
        // No usable length: the body runs to the first "endstream", minus
        // one end-of-line marker in front of it.
        std::size_t n = text.find(kEndstream, start);
        if (n == std::string_view::npos) {
            n = data.size();
        } else if (n > start && data[n - 1] == '\r') {
            --n;
        } else if (n > start && data[n - 1] == '\n') {
            --n;
            if (n > start && data[n - 1] == '\r') --n;
        }
        end = n;
    }
    Stream stream;
    stream.dict = std::move(*dict);
    stream.data.assign(data.begin() + start, data.begin() + *end);
    return Object(std::move(stream));
}

}  // namespace vellox_core
