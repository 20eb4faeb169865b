// ASCII85Decode (ISO 32000-1 7.4.3): groups of five base-85 digits '!'..'u'
// stand for four bytes, 'z' for four zero bytes, and '~' ends the data.
#include "filter/ascii85.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "bounds.h"
#include "filter/output.h"
#include "lex.h"

namespace vellox_core {

namespace {

Error bad_data() { return Error{ErrorKind::BadStream, "bad ASCII85 data"}; }

bool is_digit85(std::uint8_t c) { return c >= '!' && c <= 'u'; }

// The decoded bytes, written in place: per-byte appends cost more than the
// decoding. The buffer starts at the input's size, which digits alone never
// outgrow (five in, four out); only 'z', four bytes for one, can need more.
// Growth then follows the other decoders: doubling, and straight to the
// decoded-size cap once past a quarter of it.
struct Output {
    Bytes bytes;
    std::size_t used = 0;

    // The `n` high bytes of `v`, most significant first; false past the cap.
    bool put(std::uint32_t v, std::size_t n) {
        if (bytes.size() - used < n) {
            if (n > limits::kMaxDecodedBytes - used) return false;
            std::size_t grown = std::max(bytes.size() * 2, used + n);
            if (grown > limits::kMaxDecodedBytes / 4) grown = limits::kMaxDecodedBytes;
            bytes.resize(grown);
        }
        std::uint8_t* at = bytes.data() + used;
        for (std::size_t i = 0; i < n; ++i) at[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
        used += n;
        return true;
    }
};

}  // namespace

Result<Decoded> ascii85_decode_partial(ByteView data) {
    Output out;
    const auto damaged = [&out]() -> Result<Decoded> {
        out.bytes.resize(out.used);
        return Decoded{std::move(out.bytes), bad_data()};
    };
    out.bytes.resize(std::min(data.size(), limits::kMaxDecodedBytes));
    // The group so far, as a number in base 85, most significant digit
    // first. A group above "s8W-!" (2^32 - 1) wraps rather than failing, as
    // the unsigned arithmetic does.
    std::uint32_t value = 0;
    std::size_t n = 0;

    // There is no start marker in stream data: a leading "<~" is read as
    // the digit '<' followed by the end marker, and fails as a lone digit.
    std::size_t pos = 0;
    while (pos < data.size()) {
        // Five digits in a row, the bulk of any encoded stream, make a group
        // at once; white space inside a group goes the byte-wise way below.
        if (n == 0 && data.size() - pos >= 5 && is_digit85(data[pos]) &&
            is_digit85(data[pos + 1]) && is_digit85(data[pos + 2]) && is_digit85(data[pos + 3]) &&
            is_digit85(data[pos + 4])) {
            std::uint32_t group = 0;
            for (std::size_t k = 0; k < 5; ++k)
                group = group * 85u + (data[pos + k] - unsigned{'!'});
            if (!out.put(group, 4)) return too_large();
            pos += 5;
            continue;
        }
        const std::uint8_t c = data[pos++];
        // Digits first: they are nearly every byte. White space, 'z' and
        // '~' all lie outside their range.
        if (is_digit85(c)) {
            value = value * 85u + static_cast<std::uint32_t>(c - '!');
            if (++n == 5) {
                if (!out.put(value, 4)) return too_large();
                value = 0;
                n = 0;
            }
            continue;
        }
        if (is_whitespace(c)) continue;
        if (c == '~') break;  // the '>' that should follow is not examined
        if (c != 'z' || n != 0) return damaged();
        if (!out.put(0, 4)) return too_large();
    }

    // A final partial group of k digits encodes k - 1 bytes; the encoder
    // dropped trailing digits of a value padded with zero bytes, so padding
    // with the highest digit restores it.
    if (n == 1) return damaged();
    if (n > 1) {
        for (std::size_t i = n; i < 5; ++i) value = value * 85u + 84u;
        if (!out.put(value, n - 1)) return too_large();
    }
    out.bytes.resize(out.used);
    return Decoded{std::move(out.bytes), std::nullopt};
}

Result<Bytes> ascii85_decode(ByteView data) { return strictly(ascii85_decode_partial(data)); }

}  // namespace vellox_core
