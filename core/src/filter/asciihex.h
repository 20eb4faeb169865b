#pragma once

#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> ascii_hex_decode(ByteView data);
// The same; a byte that is no digit gives the bytes before it as damage.
Result<Decoded> ascii_hex_decode_partial(ByteView data);

}  // namespace vellox_core
