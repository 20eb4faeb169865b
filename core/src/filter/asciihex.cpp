// ASCIIHexDecode (ISO 32000-1 7.4.2): pairs of hexadecimal digits, white
// space ignored, '>' ending the data.
#include "filter/asciihex.h"

#include <cstdint>

#include "lex.h"

namespace vellox_core {

namespace {

// The value of a hexadecimal digit, or -1 for any other byte.
constexpr int hex_value(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Result<Decoded> ascii_hex_decode_partial(ByteView data) {
    Bytes out;
    out.reserve(data.size() / 2);
    int high = -1;  // the first digit of a pair, while waiting for the second

    for (std::uint8_t c : data) {
        if (c == '>') break;
        if (is_whitespace(c)) continue;
        int v = hex_value(c);
        if (v < 0) return Decoded{std::move(out), Error{ErrorKind::BadStream, "bad ASCIIHex data"}};
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>((high << 4) | v));
            high = -1;
        }
    }
    // An odd final digit is the high nibble of a last byte, as if followed by 0.
    if (high >= 0) out.push_back(static_cast<std::uint8_t>(high << 4));
    return Decoded{std::move(out), std::nullopt};
}

Result<Bytes> ascii_hex_decode(ByteView data) { return strictly(ascii_hex_decode_partial(data)); }

}  // namespace vellox_core
