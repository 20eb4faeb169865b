#include "filter/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <random>
#include <string>

#include "bounds.h"
#include "filter/deflate_util.h"
#include "filter/sanitizer.h"

using namespace vellox_core;
using vellox_test::BitWriter;
using vellox_test::zlib_deflate;
using vellox_test::zlib_inflate;
using vellox_test::ZlibOutcome;

namespace {

const Error kCorrupt{ErrorKind::BadStream, "corrupt DEFLATE data"};

// Test data of different characters: incompressible, English-like text,
// long runs, and a mix that makes zlib switch block types.
Bytes sample(std::mt19937& rng, std::size_t size, int kind) {
    static const char* const words[] = {
        "the ", "page ",      "stream ",     "obj ", "endobj\n",
        "BT ",  "/F1 12 Tf ", "(Hello) Tj ", "ET\n", "0 0 612 792 re "};
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        switch (kind % 4) {
            case 0: out.push_back(static_cast<std::uint8_t>(rng())); break;
            case 1: {
                std::string w = words[rng() % 10];
                out.insert(out.end(), w.begin(), w.end());
                break;
            }
            case 2:
                out.insert(out.end(), 1 + rng() % 300, static_cast<std::uint8_t>(rng() % 3));
                break;
            default:
                if (rng() % 2) {
                    out.push_back(static_cast<std::uint8_t>(rng()));
                } else {
                    std::size_t n = std::min<std::size_t>(out.size(), 3 + rng() % 40);
                    std::size_t from = out.size() - n;
                    for (std::size_t i = 0; i < n; ++i) out.push_back(out[from + i]);
                }
        }
    }
    out.resize(size);
    return out;
}

}  // namespace

TEST(Inflate, RoundTripsZlibOutputForEveryLevelAndStrategy) {
    std::mt19937 rng(1951);
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    const std::size_t sizes[] = {0, 1, 2, 100, 4000, 70000};
    for (int kind = 0; kind < 4; ++kind) {
        for (std::size_t size : sizes) {
            Bytes input = sample(rng, size, kind);
            for (int level = 0; level <= 9; ++level) {
                for (int strategy : strategies) {
                    SCOPED_TRACE("kind " + std::to_string(kind) + " size " + std::to_string(size) +
                                 " level " + std::to_string(level) + " strategy " +
                                 std::to_string(strategy));
                    Bytes packed = zlib_deflate(input, level, strategy);
                    ASSERT_FALSE(packed.empty());
                    auto got = inflate(packed);
                    ASSERT_TRUE(got.ok()) << got.error().to_string();
                    EXPECT_EQ(*got, input);
                }
            }
        }
    }
}

TEST(Inflate, RoundTripsLargeInput) {
    std::mt19937 rng(7);
    Bytes input = sample(rng, 3 << 20, 3);
    for (int level : {1, 6, 9}) {
        SCOPED_TRACE(level);
        auto got = inflate(zlib_deflate(input, level, Z_DEFAULT_STRATEGY));
        ASSERT_TRUE(got.ok());
        EXPECT_TRUE(*got == input);
    }
}

// Whatever the damage, the result is zlib's output when zlib accepts the
// data, the one error when the data ends early, and never a crash. Where
// zlib rejects the data (it checks more, e.g. NLEN and complete codes), the
// only requirement is that a failure carries the one message.
TEST(Inflate, AgreesWithZlibOnTruncatedAndBitFlippedData) {
    std::mt19937 rng(42);
    int complete = 0, needs_input = 0, invalid = 0;
    for (int seed = 0; seed < 3000; ++seed) {
        Bytes input = sample(rng, 1 + rng() % 3000, seed);
        const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE};
        Bytes packed = zlib_deflate(input, static_cast<int>(rng() % 10), strategies[rng() % 4]);
        switch (rng() % 3) {
            case 0: packed.resize(rng() % packed.size()); break;
            case 1:
                for (unsigned n = 1 + rng() % 3; n > 0; --n) {
                    packed[rng() % packed.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                }
                break;
            default:
                packed[rng() % packed.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                packed.resize(rng() % (packed.size() + 1));
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        Bytes expected;
        ZlibOutcome reference = zlib_inflate(packed, expected);
        auto got = inflate(packed);
        switch (reference) {
            case ZlibOutcome::Complete:
                ++complete;
                ASSERT_TRUE(got.ok()) << got.error().to_string();
                ASSERT_TRUE(*got == expected);
                break;
            case ZlibOutcome::NeedsInput:
                ++needs_input;
                ASSERT_FALSE(got.ok());
                ASSERT_EQ(got.error(), kCorrupt);
                break;
            case ZlibOutcome::Invalid:
                ++invalid;
                if (!got.ok()) {
                    ASSERT_EQ(got.error(), kCorrupt);
                }
                break;
        }
    }
    // The mutations must reach all three outcomes for the test to mean much.
    EXPECT_GT(complete, 100);
    EXPECT_GT(needs_input, 100);
    EXPECT_GT(invalid, 100);
}

TEST(Inflate, HandMadeStreams) {
    // A final fixed block: literal 'a', then length 258 (symbol 285) at
    // distance 1, then end of block: 259 copies of 'a'.
    BitWriter run;
    run.bits(1, 1);
    run.bits(1, 2);
    run.fixed_symbol('a');
    run.fixed_symbol(285);
    run.code(0, 5);
    run.fixed_symbol(256);

    // A stored block whose NLEN is not the complement of LEN.
    const Bytes bad_nlen = {0x01, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'};

    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    };
    const Case cases[] = {
        {"final fixed block with only end of block", {0x03, 0x00}, {}},
        {"garbage after the final block", {0x03, 0x00, 0xFF, 0x12, 0x34}, {}},
        {"stored block with wrong NLEN", bad_nlen, {'a', 'b', 'c'}},
        {"distance 1, length 258", run.out, Bytes(259, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = inflate(c.input);
        ASSERT_TRUE(got.ok()) << got.error().to_string();
        EXPECT_EQ(*got, c.expected);
    }
}

// A dynamic header whose last code-length repeat runs past HLIT + HDIST:
// the surplus lengths belong to the distance code, so distance symbol 3
// (distance 4) is usable although HDIST declares a single distance code.
TEST(Inflate, OvershootingRepeatExtendsDistanceCode) {
    BitWriter w;
    w.bits(1, 1);   // BFINAL
    w.bits(2, 2);   // dynamic
    w.bits(1, 5);   // HLIT: 258 literal/length codes (0..257)
    w.bits(0, 5);   // HDIST: one distance code
    w.bits(12, 4);  // HCLEN: 16 code-length lengths
    // Code-length code: 18 has length 1, 2 and 16 have length 2. In the
    // transmission order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2.
    const unsigned cl[16] = {2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    for (unsigned v : cl) w.bits(v, 3);
    // Canonical codes: 18 -> 0, 2 -> 10, 16 -> 11.
    auto zeros = [&](unsigned n) {
        w.code(0, 1);
        w.bits(n - 11, 7);
    };
    auto two = [&] { w.code(2, 2); };
    zeros(97);     // symbols 0..96
    two();         // 'a'
    two();         // 'b'
    zeros(138);    // 99..236
    zeros(19);     // 237..255
    two();         // 256, end of block
    two();         // 257, length 3
    w.code(3, 2);  // 16: repeat the last length 4 times
    w.bits(1, 2);
    // Literal/length codes 'a' 00, 'b' 01, 256 10, 257 11; distance 0..3 all
    // two bits. Data: a b b a, then length 3 at distance 4, then the end.
    w.code(0, 2);
    w.code(1, 2);
    w.code(1, 2);
    w.code(0, 2);
    w.code(3, 2);
    w.code(3, 2);
    w.code(2, 2);

    auto got = inflate(w.out);
    ASSERT_TRUE(got.ok()) << got.error().to_string();
    const std::string text(got->begin(), got->end());
    EXPECT_EQ(text, "abbaabb");
}

TEST(Inflate, EveryErrorIsCorruptDeflateData) {
    auto fixed = [](std::initializer_list<unsigned> symbols, std::uint32_t dist_code = 0) {
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        for (unsigned s : symbols) {
            w.fixed_symbol(s);
            if (s > 256) w.code(dist_code, 5);
        }
        return w.out;
    };
    BitWriter repeat_first;  // dynamic header whose first code-length symbol is 16
    repeat_first.bits(1, 1);
    repeat_first.bits(2, 2);
    repeat_first.bits(0, 5);
    repeat_first.bits(0, 5);
    repeat_first.bits(0, 4);
    for (unsigned v : {1u, 0u, 0u, 1u}) repeat_first.bits(v, 3);  // 16 and 0, one bit each
    repeat_first.code(1, 1);                                      // 16 (codes: 0 -> 0, 16 -> 1)
    repeat_first.bits(0, 2);

    struct Case {
        const char* name;
        Bytes input;
    };
    const Case cases[] = {
        {"empty input", {}},
        {"reserved block type 3", {0x07}},
        {"non-final stored block, then nothing", {0x00, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}},
        {"stored block shorter than LEN", {0x01, 0x04, 0x00, 0xFB, 0xFF, 'a', 'b', 'c'}},
        {"stored block without NLEN", {0x01, 0x03, 0x00}},
        {"fixed block without end of block", fixed({'a', 'b'})},
        {"literal/length symbol 286", fixed({'a', 286})},
        {"literal/length symbol 287", fixed({'a', 287})},
        {"distance symbol 30", fixed({'a', 257}, 30)},
        {"distance symbol 31", fixed({'a', 257}, 31)},
        {"distance before the start", fixed({'a', 257, 256}, 1)},
        {"back-reference with no output", fixed({257, 256}, 0)},
        {"repeat code 16 with nothing to repeat", repeat_first.out},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = inflate(c.input);
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), kCorrupt);
    }
}

namespace {

// The header of a final dynamic block whose literal/length code has one-bit
// codes for literal 0 and, when `with_285`, for length symbol 285 (258 bytes),
// and a one-bit code for distance 1. Without 285 the code is incomplete and
// has no end-of-block code at all.
BitWriter one_bit_code_block(bool with_285) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(with_285 ? 29 : 0, 5);  // HLIT: 286 or 257 literal/length codes
    w.bits(0, 5);                  // HDIST: one distance code
    w.bits(14, 4);                 // HCLEN: 18 code-length code lengths
    // Order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1: only 18 and 1 are
    // used, one bit each, so 1 -> code 0 and 18 -> code 1.
    const unsigned cl[18] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (unsigned v : cl) w.bits(v, 3);
    auto zeros = [&](unsigned n) {
        w.code(1, 1);
        w.bits(n - 11, 7);
    };
    w.code(0, 1);  // symbol 0: length 1
    if (with_285) {
        zeros(138);    // 1..138
        zeros(135);    // 139..273
        zeros(11);     // 274..284
        w.code(0, 1);  // 285: length 1
    } else {
        zeros(138);  // 1..138
        zeros(118);  // 139..256
    }
    w.code(0, 1);  // distance 0: length 1
    return w;
}

}  // namespace

// A code that matches nothing within 15 bits: with literal 0 the only code
// (0), a run of one bits is never a code.
TEST(Inflate, CodeNotFoundWithin15BitsFails) {
    BitWriter w = one_bit_code_block(false);
    w.code(0, 1);  // a valid literal first, to show the table works
    w.bits(0xFFFF, 16);
    auto got = inflate(w.out);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error(), kCorrupt);
}

// About 1 MB of input that would expand 1032 times: after literal 0, endless
// back-references of 258 bytes at distance 1, two bits each. The decoder
// must stop at the cap instead of growing without end.
TEST(Inflate, StopsAtTheDecodedSizeCap) {
    if (vellox_test::kSanitized)
        GTEST_SKIP() << "too slow under sanitizers; runs in the normal build";
    BitWriter w = one_bit_code_block(true);
    w.code(0, 1);  // literal 0
    const std::size_t copies = limits::kMaxDecodedBytes / 258 + 10;
    for (std::size_t i = 0; i < copies; ++i) {
        w.code(1, 1);  // length 258
        w.code(0, 1);  // distance 1
    }
    ASSERT_LT(w.out.size(), std::size_t{1100000});

    auto start = std::chrono::steady_clock::now();
    auto got = inflate(w.out);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "decoded stream too large"}));
    RecordProperty("seconds", std::to_string(seconds));
    // Counting without keeping the bytes stops at the same cap.
    auto counted = inflated_size(w.out);
    ASSERT_FALSE(counted.ok());
    EXPECT_EQ(counted.error(), got.error());
}

// A caller that wants only the start gets exactly that much of the whole
// output (all of it when the output is shorter), whatever the block types,
// and damage past the part decoded is not seen.
TEST(Inflate, WantedPrefixStopsEarly) {
    std::mt19937 rng(11);
    for (int kind = 0; kind < 4; ++kind) {
        const Bytes input = sample(rng, 300000, kind);
        for (int level : {0, 1, 9}) {
            const Bytes packed = zlib_deflate(input, level, Z_DEFAULT_STRATEGY);
            for (std::size_t wanted : {std::size_t{0}, std::size_t{1}, std::size_t{5000},
                                       std::size_t{100000}, input.size(), input.size() + 1}) {
                SCOPED_TRACE(testing::Message()
                             << "kind " << kind << " level " << level << " wanted " << wanted);
                auto got = inflate_partial(packed, nullptr, wanted);
                ASSERT_TRUE(got.ok());
                EXPECT_FALSE(got->damage.has_value());
                ASSERT_EQ(got->bytes.size(), std::min(wanted, input.size()));
                EXPECT_TRUE(std::equal(got->bytes.begin(), got->bytes.end(), input.begin()));
                // Small requests stop well before the end: the rest of the
                // stream is not decoded. Coded blocks stop within a match of
                // the request; a stored block (level 0, or the random bytes
                // of kind 0, which do not compress) is copied whole.
                if (wanted <= 5000) {
                    EXPECT_LT(got->bytes.size(), input.size() / 2);
                    if (level > 0 && kind > 0) {
                        EXPECT_LE(got->bytes.size(), wanted + 512);
                    }
                }
            }
            // Cut off at half the data: the whole reading sees the damage,
            // a reading of the start does not.
            const Bytes cut(packed.begin(),
                            packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
            auto whole = inflate_partial(cut, nullptr);
            ASSERT_TRUE(whole.ok());
            EXPECT_TRUE(whole->damage.has_value());
            auto start = inflate_partial(cut, nullptr, 1000);
            ASSERT_TRUE(start.ok());
            EXPECT_FALSE(start->damage.has_value());
            ASSERT_EQ(start->bytes.size(), 1000u);
            EXPECT_TRUE(std::equal(start->bytes.begin(), start->bytes.end(), input.begin()));
        }
    }
}
