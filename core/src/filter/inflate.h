// DEFLATE (RFC 1951) decoding of raw data, from the first byte.
#pragma once

#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> inflate(ByteView data);
// The same decoding; data that ends early or turns corrupt gives the bytes
// decoded before that point, with the error as the damage. Only passing the
// decoded-size cap, or the budget of `meter` (counted as the output grows),
// is an error. With `wanted`, the decoding may stop once that many bytes
// are out: the result is then exactly the first `wanted` bytes of the
// output (all of it when it is shorter), and the data after them is not
// read, damaged or not.
Result<Decoded> inflate_partial(ByteView data, Meter* meter = nullptr,
                                std::size_t wanted = kWholeOutput);

}  // namespace vellox_core
