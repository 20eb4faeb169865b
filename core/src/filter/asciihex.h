#pragma once

#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> ascii_hex_decode(ByteView data);

}  // namespace vellox_core
