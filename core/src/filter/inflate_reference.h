// The plain DEFLATE decoder the fast one in inflate.cpp is checked against:
// bits read one at a time, Huffman codes decoded canonically. It defines the
// results (output, acceptance of odd code sets, errors) that `inflate` must
// reproduce exactly; the library itself never calls it.
#pragma once

#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> inflate_reference(ByteView data);

}  // namespace vellox_core
