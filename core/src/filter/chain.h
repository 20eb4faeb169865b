// The filter chain: every stream's stored bytes become decoded bytes here.
#pragma once

#include "object.h"
#include "result.h"

namespace vellox_core {

// Applies the stream's /Filter (or /F) list with its /DecodeParms (or /DP).
// Indirect filter names or parameters count as absent.
Result<Bytes> decode_stream(const Dictionary& dict, ByteView data);

}  // namespace vellox_core
