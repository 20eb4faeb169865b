#pragma once

#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> lzw_decode(ByteView data, bool early_change);
// The same; a code that names no entry gives the bytes before it as damage.
// The output is counted against the budget of `meter` as it grows.
Result<Decoded> lzw_decode_partial(ByteView data, bool early_change, Meter* meter = nullptr);

}  // namespace vellox_core
