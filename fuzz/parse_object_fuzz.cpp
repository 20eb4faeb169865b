#include <cstddef>
#include <cstdint>

#include "cos.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    Lexer lx(ByteView(data, size));
    // Read objects until the input is used up or one fails, as callers do.
    while (!lx.at_end()) {
        const std::size_t before = lx.pos;
        auto obj = cos::parse_object(lx);
        if (!obj || lx.pos == before) break;
    }
    return 0;
}
