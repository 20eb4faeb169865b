#include <cstddef>
#include <cstdint>

#include "filter/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)vellox_core::inflate(vellox_core::ByteView(data, size));
    return 0;
}
