#include <cstddef>
#include <cstdint>

#include "cmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    CMap cmap = CMap::parse(ByteView(data, size));
    for (std::uint32_t code : {0u, 0x20u, 0x41u, 0xFFFFu, 0xFFFFFFFFu}) (void)cmap.lookup(code);
    return 0;
}
