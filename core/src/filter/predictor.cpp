// The TIFF and PNG predictors that may follow Flate and LZW in a filter
// chain, undone row by row.
#include "filter/predictor.h"

#include <cstddef>
#include <cstdint>

#include "bounds.h"

namespace vellox_core {

namespace {

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
Result<Decoded> undo_png(const Bytes& data, Geometry g, Meter* meter) {
    Bytes out;
    out.reserve(data.size());
    std::size_t prev_start = 0;
    std::size_t prev_len = 0;
    const std::size_t chunk = g.row_length + 1;
    const std::size_t bpp = g.bytes_per_pixel;

    for (std::size_t pos = 0; pos < data.size(); pos += chunk) {
        std::size_t len = data.size() - pos < chunk ? data.size() - pos - 1 : g.row_length;
        if (len == 0) break;  // a lone type byte at the end: not examined
        // A row is work for the time limit by its length (a row may be a
        // gigabyte long), in units of a kilobyte.
        if (meter != nullptr && !meter->pace(1 + len / 1024)) return stopped_growing(meter);
        std::uint8_t type = data[pos];
        if (type > 4)
            return Decoded{std::move(out), Error{ErrorKind::BadStream, "bad predictor row filter"}};

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
    return Decoded{std::move(out), std::nullopt};
}

}  // namespace

namespace predictor {

Result<Decoded> apply_partial(Bytes data, const Dictionary& parms, Meter* meter) {
    const Object* p = parms.get("Predictor");
    if (p == nullptr || p->as_int() == nullptr || *p->as_int() < 2) {
        return Decoded{std::move(data), std::nullopt};
    }
    auto g = geometry(parms);
    if (!g) return std::move(g).error();
    if (*p->as_int() == 2) return Decoded{undo_tiff(std::move(data), *g), std::nullopt};
    return undo_png(data, *g, meter);
}

Result<Bytes> apply(Bytes data, const Dictionary& parms) {
    return strictly(apply_partial(std::move(data), parms, nullptr));
}

}  // namespace predictor

}  // namespace vellox_core
