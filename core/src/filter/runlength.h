#pragma once

#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> run_length_decode(ByteView data);

}  // namespace vellox_core
