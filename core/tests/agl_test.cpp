#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "agl.h"
#include "bounds.h"
#include "support/shared_data.h"
#include "utf8.h"

using namespace vellox_core;

namespace {

Array names_and_ints(std::initializer_list<Object> items) { return Array(items); }

std::string utf8(std::initializer_list<char32_t> cps) {
    std::string out;
    for (const char32_t cp : cps) append_utf8(out, cp);
    return out;
}

#define SKIP_WITHOUT_SHARED_DATA()                                      \
    if (!std::filesystem::is_directory(vellox_test::shared_data_dir())) \
    GTEST_SKIP() << "no shared data at " << vellox_test::shared_data_dir()

constexpr BaseEncoding kAllEncodings[] = {BaseEncoding::Standard, BaseEncoding::MacRoman,
                                          BaseEncoding::WinAnsi, BaseEncoding::Symbol,
                                          BaseEncoding::ZapfDingbats};

GlyphList list_of(BaseEncoding e) {
    return e == BaseEncoding::ZapfDingbats ? GlyphList::ZapfDingbats : GlyphList::Adobe;
}

}  // namespace

// ------------------------------------------------------------- glyph names

TEST(GlyphNames, TextByTheGlyphListRules) {
    const std::string long_name(limits::kMaxGlyphNameBytes, 'A');
    std::string max_components = "A";
    for (std::size_t i = 1; i < limits::kMaxGlyphNameComponents; ++i) max_components += "_A";
    struct Case {
        std::string name;
        GlyphList list;
        std::optional<std::string> text;
    };
    const GlyphList adobe = GlyphList::Adobe;
    const GlyphList zapf = GlyphList::ZapfDingbats;
    const Case cases[] = {
        // Names in the list, beyond the old 149: Łowicz, “double”.
        {"Lslash", adobe, utf8({0x141})},
        {"quotedblleft", adobe, utf8({0x201C})},
        {"Omega", adobe, utf8({0x2126})},
        {"afii10017", adobe, utf8({0x410})},
        {"union", adobe, utf8({0x222A})},  // listed, not read as uni + "on"
        {"u", adobe, "u"},
        {"dalethatafpatah", adobe, utf8({0x5D3, 0x5B2})},  // an entry of two characters
        // Suffixes.
        {"a.sc", adobe, "a"},
        {"space.alt.2", adobe, " "},
        {"uni0041.sc", adobe, "A"},
        {"f_f_i.liga", adobe, "ffi"},
        {".notdef", adobe, std::nullopt},
        {".", adobe, std::nullopt},
        {"", adobe, std::nullopt},
        // Ligatures: each component read on its own.
        {"f_f_i", adobe, "ffi"},
        {"f_f", adobe, "ff"},
        {"T_h", adobe, "Th"},
        {"uni0066_uni0069", adobe, "fi"},
        {"f_zzz_i", adobe, "fi"},
        {"f__i", adobe, "fi"},
        {"_", adobe, std::nullopt},
        {"zzz_g12", adobe, std::nullopt},
        {"Lslash_o_w_i_c_z", adobe, utf8({0x141}) + "owicz"},
        // uni followed by groups of four upper-case hex digits.
        {"uni0041", adobe, "A"},
        {"uni00410042", adobe, "AB"},
        {"uni004100420043", adobe, "ABC"},
        {"uni20AC", adobe, utf8({0x20AC})},
        {"uniE000", adobe, utf8({0xE000})},
        {"uniFFFF", adobe, utf8({0xFFFF})},
        {"uniD7FF", adobe, utf8({0xD7FF})},
        {"uniD800", adobe, std::nullopt},
        {"uniDFFF", adobe, std::nullopt},
        {"uni0041D800", adobe, std::nullopt},  // one surrogate voids the component
        {"uni00e9", adobe, std::nullopt},      // lower case is not the form
        {"uni20ac", adobe, std::nullopt},
        {"uni", adobe, std::nullopt},
        {"uni004", adobe, std::nullopt},
        {"uni00410", adobe, std::nullopt},
        {"uni004G", adobe, std::nullopt},
        {"uni+041", adobe, std::nullopt},
        {"uni 041", adobe, std::nullopt},
        {"Uni0041", adobe, std::nullopt},
        // u followed by four to six upper-case hex digits.
        {"u0041", adobe, "A"},
        {"u1F600", adobe, utf8({0x1F600})},
        {"u01F600", adobe, utf8({0x1F600})},
        {"u10FFFF", adobe, utf8({0x10FFFF})},
        {"u110000", adobe, std::nullopt},
        {"uFFFFFF", adobe, std::nullopt},
        {"uD800", adobe, std::nullopt},
        {"u00DFFF", adobe, std::nullopt},
        {"u041", adobe, std::nullopt},
        {"u0000041", adobe, std::nullopt},
        {"u1f600", adobe, std::nullopt},
        {"u+0041", adobe, std::nullopt},
        {"uXYZW", adobe, std::nullopt},
        // Producers' names outside the rules give nothing.
        {"g123", adobe, std::nullopt},
        {"G43", adobe, std::nullopt},
        {"glyph12", adobe, std::nullopt},
        {"cid00042", adobe, std::nullopt},
        {"a1", adobe, std::nullopt},
        {"a191", adobe, std::nullopt},
        // The Zapf Dingbats list first, then the Adobe list, for ZapfDingbats.
        {"a1", zapf, utf8({0x2701})},
        {"a10", zapf, utf8({0x2721})},
        {"a191", zapf, utf8({0x27BE})},
        {"a1_a2", zapf, utf8({0x2701, 0x2702})},
        {"space", zapf, " "},
        {"uni0041", zapf, "A"},
        {"a0", zapf, std::nullopt},
        // Bounds: name length and component count.
        {long_name, adobe, std::nullopt},
        {"uni0041." + long_name.substr(8), adobe, "A"},
        {"uni0041." + long_name.substr(7), adobe, std::nullopt},
        {max_components, adobe, std::string(limits::kMaxGlyphNameComponents, 'A')},
        {max_components + "_A", adobe, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + (c.list == zapf ? " (ZapfDingbats)" : ""));
        std::string out = "x";
        const bool got = glyph_text(c.name, out, c.list);
        EXPECT_EQ(got, c.text.has_value());
        EXPECT_EQ(out, "x" + c.text.value_or(""));
    }
}

TEST(GlyphNames, SingleCharacterOnlyForNamesOfOneCharacter) {
    struct Case {
        std::string_view name;
        std::optional<std::uint32_t> cp;
    };
    const Case cases[] = {
        {"A", 0x41},
        {"fi", 0xFB01},
        {"Lslash.sc", 0x141},
        {"u1F600", 0x1F600},
        {"uni0000", 0},
        {"f_f_i", std::nullopt},
        {"uni00410042", std::nullopt},
        {"dalethatafpatah", std::nullopt},
        {"a1", std::nullopt},
        {"g3", std::nullopt},
        {".notdef", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_EQ(glyph_to_unicode(c.name), c.cp);
    }
    EXPECT_EQ(glyph_to_unicode("a1", GlyphList::ZapfDingbats), 0x2701u);
}

// Every record of both published lists converts to exactly its characters,
// which also shows that the generated table is complete and in search order.
TEST(GlyphNames, EveryListEntryRoundTrips) {
    SKIP_WITHOUT_SHARED_DATA();
    struct List {
        const char* file;
        GlyphList list;
        std::size_t size;
    };
    for (const List& l : {List{"glyphlist.txt", GlyphList::Adobe, 4281},
                          List{"zapfdingbats.txt", GlyphList::ZapfDingbats, 201}}) {
        const auto entries = vellox_test::read_glyph_list(l.file);
        EXPECT_EQ(entries.size(), l.size) << l.file;
        std::size_t several = 0;
        for (const auto& e : entries) {
            std::string want;
            for (const std::uint32_t cp : e.code_points) append_utf8(want, cp);
            several += e.code_points.size() > 1;
            std::string got;
            EXPECT_TRUE(glyph_text(e.name, got, l.list)) << e.name;
            EXPECT_EQ(got, want) << e.name;
        }
        if (l.list == GlyphList::Adobe) {
            EXPECT_EQ(several, 81u);
        }
    }
}

// ---------------------------------------------------------- base encodings

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
            EXPECT_EQ(encoding_unicode(BaseEncoding::WinAnsi)[code], cp);
            ++win;
        } else if (table == "mac") {
            EXPECT_EQ(encoding_unicode(BaseEncoding::MacRoman)[code], cp);
            ++mac;
        } else {
            ADD_FAILURE() << "unknown table";
        }
    }
    EXPECT_EQ(win, 256);
    EXPECT_EQ(mac, 256);
}

// The built-in encodings are the C codes of the AFM files: the twelve Latin
// fonts all use StandardEncoding.
TEST(Encodings, BuiltInEncodingsAreTheAfmCodes) {
    SKIP_WITHOUT_SHARED_DATA();
    struct Font {
        const char* name;
        BaseEncoding encoding;
    };
    const Font fonts[] = {
        {"Courier", BaseEncoding::Standard},     {"Courier-BoldOblique", BaseEncoding::Standard},
        {"Helvetica", BaseEncoding::Standard},   {"Helvetica-Bold", BaseEncoding::Standard},
        {"Times-Roman", BaseEncoding::Standard}, {"Times-Italic", BaseEncoding::Standard},
        {"Symbol", BaseEncoding::Symbol},        {"ZapfDingbats", BaseEncoding::ZapfDingbats},
    };
    for (const Font& f : fonts) {
        SCOPED_TRACE(f.name);
        GlyphNameTable want{};
        const auto glyphs = vellox_test::read_afm(f.name);
        ASSERT_FALSE(glyphs.empty());
        for (const auto& g : glyphs) {
            if (g.code >= 0 && g.code < 256) want[static_cast<std::size_t>(g.code)] = g.name;
        }
        const GlyphNameTable& got = encoding_glyph_names(f.encoding);
        for (std::size_t code = 0; code < 256; ++code) {
            EXPECT_EQ(got[code], want[code]) << "code " << code;
        }
    }
}

// reportlab_tables.txt holds reportlab's own copies of the five encodings
// (fixtures/std14/make_reportlab_tables.py). They agree code for code except
// where reportlab follows PDF's printed tables and we follow the character
// sets our Unicode tables keep: reportlab draws WinAnsi's undefined codes as
// bullets, and leaves out of MacRoman the Mac OS characters the Latin fonts
// do have (notequal...), with currency where Apple's current table has the
// euro.
TEST(Encodings, NamesMatchReportlabsTables) {
    std::ifstream in(VELLOX_SOURCE_DIR "/core/tests/fixtures/std14/reportlab_tables.txt");
    ASSERT_TRUE(in) << "missing oracle file";
    const std::map<std::string, BaseEncoding> encodings = {
        {"StandardEncoding", BaseEncoding::Standard},
        {"WinAnsiEncoding", BaseEncoding::WinAnsi},
        {"MacRomanEncoding", BaseEncoding::MacRoman},
        {"SymbolEncoding", BaseEncoding::Symbol},
        {"ZapfDingbatsEncoding", BaseEncoding::ZapfDingbats}};
    std::map<BaseEncoding, GlyphNameTable> want;
    std::deque<std::string> storage;  // the names the tables view
    std::string kind, encoding, glyph;
    while (in >> kind) {
        if (kind != "enc") {
            std::getline(in, glyph);
            continue;
        }
        unsigned code = 0;
        in >> encoding >> std::hex >> code >> std::dec >> glyph;
        ASSERT_LT(code, 256u);
        ASSERT_TRUE(encodings.count(encoding)) << encoding;
        storage.push_back(glyph);
        want[encodings.at(encoding)][code] = storage.back();
    }
    ASSERT_EQ(want.size(), 5u);
    struct Difference {
        BaseEncoding encoding;
        unsigned code;
        std::string_view ours;
    };
    const Difference differences[] = {
        {BaseEncoding::WinAnsi, 0x7F, ""},
        {BaseEncoding::WinAnsi, 0x81, ""},
        {BaseEncoding::WinAnsi, 0x8D, ""},
        {BaseEncoding::WinAnsi, 0x8F, ""},
        {BaseEncoding::WinAnsi, 0x90, ""},
        {BaseEncoding::WinAnsi, 0x9D, ""},
        {BaseEncoding::MacRoman, 0xAD, "notequal"},
        {BaseEncoding::MacRoman, 0xB2, "lessequal"},
        {BaseEncoding::MacRoman, 0xB3, "greaterequal"},
        {BaseEncoding::MacRoman, 0xB6, "partialdiff"},
        {BaseEncoding::MacRoman, 0xB7, "summation"},
        {BaseEncoding::MacRoman, 0xC3, "radical"},
        {BaseEncoding::MacRoman, 0xC6, "Delta"},
        {BaseEncoding::MacRoman, 0xD7, "lozenge"},
        {BaseEncoding::MacRoman, 0xDB, "Euro"},
    };
    for (const Difference& d : differences) want[d.encoding][d.code] = d.ours;
    for (const BaseEncoding e : kAllEncodings) {
        for (std::size_t code = 0; code < 256; ++code) {
            EXPECT_EQ(encoding_glyph_names(e)[code], want[e][code])
                << "encoding " << static_cast<int>(e) << " code " << code;
        }
    }
}

// What each code means and the glyph that draws it agree, except where the
// Latin fonts draw a character with another's glyph, and except the codes
// whose character they have no glyph for.
TEST(Encodings, NamesAndCharactersAgree) {
    struct Exception {
        BaseEncoding encoding;
        unsigned code;
    };
    const Exception drawn_by_another[] = {{BaseEncoding::WinAnsi, 0xA0},
                                          {BaseEncoding::WinAnsi, 0xAD},
                                          {BaseEncoding::MacRoman, 0xCA}};
    const unsigned mac_without_glyph[] = {0xB0, 0xB8, 0xB9, 0xBA, 0xBD, 0xC5, 0xF0};
    for (const BaseEncoding e : kAllEncodings) {
        const GlyphNameTable& names = encoding_glyph_names(e);
        const EncodingTable& chars = encoding_unicode(e);
        for (unsigned code = 0; code < 256; ++code) {
            SCOPED_TRACE("encoding " + std::to_string(static_cast<int>(e)) + " code " +
                         std::to_string(code));
            bool exception = false;
            for (const auto& x : drawn_by_another) exception |= x.encoding == e && x.code == code;
            if (names[code].empty()) {
                const bool control = (code > 0 && code < 0x20) || code == 0x7F;
                bool unnamed = false;
                for (const unsigned m : mac_without_glyph)
                    unnamed |= e == BaseEncoding::MacRoman && code == m;
                const bool by_character_set =
                    e == BaseEncoding::WinAnsi || e == BaseEncoding::MacRoman;
                EXPECT_EQ(chars[code] != 0, by_character_set && (control || unnamed));
            } else if (!exception) {
                EXPECT_EQ(glyph_to_unicode(names[code], list_of(e)), chars[code]) << names[code];
            }
        }
    }
    EXPECT_EQ(encoding_glyph_names(BaseEncoding::WinAnsi)[0xA0], "space");
    EXPECT_EQ(encoding_unicode(BaseEncoding::WinAnsi)[0xA0], 0xA0u);
}

TEST(Encodings, SpotValues) {
    struct Case {
        BaseEncoding encoding;
        unsigned code;
        std::uint32_t cp;
    };
    const Case cases[] = {
        // StandardEncoding's upper half, absent before: “ ” Ø Ł fi.
        {BaseEncoding::Standard, 0x27, 0x2019},     {BaseEncoding::Standard, 0x60, 0x2018},
        {BaseEncoding::Standard, 0xAA, 0x201C},     {BaseEncoding::Standard, 0xBA, 0x201D},
        {BaseEncoding::Standard, 0xE9, 0xD8},       {BaseEncoding::Standard, 0xE8, 0x141},
        {BaseEncoding::Standard, 0xAE, 0xFB01},     {BaseEncoding::Standard, 0xA4, 0x2044},
        {BaseEncoding::Standard, 0xFB, 0xDF},       {BaseEncoding::Standard, 0x80, 0},
        {BaseEncoding::Standard, 0xA0, 0},          {BaseEncoding::Standard, 0x7F, 0},
        {BaseEncoding::Symbol, 0x41, 0x391},        {BaseEncoding::Symbol, 0x61, 0x3B1},
        {BaseEncoding::Symbol, 0x57, 0x2126},       {BaseEncoding::Symbol, 0xA0, 0x20AC},
        {BaseEncoding::Symbol, 0xE5, 0x2211},       {BaseEncoding::Symbol, 0xF0, 0},
        {BaseEncoding::ZapfDingbats, 0x20, 0x20},   {BaseEncoding::ZapfDingbats, 0x21, 0x2701},
        {BaseEncoding::ZapfDingbats, 0x80, 0x2768}, {BaseEncoding::ZapfDingbats, 0xFE, 0x27BE},
        {BaseEncoding::ZapfDingbats, 0x41, 0x2721}, {BaseEncoding::ZapfDingbats, 0xFF, 0},
        {BaseEncoding::WinAnsi, 0x80, 0x20AC},      {BaseEncoding::MacRoman, 0x8E, 0xE9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.encoding)) + " code " +
                     std::to_string(c.code));
        EXPECT_EQ(encoding_unicode(c.encoding)[c.code], c.cp);
    }
    int standard = 0;
    for (const std::string_view n : encoding_glyph_names(BaseEncoding::Standard))
        standard += !n.empty();
    EXPECT_EQ(standard, 149);
}

TEST(Encodings, ChosenByExactName) {
    struct Case {
        std::string_view name;
        std::optional<BaseEncoding> encoding;
    };
    const Case cases[] = {
        {"MacRomanEncoding", BaseEncoding::MacRoman},
        {"StandardEncoding", BaseEncoding::Standard},
        {"WinAnsiEncoding", BaseEncoding::WinAnsi},
        {"MacExpertEncoding", std::nullopt},
        {"", std::nullopt},
        {"MacRomanEncoding ", std::nullopt},
        {"StandardEncodin", std::nullopt},
        {"macromanencoding", std::nullopt},
        {"Symbol", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_EQ(base_encoding_named(c.name), c.encoding);
        const EncodingTable& want = encoding_unicode(c.encoding.value_or(BaseEncoding::WinAnsi));
        EXPECT_EQ(&base_encoding(c.name), &want);
    }
    EXPECT_EQ(&win_ansi_encoding(), &encoding_unicode(BaseEncoding::WinAnsi));
    EXPECT_EQ(base_encoding("Nope")[0x80], 0x20ACu);
    EXPECT_EQ(base_encoding("Nope")[0x81], 0u);
}

// ------------------------------------------------------------- /Differences

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
        {"names the old table lacked",
         names_and_ints({0x41, Name{"Lslash"}, Name{"Scedilla"}}),
         {{0x41, 0x141}, {0x42, 0x15E}}},
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
        {"lower case and signs rejected",
         names_and_ints({32, Name{"uni00e9"}, Name{"uni+041"}}),
         {}},
        {"several characters keep base",
         names_and_ints({32, Name{"f_f_i"}, Name{"fi"}}),
         {{33, 0xFB01}}},
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
    // The base passed in is what unconvertible names keep, and the list
    // passed in reads the names.
    const EncodingTable mac = apply_differences(encoding_unicode(BaseEncoding::MacRoman),
                                                names_and_ints({0x8E, Name{"zzz"}, Name{"A"}}));
    EXPECT_EQ(mac[0x8E], 0xE9u);
    EXPECT_EQ(mac[0x8F], 0x41u);
    const Array dingbats = names_and_ints({0x21, Name{"a2"}});
    EXPECT_EQ(apply_differences(win, dingbats, GlyphList::ZapfDingbats)[0x21], 0x2702u);
    EXPECT_EQ(apply_differences(win, dingbats)[0x21], 0x21u);
}

// The walk hands out the names themselves, so a loader can keep per-code
// glyph names for widths and read ligature names into several characters.
TEST(Differences, VisitsEachNameAtItsCode) {
    const Array diffs = names_and_ints(
        {-3, Name{"f_f_i"}, 1.0, 254, Name{"g7"}, Name{"x"}, Name{"dropped"}, 7, Name{"a.sc"}});
    std::vector<std::pair<unsigned, std::string>> seen;
    for_each_difference(diffs, [&](std::uint8_t code, std::string_view name) {
        seen.emplace_back(code, std::string(name));
    });
    const std::vector<std::pair<unsigned, std::string>> want = {
        {0, "f_f_i"}, {254, "g7"}, {255, "x"}, {7, "a.sc"}};
    EXPECT_EQ(seen, want);

    GlyphNameTable names = encoding_glyph_names(BaseEncoding::Standard);
    for_each_difference(diffs,
                        [&](std::uint8_t code, std::string_view name) { names[code] = name; });
    EXPECT_EQ(names[0], "f_f_i");
    EXPECT_EQ(names[7], "a.sc");
    EXPECT_EQ(names[0x41], "A");
    std::string text;
    EXPECT_TRUE(glyph_text(names[0], text));
    EXPECT_EQ(text, "ffi");
}
