// DEFLATE decoding (RFC 1951) with lookup tables and a 64-bit bit buffer.
//
// Format notes:
// - The stream is a sequence of blocks, each starting with BFINAL (1 bit) and
//   BTYPE (2 bits): 0 stored, 1 fixed codes, 2 dynamic codes, 3 reserved.
// - Bits are packed least significant first; multi-bit fields are assembled
//   least significant bit first, but Huffman codes are sent most significant
//   bit first, so a table indexed by the next bits of the buffer holds each
//   code bit-reversed.
// - A back-reference may reach any byte produced so far in this call, across
//   block boundaries. Windows larger than 32 KiB never occur in valid data,
//   and allowing them costs nothing since the whole output is kept anyway.
// - The zlib wrapper (RFC 1950) is not handled here: the filter chain skips
//   its two-byte header, and the Adler-32 trailer is never read.
//
// Damaged code sets are decoded the way a canonical bit-by-bit decoder reads
// them (core/tests/support/inflate_reference.cpp is that decoder, and the
// tests compare the two):
// no completeness check, so over-subscribed and incomplete codes are
// accepted and a defect shows only as a bit string that matches no code
// within 15 bits. For a canonical code, the bit string read so far matches at
// length n when, read as an n-bit number, it lies in [first(n), first(n) +
// count(n)), where first(n) and the symbol index only depend on the counts.
// Since first(n + 1) = 2 * (first(n) + count(n)), no code has a shorter code
// as its prefix even when the set is over-subscribed; over-subscription only
// pushes codes past 2^n, where no n-bit string reaches them. The table for the
// first kBits bits is filled from exactly those ranges cut at 2^n, and a
// string that no length up to kBits matches continues bit by bit from length
// kBits + 1, as the canonical loop would.
#include "filter/inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "bounds.h"
#include "filter/deflate_tables.h"
#include "filter/output.h"

namespace vellox_core {

namespace {

using deflate::kCodeLengthOrder;
using deflate::kDistBase;
using deflate::kDistExtra;
using deflate::kLengthBase;
using deflate::kLengthExtra;

Error corrupt() { return Error{ErrorKind::BadStream, "corrupt DEFLATE data"}; }

constexpr unsigned kMaxCodeBits = 15;

// Code lengths one dynamic header can define: 288 literal/length and 32
// distance lengths, plus the surplus of a final repeat (at most 137 more).
constexpr std::size_t kMaxLengths = 288 + 32 + 138;

struct BitReader {
    const std::uint8_t* input;
    std::size_t size;
    std::size_t pos = 0;  // next byte not yet in the buffer
    std::uint64_t bitbuf = 0;
    unsigned bitcnt = 0;  // valid bits at the bottom of `bitbuf`

    // Tops the buffer up to at least 56 bits (at most 63) while input lasts. The fast
    // path loads eight bytes at once and counts only the whole bytes that
    // fit; the bits above `bitcnt` then already hold the next input bytes,
    // which a later load writes again unchanged.
    void refill() {
        if (size - pos >= 8) {
            refill_fast();
            return;
        }
        while (bitcnt <= 55 && pos < size) {
            bitbuf |= std::uint64_t{input[pos++]} << bitcnt;
            bitcnt += 8;
        }
    }

    // The refill of the fast loop, which runs only while eight input bytes
    // are left: one unaligned load, no branch.
    void refill_fast() {
        std::uint64_t word;
        std::memcpy(&word, input + pos, 8);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        bitbuf |= word << bitcnt;
        pos += (63 - bitcnt) >> 3;
        bitcnt |= 56;
    }

    // Makes `n` (at most 56) bits available, or reports that the input ends
    // first.
    bool need(unsigned n) {
        if (bitcnt < n) refill();
        return bitcnt >= n;
    }

    std::uint32_t peek(unsigned n) const {
        return static_cast<std::uint32_t>(bitbuf & ((std::uint64_t{1} << n) - 1));
    }

    void drop(unsigned n) {
        bitbuf >>= n;
        bitcnt -= n;
    }

    std::uint32_t take(unsigned n) {
        std::uint32_t value = peek(n);
        drop(n);
        return value;
    }

    // Stored blocks start on a byte boundary: the rest of the current byte
    // is padding, and whole bytes still in the buffer go back to the input.
    void align() {
        pos -= bitcnt >> 3;
        bitbuf = 0;
        bitcnt = 0;
    }
};

// Bytes the output keeps writable past its end, so that a back-reference can
// be copied in steps of up to 16 bytes without a tail loop.
constexpr std::size_t kSlack = 16;
// The most bytes one symbol writes.
constexpr std::size_t kMaxMatch = 258;

// The output buffer, which is also the window for back-references. `bytes`
// is kept sized past `used` so that writes go through a plain pointer; its
// capacity grows explicitly and never overshoots the decoded-size cap by
// more than one symbol's worth, nor the call's budget by more than that.
//
// An output that keeps nothing (`Keep` false) only counts: the decoding
// reads every symbol and checks every distance against what it counted,
// the cap is the same and the budget and the clock are consulted every 64
// KiB of the count, but no byte is written. `mark` then stands for the
// buffer's size: the point where the next step is taken.
struct Output {
    static constexpr std::size_t kMinStep = std::size_t{4} << 10;
    static constexpr std::size_t kMaxStep = std::size_t{64} << 10;

    Bytes bytes;
    std::size_t used = 0;
    Meter* meter = nullptr;
    // The caller needs only the first `wanted` bytes: once they are out,
    // the next growth stops the decoding instead, with `enough` set.
    std::size_t wanted = kWholeOutput;
    bool enough = false;
    std::size_t mark = 0;

    // How far the decoding may go before the next call to make_room.
    template <bool Keep>
    std::size_t size() const {
        return Keep ? bytes.size() : mark;
    }

    // Makes `n` more bytes (plus slack) writable, or returns false when the
    // call's budget is passed. The caller has checked `n` against the cap.
    // It runs once per 64 KiB step of output at most, where the output so far
    // is counted against the budget and the clock is read: a small stream
    // that inflates to gigabytes stops at the caller's maximum.
    template <bool Keep>
    bool make_room(std::size_t n) {
        std::size_t needed = used + n + kSlack;
        if (needed <= size<Keep>()) return true;
        if (used >= wanted) {
            enough = true;
            return false;
        }
        if (meter != nullptr && (!meter->settle(used) || !meter->pace(Budget::kClockStride))) {
            return false;
        }
        if constexpr (!Keep) {
            mark = needed + kMaxStep;
            return true;
        }
        if (needed > bytes.capacity()) {
            // Doubling, as the other decoders' make_room (filter/output.h):
            // once that would pass a quarter of the cap, straight to the cap,
            // so that moving the buffer never needs more than 1.25 times it.
            constexpr std::size_t kMaxCapacity = limits::kMaxDecodedBytes + kMaxMatch + kSlack;
            std::size_t grown = std::max(needed, bytes.capacity() * 2);
            if (grown > limits::kMaxDecodedBytes / 4) grown = kMaxCapacity;
            // Room for the symbol and slack past the maximum, so that the
            // buffer never moves for the last bytes before the budget stops it.
            if (meter != nullptr) grown = meter->capacity(grown, needed, kMaxMatch + kSlack);
            bytes.reserve(grown);
        }
        // Grow the initialised part in steps rather than all at once, so the
        // memory touched follows the output: resizing zero-fills what it
        // adds, and the decoder overwrites all of it, so every byte filled
        // past the end of the stream is wasted work. A step is a quarter of
        // the output so far, between 4 and 64 KiB: a page's content stream
        // of 20 KB no longer has the 8 times its input reserved at the start
        // zero-filled, yet a large image takes few steps.
        const std::size_t step = std::clamp(bytes.size() / 4, kMinStep, kMaxStep);
        bytes.resize(std::max(needed, std::min(bytes.capacity(), bytes.size() + step)));
        return true;
    }
};

// A table entry holds the code's length in its low bits and its symbol from
// bit kSymbolShift. The bits between are zero, so that the entry masked to
// six bits is the length, and a shift by it needs no masking of its own:
// x86 shifts by the low six bits of the count, and the compiler knows it.
constexpr unsigned kSymbolShift = 8;
constexpr std::uint32_t kLengthMask = 63;
constexpr std::uint32_t kSymbolMask = 0x1FF;
// Entries of the literal/length and distance tables also hold, from bit
// kExtraShift, the count of extra bits that follow the code (a length's or a
// distance's), so that taking them need not wait for a second look-up.
constexpr unsigned kExtraShift = 28;

// The extra bits of each symbol of the two codes, for the table entries.
// A distance code may have surplus symbols (a final repeat that overshoots,
// up to kMaxLengths in all); they, and length symbols 286 and 287, are
// errors when decoded and have none.
constexpr std::array<std::uint8_t, kMaxLengths> kLitExtra = [] {
    std::array<std::uint8_t, kMaxLengths> extra{};
    for (std::size_t i = 0; i < kLengthExtra.size(); ++i) extra[257 + i] = kLengthExtra[i];
    return extra;
}();
constexpr std::array<std::uint8_t, kMaxLengths> kDistExtraOf = [] {
    std::array<std::uint8_t, kMaxLengths> extra{};
    for (std::size_t i = 0; i < kDistExtra.size(); ++i) extra[i] = kDistExtra[i];
    return extra;
}();

// A decoding table for one canonical Huffman code: entries for the next
// `Bits` bits of input, plus what the canonical loop needs to continue past
// them (per-length counts, first codes and symbol indexes, and the symbols in
// canonical order).
template <unsigned Bits>
struct Table {
    static constexpr unsigned kBits = Bits;
    // Entry: symbol << kSymbolShift | code length; length 0 means that no
    // code of at most kBits bits matches and decoding continues bit by bit.
    std::array<std::uint32_t, std::size_t{1} << Bits> entry;
    std::array<std::uint16_t, kMaxCodeBits + 1> count;
    std::array<std::uint32_t, kMaxCodeBits + 1> first;
    std::array<std::uint16_t, kMaxCodeBits + 1> index;
    std::array<std::uint16_t, kMaxLengths> symbol;

    // Each symbol's count of extra bits (kLitExtra, kDistExtraOf), or none.
    const std::uint8_t* extra = nullptr;

    void build(std::span<const std::uint8_t> lengths, const std::uint8_t* extra_bits = nullptr);

    // The entry of `sym`, coded with `len` bits.
    std::uint32_t entry_of(std::uint32_t sym, unsigned len) const {
        const std::uint32_t more = extra == nullptr ? 0 : std::uint32_t{extra[sym]} << kExtraShift;
        return more | sym << kSymbolShift | len;
    }
};

// Each byte with its bits in reverse order.
constexpr std::array<std::uint8_t, 256> kReversedBytes = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned reversed = 0;
        for (unsigned bit = 0; bit < 8; ++bit) reversed |= ((byte >> bit) & 1u) << (7 - bit);
        table[byte] = static_cast<std::uint8_t>(reversed);
    }
    return table;
}();

// The low `len` bits of `code` (len at most kMaxCodeBits) in reverse order:
// two byte lookups instead of a loop over the bits, since building a table
// reverses every code of at most its index width, hundreds per block.
std::uint32_t reverse_bits(std::uint32_t code, unsigned len) {
    static_assert(kMaxCodeBits <= 16);
    const std::uint32_t reversed16 =
        std::uint32_t{kReversedBytes[code & 0xFFu]} << 8 | kReversedBytes[(code >> 8) & 0xFFu];
    return reversed16 >> (16 - len);
}

template <unsigned Bits>
void Table<Bits>::build(std::span<const std::uint8_t> lengths, const std::uint8_t* extra_bits) {
    extra = extra_bits;
    // The lengths are counted in four interleaved sets, summed after: most
    // of a code is runs of one length, and one set of counters incremented
    // in memory back to back waits on each store before the next increment
    // can read it.
    std::array<std::array<std::uint16_t, kMaxCodeBits + 1>, 4> partial{};
    std::size_t i = 0;
    for (; i + 4 <= lengths.size(); i += 4) {
        ++partial[0][lengths[i]];
        ++partial[1][lengths[i + 1]];
        ++partial[2][lengths[i + 2]];
        ++partial[3][lengths[i + 3]];
    }
    for (; i < lengths.size(); ++i) ++partial[0][lengths[i]];
    for (std::size_t n = 0; n <= kMaxCodeBits; ++n) {
        count[n] = static_cast<std::uint16_t>(partial[0][n] + partial[1][n] + partial[2][n] +
                                              partial[3][n]);
    }
    count[0] = 0;

    // The canonical loop's state on reaching each length.
    std::array<std::uint16_t, kMaxCodeBits + 2> offset{};
    std::uint32_t f = 0;
    std::uint32_t idx = 0;
    for (unsigned n = 1; n <= kMaxCodeBits; ++n) {
        first[n] = f;
        index[n] = static_cast<std::uint16_t>(idx);
        offset[n] = static_cast<std::uint16_t>(idx);
        idx += count[n];
        f = (f + count[n]) << 1;
    }
    for (std::size_t sym = 0; sym < lengths.size(); ++sym) {
        if (lengths[sym] != 0) symbol[offset[lengths[sym]]++] = static_cast<std::uint16_t>(sym);
    }

    // The table grows by doubling: once the first 2^(len-1) entries hold
    // the codes shorter than `len`, which repeat every 2^(len-1) entries,
    // the copy of them makes the first 2^len, and the codes of `len` bits
    // are written into those once each. No code lands on another's entry,
    // even in an over-subscribed set: the first code of n + 1 bits is
    // 2 * (first(n) + count(n)), so its n-bit prefix is past every code of
    // n bits, and likewise for every shorter length. Codes of `len` bits at
    // or past 2^len belong to an over-subscribed set and can never be read.
    static_assert(Bits <= kMaxCodeBits);
    entry[0] = 0;
    for (unsigned len = 1; len <= Bits; ++len) {
        const std::size_t half = std::size_t{1} << (len - 1);
        std::copy_n(entry.begin(), half, entry.begin() + static_cast<std::ptrdiff_t>(half));
        const std::uint32_t lo = first[len];
        const std::uint32_t hi =
            std::min<std::uint32_t>(first[len] + count[len], std::uint32_t{1} << len);
        for (std::uint32_t code = lo; code < hi; ++code) {
            entry[reverse_bits(code, len)] = entry_of(symbol[index[len] + (code - lo)], len);
        }
    }
}

// Decodes one symbol past the table's reach, bit by bit; the code's length
// (its bits are to be dropped) and its symbol as an entry of the table, or 0
// when no code matches within 15 bits or the input ends first. Takes the
// bits by value, so that the reader's state never has its address taken
// and stays in registers in the decoding loop.
template <unsigned Bits>
std::uint32_t decode_slow(const Table<Bits>& t, std::uint64_t bitbuf, unsigned bitcnt,
                          std::uint32_t e) {
    if ((e & kLengthMask) != 0) {
        // A code of `len` bits, but the input ends inside it.
        return 0;
    }
    if (bitcnt < Bits) return 0;
    std::uint32_t code =
        reverse_bits(static_cast<std::uint32_t>(bitbuf & ((std::uint64_t{1} << Bits) - 1)), Bits);
    for (unsigned n = Bits + 1; n <= kMaxCodeBits; ++n) {
        if (bitcnt < n) return 0;
        code = (code << 1) | static_cast<std::uint32_t>((bitbuf >> (n - 1)) & 1u);
        if (code - t.first[n] < t.count[n]) {
            return t.entry_of(t.symbol[t.index[n] + (code - t.first[n])], n);
        }
    }
    return 0;
}

// Decodes one symbol; false when no code matches within 15 bits or the input
// ends first. The caller has refilled the buffer.
template <unsigned Bits>
inline bool decode(const Table<Bits>& t, BitReader& in, std::uint32_t& sym) {
    std::uint32_t e = t.entry[in.peek(Bits)];
    unsigned len = e & kLengthMask;
    if (len == 0 || len > in.bitcnt) [[unlikely]] {
        e = decode_slow(t, in.bitbuf, in.bitcnt, e);
        len = e & kLengthMask;
        if (len == 0) return false;
    }
    in.drop(len);
    sym = e >> kSymbolShift & kSymbolMask;
    return true;
}

using LitTable = Table<10>;
using DistTable = Table<8>;

// Copies `length` bytes from `dist` back; overlapping copies (dist < length)
// repeat the last `dist` bytes, which is how runs are encoded. May write up
// to 15 bytes past the end, within kSlack.
inline void copy_match(std::uint8_t* dst, std::size_t dist, std::size_t length) {
    const std::uint8_t* src = dst - dist;
    if (dist >= 16) {
        // Most matches are far back and a few dozen bytes long: 16-byte
        // steps, each reading only bytes written before it, take half the
        // iterations of 8-byte ones.
        for (std::size_t i = 0; i < length; i += 16) std::memcpy(dst + i, src + i, 16);
        return;
    }
    if (dist >= 8) {
        // Each 8-byte step reads only bytes written before it.
        for (std::size_t i = 0; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
        return;
    }
    // A pattern of 1 to 7 bytes (runs of one byte, pixels of 3 or 4) is
    // spread over a word in a register, which is then stored every `step`
    // bytes, the largest multiple of `dist` up to 8: no store waits for the
    // one before it, as loads from the bytes just written would. The bytes
    // loaded past the pattern are in the buffer (the output has slack) and
    // are masked off.
    std::uint64_t word;
    std::memcpy(&word, src, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    word &= (std::uint64_t{1} << (8 * dist)) - 1;
    for (std::size_t have = dist; have < 8; have *= 2) word |= word << (8 * have);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    const std::size_t step = 8 - 8 % dist;
    for (std::size_t i = 0; i < length; i += step) std::memcpy(dst + i, &word, 8);
}

// A literal's table entry: a code of at most the table's width (a length
// from 1 to 15, so the entry is not 0) for a symbol below 256.
inline bool is_literal(std::uint32_t e) { return e - 1u < (256u << kSymbolShift) - 1u; }

// Decodes the symbols of one compressed block up to its end-of-block symbol.
// One refill per symbol is enough: a length code, its extra bits, a distance
// code and its extra bits take at most 15 + 5 + 15 + 13 = 48 bits, and the
// buffer holds 56 or more unless the input is ending, which the bit counts
// checked below catch.
//
// Most symbols are decoded by a fast loop that runs while eight input bytes
// are left and the output has room for a whole match (plus the slack its
// copy writes past) below both its allocated size and the decoded-size cap:
// there, every refill fills the buffer to 56 bits and no symbol can run out
// of room or pass the cap, so none of those checks are made. Near either end
// the careful loop below it takes one symbol at a time, with every check,
// growing the output (and counting it against the budget) when it must, and
// hands back to the fast loop once that has its margins again. Both decode
// the same symbols the same way, in the same order of checks, so that the
// bytes written before an error do not depend on which loop met it.
//
// The loop works on copies of the reader and of the output's position, put
// back on the way out: the output is written through a byte pointer, which
// may alias anything whose address is known, so fields reached through the
// references would be read from memory again after every byte written.
//
// With `Keep` false nothing is written (see Output): the same symbols are
// decoded and the same checks made, so that the count and any error are
// those of the decoding that keeps the bytes.
template <bool Keep>
Status huffman_block(BitReader& reader, Output& out, const LitTable& lit, const DistTable& dist) {
    BitReader in = reader;
    std::size_t used = out.used;
    std::uint8_t* bytes = out.bytes.data();
    std::size_t size = out.size<Keep>();
    const auto leave = [&](Status status) {
        reader = in;
        out.used = used;
        return status;
    };
    // The fast loop runs while a whole match and the slack fit below both
    // the buffer's size and the cap (plus slack), and eight input bytes are
    // left. Both conditions are kept as bounds that `used` and the input
    // position stay below, so that each turn compares without subtracting.
    constexpr std::size_t kFastMargin = kMaxMatch + kSlack;
    const auto below_of = [](std::size_t room, std::size_t margin) {
        return room >= margin ? room - margin + 1 : std::size_t{0};
    };
    const auto fast_used_below = [&below_of](std::size_t buffer) {
        return below_of(std::min(buffer, limits::kMaxDecodedBytes + kSlack), kFastMargin);
    };
    std::size_t used_below = fast_used_below(size);
    const std::size_t pos_below = below_of(in.size, 8);
    for (;;) {
        // The entry of the next symbol is looked up as soon as the last one
        // is dropped, before the refill, which leaves the bits it reads in
        // place: the look-up need not wait for the refill. It is good when
        // the buffer held the table's width of bits (always after literals;
        // after a long match it may not, and is looked up again).
        std::uint32_t e = lit.entry[in.peek(LitTable::kBits)];
        while (used < used_below && in.pos < pos_below) {
            const bool looked_up = in.bitcnt >= LitTable::kBits;
            in.refill_fast();
            if (!looked_up) e = lit.entry[in.peek(LitTable::kBits)];
            if ((e & kLengthMask) == 0) [[unlikely]] {
                e = decode_slow(lit, in.bitbuf, in.bitcnt, e);
                if (e == 0) return leave(corrupt());
            }
            in.drop(e & kLengthMask);
            const std::uint32_t sym = e >> kSymbolShift & kSymbolMask;
            if (sym < 256) {
                if constexpr (Keep) bytes[used] = static_cast<std::uint8_t>(sym);
                ++used;
                // Content and text are mostly literals, and the bits one
                // refill leaves usually hold the next ones: three more table
                // codes (of 10 bits at most) fit the 56 bits of a refill
                // whatever the first one took (15 at most).
                e = lit.entry[in.peek(LitTable::kBits)];
                for (int more = 0; more < 3 && is_literal(e); ++more) {
                    in.drop(e & kLengthMask);
                    if constexpr (Keep) bytes[used] = static_cast<std::uint8_t>(e >> kSymbolShift);
                    ++used;
                    e = lit.entry[in.peek(LitTable::kBits)];
                }
                continue;
            }
            if (sym == 256) return leave(Unit{});
            const std::size_t li = sym - 257u;
            if (li >= kLengthBase.size()) return leave(corrupt());  // symbols 286 and 287
            const std::size_t length = kLengthBase[li] + in.take(e >> kExtraShift);

            std::uint32_t d = dist.entry[in.peek(DistTable::kBits)];
            if ((d & kLengthMask) == 0) [[unlikely]] {
                d = decode_slow(dist, in.bitbuf, in.bitcnt, d);
                if (d == 0) return leave(corrupt());
            }
            in.drop(d & kLengthMask);
            const std::uint32_t dsym = d >> kSymbolShift & kSymbolMask;
            if (dsym >= kDistBase.size()) return leave(corrupt());  // 30 and 31
            const std::size_t distance = kDistBase[dsym] + in.take(d >> kExtraShift);
            if (distance > used) return leave(corrupt());
            e = lit.entry[in.peek(LitTable::kBits)];
            if constexpr (Keep) copy_match(bytes + used, distance, length);
            used += length;
        }

        // The careful loop: one symbol.
        in.refill();
        if (size - used < kFastMargin) {
            out.used = used;
            if (!out.make_room<Keep>(kMaxMatch)) return leave(stopped_growing(out.meter));
            bytes = out.bytes.data();
            size = out.size<Keep>();
            used_below = fast_used_below(size);
        }
        std::uint32_t sym;
        if (!decode(lit, in, sym)) return leave(corrupt());
        if (sym < 256) {
            if (used == limits::kMaxDecodedBytes) return leave(too_large());
            if constexpr (Keep) bytes[used] = static_cast<std::uint8_t>(sym);
            ++used;
            continue;
        }
        if (sym == 256) return leave(Unit{});

        std::size_t li = sym - 257u;
        if (li >= kLengthBase.size()) return leave(corrupt());  // symbols 286 and 287
        unsigned lextra = kLengthExtra[li];
        if (in.bitcnt < lextra) return leave(corrupt());
        std::size_t length = kLengthBase[li] + in.take(lextra);

        std::uint32_t dsym;
        if (!decode(dist, in, dsym) || dsym >= kDistBase.size()) {
            return leave(corrupt());  // 30 and 31
        }
        unsigned dextra = kDistExtra[dsym];
        if (in.bitcnt < dextra) return leave(corrupt());
        std::size_t distance = kDistBase[dsym] + in.take(dextra);
        if (distance > used) return leave(corrupt());

        if (length > limits::kMaxDecodedBytes - used) return leave(too_large());
        if constexpr (Keep) copy_match(bytes + used, distance, length);
        used += length;
    }
}

template <bool Keep>
Status stored_block(BitReader& in, Output& out) {
    in.align();
    // LEN then NLEN, two bytes each. NLEN (the one's complement of LEN) must
    // be present but is not checked: a mismatch says nothing the data does
    // not say itself.
    if (in.size - in.pos < 4) return corrupt();
    const std::size_t len = in.input[in.pos] | (std::size_t{in.input[in.pos + 1]} << 8);
    in.pos += 4;
    // A block cut short by the end of the data still gives the bytes that
    // are there, as a streaming decoder would have written them before
    // noticing; the lenient reading of a truncated stream keeps them.
    const std::size_t have = std::min(len, in.size - in.pos);
    if (have > limits::kMaxDecodedBytes - out.used) return too_large();
    if (!out.make_room<Keep>(have)) return stopped_growing(out.meter);
    if constexpr (Keep) std::memcpy(out.bytes.data() + out.used, in.input + in.pos, have);
    out.used += have;
    in.pos += have;
    if (have < len) return corrupt();
    return Unit{};
}

// The tables of the current block. The fixed ones are built once per call,
// on the first fixed block.
struct Tables {
    LitTable lit;
    DistTable dist;
    bool fixed = false;
};

template <bool Keep>
Status dynamic_block(BitReader& in, Output& out, Tables& t) {
    if (!in.need(14)) return corrupt();
    std::size_t nlen = in.take(5) + 257u;
    std::size_t ndist = in.take(5) + 1u;
    std::size_t nclen = in.take(4) + 4u;
    // HLIT and HDIST may name up to 288 and 32 codes; symbols 286, 287 and
    // distance symbols 30, 31 are only an error when actually decoded.

    std::array<std::uint8_t, 19> cl_lengths{};
    for (std::size_t i = 0; i < nclen; ++i) {
        if (!in.need(3)) return corrupt();
        cl_lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(in.take(3));
    }
    Table<7> clcode;
    clcode.build(cl_lengths);

    // One list for both codes: a repeat may run from the literal/length
    // lengths into the distance lengths. A final repeat may also overshoot
    // the declared total; the surplus extends the distance code.
    std::array<std::uint8_t, kMaxLengths> lengths;
    std::size_t n = 0;
    while (n < nlen + ndist) {
        in.refill();
        std::uint32_t sym;
        if (!decode(clcode, in, sym)) return corrupt();
        if (sym < 16) {
            lengths[n++] = static_cast<std::uint8_t>(sym);
            continue;
        }
        std::uint8_t value = 0;
        std::size_t repeat = 0;
        if (sym == 16) {
            if (n == 0) return corrupt();
            value = lengths[n - 1];
            if (in.bitcnt < 2) return corrupt();
            repeat = in.take(2) + 3u;
        } else if (sym == 17) {
            if (in.bitcnt < 3) return corrupt();
            repeat = in.take(3) + 3u;
        } else {
            if (in.bitcnt < 7) return corrupt();
            repeat = in.take(7) + 11u;
        }
        std::fill_n(lengths.begin() + static_cast<std::ptrdiff_t>(n), repeat, value);
        n += repeat;
    }

    std::span<const std::uint8_t> all(lengths.data(), n);
    t.lit.build(all.first(nlen), kLitExtra.data());
    t.dist.build(all.subspan(nlen), kDistExtraOf.data());
    t.fixed = false;
    return huffman_block<Keep>(in, out, t.lit, t.dist);
}

template <bool Keep>
Status fixed_block(BitReader& in, Output& out, Tables& t) {
    if (!t.fixed) {
        std::array<std::uint8_t, 288> lengths;
        std::fill(lengths.begin(), lengths.begin() + 144, 8);
        std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
        std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
        std::fill(lengths.begin() + 280, lengths.end(), 8);
        t.lit.build(lengths, kLitExtra.data());
        std::array<std::uint8_t, 30> dist_lengths;
        dist_lengths.fill(5);
        t.dist.build(dist_lengths, kDistExtraOf.data());
        t.fixed = true;
    }
    return huffman_block<Keep>(in, out, t.lit, t.dist);
}

// Passing the size cap or the call's limits is no damage: it ends the call.
bool is_limit(const Error& error) {
    return error == too_large() || error.kind == ErrorKind::LimitExceeded;
}

// Decodes the blocks into `out` up to the final one: the error that stops
// it before (damage, the cap, the call's limit), or none, also when the
// caller's `wanted` bytes were out first. Whatever follows the final block
// (a zlib Adler-32 trailer, padding, garbage) is not read.
template <bool Keep>
Status decode_blocks(BitReader& in, Output& out) {
    // Default-initialised: every part of a table is written by build()
    // before it is read, and zeroing kilobytes per call shows on small
    // streams.
    std::unique_ptr<Tables> tables(new Tables);
    for (;;) {
        if (!in.need(3)) return corrupt();
        std::uint32_t header = in.take(3);
        bool last = (header & 1u) != 0;
        Status block = Unit{};
        switch (header >> 1) {
            case 0: block = stored_block<Keep>(in, out); break;
            case 1: block = fixed_block<Keep>(in, out, *tables); break;
            case 2: block = dynamic_block<Keep>(in, out, *tables); break;
            default: return corrupt();
        }
        if (!block && out.enough) return Unit{};
        if (!block || last) return block;
    }
}

}  // namespace

Result<Decoded> inflate_partial(ByteView data, Meter* meter, std::size_t wanted) {
    BitReader in{data.data(), data.size()};
    Output out;
    out.meter = meter;
    out.wanted = wanted;
    constexpr std::size_t kReserve = limits::kMaxInflateInitialReserve;
    std::size_t reserve = data.size() > kReserve / 8 ? kReserve : data.size() * 8 + kSlack;
    // A caller that wants only the first bytes: room for them and one
    // symbol, so that the decoding stops soon after them rather than a
    // growth step later.
    if (wanted < kWholeOutput - kMaxMatch - kSlack) {
        reserve = std::min(reserve, wanted + kMaxMatch + kSlack);
    }
    if (meter != nullptr) reserve = meter->capacity(reserve, kSlack, kMaxMatch + kSlack);
    out.bytes.reserve(reserve);

    Status status = decode_blocks<true>(in, out);
    if (!status && is_limit(status.error())) return std::move(status).error();
    // The output, with the damage that ended it if any. A caller that
    // wanted only the first bytes gets exactly those when there are as many
    // (the damage lies past them): how far beyond them the decoding ran
    // depends on the buffer's size, and so on the budget left, and neither
    // what the call returns nor what it counts may.
    if (out.used >= out.wanted) {
        out.bytes.resize(out.wanted);
        return Decoded{std::move(out.bytes), std::nullopt};
    }
    out.bytes.resize(out.used);
    std::optional<Error> damage;
    if (!status) damage = std::move(status).error();
    return Decoded{std::move(out.bytes), std::move(damage)};
}

Result<std::size_t> inflated_size(ByteView data, Meter* meter) {
    BitReader in{data.data(), data.size()};
    Output out;
    out.meter = meter;
    Status status = decode_blocks<false>(in, out);
    // The budget counts the whole output at the end, as it would count the
    // bytes kept: all of them, or those decoded before the damage.
    const bool limit = !status && is_limit(status.error());
    if (!limit && meter != nullptr && !meter->settle(out.used)) return stopped_growing(meter);
    if (!status) return std::move(status).error();
    return out.used;
}

Result<Bytes> inflate(ByteView data) { return strictly(inflate_partial(data, nullptr)); }

}  // namespace vellox_core
