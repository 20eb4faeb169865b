#include "utf8.h"

namespace vellox_core {

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// Length of the valid UTF-8 sequence starting at i, or 0 with `bad` set to the
// length of the maximal invalid subpart to replace by one U+FFFD.
std::size_t sequence_length(ByteView b, std::size_t i, std::size_t& bad) {
    const std::uint8_t c = b[i];
    bad = 1;
    if (c < 0x80) return 1;
    std::size_t need;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= b.size()) {
            bad = k;
            return 0;
        }
        const std::uint8_t t = b[i + k];
        const std::uint8_t tlo = k == 1 ? lo : 0x80;
        const std::uint8_t thi = k == 1 ? hi : 0xBF;
        if (t < tlo || t > thi) {
            bad = k;
            return 0;
        }
    }
    return need + 1;
}

}  // namespace

bool is_valid_utf8(ByteView bytes) {
    std::size_t i = 0, bad = 0;
    while (i < bytes.size()) {
        const std::size_t n = sequence_length(bytes, i, bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string lossy_utf8(ByteView bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0, bad = 0;
    while (i < bytes.size()) {
        const std::size_t n = sequence_length(bytes, i, bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += bad;
        } else {
            out.append(reinterpret_cast<const char*>(bytes.data() + i), n);
            i += n;
        }
    }
    return out;
}

}  // namespace vellox_core
