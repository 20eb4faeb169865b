// DEFLATE (RFC 1951) decoding of raw data, from the first byte.
#pragma once

#include <cstddef>

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

// The size inflate would decode `data` to, or the error it would give (the
// damage, the cap, the budget of `meter`), found by the same decoding
// without keeping the bytes: for a caller that needs to know only whether
// a stream decodes. The budget and the clock are consulted as the count
// grows, as for the decoding that keeps them.
Result<std::size_t> inflated_size(ByteView data, Meter* meter = nullptr);

}  // namespace vellox_core
