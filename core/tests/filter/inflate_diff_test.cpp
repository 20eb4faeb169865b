// The table-driven decoder against the bit-serial reference decoder: same
// output bytes, or the same error, on every input. The inputs aim at the
// places where the two work differently: the 64-bit bit buffer near the end
// of the input, codes longer than the first table level, code sets that are
// incomplete or over-subscribed, and back-references of every distance.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "budget.h"
#include "filter/deflate_tables.h"
#include "filter/deflate_util.h"
#include "filter/inflate.h"
#include "support/corpus.h"
#include "support/inflate_reference.h"

using namespace vellox_core;
using vellox_test::BitWriter;
using vellox_test::zlib_deflate;

namespace {

// Expects both decoders to agree on `data`, and the decoding that only
// counts to give the same size or the same error; returns whether they
// succeeded.
bool expect_same(const Bytes& data) {
    auto fast = inflate(data);
    auto ref = vellox_test::inflate_reference(data);
    auto size = inflated_size(data);
    EXPECT_EQ(fast.ok(), ref.ok());
    EXPECT_EQ(size.ok(), fast.ok());
    if (size.ok() && fast.ok()) {
        EXPECT_EQ(*size, fast->size());
    } else if (!size.ok() && !fast.ok()) {
        EXPECT_EQ(size.error(), fast.error());
    }
    if (fast.ok() && ref.ok()) {
        EXPECT_EQ(*fast, *ref);
        return true;
    }
    if (!fast.ok() && !ref.ok()) {
        EXPECT_EQ(fast.error().kind, ref.error().kind);
        EXPECT_EQ(fast.error().message, ref.error().message);
    }
    return false;
}

Bytes random_bytes(std::mt19937& rng, std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// Text with repeats at short and long distances, and runs.
Bytes mixed(std::mt19937& rng, std::size_t size) {
    Bytes out;
    while (out.size() < size) {
        switch (rng() % 4) {
            case 0: out.push_back(static_cast<std::uint8_t>(rng())); break;
            case 1:
                out.insert(out.end(), 1 + rng() % 400, static_cast<std::uint8_t>('a' + rng() % 3));
                break;
            default: {
                if (out.empty()) break;
                std::size_t back =
                    1 + rng() % std::min<std::size_t>(out.size(), rng() % 2 ? 9 : 40000);
                std::size_t n = 3 + rng() % 300;
                std::size_t from = out.size() - back;
                for (std::size_t i = 0; i < n; ++i) out.push_back(out[from + i]);
            }
        }
    }
    out.resize(size);
    return out;
}

// A dynamic block header that declares `lit` and `dist` code lengths, sent
// with a code-length code of 19 five-bit codes (an incomplete code: symbol
// v gets code v), followed by `body` bits. BFINAL is set.
Bytes dynamic_block(const std::vector<std::uint8_t>& lit, const std::vector<std::uint8_t>& dist,
                    const Bytes& body) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(static_cast<std::uint32_t>(lit.size() - 257), 5);
    w.bits(static_cast<std::uint32_t>(dist.size() - 1), 5);
    w.bits(15, 4);
    for (int i = 0; i < 19; ++i) w.bits(5, 3);
    for (auto len : lit) w.code(len, 5);
    for (auto len : dist) w.code(len, 5);
    for (auto b : body) w.bits(b, 8);
    return w.out;
}

// Random code lengths of several characters: complete codes are rare; most
// are incomplete or over-subscribed, some have only long codes.
std::vector<std::uint8_t> random_lengths(std::mt19937& rng, std::size_t n, int style) {
    std::vector<std::uint8_t> out(n);
    for (auto& len : out) {
        switch (style % 5) {
            case 0: len = static_cast<std::uint8_t>(rng() % 16); break;
            case 1: len = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : 7 + rng() % 3); break;
            case 2: len = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0 : 9 + rng() % 7); break;
            case 3: len = static_cast<std::uint8_t>(rng() % 8 == 0 ? 1 + rng() % 15 : 0); break;
            default: len = static_cast<std::uint8_t>(rng() % 2 ? 8 : 12 + rng() % 4); break;
        }
    }
    return out;
}

// Expects both decoders, reading leniently, to give the same bytes before
// the same damage (or the same error).
void expect_same_partial(const Bytes& data) {
    auto fast = inflate_partial(data);
    auto ref = vellox_test::inflate_reference_partial(data);
    ASSERT_EQ(fast.ok(), ref.ok());
    if (!fast.ok()) {
        EXPECT_EQ(fast.error(), ref.error());
        return;
    }
    EXPECT_EQ(fast->bytes, ref->bytes);
    EXPECT_EQ(fast->damage, ref->damage);
}

// A back-reference in fixed codes: the length symbol and its extra bits,
// then the 5-bit distance code and its extra bits.
void fixed_match(BitWriter& w, std::size_t length, std::size_t dist) {
    std::size_t li = deflate::kLengthBase.size() - 1;
    while (deflate::kLengthBase[li] > length) --li;
    // 258 has its own symbol (285); 227 + 31 would be the same length.
    if (length == 258) li = deflate::kLengthBase.size() - 1;
    w.fixed_symbol(static_cast<unsigned>(257 + li));
    w.bits(static_cast<std::uint32_t>(length - deflate::kLengthBase[li]),
           deflate::kLengthExtra[li]);
    std::size_t di = deflate::kDistBase.size() - 1;
    while (deflate::kDistBase[di] > dist) --di;
    w.code(static_cast<std::uint32_t>(di), 5);
    w.bits(static_cast<std::uint32_t>(dist - deflate::kDistBase[di]), deflate::kDistExtra[di]);
}

// The bytes a back-reference appends, one at a time.
void append_match(Bytes& out, std::size_t length, std::size_t dist) {
    for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - dist]);
}

}  // namespace

TEST(InflateDiff, ZlibStreamsEveryLevelAndStrategy) {
    std::mt19937 rng(7);
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    int decoded = 0;
    for (std::size_t size : {0u, 1u, 7u, 100u, 3000u, 70000u}) {
        for (int kind = 0; kind < 2; ++kind) {
            Bytes input = kind == 0 ? mixed(rng, size) : random_bytes(rng, size);
            for (int level = 0; level <= 9; ++level) {
                for (int strategy : strategies) {
                    SCOPED_TRACE("size " + std::to_string(size) + " kind " + std::to_string(kind) +
                                 " level " + std::to_string(level) + " strategy " +
                                 std::to_string(strategy));
                    Bytes packed = zlib_deflate(input, level, strategy);
                    ASSERT_FALSE(packed.empty());
                    auto fast = inflate(packed);
                    ASSERT_TRUE(fast.ok());
                    EXPECT_EQ(*fast, input);
                    decoded += expect_same(packed);
                }
            }
        }
    }
    EXPECT_EQ(decoded, 6 * 2 * 10 * 5);
}

// Every prefix of some streams, so that the input ends at each bit-buffer
// fill level, inside headers, codes, extra bits and stored blocks.
TEST(InflateDiff, EveryTruncation) {
    std::mt19937 rng(11);
    for (int level : {0, 1, 6, 9}) {
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
            Bytes packed = zlib_deflate(mixed(rng, 1500), level, strategy);
            int complete = 0;
            for (std::size_t n = 0; n <= packed.size(); ++n) {
                SCOPED_TRACE("level " + std::to_string(level) + " length " + std::to_string(n));
                complete += expect_same(
                    Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(n)));
            }
            // Only the whole stream (or one missing padding bits of its last
            // byte at most) decodes.
            EXPECT_GE(complete, 1);
            EXPECT_LE(complete, 2);
        }
    }
}

TEST(InflateDiff, BitFlipsAndByteDamage) {
    std::mt19937 rng(13);
    int agreed_failures = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes packed = zlib_deflate(mixed(rng, 200 + rng() % 6000), static_cast<int>(rng() % 10),
                                    round % 7 == 0 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        if (packed.empty()) continue;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) {
            std::size_t at = rng() % packed.size();
            if (rng() % 3 == 0)
                packed[at] = static_cast<std::uint8_t>(rng());
            else
                packed[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        }
        SCOPED_TRACE("round " + std::to_string(round));
        agreed_failures += !expect_same(packed);
    }
    EXPECT_GT(agreed_failures, 100);  // the damage reaches the error paths
}

TEST(InflateDiff, RandomBytes) {
    std::mt19937 rng(17);
    for (int round = 0; round < 20000; ++round) {
        Bytes data = random_bytes(rng, rng() % 64);
        // Half the time a dynamic or fixed block header, which random data
        // otherwise reaches only one time in four.
        if (!data.empty() && round % 2 == 0)
            data[0] = static_cast<std::uint8_t>((data[0] & ~6u) | (round % 4 ? 4u : 2u));
        SCOPED_TRACE("round " + std::to_string(round));
        expect_same(data);
    }
}

// Random literal/length and distance code lengths (mostly incomplete or
// over-subscribed sets, codes up to 15 bits), then random bits to decode
// with them: every decoded symbol shows in the output or in the error, so
// any difference in how a bit string maps to a symbol is caught. Even rounds
// code only literals and the end of block, so that long runs of symbols
// decode and the block often ends cleanly; odd rounds code everything and
// are followed by a fixed block.
TEST(InflateDiff, RandomCodeLengthSets) {
    std::mt19937 rng(19);
    int literal_rounds_decoded = 0;
    for (int round = 0; round < 6000; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto lit = random_lengths(rng, 257 + rng() % 32, round / 2);
        auto dist = random_lengths(rng, 1 + rng() % 32, round / 10);
        Bytes body = random_bytes(rng, 8 + rng() % 300);
        if (round % 2 == 0) {
            std::fill(lit.begin() + 257, lit.end(), 0);
            if (lit[256] == 0) lit[256] = static_cast<std::uint8_t>(1 + rng() % 15);
            literal_rounds_decoded += expect_same(dynamic_block(lit, dist, body));
            continue;
        }
        Bytes data = dynamic_block(lit, dist, body);
        data[0] &= 0xFE;  // not final: a fixed block follows
        BitWriter tail;
        tail.bits(1, 1);
        tail.bits(1, 2);
        for (int i = 0; i < 20; ++i) tail.fixed_symbol(rng() % 256);
        tail.fixed_symbol(256);
        data.insert(data.end(), tail.out.begin(), tail.out.end());
        expect_same(data);
    }
    EXPECT_GT(literal_rounds_decoded, 100);
}

// One symbol coded with every length from 1 to 15 in turn: the long codes
// are decoded past the first table level.
TEST(InflateDiff, SingleLongCodes) {
    for (unsigned len = 1; len <= 15; ++len) {
        for (unsigned extra_codes = 0; extra_codes < 3; ++extra_codes) {
            std::vector<std::uint8_t> lit(258, 0);
            lit['x'] = static_cast<std::uint8_t>(len);
            lit[256] = static_cast<std::uint8_t>(len);
            if (extra_codes + 2 > (1u << len)) continue;  // not room for them all
            for (unsigned i = 0; i < extra_codes; ++i)
                lit['a' + i] = static_cast<std::uint8_t>(len);
            std::vector<std::uint8_t> dist(1, 1);
            BitWriter body;
            // 'a'.. take the first codes, then 'x', then end of block.
            std::uint32_t x_code = extra_codes;
            for (int i = 0; i < 3; ++i) body.code(x_code, len);
            body.code(x_code + 1, len);
            Bytes data = dynamic_block(lit, dist, {});
            // Append the body bit by bit after the header.
            BitWriter w;
            w.out = data;
            w.nbits = static_cast<unsigned>(3 + 14 + 19 * 3 + (lit.size() + dist.size()) * 5);
            for (unsigned i = 0; i < body.nbits; ++i) w.put((body.out[i / 8] >> (i % 8)) & 1u);
            SCOPED_TRACE("length " + std::to_string(len) + " extra " + std::to_string(extra_codes));
            auto out = inflate(w.out);
            ASSERT_TRUE(out.ok());
            EXPECT_EQ(std::string(out->begin(), out->end()), "xxx");
            expect_same(w.out);
            // Cut inside the last code: both fail.
            w.out.resize((w.nbits - 1) / 8);
            expect_same(w.out);
        }
    }
}

// The Flate streams of the sample corpus, whole and truncated.
TEST(InflateDiff, CorpusStreams) {
    VELLOX_SKIP_WITHOUT_CORPUS();
    std::filesystem::path dir(VELLOX_CORPUS_DIR);
    int streams = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".pdf") continue;
        std::ifstream f(entry.path(), std::ios::binary);
        std::string file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::size_t pos = 0;
        while ((pos = file.find("stream", pos)) != std::string::npos && streams < 2000) {
            std::size_t start = pos + 6;
            if (start < file.size() && file[start] == '\r') ++start;
            if (start < file.size() && file[start] == '\n') ++start;
            std::size_t end = file.find("endstream", start);
            if (end == std::string::npos) break;
            pos = end + 9;
            if (end - start < 3 || static_cast<std::uint8_t>(file[start]) != 0x78) continue;
            Bytes body(file.begin() + static_cast<std::ptrdiff_t>(start + 2),
                       file.begin() + static_cast<std::ptrdiff_t>(end));
            SCOPED_TRACE(entry.path().filename().string() + " at " + std::to_string(start));
            streams += expect_same(body);
            expect_same(
                Bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(body.size() / 2)));
        }
    }
    EXPECT_GT(streams, 50);
}

// The decoder takes most symbols in a fast loop that skips the room, cap and
// input checks, and the careful loop near the ends of the input and of the
// output's allocated room. The cases below put back-references and cuts on
// both sides of that switch.

// Overlapping copies (distance below the length: runs and repeated
// patterns) of every short distance, in the middle of a block (the fast
// loop: more than eight input bytes follow) and as its last symbol (the
// careful loop), each against the bytes copied one at a time.
TEST(InflateDiff, OverlappingCopiesOfEveryShortDistance) {
    std::mt19937 rng(23);
    std::vector<std::size_t> distances;
    for (std::size_t d = 1; d <= 17; ++d) distances.push_back(d);
    for (std::size_t d : {24u, 31u, 32u, 33u, 100u}) distances.push_back(d);
    for (std::size_t dist : distances) {
        for (std::size_t length :
             {3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 100u, 257u, 258u}) {
            for (bool last : {false, true}) {
                SCOPED_TRACE("distance " + std::to_string(dist) + " length " +
                             std::to_string(length) + (last ? " last" : " middle"));
                BitWriter w;
                w.bits(1, 1);
                w.bits(1, 2);
                Bytes expected;
                for (std::size_t i = 0; i < dist + 5; ++i) {
                    expected.push_back(static_cast<std::uint8_t>(rng()));
                    w.fixed_symbol(expected.back());
                }
                fixed_match(w, length, dist);
                append_match(expected, length, dist);
                if (!last) {
                    for (int i = 0; i < 30; ++i) {
                        expected.push_back(static_cast<std::uint8_t>('a' + i % 26));
                        w.fixed_symbol(expected.back());
                    }
                }
                w.fixed_symbol(256);
                auto got = inflate(w.out);
                ASSERT_TRUE(got.ok());
                EXPECT_EQ(*got, expected);
                expect_same(w.out);
            }
        }
    }
}

// Hundreds of kilobytes of back-references of every length and short
// distance: the output passes its growth steps (where the careful loop
// takes over for a symbol and makes room) at every offset within a match.
TEST(InflateDiff, MatchesAcrossTheOutputGrowthSteps) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    Bytes expected;
    for (int i = 0; i < 16; ++i) {
        expected.push_back(static_cast<std::uint8_t>(i * 37));
        w.fixed_symbol(expected.back());
    }
    for (std::size_t k = 0; k < 3000; ++k) {
        const std::size_t length = 3 + (k * 7) % 256;
        const std::size_t dist = 1 + k % 16;
        fixed_match(w, length, dist);
        append_match(expected, length, dist);
        expected.push_back(static_cast<std::uint8_t>(k));
        w.fixed_symbol(expected.back());
    }
    w.fixed_symbol(256);
    ASSERT_GT(expected.size(), std::size_t{300000});
    auto got = inflate(w.out);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(*got, expected);
    expect_same_partial(w.out);
}

// Streams of 200 KB cut, or damaged, at points spread over the whole
// stream: the cut ends the input inside the fast loop's region (the last
// eight bytes and the end of the data are the careful loop's), and what
// decoded before it must be what the reference decodes.
TEST(InflateDiff, StreamsCutOrDamagedInsideTheFastLoop) {
    std::mt19937 rng(29);
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
        const Bytes input = mixed(rng, 200000);
        const Bytes packed = zlib_deflate(input, 6, strategy);
        ASSERT_FALSE(packed.empty());
        std::vector<std::size_t> cuts;
        for (std::size_t n = 1; n < packed.size(); n += packed.size() / 23) cuts.push_back(n);
        for (std::size_t back = 1; back <= 12; ++back) cuts.push_back(packed.size() - back);
        for (std::size_t n : cuts) {
            SCOPED_TRACE("strategy " + std::to_string(strategy) + " cut at " + std::to_string(n));
            const Bytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(n));
            auto got = inflate_partial(cut);
            ASSERT_TRUE(got.ok());
            ASSERT_TRUE(got->damage.has_value());
            EXPECT_LE(got->bytes.size(), input.size());
            EXPECT_TRUE(std::equal(got->bytes.begin(), got->bytes.end(), input.begin()));
            expect_same_partial(cut);
        }
        for (int round = 0; round < 12; ++round) {
            Bytes damaged = packed;
            damaged[rng() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            SCOPED_TRACE("strategy " + std::to_string(strategy) + " damage " +
                         std::to_string(round));
            expect_same_partial(damaged);
        }
    }
}

// A caller's budget passed while the fast loop runs: the decoder stops
// with the budget's error, counting or keeping, having reserved no more
// than the budget (plus one symbol and slack) allows; a budget the output
// fits changes nothing.
TEST(InflateDiff, BudgetPassedInsideTheFastLoop) {
    std::mt19937 rng(31);
    const Bytes input = mixed(rng, 700000);
    const Bytes packed = zlib_deflate(input, 6, Z_DEFAULT_STRATEGY);
    for (std::size_t max :
         {std::size_t{1}, std::size_t{5000}, std::size_t{65536}, std::size_t{300001},
          input.size() - 1, input.size(), input.size() + 1}) {
        SCOPED_TRACE("budget " + std::to_string(max));
        Budget budget(0, max);
        Meter meter{&budget};
        auto got = inflate_partial(packed, &meter);
        // Counting without keeping meets the same budget the same way.
        Budget counting_budget(0, max);
        Meter counting{&counting_budget};
        auto size = inflated_size(packed, &counting);
        if (max < input.size()) {
            ASSERT_FALSE(got.ok());
            EXPECT_EQ(got.error().kind, ErrorKind::LimitExceeded);
            ASSERT_FALSE(size.ok());
            EXPECT_EQ(size.error().kind, ErrorKind::LimitExceeded);
            EXPECT_TRUE(counting_budget.exceeded());
            continue;
        }
        ASSERT_TRUE(size.ok());
        EXPECT_EQ(*size, input.size());
        EXPECT_FALSE(counting_budget.exceeded());
        ASSERT_TRUE(got.ok());
        EXPECT_FALSE(got->damage.has_value());
        EXPECT_EQ(got->bytes, input);
        EXPECT_LE(got->bytes.capacity(), max + 512);
    }
}
