#include "filter/lzw.h"

#include <gtest/gtest.h>

#include "bounds.h"
#include "filter/sanitizer.h"

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>

using namespace vellox_core;

namespace {

const Error kBad{ErrorKind::BadStream, "bad LZW data"};

// Codes packed most significant bit first, each with its own width.
struct CodeWriter {
    Bytes out;
    std::size_t nbits = 0;
    void put(std::uint32_t code, unsigned width) {
        for (unsigned i = width; i-- > 0;) {
            if (nbits % 8 == 0) out.push_back(0);
            out.back() |= static_cast<std::uint8_t>(((code >> i) & 1u) << (7 - nbits % 8));
            ++nbits;
        }
    }
};

Bytes nine_bit(std::initializer_list<std::uint32_t> codes) {
    CodeWriter w;
    for (auto c : codes) w.put(c, 9);
    return w.out;
}

// A textbook LZW encoder. The code width follows the decoder's table: the
// decoder adds an entry for every code but the first after a clear, and
// widens when its length (plus one with EarlyChange) reaches 2^width.
// `clear_every` > 0 sends a clear code after that many codes; without it the
// encoder stops adding entries once 4096 codes exist.
Bytes lzw_encode(const Bytes& input, bool early, std::size_t clear_every) {
    CodeWriter w;
    std::map<std::pair<std::uint32_t, std::uint8_t>, std::uint32_t> dict;
    std::uint32_t next_code = 258;
    std::size_t decoder_len = 258;
    unsigned width = 9;
    std::size_t since_clear = 0;

    auto emit = [&](std::uint32_t code) {
        w.put(code, width);
        if (since_clear++ > 0) {
            ++decoder_len;
            if (width < 12 && decoder_len + (early ? 1 : 0) >= (std::size_t{1} << width)) ++width;
        }
    };
    auto clear = [&] {
        w.put(256, width);
        dict.clear();
        next_code = 258;
        decoder_len = 258;
        width = 9;
        since_clear = 0;
    };

    if (clear_every > 0) clear();  // a leading clear code changes nothing
    std::size_t i = 0;
    while (i < input.size()) {
        std::uint32_t code = input[i++];
        while (i < input.size()) {
            auto it = dict.find({code, input[i]});
            if (it == dict.end()) break;
            code = it->second;
            ++i;
        }
        emit(code);
        if (i < input.size() && next_code < 4096) dict[{code, input[i]}] = next_code++;
        if (clear_every > 0 && (since_clear >= clear_every || next_code >= 4000)) clear();
    }
    w.put(257, width);
    return w.out;
}

Bytes sample(std::mt19937& rng, std::size_t size, unsigned alphabet) {
    Bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>('a' + rng() % alphabet);
    return out;
}

}  // namespace

TEST(Lzw, RoundTripsTestEncoder) {
    std::mt19937 rng(4);
    const std::size_t sizes[] = {0, 1, 2, 3, 500, 5000, 20000};
    const unsigned alphabets[] = {1, 2, 4, 26, 200};
    for (bool early : {true, false}) {
        for (std::size_t clear_every : {std::size_t{0}, std::size_t{100}, std::size_t{3000}}) {
            for (std::size_t size : sizes) {
                for (unsigned alphabet : alphabets) {
                    SCOPED_TRACE("early " + std::to_string(early) + " clear " +
                                 std::to_string(clear_every) + " size " + std::to_string(size) +
                                 " alphabet " + std::to_string(alphabet));
                    Bytes input = sample(rng, size, alphabet);
                    Bytes packed = lzw_encode(input, early, clear_every);
                    auto got = lzw_decode(packed, early);
                    ASSERT_TRUE(got.ok()) << got.error().to_string();
                    ASSERT_TRUE(*got == input);
                    // Decoding with the other width rule goes wrong as soon as
                    // codes reach 10 bits.
                    if (clear_every != 100 && packed.size() > 600) {
                        auto other = lzw_decode(packed, !early);
                        EXPECT_FALSE(other.ok() && *other == input);
                    }
                }
            }
        }
    }
}

TEST(Lzw, HandMadeCodeSequences) {
    struct Case {
        const char* name;
        Bytes input;
        std::string expected;
    };
    const Case cases[] = {
        {"ABAB", nine_bit({256, 65, 66, 258, 257}), "ABAB"},
        {"no end-of-data code", nine_bit({65, 66, 258}), "ABAB"},
        {"code about to be created", nine_bit({65, 258}), "AAA"},
        {"data after end-of-data ignored", nine_bit({65, 257, 66, 67}), "A"},
        {"clear code first and repeated", nine_bit({256, 256, 65, 256, 66}), "AB"},
        // After a clear the table restarts: 258 is "AB" again, not "BC".
        {"clear resets the table", nine_bit({65, 66, 256, 66, 67, 258}), "ABBCBC"},
        {"partial trailing code dropped", {0x20, 0x80}, "A"},
        {"empty input", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = lzw_decode(c.input, true);
        ASSERT_TRUE(got.ok()) << got.error().to_string();
        EXPECT_EQ(std::string(got->begin(), got->end()), c.expected);
    }
}

TEST(Lzw, CodesBeyondTheTableFail) {
    const Bytes cases[] = {
        nine_bit({258}),           // first code of the data
        nine_bit({65, 256, 258}),  // first code after a clear
        nine_bit({65, 300, 301}),  // previous code names no entry
    };
    for (const Bytes& c : cases) {
        auto got = lzw_decode(c, true);
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), kBad);
    }
    // A code beyond the table is accepted as the entry about to be created
    // whatever its exact value; the one after it then adds no entry.
    auto lenient = lzw_decode(nine_bit({65, 300, 65}), true);
    ASSERT_TRUE(lenient.ok());
    EXPECT_EQ(std::string(lenient->begin(), lenient->end()), "AAAA");
}

// The width grows to 10 bits when the table reaches 511 entries with
// EarlyChange, 512 without: codes 0..253 (254 codes, 253 entries added)
// fill it to 511, so the 255th code is the first 10-bit one with
// EarlyChange and the 256th without.
TEST(Lzw, WidthChangesExactlyAt511Or512Entries) {
    for (bool early : {true, false}) {
        SCOPED_TRACE(early);
        std::size_t nine_bit_codes = early ? 254 : 255;
        CodeWriter w;
        for (std::size_t i = 0; i < nine_bit_codes; ++i) w.put('x', 9);
        w.put('y', 10);
        w.put(257, 10);
        auto got = lzw_decode(w.out, early);
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(std::string(got->begin(), got->end()), std::string(nine_bit_codes, 'x') + "y");
        auto other = lzw_decode(w.out, !early);
        EXPECT_FALSE(other.ok() && *other == *got);
    }
}

// Without clear codes the table never stops growing, and entries can reach
// thousands of bytes: the repeated KwKwK code makes each entry one byte
// longer than the last. Output far beyond the input must still come out.
TEST(Lzw, LongStreamWithoutClearCodes) {
    CodeWriter w;
    unsigned width = 9;
    std::size_t len = 258;
    w.put('A', 9);
    std::size_t expected = 1;
    for (std::uint32_t code = 258; code < 4096 + 500; ++code) {
        std::uint32_t c = code < 4096 ? code : 4095;
        w.put(c, width);
        expected += c - 256;  // entry k holds k - 256 bytes
        ++len;
        if (width < 12 && len + 1 >= (std::size_t{1} << width)) ++width;
    }
    auto got = lzw_decode(w.out, true);
    ASSERT_TRUE(got.ok()) << got.error().to_string();
    EXPECT_EQ(got->size(), expected);
    EXPECT_EQ(std::count(got->begin(), got->end(), 'A'), static_cast<std::ptrdiff_t>(expected));
}

// 12 bits that name a 3839-byte entry, repeated: about 420 KB of input
// would give 1 GiB, and the decoder must stop at the cap.
TEST(Lzw, StopsAtTheDecodedSizeCap) {
    if (vellox_test::kSanitized)
        GTEST_SKIP() << "too slow under sanitizers; runs in the normal build";
    CodeWriter w;
    unsigned width = 9;
    std::size_t len = 258;
    w.put('A', 9);
    for (std::uint32_t code = 258; code < 4096; ++code) {
        w.put(code, width);
        ++len;
        if (width < 12 && len + 1 >= (std::size_t{1} << width)) ++width;
    }
    for (std::size_t i = 0; i < limits::kMaxDecodedBytes / 3839 + 10; ++i) w.put(4095, 12);
    auto got = lzw_decode(w.out, true);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "decoded stream too large"}));
}
