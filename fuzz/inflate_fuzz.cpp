// The fast decoder against the bit-serial reference: any difference in
// output or error is a crash the fuzzer reports.
#include <cstddef>
#include <cstdint>

#include "filter/inflate.h"
#include "filter/inflate_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vellox_core::ByteView input(data, size);
    auto fast = vellox_core::inflate(input);
    auto ref = vellox_core::inflate_reference(input);
    if (fast.ok() != ref.ok()) __builtin_trap();
    if (fast.ok() && *fast != *ref) __builtin_trap();
    if (!fast.ok() && fast.error().message != ref.error().message) __builtin_trap();
    return 0;
}
