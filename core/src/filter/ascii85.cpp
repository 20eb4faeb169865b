// ASCII85Decode (ISO 32000-1 7.4.3): groups of five base-85 digits '!'..'u'
// stand for four bytes, 'z' for four zero bytes, and '~' ends the data.
#include "filter/ascii85.h"

#include <cstddef>
#include <cstdint>

#include "lex.h"

namespace vellox_core {

namespace {

Error bad_data() { return Error{ErrorKind::BadStream, "bad ASCII85 data"}; }

void append_be(Bytes& out, std::uint32_t v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (24 - 8 * i)));
}

}  // namespace

Result<Bytes> ascii85_decode(ByteView data) {
    Bytes out;
    out.reserve(data.size());
    // The group so far, as a number in base 85, most significant digit
    // first. A group above "s8W-!" (2^32 - 1) wraps rather than failing, as
    // the unsigned arithmetic does.
    std::uint32_t value = 0;
    std::size_t n = 0;

    // There is no start marker in stream data: a leading "<~" is read as
    // the digit '<' followed by the end marker, and fails as a lone digit.
    for (std::uint8_t c : data) {
        // Digits first: they are nearly every byte. White space, 'z' and
        // '~' all lie outside their range.
        if (c >= '!' && c <= 'u') {
            value = value * 85u + static_cast<std::uint32_t>(c - '!');
            if (++n == 5) {
                append_be(out, value, 4);
                value = 0;
                n = 0;
            }
            continue;
        }
        if (is_whitespace(c)) continue;
        if (c == '~') break;  // the '>' that should follow is not examined
        if (c != 'z' || n != 0) return bad_data();
        append_be(out, 0, 4);
    }

    // A final partial group of k digits encodes k - 1 bytes; the encoder
    // dropped trailing digits of a value padded with zero bytes, so padding
    // with the highest digit restores it.
    if (n == 1) return bad_data();
    if (n > 1) {
        for (std::size_t i = n; i < 5; ++i) value = value * 85u + 84u;
        append_be(out, value, n - 1);
    }
    return out;
}

}  // namespace vellox_core
