// The TIFF and PNG predictors of the Flate and LZW filters.
#pragma once

#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

namespace predictor {
// Undoes TIFF (2) or PNG (10..15, any value >= 3) prediction.
Result<Bytes> apply(Bytes data, const Dictionary& parms);
// The same; a row with an unknown filter type gives the rows before it as
// damage. Parameters that describe no row remain an error, and so does a
// limit of the call passed while the rows are undone (`meter`'s budget).
Result<Decoded> apply_partial(Bytes data, const Dictionary& parms, Meter* meter = nullptr);
}  // namespace predictor

}  // namespace vellox_core
