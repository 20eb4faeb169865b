// The filter chain with a stream dictionary taken from the input: the bytes
// up to the first NUL are parsed as the dictionary, the rest is the data.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cos.h"
#include "filter/chain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const void* nul = std::memchr(data, 0, size);
    const std::size_t split = nul ? static_cast<const std::uint8_t*>(nul) - data : size;
    Lexer lx(ByteView(data, split));
    auto obj = cos::parse_object(lx);
    if (!obj || obj->as_dict() == nullptr) return 0;
    const std::size_t rest = split < size ? split + 1 : size;
    (void)decode_stream(*obj->as_dict(), ByteView(data + rest, size - rest));
    return 0;
}
