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

#include "filter/deflate_util.h"
#include "filter/inflate.h"
#include "support/corpus.h"
#include "support/inflate_reference.h"

using namespace vellox_core;
using vellox_test::BitWriter;
using vellox_test::zlib_deflate;

namespace {

// Expects both decoders to agree on `data`; returns whether they succeeded.
bool expect_same(const Bytes& data) {
    auto fast = inflate(data);
    auto ref = vellox_test::inflate_reference(data);
    EXPECT_EQ(fast.ok(), ref.ok());
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
