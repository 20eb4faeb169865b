#include <cstddef>
#include <cstdint>

#include "filter/lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the EarlyChange flag.
    (void)vellox_core::lzw_decode(vellox_core::ByteView(data + 1, size - 1), data[0] & 1);
    return 0;
}
