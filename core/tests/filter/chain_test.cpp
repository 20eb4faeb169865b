// The filter chain: filter names and their parameters paired, steps run
// in order, failures passed on.
#include "filter/chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bounds.h"
#include "filter/deflate_util.h"

using namespace vellox_core;

namespace {

Object name(const char* n) { return Object(Name{n}); }

Dictionary dict(std::initializer_list<std::pair<const char*, Object>> entries) {
    Dictionary d;
    for (const auto& [k, v] : entries) d.set(k, v);
    return d;
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes zlib(const Bytes& in) { return vellox_test::zlib_deflate(in, 6, Z_DEFAULT_STRATEGY, 15); }

std::string hex(const Bytes& in) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (auto b : in) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

int paeth_ref(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// PNG encoding of `raw` cut into rows of `row` bytes (the last may be
// shorter), each row with its filter type, as an encoder would write it.
Bytes png_encode(const Bytes& raw, std::size_t row, std::size_t bpp,
                 const std::vector<int>& types) {
    Bytes out;
    for (std::size_t start = 0, r = 0; start < raw.size(); start += row, ++r) {
        int type = types[r % types.size()];
        out.push_back(static_cast<std::uint8_t>(type));
        std::size_t len = std::min(row, raw.size() - start);
        for (std::size_t i = 0; i < len; ++i) {
            int x = raw[start + i];
            int a = i >= bpp ? raw[start + i - bpp] : 0;
            int b = start >= row ? raw[start - row + i] : 0;
            int c = i >= bpp && start >= row ? raw[start - row + i - bpp] : 0;
            int pred = type == 1   ? a
                       : type == 2 ? b
                       : type == 3 ? (a + b) / 2
                       : type == 4 ? paeth_ref(a, b, c)
                                   : 0;
            out.push_back(static_cast<std::uint8_t>(x - pred));
        }
    }
    return out;
}

struct ChainCase {
    const char* name;
    Dictionary dict;
    Bytes input;
    Bytes expected;
};

void run_chain_cases(const std::vector<ChainCase>& cases) {
    for (const ChainCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = decode_stream(c.dict, c.input);
        ASSERT_TRUE(got.ok()) << got.error().to_string();
        EXPECT_EQ(*got, c.expected);
        EXPECT_TRUE(stream_decodes(c.dict, c.input));
    }
}

// 255 nine-bit 'x' codes, then 'y' as a 10-bit code: only late width
// changes (EarlyChange 0) read it as intended.
Bytes lzw_late_stream() {
    Bytes out;
    std::size_t nbits = 0;
    auto put = [&](std::uint32_t code, unsigned width) {
        for (unsigned i = width; i-- > 0; ++nbits) {
            if (nbits % 8 == 0) out.push_back(0);
            out.back() |= static_cast<std::uint8_t>(((code >> i) & 1u) << (7 - nbits % 8));
        }
    };
    for (int i = 0; i < 255; ++i) put('x', 9);
    put('y', 10);
    put(257, 10);
    return out;
}

}  // namespace

TEST(DecodeStream, FilterAndParameterPairing) {
    const Bytes plain = text("0123456789abcdef0123456789abcdef");
    const Bytes png = png_encode(plain, 4, 1, {2, 1, 4});
    const Dictionary png4 = dict({{"Predictor", Object(12)}, {"Columns", Object(4)}});
    const Bytes raw_deflate = vellox_test::zlib_deflate(plain, 9, Z_DEFAULT_STRATEGY);
    Stream parms_stream;
    parms_stream.dict = png4;

    std::vector<ChainCase> cases = {
        {"no filter, parameters ignored", dict({{"DecodeParms", Object(png4)}}), png, png},
        {"Filter with full names", dict({{"Filter", name("FlateDecode")}, {"DecodeParms", Object(png4)}}),
         zlib(png), plain},
        {"F and DP abbreviations", dict({{"F", name("Fl")}, {"DP", Object(png4)}}), zlib(png), plain},
        {"Filter wins over F", dict({{"Filter", name("AHx")}, {"F", name("Fl")}}), text("414243"), text("ABC")},
        {"DecodeParms wins over DP", dict({{"Filter", name("Fl")}, {"DecodeParms", Object(Null{})}, {"DP", Object(png4)}}),
         zlib(png), png},
        {"unusable Filter does not fall back to F", dict({{"Filter", Object(3)}, {"F", name("AHx")}}), text("41"), text("41")},
        {"Filter as a reference counts as absent", dict({{"Filter", Object(Reference{5, 0})}}), text("41"), text("41")},
        {"single dictionary belongs to the first filter",
         dict({{"Filter", Object(Array{name("ASCIIHexDecode"), name("FlateDecode")})}, {"DecodeParms", Object(png4)}}),
         text(hex(zlib(png))), png},
        {"parameter array pairs by position",
         dict({{"Filter", Object(Array{name("AHx"), name("Fl")})}, {"DecodeParms", Object(Array{Object(), Object(png4)})}}),
         text(hex(zlib(png))), plain},
        {"stream in the parameter array gives its dictionary",
         dict({{"Filter", Object(Array{name("Fl")})}, {"DecodeParms", Object(Array{Object(parms_stream)})}}), zlib(png), plain},
        {"[null] parameters stop the chain after the first filter",
         dict({{"Filter", Object(Array{name("A85"), name("FlateDecode")})}, {"DecodeParms", Object(Array{Object()})}}),
         text("87cURDZ~>"), text("Hello")},
        {"longer parameter array: surplus ignored",
         dict({{"Filter", name("AHx")}, {"DecodeParms", Object(Array{Object(), Object(png4), Object(png4)})}}),
         text("41 42>"), text("AB")},
        {"null element in the filter array is skipped", dict({{"Filter", Object(Array{name("FlateDecode"), Object()})}}),
         zlib(plain), plain},
        {"DCTDecode passes data through", dict({{"Filter", name("DCTDecode")}}), text("\xFF\xD8jpeg"), text("\xFF\xD8jpeg")},
        {"image codecs after a decoder",
         dict({{"Filter", Object(Array{name("AHx"), name("JPXDecode"), name("JBIG2Decode"), name("CCITTFaxDecode")})}}),
         text("4142"), text("AB")},
        {"78 9C header skipped", dict({{"Filter", name("FlateDecode")}}), zlib(plain), plain},
        {"raw deflate without header", dict({{"Filter", name("FlateDecode")}}), raw_deflate, plain},
        // 78 9D is not a multiple of 31: the bytes are a stored block of
        // 0x9D bytes, then a final empty fixed block.
        {"78 9D is not a header",
         dict({{"Filter", name("FlateDecode")}}),
         [] { Bytes v{0x78, 0x9D, 0x00, 0x62, 0xFF}; v.insert(v.end(), 0x9D, 'q'); v.push_back(0x03); v.push_back(0x00); return v; }(),
         Bytes(0x9D, 'q')},
        {"RunLength and ASCII85 by abbreviation", dict({{"Filter", Object(Array{name("A85"), name("RL")})}}),
         text("rBU~>"), text("AAAA")},
        {"LZW with EarlyChange 0",
         dict({{"Filter", name("LZWDecode")}, {"DecodeParms", Object(dict({{"EarlyChange", Object(0)}}))}}),
         lzw_late_stream(), [] { Bytes v(255, 'x'); v.push_back('y'); return v; }()},
        {"LZW with a TIFF predictor",
         dict({{"Filter", name("LZW")}, {"DP", Object(dict({{"Predictor", Object(2)}, {"Columns", Object(2)}}))}}),
         Bytes{0x20, 0x90, 0x80, 0x40, 0x48, 0x08}, Bytes{65, 131, 2, 6}},
    };
    run_chain_cases(cases);
}

// Anything but the integer 0 keeps early width changes.
TEST(DecodeStream, EarlyChangeOnlyForInteger0) {
    const Bytes data = lzw_late_stream();
    const Bytes late = [] {
        Bytes v(255, 'x');
        v.push_back('y');
        return v;
    }();
    for (const Object& value : {Object(0.0), Object(1), Object(Null{}), name("0")}) {
        auto got = decode_stream(dict({{"Filter", name("LZWDecode")},
                                       {"DecodeParms", Object(dict({{"EarlyChange", value}}))}}),
                                 data);
        EXPECT_FALSE(got.ok() && *got == late);
    }
}

TEST(DecodeStream, Failures) {
    struct Case {
        const char* name;
        Dictionary dict;
        Bytes input;
        Error expected;
    };
    const Case cases[] = {
        {"DCT abbreviation",
         dict({{"Filter", name("DCT")}}),
         {},
         {ErrorKind::Unsupported, "unsupported filter: DCT"}},
        {"Crypt",
         dict({{"Filter", Object(Array{name("Crypt"), name("FlateDecode")})}}),
         {},
         {ErrorKind::Unsupported, "unsupported filter: Crypt"}},
        {"CCF abbreviation",
         dict({{"Filter", name("CCF")}}),
         {},
         {ErrorKind::Unsupported, "unsupported filter: CCF"}},
        {"names are case-sensitive",
         dict({{"Filter", name("flatedecode")}}),
         {},
         {ErrorKind::Unsupported, "unsupported filter: flatedecode"}},
        {"a later step fails",
         dict({{"Filter", Object(Array{name("AHx"), name("Fl")})}}),
         text("0700"),
         {ErrorKind::BadStream, "corrupt DEFLATE data"}},
        {"predictor after Flate",
         dict({{"Filter", name("Fl")}, {"DP", Object(dict({{"Predictor", Object(10)}}))}}),
         zlib(Bytes{7, 1}),
         {ErrorKind::BadStream, "bad predictor row filter"}},
        {"ASCII85",
         dict({{"Filter", name("ASCII85Decode")}}),
         text("<~87cURD]i,\"Ebo80~>"),
         {ErrorKind::BadStream, "bad ASCII85 data"}},
        {"ASCIIHex",
         dict({{"Filter", name("ASCIIHexDecode")}}),
         text("4G"),
         {ErrorKind::BadStream, "bad ASCIIHex data"}},
        {"RunLength",
         dict({{"Filter", name("RunLengthDecode")}}),
         {0xFF},
         {ErrorKind::BadStream, "truncated RunLength data"}},
        {"LZW",
         dict({{"Filter", name("LZWDecode")}}),
         {0x81, 0x00},
         {ErrorKind::BadStream, "bad LZW data"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = decode_stream(c.dict, c.input);
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), c.expected);
        EXPECT_FALSE(stream_decodes(c.dict, c.input));
    }
}

// Whether a stream decodes, found without keeping a last Flate's bytes:
// the strict decoding's verdict for every cut of the data and under every
// budget, which is left with as much room either way.
TEST(DecodeStream, DecodesAsTheStrictReadingDoes) {
    std::mt19937 rng(5);
    Bytes raw(200000);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        raw[i] = static_cast<std::uint8_t>(i % 7 == 0 ? rng() : raw[i > 300 ? i - 300 : 0]);
    }
    const Bytes packed = zlib(raw);
    const Bytes hexed = text(hex(packed) + ">");
    const std::vector<std::pair<const char*, Dictionary>> chains = {
        {"Flate", dict({{"Filter", name("FlateDecode")}})},
        {"ASCIIHex then Flate", dict({{"Filter", Object(Array{name("AHx"), name("Fl")})}})},
        {"Flate with a predictor",
         dict({{"Filter", name("Fl")}, {"DP", Object(dict({{"Predictor", Object(2)}}))}})},
        {"no filter", Dictionary{}},
    };
    for (const auto& [label, chain] : chains) {
        SCOPED_TRACE(label);
        const bool hex_first = std::string_view(label).starts_with("ASCIIHex");
        const Bytes& whole = hex_first ? hexed : packed;
        for (std::size_t cut : {whole.size(), whole.size() - 1, whole.size() / 2, std::size_t{3}}) {
            const Bytes data(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            for (std::uint64_t max : {std::uint64_t{0}, std::uint64_t{1000}, std::uint64_t{199999},
                                      std::uint64_t{200000}, std::uint64_t{1} << 40}) {
                SCOPED_TRACE(std::to_string(cut) + " bytes, budget " + std::to_string(max));
                Budget kept(0, max);
                Budget counted(0, max);
                const bool decodes = decode_stream(chain, data, Reading::Strict, &kept).ok();
                EXPECT_EQ(stream_decodes(chain, data, &counted), decodes);
                EXPECT_EQ(counted.exceeded(), kept.exceeded());
                EXPECT_EQ(counted.room(), kept.room());
            }
        }
    }
}

// The lenient reading of content streams: Flate data cut short or damaged
// anywhere gives what zlib writes before it stops (all of it when only the
// checksum is missing or wrong), never an error, and never more than the
// strict decoder had produced when it failed. Where zlib rejects data that
// this decoder accepts (zlib checks code sets for completeness), zlib's
// output is where both agree, so it must be the start of ours.
TEST(DecodeStream, LenientReadingKeepsWhatDecodedBeforeTheDamage) {
    std::mt19937 rng(1057);
    const Dictionary flate = dict({{"Filter", name("FlateDecode")}});
    int cut = 0, invalid = 0;
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        Bytes plain;
        const std::size_t size = 1 + rng() % 4000;
        while (plain.size() < size) {
            // Content-like text: operators, numbers, repeats.
            const char* words[] = {"BT ", "ET ", "q ", "Q ", "(Hello) Tj ", "72 700 Td ", "re f "};
            const std::string_view w = words[rng() % std::size(words)];
            plain.insert(plain.end(), w.begin(), w.end());
        }
        Bytes packed = vellox_test::zlib_deflate(plain, static_cast<int>(rng() % 10),
                                                 rng() % 2 ? Z_DEFAULT_STRATEGY : Z_FIXED, 15);
        if (rng() % 2) {
            packed.resize(rng() % (packed.size() + 1));
        } else {
            packed[rng() % packed.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        }
        Bytes expected;
        const vellox_test::ZlibOutcome outcome = vellox_test::zlib_inflate(packed, expected, 15);
        auto got = decode_stream(flate, packed, Reading::Lenient);
        ASSERT_TRUE(got.ok()) << got.error().to_string();
        auto strict = decode_stream(flate, packed);
        if (strict) {
            EXPECT_EQ(*got, *strict);  // undamaged data reads alike both ways
        }
        if (outcome == vellox_test::ZlibOutcome::NeedsInput) {
            ++cut;
            ASSERT_EQ(*got, expected);
        } else if (outcome == vellox_test::ZlibOutcome::Invalid) {
            ++invalid;
            ASSERT_GE(got->size(), expected.size());
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), got->begin()));
        } else {
            ASSERT_EQ(*got, expected);
        }
    }
    EXPECT_GT(cut, 300);
    EXPECT_GT(invalid, 100);
}

// Each decoder's lenient reading stops where its strict reading fails, and
// passes what it has to the next filter; bounds and unknown filters stay
// errors.
TEST(DecodeStream, LenientReadingOfEachFilter) {
    struct Case {
        const char* name;
        Dictionary dict;
        std::string data;
        std::string expected;
    };
    const Bytes hello = text("Hello, world");
    // 9-bit codes, most significant bit first: "A", "B", a clear code, then
    // 300, which names no entry of a fresh table.
    std::string cut_lzw;
    {
        std::uint32_t acc = 0;
        unsigned nbits = 0;
        for (const std::uint32_t code : {65u, 66u, 256u, 300u}) {
            acc = (acc << 9) | code;
            nbits += 9;
            while (nbits >= 8) {
                nbits -= 8;
                cut_lzw += static_cast<char>((acc >> nbits) & 0xFF);
            }
            acc &= (1u << nbits) - 1;
        }
        if (nbits > 0) cut_lzw += static_cast<char>((acc << (8 - nbits)) & 0xFF);
    }
    const Case cases[] = {
        {"ASCII85 stray byte", dict({{"Filter", name("ASCII85Decode")}}), "9jqo^v", "Man "},
        {"ASCII85 lone final digit", dict({{"Filter", name("A85")}}), "9jqo^9~>", "Man "},
        {"ASCIIHex stray byte", dict({{"Filter", name("AHx")}}), "4142 G43", "AB"},
        {"RunLength cut inside a literal run", dict({{"Filter", name("RL")}}),
         std::string("\x01xy\x04"
                     "ab",
                     6),
         "xy"},
        {"RunLength cut before a repeated byte", dict({{"Filter", name("RL")}}),
         std::string("\x00z\xfe", 3), "z"},
        {"LZW code naming no entry", dict({{"Filter", name("LZWDecode")}}), cut_lzw, "AB"},
        {"PNG row with an unknown filter type",
         dict({{"Filter", name("FlateDecode")},
               {"DecodeParms", Object(dict({{"Predictor", Object(12)}, {"Columns", Object(2)}}))}}),
         [] {
             const Bytes rows = {0, 'a', 'b', 0, 'c', 'd', 9, 'e', 'f'};
             const Bytes packed = zlib(rows);
             return std::string(packed.begin(), packed.end());
         }(),
         "abcd"},
        {"damage carried into the next filter",
         dict({{"Filter", Object(Array{name("AHx"), name("FlateDecode")})}}),
         hex(zlib(hello)).substr(0, hex(zlib(hello)).size() - 8) + "!", "Hello, world"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto lenient = decode_stream(c.dict, text(c.data), Reading::Lenient);
        ASSERT_TRUE(lenient.ok()) << lenient.error().to_string();
        EXPECT_EQ(std::string(lenient->begin(), lenient->end()), c.expected);
        EXPECT_FALSE(decode_stream(c.dict, text(c.data)).ok());
    }

    auto unknown = decode_stream(dict({{"Filter", name("NoSuch")}}), text("x"), Reading::Lenient);
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error().kind, ErrorKind::Unsupported);
}
