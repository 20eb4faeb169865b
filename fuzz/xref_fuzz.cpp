#include <cstddef>
#include <cstdint>

#include "xref.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)vellox_core::read_xref(vellox_core::ByteView(data, size));
    return 0;
}
