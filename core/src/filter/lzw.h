#pragma once

#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> lzw_decode(ByteView data, bool early_change);

}  // namespace vellox_core
