// The filter chain: every stream's stored bytes become decoded bytes here.
#pragma once

#include <cstdint>

#include "budget.h"
#include "filter/output.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

// How damaged data is taken. Strict: any damage is the error. Lenient, for
// content streams only: data that ends early or turns corrupt part-way
// gives what decoded before the damage (see Decoded in filter/output.h).
// Both fail alike on an unsupported filter, on predictor parameters that
// describe no row, and on output past kMaxDecodedBytes.
enum class Reading : std::uint8_t { Strict, Lenient };

// Applies the stream's /Filter (or /F) list with its /DecodeParms (or /DP).
// Indirect filter names or parameters count as absent. With a `budget`, the
// stream's decoded size counts against it as it is decoded, and a limit
// passed (before or during the decoding) is the error whatever `reading`.
// A caller that reads only the start of the stream (a Type 1 font's clear
// text) gives `wanted`: the result then holds at least the first `wanted`
// bytes, or all of them, and where the last filter is a plain Flate (the
// usual case) exactly those, the decoding stopping soon after them and
// leaving the rest of the data unread.
Result<Bytes> decode_stream(const Dictionary& dict, ByteView data,
                            Reading reading = Reading::Strict, Budget* budget = nullptr,
                            std::size_t wanted = kWholeOutput);

// Whether decode_stream(dict, data, Reading::Strict, budget) succeeds,
// counted against `budget` alike, for a caller that needs no bytes (is
// there an image on the page that decodes?). A last filter that is a plain
// Flate, an image's usual one, runs without keeping its output: every
// symbol is still read, but no byte is written.
bool stream_decodes(const Dictionary& dict, ByteView data, Budget* budget = nullptr);

}  // namespace vellox_core
