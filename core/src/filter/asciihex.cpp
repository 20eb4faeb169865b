// ASCIIHexDecode (ISO 32000-1 7.4.2): pairs of hexadecimal digits, white
// space ignored, '>' ending the data.
#include "filter/asciihex.h"

#include <cstdint>
#include <optional>

#include "lex.h"

namespace vellox_core {

namespace {

constexpr std::optional<std::uint8_t> hex_value(std::uint8_t c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    return std::nullopt;
}

}  // namespace

Result<Bytes> ascii_hex_decode(ByteView data) {
    Bytes out;
    out.reserve(data.size() / 2);
    std::optional<std::uint8_t> high;

    for (std::uint8_t c : data) {
        if (c == '>') break;
        if (is_whitespace(c)) continue;
        auto v = hex_value(c);
        if (!v) return Error{ErrorKind::BadStream, "bad ASCIIHex data"};
        if (high) {
            out.push_back(static_cast<std::uint8_t>((*high << 4) | *v));
            high.reset();
        } else {
            high = v;
        }
    }
    // An odd final digit is the high nibble of a last byte, as if followed by 0.
    if (high) out.push_back(static_cast<std::uint8_t>(*high << 4));
    return out;
}

}  // namespace vellox_core
