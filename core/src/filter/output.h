// Growth of a decoder's output buffer under the decoded-size cap.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>

#include "bounds.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

// What a decoder made of data that may be damaged. Content streams are read
// leniently: a page whose stream was cut short (a truncated file) or turns
// corrupt part-way still shows what decoded before the damage, which is
// exactly what the strict reading had produced when it stopped. Every other
// stream is read strictly (`strictly`), where any damage is an error.
struct Decoded {
    Bytes bytes;  // all of it, or what decoded before the damage
    std::optional<Error> damage;
};

// The error of every decoder whose output would pass kMaxDecodedBytes. It is
// a bound, not damage: a lenient reading fails on it too.
inline Error too_large() { return Error{ErrorKind::BadStream, "decoded stream too large"}; }

// The strict reading of a decoder's result: damage is the error.
inline Result<Bytes> strictly(Result<Decoded> decoded) {
    if (!decoded) return std::move(decoded).error();
    if (decoded->damage) return std::move(*decoded->damage);
    return std::move(decoded->bytes);
}

// Makes room for `n` more bytes in `out`, or returns false when they would
// pass the cap. The buffer doubles, so appending stays linear; once doubling
// would pass a quarter of the cap, the next step goes straight to the cap.
// A growing vector needs the old and the new block at once while it moves,
// and this keeps that moment at 1.25 times the cap instead of the 1.5 times
// that the last doubling (half the cap to all of it) would need, or the 3
// times that unchecked growth past the cap could reach.
inline bool make_room(Bytes& out, std::size_t n) {
    if (n > limits::kMaxDecodedBytes - out.size()) return false;
    const std::size_t needed = out.size() + n;
    if (needed <= out.capacity()) return true;
    std::size_t grown = std::max(needed, out.capacity() * 2);
    if (grown > limits::kMaxDecodedBytes / 4) grown = limits::kMaxDecodedBytes;
    out.reserve(grown);
    return true;
}

}  // namespace vellox_core
