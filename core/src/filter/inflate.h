// DEFLATE (RFC 1951) decoding of raw data, from the first byte.
#pragma once

#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> inflate(ByteView data);

}  // namespace vellox_core
