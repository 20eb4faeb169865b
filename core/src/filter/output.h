// Growth of a decoder's output buffer under the decoded-size cap.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "bounds.h"
#include "budget.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

// A decoder asked for no particular part of its output decodes all of it.
inline constexpr std::size_t kWholeOutput = SIZE_MAX;

// What a decoder made of data that may be damaged. Content streams are read
// leniently: a page whose stream was cut short (a truncated file) or turns
// corrupt part-way still shows what decoded before the damage, which is
// exactly what the strict reading had produced when it stopped. Every other
// stream is read strictly (`strictly`), where any damage is an error.
struct Decoded {
    Bytes bytes;  // all of it, or what decoded before the damage
    std::optional<Error> damage;
};

// A decoder's output counted against the call's budget (budget.h) while
// it grows, so that a stream that would decode past the caller's maximum
// stops there, not once it is all in memory. The filter chain settles the
// count on the exact size when the decoder returns.
struct Meter {
    Budget* budget = nullptr;  // none: nothing is counted
    std::size_t counted = 0;   // bytes of this output counted so far

    // Counts the output as `size` bytes, more or fewer than before; false
    // once the budget is passed.
    bool settle(std::size_t size) {
        if (budget == nullptr) return true;
        if (size < counted) {
            budget->give_back(counted - size);
            counted = size;
            return !budget->exceeded();
        }
        const std::size_t more = size - counted;
        counted = size;
        return budget->take(more);
    }
    // `wanted` bytes of capacity, cut to what the budget still lets the
    // output reach (plus `slack`, what a decoder may write past the point
    // where it counts), but never below `needed`: memory reserved in advance
    // stays within the caller's maximum. As with the decoded-size cap
    // (make_room), a step past a quarter of that goes straight to all of it,
    // so that moving the buffer holds the old and the new block at 1.25
    // times the maximum at most, not 1.75.
    std::size_t capacity(std::size_t wanted, std::size_t needed, std::size_t slack = 0) const {
        if (budget == nullptr) return wanted;
        const std::size_t room = budget->room();
        std::size_t reachable = room > SIZE_MAX - counted ? SIZE_MAX : counted + room;
        reachable = reachable > SIZE_MAX - slack ? SIZE_MAX : reachable + slack;
        if (wanted > reachable / 4) wanted = reachable;
        return std::max(needed, wanted);
    }
    // Counts one step of decoding work for the time limit; false once a
    // limit is passed.
    bool pace(std::size_t work = 1) { return budget == nullptr || budget->pace(work); }
};

// The error of every decoder whose output would pass kMaxDecodedBytes. It is
// a bound, not damage: a lenient reading fails on it too.
inline Error too_large() { return Error{ErrorKind::BadStream, "decoded stream too large"}; }

// Why a decoder stopped growing its output: the caller's limit when the
// budget was passed, else the decoded-size cap.
inline Error stopped_growing(const Meter* meter) {
    if (meter != nullptr && meter->budget != nullptr && meter->budget->exceeded()) {
        return meter->budget->error();
    }
    return too_large();
}

// The strict reading of a decoder's result: damage is the error.
inline Result<Bytes> strictly(Result<Decoded> decoded) {
    if (!decoded) return std::move(decoded).error();
    if (decoded->damage) return std::move(*decoded->damage);
    return std::move(decoded->bytes);
}

// Makes room for `n` more bytes in `out`, or returns false when they would
// pass the cap or the budget of `meter`. The buffer doubles, so appending
// stays linear; once doubling would pass a quarter of the cap, the next
// step goes straight to the cap. A growing vector needs the old and the new
// block at once while it moves, and this keeps that moment at 1.25 times
// the cap instead of the 1.5 times that the last doubling (half the cap to
// all of it) would need, or the 3 times that unchecked growth past the cap
// could reach. Each call is a step of work for the time limit.
inline bool make_room(Bytes& out, std::size_t n, Meter* meter = nullptr) {
    if (meter != nullptr && !meter->pace()) return false;
    if (n > limits::kMaxDecodedBytes - out.size()) return false;
    const std::size_t needed = out.size() + n;
    if (needed <= out.capacity()) return true;
    if (meter != nullptr && !meter->settle(needed)) return false;
    std::size_t grown = std::max(needed, out.capacity() * 2);
    if (grown > limits::kMaxDecodedBytes / 4) grown = limits::kMaxDecodedBytes;
    if (meter != nullptr) grown = meter->capacity(grown, needed);
    out.reserve(grown);
    return true;
}

}  // namespace vellox_core
