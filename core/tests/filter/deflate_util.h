// Test-side helpers for building DEFLATE data: zlib as the reference encoder
// and a bit writer for hand-made streams that zlib would never produce.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

namespace vellox_test {

using Bytes = std::vector<std::uint8_t>;

// Raw deflate (no zlib wrapper) of `input`, or zlib with its header and
// Adler-32 trailer when `window_bits` is 15.
inline Bytes zlib_deflate(const Bytes& input, int level, int strategy, int window_bits = -15) {
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, window_bits, 8, strategy) != Z_OK) return {};
    Bytes out(deflateBound(&zs, input.size()) + 16);
    zs.next_in = const_cast<Bytef*>(input.data());
    zs.avail_in = static_cast<uInt>(input.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return rc == Z_STREAM_END ? out : Bytes{};
}

enum class ZlibOutcome { Complete, NeedsInput, Invalid };

// zlib's inflate of `in` into `out`: raw DEFLATE, or with the zlib wrapper
// when `window_bits` is 15. The reference decoder for corrupted data: on
// data that ends early or turns invalid, `out` holds what zlib wrote before.
inline ZlibOutcome zlib_inflate(const Bytes& in, Bytes& out, int window_bits = -15) {
    z_stream zs{};
    if (inflateInit2(&zs, window_bits) != Z_OK) return ZlibOutcome::Invalid;
    out.assign(4096, 0);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    ZlibOutcome result;
    for (;;) {
        int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            result = ZlibOutcome::Complete;
            break;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            result = ZlibOutcome::Invalid;
            break;
        }
        if (zs.avail_out == 0) {
            std::size_t used = out.size();
            out.resize(used * 2);
            zs.next_out = out.data() + used;
            zs.avail_out = static_cast<uInt>(out.size() - used);
            continue;
        }
        if (zs.avail_in == 0) {
            result = ZlibOutcome::NeedsInput;
            break;
        }
    }
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return result;
}

// LSB-first bit packing as DEFLATE does; Huffman codes go MSB first.
struct BitWriter {
    Bytes out;
    unsigned nbits = 0;

    void bits(std::uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) put((value >> i) & 1u);
    }
    void code(std::uint32_t code, unsigned len) {
        for (unsigned i = len; i-- > 0;) put((code >> i) & 1u);
    }
    void put(std::uint32_t bit) {
        if (nbits % 8 == 0) out.push_back(0);
        out.back() |= static_cast<std::uint8_t>(bit << (nbits % 8));
        ++nbits;
    }

    // Fixed-code literal/length symbol (RFC 1951 3.2.6).
    void fixed_symbol(unsigned sym) {
        if (sym < 144)
            code(0x30 + sym, 8);
        else if (sym < 256)
            code(0x190 + sym - 144, 9);
        else if (sym < 280)
            code(sym - 256, 7);
        else
            code(0xC0 + sym - 280, 8);
    }
};

}  // namespace vellox_test
