// The library's decoder against the bit-serial reference, read leniently:
// the same bytes before the same damage, or the same error; and its count
// without keeping the bytes against its own strict reading: the same size,
// or the damage as the error. Where zlib
// decodes the input to its end as well, the library must give its bytes
// too: zlib is stricter (it refuses incomplete and over-subscribed codes, a
// stored block whose NLEN does not match), never more lenient. Any
// difference is a crash the fuzzer reports.
#include <cstddef>
#include <cstdint>

#include "filter/deflate_util.h"
#include "filter/inflate.h"
#include "support/inflate_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vellox_core::ByteView input(data, size);
    auto got = vellox_core::inflate_partial(input);
    auto ref = vellox_test::inflate_reference_partial(input);
    if (got.ok() != ref.ok()) __builtin_trap();
    if (!got.ok()) {
        if (got.error() != ref.error()) __builtin_trap();
        return 0;
    }
    if (got->bytes != ref->bytes || got->damage != ref->damage) __builtin_trap();

    auto counted = vellox_core::inflated_size(input);
    if (got->damage) {
        if (counted.ok() || counted.error() != *got->damage) __builtin_trap();
    } else if (!counted.ok() || *counted != got->bytes.size()) {
        __builtin_trap();
    }

    vellox_test::Bytes zlib_out;
    const vellox_test::Bytes packed(data, data + size);
    if (vellox_test::zlib_inflate(packed, zlib_out) == vellox_test::ZlibOutcome::Complete) {
        if (got->damage || got->bytes != zlib_out) __builtin_trap();
    }
    return 0;
}
