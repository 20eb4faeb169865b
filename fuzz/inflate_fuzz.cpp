// The library's decoder against the bit-serial reference: any difference in
// output or error is a crash the fuzzer reports.
#include <cstddef>
#include <cstdint>

#include "filter/inflate.h"
#include "support/inflate_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vellox_core::ByteView input(data, size);
    auto got = vellox_core::inflate(input);
    auto ref = vellox_test::inflate_reference(input);
    if (got.ok() != ref.ok()) __builtin_trap();
    if (got.ok() && *got != *ref) __builtin_trap();
    if (!got.ok() && got.error().message != ref.error().message) __builtin_trap();
    return 0;
}
