// The plain DEFLATE decoder the library's table-driven one (inflate.cpp) is
// checked against: bits read one at a time, Huffman codes decoded
// canonically. It defines the results (output, acceptance of odd code sets,
// errors) that `inflate` must reproduce exactly; only the tests and the
// inflate fuzz harness call it.
#pragma once

#include "object.h"
#include "result.h"

namespace vellox_test {

vellox_core::Result<vellox_core::Bytes> inflate_reference(vellox_core::ByteView data);

}  // namespace vellox_test
