#pragma once

#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

Result<Bytes> run_length_decode(ByteView data);
// The same; a run cut short gives the runs before it as damage. The output
// is counted against the budget of `meter` as it grows.
Result<Decoded> run_length_decode_partial(ByteView data, Meter* meter = nullptr);

}  // namespace vellox_core
