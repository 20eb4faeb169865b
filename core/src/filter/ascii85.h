#pragma once

#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> ascii85_decode(ByteView data);
// The same; a byte that does not belong gives the groups before it as damage.
Result<Decoded> ascii85_decode_partial(ByteView data);

}  // namespace vellox_core
