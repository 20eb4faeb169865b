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

namespace vellox_core {

namespace {

// PDFDocEncoding where it differs from ISO 8859-1: 0x18..0x1F (spacing
// accents) and 0x80..0xA0; 0 marks a code with no character (0x7F, 0x9F,
// 0xAD).
constexpr char32_t kDocLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr char32_t kDocHigh[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC,
};

}  // namespace

std::string text_string(ByteView bytes) {
    std::string out;
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        // UTF-16BE; an unpaired surrogate or a final odd byte is U+FFFD.
        for (std::size_t i = 2; i < bytes.size(); i += 2) {
            if (i + 1 >= bytes.size()) {
                append_utf8(out, 0xFFFD);
                break;
            }
            char32_t unit = static_cast<char32_t>(bytes[i] << 8 | bytes[i + 1]);
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
                const char32_t low = static_cast<char32_t>(bytes[i + 2] << 8 | bytes[i + 3]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    i += 2;
                    continue;
                }
            }
            append_utf8(out, is_scalar_value(unit) ? unit : 0xFFFD);
        }
        return out;
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return lossy_utf8(bytes.subspan(3));
    }
    for (const std::uint8_t b : bytes) {
        char32_t cp = b;
        if (b >= 0x18 && b <= 0x1F) {
            cp = kDocLow[b - 0x18];
        } else if (b >= 0x80 && b <= 0xA0) {
            cp = kDocHigh[b - 0x80];
        } else if (b == 0x7F || b == 0xAD) {
            cp = 0;
        }
        append_utf8(out, cp == 0 && b != 0 ? 0xFFFD : cp);
    }
    return out;
}

}  // namespace vellox_core
