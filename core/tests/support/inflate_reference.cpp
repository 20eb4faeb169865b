// Reference DEFLATE decoding (RFC 1951), written for clarity: bits are read
// one at a time and Huffman codes are decoded canonically, without lookup
// tables. The tests hold the table-driven decoder in inflate.cpp to exactly
// this behaviour.
//
// Format notes:
// - The stream is a sequence of blocks, each starting with BFINAL (1 bit) and
//   BTYPE (2 bits): 0 stored, 1 fixed codes, 2 dynamic codes, 3 reserved.
// - Bits are packed least significant first; multi-bit fields are assembled
//   least significant bit first, but Huffman codes are sent most significant
//   bit first, which is why Huff::decode shifts each new bit in at the bottom.
// - A back-reference may reach any byte produced so far in this call, across
//   block boundaries. Windows larger than 32 KiB never occur in valid data,
//   and allowing them costs nothing since the whole output is kept anyway.
// - The zlib wrapper (RFC 1950) is not handled here: the filter chain skips
//   its two-byte header, and the Adler-32 trailer is never read.
#include "support/inflate_reference.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "bounds.h"
#include "filter/deflate_tables.h"
#include "filter/output.h"

namespace vellox_test {

using namespace vellox_core;

namespace {

using deflate::kCodeLengthOrder;
using deflate::kDistBase;
using deflate::kDistExtra;
using deflate::kLengthBase;
using deflate::kLengthExtra;

Error corrupt() { return Error{ErrorKind::BadStream, "corrupt DEFLATE data"}; }
Error too_large() { return Error{ErrorKind::BadStream, "decoded stream too large"}; }

constexpr unsigned kMaxCodeBits = 15;

struct BitReader {
    ByteView input;
    std::size_t pos = 0;  // next unread byte
    std::uint32_t bitbuf = 0;
    std::uint32_t bitcnt = 0;

    // The next `n` (at most 16) bits, least significant first, or nothing
    // when the input ends first.
    std::optional<std::uint32_t> bits(unsigned n) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (bitcnt == 0) {
                if (pos >= input.size()) return std::nullopt;
                bitbuf = input[pos++];
                bitcnt = 8;
            }
            value |= (bitbuf & 1u) << i;
            bitbuf >>= 1;
            --bitcnt;
        }
        return value;
    }

    // Stored blocks start on a byte boundary: the rest of the current byte
    // is padding.
    void align() {
        bitbuf = 0;
        bitcnt = 0;
    }

    std::optional<std::uint8_t> byte() {
        if (pos >= input.size()) return std::nullopt;
        return input[pos++];
    }
};

// The output buffer, which is also the window for back-references. Its growth
// is explicit so that its capacity never overshoots the decoded-size cap.
struct Output {
    Bytes bytes;

    // Makes room for `n` more bytes, or fails when they would pass the cap.
    bool room_for(std::size_t n) { return make_room(bytes, n); }
};

// A canonical Huffman code (RFC 1951 3.2.2) stored as code-length counts and
// the symbols sorted by (length, value). That is all a canonical decoder needs:
// the codes of one length are consecutive integers, assigned in symbol order.
struct Huff {
    std::vector<std::uint16_t> symbol;
    std::array<std::uint16_t, kMaxCodeBits + 1> count{};

    // No completeness check: over-subscribed or incomplete codes are accepted
    // and any defect shows only as a code that fails to decode.
    static Huff build(const std::vector<std::uint8_t>& lengths);
    static std::optional<std::uint16_t> decode(const Huff& table, BitReader& in);
};

Huff Huff::build(const std::vector<std::uint8_t>& lengths) {
    Huff h;
    h.symbol.assign(lengths.size(), 0);
    for (std::uint8_t len : lengths) ++h.count[len];
    h.count[0] = 0;

    std::array<std::uint16_t, kMaxCodeBits + 2> offset{};
    for (unsigned n = 1; n <= kMaxCodeBits; ++n) {
        offset[n + 1] = static_cast<std::uint16_t>(offset[n] + h.count[n]);
    }
    for (std::size_t sym = 0; sym < lengths.size(); ++sym) {
        if (lengths[sym] != 0) h.symbol[offset[lengths[sym]]++] = static_cast<std::uint16_t>(sym);
    }
    return h;
}

// Reads a code one bit at a time. `first` is the first code of the current
// length and `index` the position of its symbol in `symbol`; a code of this
// length is valid when it lies in [first, first + count).
std::optional<std::uint16_t> Huff::decode(const Huff& table, BitReader& in) {
    std::uint32_t code = 0;
    std::uint32_t first = 0;
    std::uint32_t index = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        auto bit = in.bits(1);
        if (!bit) return std::nullopt;
        code |= *bit;
        std::uint32_t c = table.count[len];
        if (code - first < c) return table.symbol[index + (code - first)];
        index += c;
        first = (first + c) << 1;
        code <<= 1;
    }
    return std::nullopt;
}

// Decodes the symbols of one compressed block up to its end-of-block symbol.
Status huffman_block(BitReader& in, Output& out, const Huff& lencode, const Huff& distcode) {
    for (;;) {
        auto sym = Huff::decode(lencode, in);
        if (!sym) return corrupt();
        if (*sym < 256) {
            if (!out.room_for(1)) return too_large();
            out.bytes.push_back(static_cast<std::uint8_t>(*sym));
            continue;
        }
        if (*sym == 256) return Unit{};

        std::size_t li = *sym - 257u;
        if (li >= kLengthBase.size()) return corrupt();  // symbols 286 and 287
        auto lextra = in.bits(kLengthExtra[li]);
        if (!lextra) return corrupt();
        std::size_t length = kLengthBase[li] + *lextra;

        auto dsym = Huff::decode(distcode, in);
        if (!dsym || *dsym >= kDistBase.size()) return corrupt();  // 30 and 31
        auto dextra = in.bits(kDistExtra[*dsym]);
        if (!dextra) return corrupt();
        std::size_t dist = kDistBase[*dsym] + *dextra;
        if (dist > out.bytes.size()) return corrupt();

        // Byte by byte, so that an overlapping copy (dist < length) repeats
        // the last `dist` bytes: this is how runs are encoded.
        if (!out.room_for(length)) return too_large();
        std::size_t at = out.bytes.size();
        out.bytes.resize(at + length);
        std::uint8_t* dst = out.bytes.data() + at;
        const std::uint8_t* src = dst - dist;
        for (std::size_t i = 0; i < length; ++i) dst[i] = src[i];
    }
}

Status stored_block(BitReader& in, Output& out) {
    in.align();
    auto lo = in.byte();
    auto hi = in.byte();
    // NLEN (the one's complement of LEN) must be present but is not checked:
    // a mismatch says nothing the data does not say itself.
    auto nlo = in.byte();
    auto nhi = in.byte();
    if (!lo || !hi || !nlo || !nhi) return corrupt();
    std::size_t len = *lo | (std::size_t{*hi} << 8);
    // A block cut short still gives the bytes that are there, as a decoder
    // reading the data as it arrives would have written them.
    const std::size_t have = std::min(len, in.input.size() - in.pos);
    if (!out.room_for(have)) return too_large();
    out.bytes.insert(out.bytes.end(), in.input.begin() + in.pos, in.input.begin() + in.pos + have);
    in.pos += have;
    if (have < len) return corrupt();
    return Unit{};
}

Status fixed_block(BitReader& in, Output& out) {
    std::vector<std::uint8_t> lengths(288);
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.end(), 8);
    Huff lencode = Huff::build(lengths);
    Huff distcode = Huff::build(std::vector<std::uint8_t>(30, 5));
    return huffman_block(in, out, lencode, distcode);
}

Status dynamic_block(BitReader& in, Output& out) {
    auto hlit = in.bits(5);
    auto hdist = in.bits(5);
    auto hclen = in.bits(4);
    if (!hlit || !hdist || !hclen) return corrupt();
    // HLIT and HDIST may name up to 288 and 32 codes; symbols 286, 287 and
    // distance symbols 30, 31 are only an error when actually decoded.
    std::size_t nlen = *hlit + 257u;
    std::size_t ndist = *hdist + 1u;

    std::vector<std::uint8_t> cl_lengths(19, 0);
    for (std::size_t i = 0; i < *hclen + 4u; ++i) {
        auto len = in.bits(3);
        if (!len) return corrupt();
        cl_lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(*len);
    }
    Huff clcode = Huff::build(cl_lengths);

    // One list for both codes: a repeat may run from the literal/length
    // lengths into the distance lengths. A final repeat may also overshoot
    // the declared total; the surplus extends the distance code.
    std::vector<std::uint8_t> lengths;
    while (lengths.size() < nlen + ndist) {
        auto sym = Huff::decode(clcode, in);
        if (!sym) return corrupt();
        if (*sym < 16) {
            lengths.push_back(static_cast<std::uint8_t>(*sym));
            continue;
        }
        std::uint8_t value = 0;
        std::optional<std::uint32_t> repeat;
        if (*sym == 16) {
            if (lengths.empty()) return corrupt();
            value = lengths.back();
            repeat = in.bits(2);
            if (repeat) *repeat += 3;
        } else if (*sym == 17) {
            repeat = in.bits(3);
            if (repeat) *repeat += 3;
        } else {
            repeat = in.bits(7);
            if (repeat) *repeat += 11;
        }
        if (!repeat) return corrupt();
        lengths.insert(lengths.end(), *repeat, value);
    }

    Huff lencode = Huff::build(std::vector<std::uint8_t>(lengths.begin(), lengths.begin() + nlen));
    Huff distcode = Huff::build(std::vector<std::uint8_t>(lengths.begin() + nlen, lengths.end()));
    return huffman_block(in, out, lencode, distcode);
}

}  // namespace

Result<Decoded> inflate_reference_partial(ByteView data) {
    BitReader in{data};
    Output out;
    constexpr std::size_t kReserve = limits::kMaxInflateInitialReserve;
    out.bytes.reserve(data.size() > kReserve / 8 ? kReserve : data.size() * 8);

    // What was decoded before the error; passing the size cap is no damage.
    const auto stopped = [&out](Error error) -> Result<Decoded> {
        if (error == too_large()) return error;
        return Decoded{std::move(out.bytes), std::move(error)};
    };
    for (;;) {
        auto header = in.bits(3);
        if (!header) return stopped(corrupt());
        bool last = (*header & 1u) != 0;
        Status block = Unit{};
        switch (*header >> 1) {
            case 0: block = stored_block(in, out); break;
            case 1: block = fixed_block(in, out); break;
            case 2: block = dynamic_block(in, out); break;
            default: return stopped(corrupt());
        }
        if (!block) return stopped(std::move(block).error());
        // Whatever follows the final block (a zlib Adler-32 trailer, padding,
        // garbage) is not read.
        if (last) return Decoded{std::move(out.bytes), std::nullopt};
    }
}

Result<Bytes> inflate_reference(ByteView data) { return strictly(inflate_reference_partial(data)); }

}  // namespace vellox_test
