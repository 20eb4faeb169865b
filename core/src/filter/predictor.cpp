// The filter chain: a stream's /Filter list applied in order, with the
// /DecodeParms of each step, and the TIFF and PNG predictors that may follow
// Flate and LZW.
#include "filter/predictor.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bounds.h"
#include "filter/ascii85.h"
#include "filter/asciihex.h"
#include "filter/inflate.h"
#include "filter/lzw.h"
#include "filter/runlength.h"

namespace vellox_core {

namespace {

// ---------------------------------------------------------------- predictors

Error bad_parameters() { return Error{ErrorKind::BadStream, "bad predictor parameters"}; }

// Predictor parameters are integers; a missing key, a real or any other
// variant means the default, and values below 1 count as 1.
std::int64_t int_parm(const Dictionary& parms, std::string_view key, std::int64_t fallback) {
    const Object* v = parms.get(key);
    if (v == nullptr || v->as_int() == nullptr) return fallback;
    return *v->as_int() < 1 ? 1 : *v->as_int();
}

struct Geometry {
    std::size_t bytes_per_pixel;
    std::size_t row_length;
};

// Bytes per pixel and per row, rounded up to whole bytes. The product of
// three file-supplied numbers is checked: a row longer than any decoder may
// produce cannot describe real data.
Result<Geometry> geometry(const Dictionary& parms) {
    auto colors = static_cast<std::uint64_t>(int_parm(parms, "Colors", 1));
    auto bpc = static_cast<std::uint64_t>(int_parm(parms, "BitsPerComponent", 8));
    auto columns = static_cast<std::uint64_t>(int_parm(parms, "Columns", 1));
    std::uint64_t pixel_bits = 0;
    std::uint64_t row_bits = 0;
    if (__builtin_mul_overflow(colors, bpc, &pixel_bits) ||
        __builtin_mul_overflow(pixel_bits, columns, &row_bits)) {
        return bad_parameters();
    }
    std::uint64_t row_length = row_bits / 8 + (row_bits % 8 != 0 ? 1 : 0);
    if (row_length > limits::kMaxDecodedBytes) return bad_parameters();
    std::uint64_t bpp = pixel_bits / 8 + (pixel_bits % 8 != 0 ? 1 : 0);
    return Geometry{static_cast<std::size_t>(bpp < 1 ? 1 : bpp),
                    static_cast<std::size_t>(row_length < 1 ? 1 : row_length)};
}

// TIFF predictor 2: each byte was stored as the difference to the byte one
// pixel to its left. Whole bytes only, whatever BitsPerComponent says.
Bytes undo_tiff(Bytes data, Geometry g) {
    for (std::size_t row = 0; row < data.size(); row += g.row_length) {
        std::size_t end = data.size() - row < g.row_length ? data.size() : row + g.row_length;
        for (std::size_t i = row + g.bytes_per_pixel; i < end; ++i) {
            data[i] = static_cast<std::uint8_t>(data[i] + data[i - g.bytes_per_pixel]);
        }
    }
    return data;
}

std::uint8_t paeth(int left, int up, int upleft) {
    int p = left + up - upleft;
    int pa = p > left ? p - left : left - p;
    int pb = p > up ? p - up : up - p;
    int pc = p > upleft ? p - upleft : upleft - p;
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(left);
    if (pb <= pc) return static_cast<std::uint8_t>(up);
    return static_cast<std::uint8_t>(upleft);
}

// PNG predictors (10..15): each row is preceded by its own filter type, so
// the /Predictor value itself does not matter. The previous row of the first
// row is all zeros; here it is an empty row whose missing bytes read as 0,
// so nothing is allocated from the claimed row length.
Result<Bytes> undo_png(const Bytes& data, Geometry g) {
    Bytes out;
    out.reserve(data.size());
    std::size_t prev_start = 0;
    std::size_t prev_len = 0;
    const std::size_t chunk = g.row_length + 1;
    const std::size_t bpp = g.bytes_per_pixel;

    for (std::size_t pos = 0; pos < data.size(); pos += chunk) {
        std::size_t len = data.size() - pos < chunk ? data.size() - pos - 1 : g.row_length;
        if (len == 0) break;  // a lone type byte at the end: not examined
        std::uint8_t type = data[pos];
        if (type > 4) return Error{ErrorKind::BadStream, "bad predictor row filter"};

        std::size_t start = out.size();
        for (std::size_t i = 0; i < len; ++i) {
            int left = i >= bpp ? out[start + i - bpp] : 0;
            int up = i < prev_len ? out[prev_start + i] : 0;
            int upleft = i >= bpp && i - bpp < prev_len ? out[prev_start + i - bpp] : 0;
            int predicted = 0;
            switch (type) {
                case 0: predicted = 0; break;
                case 1: predicted = left; break;
                case 2: predicted = up; break;
                case 3: predicted = (left + up) / 2; break;
                default: predicted = paeth(left, up, upleft); break;
            }
            out.push_back(static_cast<std::uint8_t>(data[pos + 1 + i] + predicted));
        }
        prev_start = start;
        prev_len = len;
    }
    return out;
}

// ---------------------------------------------------------------- the chain

// /Filter, or its abbreviation /F only when /Filter is absent altogether: a
// /Filter with an unusable value does not fall back. Non-name array elements
// (null, references) are skipped.
std::vector<std::string> filter_names(const Dictionary& dict) {
    const Object* v = dict.get("Filter");
    if (v == nullptr) v = dict.get("F");
    std::vector<std::string> names;
    if (v == nullptr) return names;
    if (const Name* n = v->as_name()) {
        names.push_back(n->text);
    } else if (const Array* a = v->as_array()) {
        for (const Object& e : *a) {
            if (const Name* n = e.as_name()) names.push_back(n->text);
        }
    }
    return names;
}

// One parameter entry per step. A single dictionary belongs to the first
// filter only; an array pairs position by position, and its length may
// differ from the filter list's (the chain runs the shorter of the two).
std::vector<std::optional<Dictionary>> filter_parms(const Dictionary& dict, std::size_t nfilters) {
    const Object* v = dict.get("DecodeParms");
    if (v == nullptr) v = dict.get("DP");
    std::vector<std::optional<Dictionary>> parms;
    if (v != nullptr && v->as_array() != nullptr) {
        for (const Object& e : *v->as_array()) {
            if (const Dictionary* d = e.as_dict()) {
                parms.emplace_back(*d);
            } else if (const Stream* s = e.as_stream()) {
                parms.emplace_back(s->dict);
            } else {
                parms.emplace_back();
            }
        }
        return parms;
    }
    parms.resize(nfilters);
    if (v != nullptr && v->as_dict() != nullptr && nfilters > 0) parms[0] = *v->as_dict();
    return parms;
}

// A zlib stream (RFC 1950) starts with CMF, FLG where CM (low nibble of CMF)
// is 8 and CMF·256 + FLG is a multiple of 31. Producers differ on whether a
// /FlateDecode stream carries this header, so it is detected, not assumed.
bool has_zlib_header(const Bytes& buf) {
    return buf.size() >= 2 && (buf[0] & 0x0F) == 8 && ((buf[0] << 8) | buf[1]) % 31 == 0;
}

// Only the integer 0 selects late width changes; 0.0 or anything else does not.
bool early_change(const std::optional<Dictionary>& parms) {
    if (!parms) return true;
    const Object* v = parms->get("EarlyChange");
    return v == nullptr || v->as_int() == nullptr || *v->as_int() != 0;
}

Result<Bytes> apply_predictor(Result<Bytes> decoded, const std::optional<Dictionary>& parms) {
    if (!decoded || !parms) return decoded;
    return predictor::apply(std::move(decoded).value(), *parms);
}

Result<Bytes> run_filter(const std::string& name, Bytes buf, const std::optional<Dictionary>& parms) {
    if (name == "FlateDecode" || name == "Fl") {
        ByteView body(buf);
        if (has_zlib_header(buf)) body = body.subspan(2);
        return apply_predictor(inflate(body), parms);
    }
    if (name == "LZWDecode" || name == "LZW") {
        return apply_predictor(lzw_decode(buf, early_change(parms)), parms);
    }
    if (name == "ASCII85Decode" || name == "A85") return ascii85_decode(buf);
    if (name == "ASCIIHexDecode" || name == "AHx") return ascii_hex_decode(buf);
    if (name == "RunLengthDecode" || name == "RL") return run_length_decode(buf);
    // Image codecs are not decoded here: the image lister only reports them.
    if (name == "DCTDecode" || name == "JPXDecode" || name == "JBIG2Decode" ||
        name == "CCITTFaxDecode") {
        return buf;
    }
    // Includes /Crypt (per-stream encryption filters are not supported) and
    // the inline-image abbreviations DCT and CCF, which are not valid here.
    return Error{ErrorKind::Unsupported, "unsupported filter: " + name};
}

}  // namespace

namespace predictor {

Result<Bytes> apply(Bytes data, const Dictionary& parms) {
    const Object* p = parms.get("Predictor");
    if (p == nullptr || p->as_int() == nullptr || *p->as_int() < 2) return data;
    auto g = geometry(parms);
    if (!g) return std::move(g).error();
    if (*p->as_int() == 2) return undo_tiff(std::move(data), *g);
    return undo_png(data, *g);
}

}  // namespace predictor

Result<Bytes> decode_stream(const Dictionary& dict, ByteView data) {
    std::vector<std::string> names = filter_names(dict);
    std::vector<std::optional<Dictionary>> parms = filter_parms(dict, names.size());

    Bytes buf(data.begin(), data.end());
    std::size_t steps = names.size() < parms.size() ? names.size() : parms.size();
    for (std::size_t i = 0; i < steps; ++i) {
        auto next = run_filter(names[i], std::move(buf), parms[i]);
        if (!next) return std::move(next).error();
        buf = std::move(next).value();
    }
    return buf;
}

}  // namespace vellox_core
