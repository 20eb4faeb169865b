#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "agl.h"

using namespace vellox_core;

namespace {

Array names_and_ints(std::initializer_list<Object> items) { return Array(items); }

}  // namespace

// base_tables.txt is written by make_base_tables.py from Python's cp1252 and
// mac_roman codecs, an implementation independent of ours.
TEST(Encodings, WindowsAndMacRomanMatchPythonCodecs) {
    std::ifstream in(VELLOX_SOURCE_DIR "/core/tests/fixtures/agl/base_tables.txt");
    ASSERT_TRUE(in) << "missing oracle file";
    std::string table;
    unsigned code = 0, cp = 0;
    int win = 0, mac = 0;
    while (in >> table >> std::hex >> code >> cp) {
        ASSERT_LT(code, 256u);
        SCOPED_TRACE(table + " code " + std::to_string(code));
        if (table == "win") {
            EXPECT_EQ(win_ansi_encoding()[code], cp);
            ++win;
        } else if (table == "mac") {
            EXPECT_EQ(mac_roman_encoding()[code], cp);
            ++mac;
        } else {
            ADD_FAILURE() << "unknown table";
        }
    }
    EXPECT_EQ(win, 256);
    EXPECT_EQ(mac, 256);
}

TEST(Encodings, StandardTableIsPrintableAsciiWithCurlyQuotes) {
    struct Case {
        unsigned code;
        std::uint32_t cp;
    };
    const Case cases[] = {
        {0x00, 0},    {0x1F, 0}, {0x20, 0x20}, {0x27, 0x2019}, {0x41, 0x41}, {0x60, 0x2018},
        {0x7E, 0x7E}, {0x7F, 0}, {0x80, 0},    {0xA1, 0},      {0xE9, 0},    {0xFF, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(standard_encoding()[c.code], c.cp);
    }
    int mapped = 0;
    for (std::uint32_t v : standard_encoding()) mapped += v != 0;
    EXPECT_EQ(mapped, 0x7E - 0x20 + 1);
}

TEST(Encodings, BaseTableChosenByExactName) {
    struct Case {
        std::string_view name;
        const EncodingTable* table;
    };
    const Case cases[] = {
        {"MacRomanEncoding", &mac_roman_encoding()},
        {"StandardEncoding", &standard_encoding()},
        {"WinAnsiEncoding", &win_ansi_encoding()},
        {"MacExpertEncoding", &win_ansi_encoding()},
        {"", &win_ansi_encoding()},
        {"MacRomanEncoding ", &win_ansi_encoding()},
        {"StandardEncodin", &win_ansi_encoding()},
        {"macromanencoding", &win_ansi_encoding()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_EQ(&base_encoding(c.name), c.table);
    }
    EXPECT_EQ(base_encoding("MacRomanEncoding")[0x8E], 0xE9u);
    EXPECT_EQ(base_encoding("Nope")[0x80], 0x20ACu);
    EXPECT_EQ(base_encoding("Nope")[0x81], 0u);
}

TEST(GlyphNames, TableIsSortedBmpAndFindsEveryEntry) {
    const auto table = agl_table();
    ASSERT_EQ(table.size(), 149u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(std::string(table[i].name));
        if (i > 0) {
            EXPECT_LT(table[i - 1].name, table[i].name);
        }
        EXPECT_GT(table[i].code, 0u);
        EXPECT_LT(table[i].code, 0x10000u);
        EXPECT_EQ(agl_lookup(table[i].name), table[i].code);
    }
    // Spot values from the Adobe Glyph List, checked by hand.
    EXPECT_EQ(agl_lookup("A"), 0x41u);
    EXPECT_EQ(agl_lookup("zero"), 0x30u);
    EXPECT_EQ(agl_lookup("quotesingle"), 0x27u);
    EXPECT_EQ(agl_lookup("quoteright"), 0x2019u);
    EXPECT_EQ(agl_lookup("ffi"), 0xFB03u);
    EXPECT_EQ(agl_lookup("nbspace"), 0xA0u);
    EXPECT_EQ(agl_lookup("minus"), 0x2212u);
    for (std::string_view miss :
         {"", "a.sc", "Aa", "zz", "quotesingl", "zeroo", "Eacute", "uni0041"}) {
        SCOPED_TRACE(std::string(miss));
        EXPECT_FALSE(agl_lookup(miss));
    }
}

TEST(GlyphNames, ToUnicodeRules) {
    struct Case {
        std::string_view name;
        std::optional<std::uint32_t> cp;
    };
    const Case cases[] = {
        {"A", 0x41},
        {"a.sc", 0x61},
        {"space.alt.2", 0x20},
        {".notdef", std::nullopt},
        {"", std::nullopt},
        {"zzz", std::nullopt},
        {"Ab", std::nullopt},
        {"fi", 0xFB01},
        {"uni0041", 0x41},
        {"uni00e9", 0xE9},
        {"uni00410042", 0x41},
        {"uni0041.sc", 0x41},
        {"uni004", std::nullopt},
        {"uni004G", std::nullopt},
        {"uni+041", 0x41},
        {"uni-041", std::nullopt},
        {"uni++41", std::nullopt},
        {"uniD800", std::nullopt},
        {"uniDFFF", std::nullopt},
        {"uniE000", 0xE000},
        {"uni0000", 0},
        {"u0041", 0x41},
        {"u1F600", 0x1F600},
        {"u10FFFF", 0x10FFFF},
        {"u110000", std::nullopt},
        {"uD800", std::nullopt},
        {"u041", std::nullopt},
        {"u00000041", std::nullopt},
        {"u+0041", 0x41},
        {"u+", std::nullopt},
        {"uXYZW", std::nullopt},
        {"g123", std::nullopt},
        {"cid00042", std::nullopt},
        {"f_f", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_EQ(glyph_to_unicode(c.name), c.cp);
    }
}

TEST(Differences, AppliesNamesFromTheCurrentCode) {
    const EncodingTable& win = win_ansi_encoding();
    struct Change {
        unsigned code;
        std::uint32_t cp;
    };
    struct Case {
        const char* label;
        Array diffs;
        std::vector<Change> changes;  // every other entry keeps its base value
    };
    const Case cases[] = {
        {"names, unconvertible keeps base, supplementary",
         names_and_ints({65, Name{"B"}, Name{"uni0043"}, Name{"zzz"}, Name{"u1F600"}}),
         {{65, 'B'}, {66, 'C'}, {68, 0x1F600}}},
        {"negative start is code 0", names_and_ints({-5, Name{"A"}}), {{0, 'A'}}},
        {"zero start", names_and_ints({0, Name{"A"}}), {{0, 'A'}}},
        {"names before any number start at 0",
         names_and_ints({Name{"A"}, Name{"B"}}),
         {{0, 'A'}, {1, 'B'}}},
        {"past 255 dropped", names_and_ints({255, Name{"a"}, Name{"b"}}), {{255, 'a'}}},
        {"huge start",
         names_and_ints({std::int64_t{9223372036854775807}, Name{"a"}, Name{"b"}}),
         {}},
        {"suffix cut", names_and_ints({32, Name{"space.alt"}}), {{32, 0x20}}},
        {"surrogate rejected", names_and_ints({32, Name{"uniD800"}}), {}},
        {"plus sign", names_and_ints({32, Name{"uni+041"}}), {{32, 'A'}}},
        {"other elements do not advance",
         names_and_ints({40, 1.5, String{{'x'}}, Name{"A"}, Object{}, Array{}, Name{"B"}}),
         {{40, 'A'}, {41, 'B'}}},
        {"later number restarts",
         names_and_ints({10, Name{"A"}, 5, Name{"B"}, Name{"C"}}),
         {{10, 'A'}, {5, 'B'}, {6, 'C'}}},
        {"later name wins", names_and_ints({10, Name{"A"}, 10, Name{"B"}}), {{10, 'B'}}},
        {"empty", Array{}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EncodingTable expected = win;
        for (const auto& ch : c.changes) expected[ch.code] = ch.cp;
        const EncodingTable got = apply_differences(win, c.diffs);
        for (unsigned code = 0; code < 256; ++code) {
            EXPECT_EQ(got[code], expected[code]) << "code " << code;
        }
    }
    // The base passed in is what unconvertible names keep.
    const EncodingTable mac =
        apply_differences(mac_roman_encoding(), names_and_ints({0x8E, Name{"zzz"}, Name{"A"}}));
    EXPECT_EQ(mac[0x8E], 0xE9u);
    EXPECT_EQ(mac[0x8F], 0x41u);
}
