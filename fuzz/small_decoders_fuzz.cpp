#include <cstddef>
#include <cstdint>

#include "filter/ascii85.h"
#include "filter/asciihex.h"
#include "filter/runlength.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vellox_core::ByteView bytes(data, size);
    (void)vellox_core::ascii85_decode(bytes);
    (void)vellox_core::ascii_hex_decode(bytes);
    (void)vellox_core::run_length_decode(bytes);
    return 0;
}
