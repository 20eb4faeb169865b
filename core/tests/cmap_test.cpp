#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cmap.h"
#include "support/read_file.h"
#include "utf8.h"

using namespace vellox_core;

namespace {

std::string hex_bytes(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::string read_fixture(const char* name) {
    return vellox_test::read_file(std::string(VELLOX_SOURCE_DIR "/core/tests/fixtures/cmap/") +
                                  name);
}

struct Expect {
    std::uint32_t code;
    std::optional<std::string> text;
};

void check(const CMap& cmap, const std::vector<Expect>& expects) {
    for (const auto& e : expects) {
        SCOPED_TRACE("code " + std::to_string(e.code));
        EXPECT_EQ(cmap.lookup(e.code), e.text);
    }
}

}  // namespace

TEST(Utf16Be, SurrogatesAndOddBytes) {
    struct Case {
        std::string_view in_hex;
        std::string_view out;
    };
    const Case cases[] = {
        {"", ""},
        {"0041", "A"},
        {"41", "A"},       // odd byte is a unit of its own
        {"004142", "AB"},  // ... also after a full unit
        {"D8", "\u00D8"},  // a single byte is never a surrogate
        {"00660069", "fi"},
        {"20AC", "\u20AC"},
        {"D83DDE00", "\U0001F600"},
        {"DBFFDFFF", "\U0010FFFF"},
        {"D800", "\uFFFD"},
        {"D8000041", "\uFFFDA"},  // unit after a lone high is decoded alone
        {"DC00", "\uFFFD"},
        {"DC00D800", "\uFFFD\uFFFD"},
        {"D800D800DC00", "\uFFFD\U00010000"},
        {"D83DDE", "\uFFFD\u00DE"},  // high surrogate, then an odd byte
        {"0000", std::string_view("\0", 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in_hex));
        const std::string in = hex_bytes(c.in_hex);
        const std::string got = utf16_be(as_bytes(in));
        EXPECT_EQ(got, c.out);
        EXPECT_TRUE(is_valid_utf8(as_bytes(got)));
    }
}

TEST(CMap, SectionsAndPrecedence) {
    struct Case {
        const char* label;
        std::string_view text;
        std::vector<Expect> expects;
    };
    const Case cases[] = {
        {"bfchar", "1 beginbfchar <0041> <0061> endbfchar", {{0x41, "a"}, {0x42, std::nullopt}}},
        {"one-byte and two-byte sources share keys",
         "beginbfchar <41> <0062> endbfchar",
         {{0x41, "b"}}},
        {"bfchar to two characters", "beginbfchar <01> <00660069> endbfchar", {{1, "fi"}}},
        {"bfchar to nothing", "beginbfchar <05> <> endbfchar", {{5, ""}}},
        {"bfchar name destination ignored",
         "beginbfchar <05> /space <06> <0020> endbfchar",
         {{5, std::nullopt}, {6, " "}}},
        {"odd destination byte", "beginbfchar <07> <41> endbfchar", {{7, "A"}}},
        {"lone surrogate destination", "beginbfchar <07> <D800> endbfchar", {{7, "\uFFFD"}}},
        {"source over 4 bytes uses the first 4",
         "beginbfchar <0102030405> <0041> endbfchar",
         {{0x01020304, "A"}, {0x02030405, std::nullopt}}},
        {"empty source is code 0", "beginbfchar <> <0041> endbfchar", {{0, "A"}}},
        {"literal destination string", "beginbfchar <41> (\\000B) endbfchar", {{0x41, "B"}}},
        {"entries must start with a hex string",
         "beginbfchar (A) <0062> <42> <0063> endbfchar",
         {{0x41, std::nullopt}, {0x42, std::nullopt}}},
        {"later bfchar replaces earlier",
         "beginbfchar <41> <0061> <41> <0062> endbfchar",
         {{0x41, "b"}}},
        {"bfrange",
         "beginbfrange <0020> <007E> <0020> endbfrange",
         {{0x1F, std::nullopt}, {0x20, " "}, {0x41, "A"}, {0x7E, "~"}, {0x7F, std::nullopt}}},
        {"bfrange array, high bound unused",
         "beginbfrange <0010> <0012> [<0041> <0042>] <0020> <0020> [<0043> <0044>] endbfrange",
         {{0x10, "A"}, {0x11, "B"}, {0x12, std::nullopt}, {0x20, "C"}, {0x21, "D"}}},
        {"bfrange array skips non-strings but counts them",
         "beginbfrange <10> <12> [<0041> /x 7 <0043>] endbfrange",
         {{0x10, "A"}, {0x11, std::nullopt}, {0x12, std::nullopt}, {0x13, "C"}}},
        {"bfrange to two characters counts from the first",
         "beginbfrange <01> <03> <00410042> endbfrange",
         {{1, "A"}, {2, "B"}, {3, "C"}}},
        {"bfrange to nothing starts at U+0000",
         "beginbfrange <05> <06> <> endbfrange",
         {{5, std::string("\0", 1)}, {6, std::string("\x01", 1)}}},
        {"bfrange with a non-string bound",
         "beginbfrange <05> /x <0041> <07> <07> <0042> endbfrange",
         {{5, std::nullopt}, {7, "B"}}},
        {"bfchar beats an earlier bfrange",
         "beginbfrange <00> <FF> <0030> endbfrange beginbfchar <41> <007A> endbfchar",
         {{0x41, "z"}, {0x40, "p"}}},
        {"bfchar beats a later bfrange",
         "beginbfchar <41> <007A> endbfchar beginbfrange <00> <FF> <0030> endbfrange",
         {{0x41, "z"}, {0x40, "p"}}},
        {"overlapping ranges: the earlier wins",
         "beginbfrange <10> <20> <0061> <00> <FF> <0041> endbfrange",
         {{0x10, "a"}, {0x0F, "P"}, {0x21, "b"}}},
        {"range running into surrogates falls through to a later range",
         "beginbfrange <00> <10> <D7FF> <01> <01> <0062> endbfrange",
         {{0, "\uD7FF"}, {1, "b"}, {2, std::nullopt}}},
        {"range past U+10FFFF",
         "beginbfrange <00> <10> <DBFFDFFF> endbfrange",
         {{0, "\U0010FFFF"}, {1, std::nullopt}}},
        {"range start wraps in 32 bits",
         "beginbfrange <00000000> <FFFFFFFF> <FFFF> endbfrange",
         {{0xFFFFFFFF, "\uFFFE"}, {0, "\uFFFF"}}},
        {"comments inside sections",
         "beginbfchar % one\n<41> % two\r<0061>%three\nendbfchar",
         {{0x41, "a"}}},
        {"entries outside sections do nothing",
         "<41> <0061> [<42> <0062>] <<>> (x) endbfchar",
         {{0x41, std::nullopt}, {0x42, std::nullopt}}},
        {"cid ranges and usecmap ignored",
         "/Adobe-Japan1 usecmap 1 begincidrange <0000> <00FF> 0 endcidrange",
         {{0, std::nullopt}}},
        {"codespace read and passed over",
         "1 begincodespacerange <0000> <FFFF> endcodespacerange 1 beginbfchar <41> <0061> "
         "endbfchar",
         {{0x41, "a"}, {0, std::nullopt}}},
        {"codespace ends at any keyword",
         "begincodespacerange <00> <FF> beginbfchar <41> <0061> endbfchar",
         {{0x41, std::nullopt}}},
        {"bfrange array without a string low bound ends the section",
         "beginbfrange <<>> <12> [<0041>] <20> <20> <0042> endbfrange "
         "beginbfchar <07> <0062> endbfchar",
         {{0x20, std::nullopt}, {0x12, std::nullopt}, {7, "b"}}},
        {"bad destination ends the section where the parser stopped",
         "beginbfchar <41> ) <42> <0062> endbfchar beginbfchar <43> <0063> endbfchar",
         {{0x41, std::nullopt}, {0x42, std::nullopt}, {0x43, "c"}}},
        {"stray delimiters before a section",
         ") ] } > { beginbfchar <41> <0061> endbfchar",
         {{0x41, "a"}}},
        {"truncated section", "beginbfchar <41> <0061> <42>", {{0x41, "a"}, {0x42, std::nullopt}}},
        {"truncated destination string", "beginbfchar <41> <00", {{0x41, std::nullopt}}},
        {"section keyword glued to a name is not a section",
         "/x beginbfcharx <41> <0061> endbfchar",
         {{0x41, std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        check(CMap::parse(as_bytes(c.text)), c.expects);
    }
}

TEST(CMap, RangesKeepFileOrderAndBfrangeArraysGoToTheMap) {
    const CMap cmap = CMap::parse(
        as_bytes("beginbfrange <20> <10> <0041> <00> <05> <0061> <30> <31> [<0078>] endbfrange"));
    ASSERT_EQ(cmap.ranges.size(), 2u);
    EXPECT_EQ(cmap.ranges[0].lo, 0x20u);
    EXPECT_EQ(cmap.ranges[0].hi, 0x10u);  // kept as written; it never matches
    EXPECT_EQ(cmap.ranges[0].start, 0x41u);
    EXPECT_EQ(cmap.ranges[1].lo, 0u);
    EXPECT_EQ(cmap.ranges[1].start, 0x61u);
    EXPECT_EQ(cmap.map.size(), 1u);
    EXPECT_EQ(cmap.lookup(0x20), std::nullopt);
}

// Real producers' ToUnicode streams, extracted with qpdf by
// fixtures/cmap/extract.sh.
TEST(CMap, GoogleDocsCMap) {
    const std::string text = read_fixture("google-doc-obj20.cmap");
    const CMap cmap = CMap::parse(as_bytes(text));
    EXPECT_EQ(cmap.map.size(), 3u);
    EXPECT_EQ(cmap.ranges.size(), 10u);
    check(cmap, {{0x31, "N"},
                 {0x33, "P"},
                 {0xBC, "\u20AC"},
                 {0x03, " "},
                 {0x04, "!"},
                 {0x0A, "'"},
                 {0x0D, "*"},
                 {0x13, "0"},
                 {0x1C, "9"},
                 {0x44, "a"},
                 {0x4C, "i"},
                 {0x5C, "y"},
                 {0x02, std::nullopt},
                 {0x05, std::nullopt},
                 {0x5D, std::nullopt},
                 {0x32, std::nullopt}});
    // 3 bfchar codes and ranges of 2+4+3+10+6+2+5+9+6+8 codes.
    int mapped = 0;
    for (std::uint32_t code = 0; code <= 0xFFFF; ++code) mapped += cmap.lookup(code).has_value();
    EXPECT_EQ(mapped, 58);
}

TEST(CMap, ArabicCMapsWithLongAndEmptyDestinations) {
    const std::string habibi = "\u062D\u064E\u0628\u064A\u0628\u064A";
    const std::string t11 = read_fixture("habibi-obj11.cmap");
    check(CMap::parse(as_bytes(t11)),
          {{0x4B, habibi + " h"}, {0x44, "a"}, {0x45, "b"}, {0x4C, "i"}, {0x4D, std::nullopt}});
    const std::string t15 = read_fixture("habibi-obj15.cmap");
    const CMap cmap = CMap::parse(as_bytes(t15));
    EXPECT_EQ(cmap.map.size(), 6u);
    check(cmap, {{0x03, ""}, {0x3F2, ""}, {0x3A3, habibi + " "}, {0x3A4, std::nullopt}});
}

// Mutated real CMaps must parse to completion (the sanitizer build checks
// memory), and whatever they map must still be valid UTF-8.
TEST(CMap, SurvivesMutatedInput) {
    const std::string base =
        read_fixture("google-doc-obj20.cmap") + read_fixture("habibi-obj11.cmap");
    std::mt19937 rng(12345);
    const std::string alphabet = "<>[]()/%{} \n0123456789abcdefDCberginbfchar";
    for (int round = 0; round < 1500; ++round) {
        std::string text = base;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
                case 1: text.erase(at, 1 + rng() % 4); break;
                default: text.resize(at); break;
            }
            if (text.empty()) text = "<";
        }
        const CMap cmap = CMap::parse(as_bytes(text));
        for (const auto& [code, value] : cmap.map) {
            ASSERT_TRUE(is_valid_utf8(as_bytes(value))) << "round " << round;
        }
        for (const auto& r : cmap.ranges) {
            const auto hit = cmap.lookup(r.lo);
            ASSERT_TRUE(!hit || is_valid_utf8(as_bytes(*hit)));
        }
    }
}
