// The plain DEFLATE decoder the library's table-driven one (inflate.cpp) is
// checked against: bits read one at a time, Huffman codes decoded
// canonically. It defines the results (output, acceptance of odd code sets,
// errors) that `inflate` must reproduce exactly; only the tests and the
// inflate fuzz harness call it.
#pragma once

#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_test {

vellox_core::Result<vellox_core::Bytes> inflate_reference(vellox_core::ByteView data);
// The same decoding read leniently, as inflate_partial reads: data that ends
// early or turns corrupt gives the bytes decoded before that point (a stored
// block cut short gives the bytes it has), with the error as the damage.
vellox_core::Result<vellox_core::Decoded> inflate_reference_partial(vellox_core::ByteView data);

}  // namespace vellox_test
