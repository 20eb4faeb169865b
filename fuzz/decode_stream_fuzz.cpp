// The filter chain with a stream dictionary taken from the input: the bytes
// up to the first NUL are parsed as the dictionary, the rest is the data.
// Each stream that decodes (to more than a byte) is decoded again under a
// maximum of decoded bytes one below its size, which must fail with LimitExceeded, and, for a
// stream of at most one filter, under twice its size (room for a predictor's row bytes, counted
// while they are inflated), which must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "budget.h"
#include "cos.h"
#include "filter/chain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const void* nul = std::memchr(data, 0, size);
    const std::size_t split = nul ? static_cast<const std::uint8_t*>(nul) - data : size;
    Lexer lx(ByteView(data, split));
    auto obj = cos::parse_object(lx);
    if (!obj || obj->as_dict() == nullptr) return 0;
    const Dictionary& dict = *obj->as_dict();
    const std::size_t rest = split < size ? split + 1 : size;
    const ByteView body(data + rest, size - rest);
    const auto decoded = decode_stream(dict, body);
    if (!decoded) return 0;
    const std::size_t n = decoded->size();
    // A maximum of 0 would be none.
    if (n > 1) {
        Budget short_by_one(0, n - 1);
        const auto over = decode_stream(dict, body, Reading::Strict, &short_by_one);
        if (over || over.error().kind != ErrorKind::LimitExceeded) std::abort();
    }
    const Object* filters = dict.get("Filter");
    if (filters == nullptr) filters = dict.get("F");
    const Array* list = filters != nullptr ? filters->as_array() : nullptr;
    if (list == nullptr || list->size() <= 1) {
        Budget ample(0, 2 * static_cast<std::uint64_t>(n) + 64);
        const auto within = decode_stream(dict, body, Reading::Strict, &ample);
        if (!within || *within != *decoded || ample.decoded() != n) std::abort();
    }
    return 0;
}
