#include "font.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "content.h"
#include "doc.h"
#include "page.h"
#include "support/cff_font.h"
#include "support/cpu_time.h"
#include "support/parse.h"
#include "support/read_file.h"
#include "support/tiny_pdf.h"
#include "support/zlib_compress.h"
#include "text.h"

using namespace vellox_core;
using namespace std::string_view_literals;
using vellox_test::TinyPdf;

namespace {

Dictionary dict_of(std::string_view text) {
    auto parsed = vellox_test::parse(text);
    EXPECT_TRUE(parsed.ok()) << text;
    if (!parsed.ok() || parsed->as_dict() == nullptr) return {};
    return *parsed->as_dict();
}

Font font_of(std::string_view text) {
    const TinyPdf pdf;
    return load_font(pdf.resolver(), dict_of(text));
}

std::map<std::uint32_t, double> sorted(const WidthMap& w) { return {w.begin(), w.end()}; }

// A loaded simple font's widths that differ from its default, by code: the
// 256-entry table holds them all, and nothing is left in the map.
std::map<std::uint32_t, double> simple_widths(const Font& f) {
    EXPECT_TRUE(f.widths.empty());
    EXPECT_EQ(f.byte_widths.size(), 256u);
    std::map<std::uint32_t, double> out;
    for (std::uint32_t code = 0; code < f.byte_widths.size(); ++code) {
        if (f.byte_widths[code] != f.default_width) out[code] = f.byte_widths[code];
    }
    return out;
}

const std::filesystem::path kFixtures =
    std::filesystem::path(VELLOX_SOURCE_DIR) / "core" / "tests" / "fixtures";

// The text runs of the first page of a fixture, through the page pipeline:
// fonts loaded from the page's resources, the content through the text
// machine.
std::vector<TextRun> first_page_runs(const std::filesystem::path& path) {
    const std::string data = vellox_test::read_file(path);
    auto doc = Document::parse_with_password(as_bytes(data), {});
    EXPECT_TRUE(doc.ok()) << path;
    if (!doc) return {};
    auto pages = doc->pages();
    if (!pages || pages->empty()) return {};
    FontCache cache;
    auto drawing = interpret_page(doc->resolver, pages->front(), cache);
    EXPECT_TRUE(drawing.ok());
    if (!drawing) return {};
    return std::move(drawing->runs);
}

// Everything but ASCII spaces: TeX sets words apart by moving, not by
// space characters, so the runs of a line have no spaces to compare.
std::string squeezed(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '\n') out += c;
    }
    return out;
}

std::string joined(const std::vector<TextRun>& runs) {
    std::string out;
    for (const TextRun& run : runs) out += run.text;
    return out;
}

std::string shown(const Font& font, std::string_view bytes, double* advance = nullptr) {
    std::string out = "<";  // show_into appends; it must not clear
    const double adv = font.show_into(as_bytes(bytes), out, 0, 0, 10, 1);
    if (advance != nullptr) *advance = adv;
    return out.substr(1);
}

}  // namespace

TEST(FontWidths, CompositeWArray) {
    struct Case {
        std::string_view w;
        std::map<std::uint32_t, double> widths;
    };
    const Case cases[] = {
        {"[1 [500 600] 10 12 700]", {{1, .5}, {2, .6}, {10, .7}, {11, .7}, {12, .7}}},
        {"[1 2]", {}},
        {"[/x 1 [500]]", {}},
        {"[1 [500] /x 5 [100]]", {{1, .5}}},
        {"[1 [500 /x 700.5]]", {{1, .5}, {3, .7005}}},
        {"[5 3 700]", {}},
        {"[1 2 /x 5 [100]]", {{5, .1}}},
        {"[1 2.0 300 5 [100]]", {{5, .1}}},
        {"[1 1 300 2]", {{1, .3}}},
        {"[-2 [100 200 300]]", {{0, .3}}},
        {"[-5 1 250]", {{0, .25}, {1, .25}}},
        {"[4294967295 [100 200]]", {{4294967295u, .1}}},
        {"[9223372036854775807 [100 200]]", {}},
        {"[1 []]", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.w));
        const Font f =
            font_of("<< /Subtype /Type0 /DescendantFonts [<< /W " + std::string(c.w) + " >>] >>");
        EXPECT_TRUE(f.composite);
        EXPECT_EQ(sorted(f.widths), c.widths);
    }
}

TEST(FontWidths, HugeRangeStopsAtTwoByteCodes) {
    const double start = vellox_test::cpu_seconds();
    const Font f = font_of(
        "<< /Subtype /Type0 /DescendantFonts [<< /W [0 4294967295 500 "
        "70000 4294967295 100 4294967290 4294967295 100] >>] >>");
    EXPECT_LT(vellox_test::cpu_seconds() - start, 2.0);
    EXPECT_EQ(f.widths.size(), 65536u);
    EXPECT_DOUBLE_EQ(f.widths.at(65535), 0.5);
    EXPECT_EQ(f.widths.count(65536), 0u);
}

TEST(FontWidths, SimpleFirstCharAndWidths) {
    struct Case {
        std::string_view font;
        std::map<std::uint32_t, double> widths;
    };
    const Case cases[] = {
        {"<< /FirstChar 32 /Widths [250 0 /x 600] >>", {{32, .25}, {33, 0}, {35, .6}}},
        {"<< /Widths [250] >>", {{0, .25}}},
        {"<< /FirstChar 32.0 /Widths [250] >>", {{0, .25}}},
        {"<< /FirstChar 3 0 R /Widths [250] >>", {{0, .25}}},
        {"<< /FirstChar -1 /Widths [250 300] >>", {{0, .3}}},
        // Codes past a byte name nothing a simple font can show.
        {"<< /FirstChar 4294967295 /Widths [250 300] /LastChar 0 >>", {}},
        {"<< /FirstChar 254 /Widths [100 200 300] >>", {{254, .1}, {255, .2}}},
        {"<< /FirstChar 32 /Widths 250 >>", {}},
        {"<< /Subtype /TrueType /FirstChar 65 /Widths [722] >>", {{65, .722}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.font));
        const Font f = font_of(c.font);
        EXPECT_FALSE(f.composite);
        EXPECT_DOUBLE_EQ(f.default_width, 0.5);
        EXPECT_EQ(simple_widths(f), c.widths);
    }
}

TEST(FontWidths, DefaultWidthOfComposites) {
    struct Case {
        std::string_view font;
        double dw;
    };
    const Case cases[] = {
        {"<< /Subtype /Type0 /DescendantFonts [<< /DW 500 >>] >>", 0.5},
        {"<< /Subtype /Type0 /DescendantFonts [<< /DW 250.5 >>] >>", 0.2505},
        {"<< /Subtype /Type0 /DescendantFonts [<< /DW /x >>] >>", 1.0},
        {"<< /Subtype /Type0 /DescendantFonts [<< >>] >>", 1.0},
        {"<< /Subtype /Type0 /DescendantFonts [] >>", 1.0},
        {"<< /Subtype /Type0 /DescendantFonts [5] >>", 1.0},
        {"<< /Subtype /Type0 >>", 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.font));
        const Font f = font_of(c.font);
        EXPECT_TRUE(f.composite);
        EXPECT_DOUBLE_EQ(f.default_width, c.dw);
        EXPECT_TRUE(f.widths.empty());
        EXPECT_EQ(f.texts, KeyedTexts{});
    }
    // Only a direct name of exactly "Type0" makes a composite font.
    EXPECT_FALSE(font_of("<< /Subtype /Type0x /DescendantFonts [<< /DW 500 >>] >>").composite);
    EXPECT_FALSE(font_of("<< /Subtype (Type0) >>").composite);
}

TEST(FontWidths, ResolvesIndirectArraysAndDescendants) {
    TinyPdf pdf;
    pdf.add(1, "[250 300]");
    pdf.add(2, "<< /DW 2000 /W 3 0 R >>");
    pdf.add(3, "[7 [100]]");
    pdf.add(4, "[2 0 R]");
    const Resolver r = pdf.resolver();
    const Font simple = load_font(r, dict_of("<< /FirstChar 10 /Widths 1 0 R >>"));
    EXPECT_EQ(simple_widths(simple), (std::map<std::uint32_t, double>{{10, .25}, {11, .3}}));
    const Font cid = load_font(r, dict_of("<< /Subtype /Type0 /DescendantFonts 4 0 R >>"));
    EXPECT_DOUBLE_EQ(cid.default_width, 2.0);
    EXPECT_EQ(sorted(cid.widths), (std::map<std::uint32_t, double>{{7, .1}}));
    // The array's elements are not resolved: a reference among the widths
    // is no number and stores nothing, though it takes its code's place.
    pdf.add(5, "[6 0 R 300]");
    pdf.add(6, "250");
    const Resolver r2 = pdf.resolver();
    struct Case {
        const char* font;
        std::map<std::uint32_t, double> widths;
    };
    const Case cases[] = {
        {"<< /FirstChar 10 /Widths 5 0 R >>", {{11, .3}}},
        {"<< /FirstChar 10 /Widths 99 0 R >>", {}},  // does not resolve
        {"<< /FirstChar 10 /Widths 6 0 R >>", {}},   // resolves to no array
        {"<< /FirstChar 10 /Widths [6 0 R 300] >>", {{11, .3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.font);
        EXPECT_EQ(simple_widths(load_font(r2, dict_of(c.font))), c.widths);
    }
}

TEST(FontShow, SimpleFontAdvances) {
    Font f = font_of("<< /FirstChar 65 /Widths [600] >>");
    std::string out;
    // A 0.6 wide, b and space default 0.5; Tc 1, Tw 2, scale 0.5, size 10.
    const double adv = f.show_into(as_bytes("A b"), out, 1, 2, 10, 0.5);
    EXPECT_EQ(out, "A b");
    EXPECT_DOUBLE_EQ(adv, ((6 + 1) + (5 + 1 + 2) + (5 + 1)) * 0.5);
    EXPECT_DOUBLE_EQ(f.show_into(ByteView{}, out, 1, 2, 10, 1), 0);
    EXPECT_EQ(out, "A b");
}

TEST(FontShow, EveryByteAdvancesByItsMappedWidth) {
    // Widths at both ends of the byte range, one past it, and a non-number;
    // with and without a (here empty) CMap: each byte's advance is its
    // /Widths entry or the default.
    struct Case {
        std::string_view font;
        std::map<std::uint32_t, double> widths;
    };
    const Case cases[] = {
        {"<< /FirstChar 254 /Widths [100 200 300] >>", {{254, .1}, {255, .2}}},
        {"<< /FirstChar 0 /Widths [700 /x 900] >>", {{0, .7}, {2, .9}}},
    };
    for (const Case& c : cases) {
        for (const bool with_cmap : {false, true}) {
            SCOPED_TRACE(std::string(c.font) + (with_cmap ? " with CMap" : ""));
            Font f = font_of(c.font);
            if (with_cmap) f.to_unicode = CMap{};
            for (std::uint32_t code = 0; code < 256; ++code) {
                const std::string byte(1, static_cast<char>(code));
                std::string out;
                const auto found = c.widths.find(code);
                const double expected = found != c.widths.end() ? found->second : 0.5;
                EXPECT_DOUBLE_EQ(f.show_into(as_bytes(byte), out, 0, 0, 10, 1), expected * 10)
                    << code;
            }
            // A font assembled by hand has no byte table and reads the map.
            f.byte_widths.clear();
            f.widths[66] = 2.0;
            std::string out;
            EXPECT_DOUBLE_EQ(f.show_into(as_bytes("B"), out, 0, 0, 10, 1), 20);
        }
    }
}

TEST(FontShow, CompositeCodesAreTwoBytesWithOddTail) {
    // 0x0102 is one code; the trailing 0x03 is a stray byte.
    Font f = font_of("<< /Subtype /Type0 /DescendantFonts [<< /DW 0 /W [258 [100] 3 [200]] >>] >>");
    double adv = 0;
    EXPECT_EQ(shown(f, "\x01\x02\x03", &adv), "");  // no CMap: no text
    // The odd last byte is no whole code: it shows CID 0, of width /DW.
    EXPECT_DOUBLE_EQ(adv, (0.1 + 0) * 10);

    f.to_unicode = CMap{};
    f.to_unicode->map[258] = "X";
    f.to_unicode->map[3] = "YZ";
    f.to_unicode->map[0x41] = "no";
    EXPECT_EQ(shown(f, "\x01\x02\x03", &adv), "XYZ");
    // Codes a composite CMap lacks give no text, not the Windows table.
    EXPECT_EQ(shown(f, std::string_view("\x00\x42", 2)), "");
}

TEST(FontShow, WordSpacingOnlyForSingleByte32) {
    const Font simple = font_of("<< >>");
    const Font composite = font_of("<< /Subtype /Type0 >>");
    std::string out;
    EXPECT_DOUBLE_EQ(simple.show_into(as_bytes(" "), out, 0, 2, 10, 0.5), (5 + 2) * 0.5);
    EXPECT_DOUBLE_EQ(simple.show_into(as_bytes("!"), out, 0, 2, 10, 0.5), 5 * 0.5);
    EXPECT_DOUBLE_EQ(
        composite.show_into(as_bytes(std::string_view("\x00\x20", 2)), out, 0, 2, 10, 1), 10);
    // An odd trailing byte 32 of a composite string is no word break either.
    EXPECT_DOUBLE_EQ(composite.show_into(as_bytes(" "), out, 0, 2, 10, 1), 10);
}

TEST(FontShow, CMapBeforeEncoding) {
    Font f = font_of("<< >>");
    f.to_unicode = CMap{};
    f.to_unicode->map['A'] = "";              // a hit with empty text suppresses the table
    f.to_unicode->map['B'] = "\xef\xac\x81";  // U+FB01
    f.to_unicode->ranges.push_back({'a', 'c', 0x3B1});
    double adv = 0;
    EXPECT_EQ(shown(f, "ABCab", &adv),
              "\xef\xac\x81"
              "C\xce\xb1\xce\xb2");
    EXPECT_DOUBLE_EQ(adv, 25);  // every code advances, mapped or not
}

TEST(FontEncoding, BuildsFromEncodingEntry) {
    TinyPdf pdf;
    pdf.add(1, "/MacRomanEncoding");
    pdf.add(2, "<< /BaseEncoding /MacRomanEncoding /Differences [65 /B] >>");
    pdf.add(3, "<< /Differences [66 /A] >>\nstream\nxx\nendstream");
    pdf.add(4, "[65 /B]");
    const Resolver r = pdf.resolver();
    struct Case {
        std::string_view font;
        std::string_view bytes;
        std::string_view text;
    };
    const Case cases[] = {
        // No /Encoding: Windows code page 1252; 0x81 is undefined there.
        {"<< >>", "\x80\x81\x8e\xe9", "\xe2\x82\xac\xc5\xbd\xc3\xa9"},
        // StandardEncoding: typographic quotes at ' and `, Oslash at 0xE9.
        {"<< /Encoding /StandardEncoding >>", "'\xe9`", "\xe2\x80\x99\xc3\x98\xe2\x80\x98"},
        {"<< /Encoding /MacRomanEncoding >>", "\x8e", "\xc3\xa9"},
        {"<< /Encoding /WinAnsiEncoding >>", "\x8e", "\xc5\xbd"},
        {"<< /Encoding 1 0 R >>", "\x8e", "\xc3\xa9"},
        {"<< /Encoding 99 0 R >>", "\x80", "\xe2\x82\xac"},
        {"<< /Encoding 12 >>", "\x80", "\xe2\x82\xac"},
        {"<< /Encoding [/MacRomanEncoding] >>", "\x8e", "\xc5\xbd"},
        {"<< /Encoding << /BaseEncoding /MacRomanEncoding >> >>", "\x8e", "\xc3\xa9"},
        // BaseEncoding must be a direct name; an indirect one means Windows.
        {"<< /Encoding << /BaseEncoding 1 0 R >> >>", "\x8e", "\xc5\xbd"},
        {"<< /Encoding << /Differences [65 /B /uni0043 /zzz] >> >>", "ABCD", "BCCD"},
        {"<< /Encoding 2 0 R >>", "A\x8e", "B\xc3\xa9"},
        {"<< /Encoding 3 0 R >>", "AB\x80", "AA\xe2\x82\xac"},
        // /Differences must be a direct array.
        {"<< /Encoding << /Differences 4 0 R >> >>", "A", "A"},
        {"<< /Encoding << /Differences [65 /B] >> /Subtype /Type0 >>", "A", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.font));
        const Font f = load_font(r, dict_of(c.font));
        EXPECT_EQ(shown(f, c.bytes), c.text);
    }
}

TEST(FontLoad, ToUnicodeStream) {
    TinyPdf pdf;
    const std::string cmap = "begincmap 1 beginbfchar <41> <0078> endbfchar endcmap";
    pdf.add(1,
            "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream");
    pdf.add(2, "<< /Filter /Bogus /Length 3 >>\nstream\nabc\nendstream");
    pdf.add(3, "<< >>");
    const Resolver r = pdf.resolver();
    struct Case {
        std::string_view font;
        bool has_cmap;
        std::string_view text;
    };
    const Case cases[] = {
        {"<< /ToUnicode 1 0 R >>", true, "xB"},
        {"<< /ToUnicode 2 0 R >>", false, "AB"},  // undecodable stream
        {"<< /ToUnicode 3 0 R >>", false, "AB"},  // not a stream
        {"<< /ToUnicode 99 0 R >>", false, "AB"},
        {"<< /ToUnicode /Identity-H >>", false, "AB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.font));
        const Font f = load_font(r, dict_of(c.font));
        EXPECT_EQ(f.to_unicode.has_value(), c.has_cmap);
        EXPECT_EQ(shown(f, "AB"), c.text);
    }
}

TEST(FontLoad, ToUnicodeFoldedIntoOneTextPerCode) {
    // A loaded simple font shows its codes from one table, the ToUnicode
    // map's entries over the encoding's texts; the same font built field by
    // field, without the table, looks each code up in the map as it is
    // shown. Both must give every code the same text.
    TinyPdf pdf;
    const std::string cmap =
        "begincmap 2 beginbfchar <41> <0078> <42> <00660066> endbfchar\n"
        "1 beginbfrange <61> <63> <0391> endbfrange endcmap";
    pdf.add(1,
            "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream");
    const Resolver r = pdf.resolver();
    const Font loaded = load_font(
        r, dict_of("<< /ToUnicode 1 0 R /Encoding << /Differences [1 /f_f_l /eacute 66 /Z] >> >>"));
    ASSERT_EQ(loaded.mapped_texts.size(), 256u);
    Font looked_up = loaded;
    looked_up.mapped_texts = KeyedTexts{};
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE(code);
        const std::string one(1, static_cast<char>(code));
        EXPECT_EQ(shown(loaded, one), shown(looked_up, one));
    }
    EXPECT_EQ(shown(loaded,
                    "AB\x01"
                    "b\x02"
                    "C"),
              "xff"
              "ffl\u0392\u00e9"
              "C");
}

TEST(FontLoad, FontsOfResources) {
    TinyPdf pdf;
    pdf.add(1, "<< /F1 2 0 R /Gone 99 0 R /Num 5 /F3 << /Subtype /Type0 >> /F4 4 0 R >>");
    pdf.add(2, "<< /FirstChar 65 /Widths [900] >>");
    pdf.add(4, "<< /Subtype /Type0 >>\nstream\n\nendstream");
    const Resolver r = pdf.resolver();
    const auto load = [&r](std::string_view resources) {
        FontCache cache;
        return FontMap(*load_fonts(r, dict_of(resources), cache));
    };
    const FontMap fonts = load("<< /Font 1 0 R >>");
    ASSERT_EQ(fonts.size(), 3u);
    EXPECT_DOUBLE_EQ(fonts.at("F1")->byte_widths.at(65), 0.9);
    EXPECT_TRUE(fonts.at("F3")->composite);
    EXPECT_TRUE(fonts.at("F4")->composite);  // a stream counts as its dictionary

    EXPECT_TRUE(load("<< /Font 99 0 R >>").empty());
    EXPECT_TRUE(load("<< /Font [2 0 R] >>").empty());
    EXPECT_TRUE(load("<< /XObject << >> >>").empty());
    EXPECT_EQ(load("<< /Font << /A 2 0 R >> >>").count("A"), 1u);
}

// ------------------------------------------------ the 14 standard fonts

TEST(FontStandard, BuiltInEncodingsWithoutEncodingEntry) {
    TinyPdf pdf;
    pdf.add(1, "<< /Type /FontDescriptor /Flags 32 >>");
    const Resolver r = pdf.resolver();
    struct Case {
        std::string_view font;
        std::string_view bytes;
        std::string_view text;
    };
    const Case cases[] = {
        // Latin standard fonts: StandardEncoding, upper half included.
        {"<< /BaseFont /Helvetica >>",
         "\xaa"
         "a\xba'`\xe9\xfb",
         "\u201ca\u201d\u2019\u2018\u00d8\u00df"},
        {"<< /BaseFont /Times-Bold >>", "\xae\xaf\xd0", "\ufb01\ufb02\u2014"},
        {"<< /BaseFont /ABCDEF+Courier /FontDescriptor 1 0 R >>", "\xe8", "\u0141"},
        {"<< /BaseFont /Arial,Bold /Encoding << /Differences [65 /B] >> >>", "A\xaa", "B\u201c"},
        {"<< /BaseFont /Helvetica /Encoding /StandardEncoding >>", "\xaa\xe9", "\u201c\u00d8"},
        // A named base encoding still wins over the built-in one.
        {"<< /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>", "\xaa\xe9", "\u00aa\u00e9"},
        {"<< /BaseFont /Helvetica /Encoding << /BaseEncoding /MacRomanEncoding >> >>", "\x8e",
         "\u00e9"},
        // Symbol: Greek letters, Ω Δ μ as the Greek alphabet's, not the
        // ohm, increment and micro signs.
        {"<< /BaseFont /Symbol >>", "abgWDm\xce\xc8",
         "\u03b1\u03b2\u03b3\u03a9\u0394\u03bc\u2208\u222a"},
        {"<< /BaseFont /Symbol /Encoding << /Differences [65 /Omega /mu /pi] >> >>", "ABC",
         "\u03a9\u03bc\u03c0"},
        // Outside the Symbol font the names keep the glyph list's meaning.
        {"<< /BaseFont /Helvetica /Encoding << /Differences [65 /Omega /mu] >> >>", "AB",
         "\u2126\u00b5"},
        {"<< /BaseFont /ZapfDingbats >>", "34(", "\u2713\u2714\u2708"},
        // Not a standard font: the Windows code page, as before.
        {"<< /BaseFont /Verdana >>", "\xaa\xe9", "\u00aa\u00e9"},
        {"<< /BaseFont /Arial-Black >>", "\x80", "\u20ac"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.font));
        EXPECT_EQ(shown(load_font(r, dict_of(c.font)), c.bytes), c.text);
    }
}

TEST(FontStandard, WidthsFromMetricsWhereWidthsAreMissing) {
    struct Case {
        std::string_view font;
        std::string_view bytes;
        double width;  // of the string, at size 10
    };
    const Case cases[] = {
        // Helvetica A 667, space 278, W 944.
        {"<< /BaseFont /Helvetica >>", "A W", 6.67 + 2.78 + 9.44},
        {"<< /BaseFont /Courier-Oblique >>", "iW", 12},
        // Times-Roman fi (StandardEncoding 0xAE) 556; WinAnsi's 0x80 is the
        // Euro, 500 in Times.
        {"<< /BaseFont /Times-Roman >>", "\xae", 5.56},
        {"<< /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>", "\x80", 5},
        // /Widths wins for the codes it covers; the others take the metrics.
        {"<< /BaseFont /Helvetica /FirstChar 65 /LastChar 65 /Widths [1000] >>", "AB", 10 + 6.67},
        // A code without a glyph: /MissingWidth, else 0.
        {"<< /BaseFont /Helvetica >>", "\x01", 0},
        {"<< /BaseFont /Helvetica /FontDescriptor << /MissingWidth 250 >> >>", "\x01", 2.5},
        {"<< /BaseFont /Helvetica /Encoding << /Differences [1 /Lslash] >> >>", "\x01", 5.56},
        // Not a standard font: 0.5 em, as before.
        {"<< /BaseFont /Verdana >>", "A W", 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.font));
        double advance = 0;
        shown(font_of(c.font), c.bytes, &advance);
        EXPECT_NEAR(advance, c.width, 1e-9);
    }
}

// reportlab writes the standard fonts without /Widths, and Symbol and
// ZapfDingbats without /Encoding: the text and the string widths it
// computed from the same metrics come back.
TEST(FontStandard, ReportlabStandardFonts) {
    const std::vector<TextRun> runs = first_page_runs(kFixtures / "font" / "reportlab-std14.pdf");
    std::ifstream in(kFixtures / "font" / "reportlab-std14.txt");
    ASSERT_TRUE(in);
    std::string line;
    std::size_t i = 0;
    while (std::getline(in, line)) {
        const auto a = line.find('\t');
        const auto b = line.find('\t', a + 1);
        SCOPED_TRACE(line);
        ASSERT_LT(i, runs.size());
        EXPECT_EQ(runs[i].text, line.substr(a + 1, b - a - 1));
        EXPECT_NEAR(runs[i].width, std::stod(line.substr(b + 1)), 1e-3);
        ++i;
    }
    EXPECT_EQ(i, 5u);
    EXPECT_EQ(runs.size(), i);
}

// ---------------------------------------------------------- glyph names

TEST(FontGlyphNames, DifferencesByTheGlyphListRules) {
    struct Case {
        std::string_view differences;
        std::string_view text;  // of codes 1, 2, 3
    };
    const Case cases[] = {
        {"[1 /f_f_i /uni00410042 /a.sc]", "ffiABa"},
        {"[1 /u1F600 /u0041 /uniD83D]", "\U0001F600A"},  // no surrogates
        {"[1 /Lslash /quotedblleft /quotedblright]", "\u0141\u201c\u201d"},
        // Names outside the rules keep the base encoding's character, and
        // the Windows code page's control codes are no text.
        {"[1 /g42 /uni00e9 /cid00042]", ""},
        {"[65 /g42 /uni00e9 /cid00042]", "ABC"},
        {"[1 /space.alt /fi /T_h]", " \ufb01Th"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.differences));
        const Font f =
            font_of("<< /Encoding << /Differences " + std::string(c.differences) + " >> >>");
        const bool at_65 = c.differences.starts_with("[65");
        EXPECT_EQ(shown(f, at_65 ? "ABC" : "\x01\x02\x03"), c.text);
    }
}

TEST(FontGlyphNames, ReportlabDifferences) {
    const std::vector<TextRun> runs =
        first_page_runs(kFixtures / "font" / "reportlab-differences.pdf");
    std::string expected = vellox_test::read_file(kFixtures / "font" / "reportlab-differences.txt");
    expected.pop_back();  // the line feed
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text, expected);
}

TEST(FontShow, LongTextsWithoutByteFastPath) {
    // Codes with several characters mixed with ASCII codes, around the
    // switch from the in-place ASCII copy to the table of texts.
    const Font f = font_of("<< /Encoding << /Differences [1 /f_f_l /eacute] >> >>");
    EXPECT_EQ(shown(f,
                    "ab\x01"
                    "c\x02\x01"),
              "abfflc\u00e9ffl");
    EXPECT_EQ(shown(f, "\x02"), "\u00e9");
    EXPECT_EQ(shown(f, ""), "");
    Font with_cmap = f;
    with_cmap.to_unicode = CMap{};
    with_cmap.to_unicode->map['c'] = "C";
    EXPECT_EQ(shown(with_cmap,
                    "ab\x01"
                    "c\x02"),
              "abfflC\u00e9");
}

// ------------------------------------------------------ font programs

// Fixtures of fontprog_test with their ToUnicode maps removed
// (fixtures/font/make_fixtures.py): the text comes from the programs.
TEST(FontProgram, TextFromEmbeddedPrograms) {
    struct Case {
        std::string_view file;
        std::string_view text;
    };
    const Case cases[] = {
        // pdfTeX's Type 1 Computer Modern: CMR10's fi and ffi ligatures at
        // 0x0C and 0x0E, CMSY10's element sign at 0x32 ("2" by the Windows
        // code page), all from the programs' built-in encodings.
        {"pdflatex-cm-no-tounicode.pdf", "The \ufb01rst \ufb01ne o\ufb03ce: x \u2208 A \u222a B."},
        // The same page re-distilled by Ghostscript: CFF programs with
        // encodings of their own.
        {"ghostscript-cff-no-tounicode.pdf",
         "The \ufb01rst \ufb01ne o\ufb03ce: x \u2208 A \u222a B."},
        // LuaTeX's Identity-H CIDFontType2: glyph ids back to Unicode
        // through the program's cmap.
        {"lualatex-dejavu-no-tounicode.pdf",
         "Gr\u00fc\u00dfe, na\u00efve caf\u00e9: x \u2208 A \u222a B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file));
        EXPECT_EQ(squeezed(joined(first_page_runs(kFixtures / "font" / c.file))), squeezed(c.text));
    }
}

TEST(FontProgram, SimpleTrueTypeCodesThroughTheProgram) {
    // reportlab's subset gives its own codes (ASCII kept, others from 1 up)
    // and only a (1,0) cmap with a 'post' table without names: the ASCII
    // codes still read, and the others have nothing to go by (pdftotext
    // drops them too), not even the control characters of the Windows
    // code page.
    const std::string text =
        joined(first_page_runs(kFixtures / "font" / "reportlab-dejavu-no-tounicode.pdf"));
    EXPECT_EQ(squeezed(text), squeezed("Gre, nave caf: x  A  B"));
}

TEST(FontProgram, ProgramsAreReadOnlyWhenNeeded) {
    // A ToUnicode map for every code the font shows (/FirstChar to
    // /LastChar) leaves the program unread: a program that is not one
    // changes nothing then, and gives nothing when it is read.
    TinyPdf pdf;
    const std::string cmap = "begincmap 1 beginbfrange <41> <42> <0061> endbfrange endcmap";
    pdf.add(1,
            "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream");
    pdf.add(2, "<< /FontFile 3 0 R >>");
    pdf.add(3, "<< /Length 9 >>\nstream\nnot a font\nendstream");
    const Resolver r = pdf.resolver();
    const Font covered =
        load_font(r, dict_of("<< /ToUnicode 1 0 R /FontDescriptor 2 0 R /FirstChar 65 /LastChar 66 "
                             "/Widths [500 500] >>"));
    EXPECT_EQ(shown(covered, "AB"), "ab");
    const Font uncovered = load_font(r, dict_of("<< /FontDescriptor 2 0 R >>"));
    EXPECT_EQ(shown(uncovered, "AB\x80"), "AB\u20ac");  // the Windows code page stays
}

TEST(FontProgram, CidToGidMapStreamGivesEachCidItsGlyphsText) {
    // A TrueType descendant whose /CIDToGIDMap stream sends several CIDs to
    // one glyph (CIDs 0, 2 and 5 to the bullet; 1 to .notdef, which has no
    // text): each CID reads as its glyph does under /Identity, where the
    // CID is the glyph id. The program is the symbol fixture (glyphs
    // .notdef, space, bullet, arrowright, checkmark.alt, H22073, read by
    // their 'post' names).
    const std::string program = vellox_test::read_file(kFixtures / "fontprog" / "symbol.ttf");
    const std::uint8_t gids[] = {2, 0, 2, 3, 5, 2, 1, 3, 0, 4};
    std::string map;
    for (const std::uint8_t gid : gids) map += {'\0', static_cast<char>(gid)};
    TinyPdf pdf;
    pdf.add(1, "<< /Length " + std::to_string(program.size()) + " >>\nstream\n" + program +
                   "\nendstream");
    pdf.add(2, "<< /Length " + std::to_string(map.size()) + " >>\nstream\n" + map + "\nendstream");
    const Resolver r = pdf.resolver();
    const auto type0 = [](std::string_view cid_to_gid) {
        return "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Subtype "
               "/CIDFontType2 /FontDescriptor << /FontFile2 1 0 R >>" +
               std::string(cid_to_gid) + " >>] >>";
    };
    const Font mapped = load_font(r, dict_of(type0(" /CIDToGIDMap 2 0 R")));
    const Font identity = load_font(r, dict_of(type0("")));
    const auto code = [](std::size_t n) { return std::string{'\0', static_cast<char>(n)}; };
    std::string all;
    std::string expected;
    for (std::size_t cid = 0; cid < std::size(gids); ++cid) {
        SCOPED_TRACE(cid);
        const std::string text = shown(identity, code(gids[cid]));
        EXPECT_EQ(shown(mapped, code(cid)), text);
        all += code(cid);
        expected += text;
    }
    EXPECT_EQ(shown(mapped, code(0)), "\u2022");  // bullet
    EXPECT_EQ(shown(mapped, code(5)), "\u2022");
    EXPECT_EQ(shown(mapped, code(1)), "");
    EXPECT_EQ(shown(mapped, all), expected);
}

TEST(FontProgram, OneProgramStreamServesEveryDescriptorNamingIt) {
    // TeX subsets give several font dictionaries (one per encoding a face
    // is used at) descriptors naming one program stream; it is read once
    // per document and gives each of them its built-in encoding. A stream
    // named under another key is kept apart, since the key picks the
    // reader, and one that does not decode is remembered as nothing.
    TinyPdf pdf;
    const std::string program =
        "%!FontType1-1.0: Test\n/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\n"
        "dup 65 /fi put\ndup 66 /A put\nreadonly def\ncurrentfile eexec\n";
    pdf.add(1, "<< /Length " + std::to_string(program.size()) + " >>\nstream\n" + program +
                   "\nendstream");
    pdf.add(2, "<< /FontFile 1 0 R /Flags 4 >>");
    pdf.add(3, "<< /FontFile 1 0 R /Flags 32 >>");
    pdf.add(4, "<< /FontFile3 1 0 R >>");
    pdf.add(5, "<< /FontFile 6 0 R >>");
    pdf.add(6, "<< /Length 9 /Filter /FlateDecode >>\nstream\nnot flate\nendstream");
    const Resolver r = pdf.resolver();
    ProgramCache programs;
    const struct {
        const char* font;
        const char* text;  // of the codes "AB"; the ligature stays one character
        std::size_t programs;
    } cases[] = {
        {"<< /FontDescriptor 2 0 R >>", "\uFB01A", 1},
        {"<< /FontDescriptor 3 0 R /Encoding << /Differences [66 /B] >> >>", "\uFB01B", 1},
        {"<< /FontDescriptor 4 0 R >>", "\uFB01A", 2},
        {"<< /FontDescriptor 5 0 R >>", "AB", 3},
        {"<< /FontDescriptor 5 0 R >>", "AB", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.font);
        const Font cached = load_font(r, dict_of(c.font), programs);
        EXPECT_EQ(shown(cached, "AB"), c.text);
        EXPECT_EQ(shown(load_font(r, dict_of(c.font)), "AB"), c.text);
        EXPECT_EQ(programs.programs.size(), c.programs);
    }
}

TEST(FontProgram, CffProgramIsReadFromItsStart) {
    // A CFF program gives its charset and encoding from its first bytes:
    // code 0x41 shows glyph 1, named B (SID 35). Behind its glyph programs,
    // 20 KB of noise stand for the private data and subroutines of a real
    // font (16 symbols, so that zlib codes them in Huffman blocks, as it
    // does font data, rather than storing them). A stream whose Flate data
    // is cut there still gives the font its encoding; one cut before the
    // encoding does not, and the code keeps its WinAnsi reading.
    vellox_test::CffFont cff{{}, {}, Bytes{2, 0, 35, 0, 10}, 0, Bytes{0, 1, 0x41}, 0, 12};
    Bytes program = cff.build();
    std::uint32_t noise = 12345;
    for (int i = 0; i < 20000; ++i) {
        noise = noise * 1103515245u + 12345u;
        program.push_back(static_cast<std::uint8_t>('a' + (noise >> 28)));
    }
    const std::string flate = vellox_test::zlib_compress(as_text(program));
    ASSERT_GT(flate.size(), 8000u);
    const struct {
        std::size_t kept;  // bytes of the Flate data
        const char* text;
    } cases[] = {{flate.size(), "B"}, {flate.size() - 3000, "B"}, {40, "A"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        TinyPdf pdf;
        const std::string data = flate.substr(0, c.kept);
        pdf.add(1, "<< /Subtype /Type1C /Filter /FlateDecode /Length " +
                       std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
        pdf.add(2, "<< /FontFile3 1 0 R /Flags 4 >>");
        const Font font =
            load_font(pdf.resolver(), dict_of("<< /Subtype /Type1 /FontDescriptor 2 0 R "
                                              "/FirstChar 65 /LastChar 65 /Widths [500] >>"));
        EXPECT_EQ(shown(font, "A"), c.text);
    }
}

// ------------------------------------------------------- composite fonts

// Vertical CMaps select vertical glyphs, whose characters in the
// collections are the vertical presentation forms; Traditional Chinese
// centres its full stop, so Adobe-CNS1 keeps it.
std::string vertical_forms(std::string text, bool full_stop) {
    const std::pair<std::string_view, std::string_view> forms[] = {
        {"\u3001", "\uFE11"}, {"\u3002", full_stop ? "\uFE12" : "\u3002"}, {"\uFF0C", "\uFE10"}};
    for (const auto& [from, to] : forms) {
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
            text.replace(at, from.size(), to);
            at += to.size();
        }
    }
    return text;
}

// reportlab's non-embedded CID fonts without ToUnicode, one string each:
// the Unicode CMaps (UniJIS-UCS2-H...) decoded as UTF-16, the legacy ones
// (90ms-RKSJ-H, GBK-EUC-H, KSCms-UHC-H, ETen-B5-H) through the CMap to
// CIDs and the collection to Unicode; vertically with the -V CMaps.
TEST(FontComposite, ReportlabCidFonts) {
    const std::filesystem::path dir = kFixtures / "cidcmap";
    std::ifstream in(dir / "reportlab-cjk.txt");
    ASSERT_TRUE(in);
    std::map<std::string, std::vector<std::string>> expected;  // file -> texts in order
    std::string line;
    while (std::getline(in, line)) {
        const auto a = line.find('\t');
        const auto b = line.find('\t', a + 1);
        expected[line.substr(0, a)].push_back(line.substr(b + 1));
    }
    ASSERT_EQ(expected.size(), 2u);
    for (const auto& [file, texts] : expected) {
        SCOPED_TRACE(file);
        const bool vertical = file.find("vertical") != std::string::npos;
        const std::vector<TextRun> runs = first_page_runs(dir / file);
        ASSERT_EQ(runs.size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            SCOPED_TRACE(runs[i].font);
            // Even entries are the Unicode CMaps, odd ones the legacy CMaps.
            const bool legacy = i % 2 == 1;
            const bool cns = texts[i].find("\u7e41") != std::string::npos;  // 繁
            EXPECT_EQ(runs[i].text, vertical && legacy ? vertical_forms(texts[i], !cns) : texts[i]);
        }
    }
}

TEST(FontComposite, CMapsAndCollections) {
    TinyPdf pdf;
    const std::string cmap =
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >> def\n"
        "2 begincodespacerange <00> <7f> <8140> <9ffc> endcodespacerange\n"
        "2 begincidrange <20> <7e> 1 <889f> <88fc> 1125 endcidrange endcmap";
    pdf.add(1,
            "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream");
    pdf.add(2, "<< /WMode 1 /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap +
                   "\nendstream");
    const std::string to_unicode = "begincmap 1 beginbfchar <41> <0078> endbfchar endcmap";
    pdf.add(3, "<< /Length " + std::to_string(to_unicode.size()) + " >>\nstream\n" + to_unicode +
                   "\nendstream");
    const Resolver r = pdf.resolver();
    const std::string japan1 =
        " /DescendantFonts [<< /CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) >> >>]";
    struct Case {
        std::string font;
        std::string_view bytes;
        std::string_view text;
        bool vertical;
    };
    const Case cases[] = {
        // Unicode CMaps: the codes are the text (UTF-16 pairs included).
        {"<< /Subtype /Type0 /Encoding /UniGB-UCS2-H >>", "\x4e\x2d\x65\x87", "\u4e2d\u6587",
         false},
        {"<< /Subtype /Type0 /Encoding /UniJIS-UTF16-V >>", "\xd8\x3d\xde\x00\x00\x41"sv,
         "\U0001F600A", true},
        // A legacy CMap: one- and two-byte codes, CIDs of its collection.
        {"<< /Subtype /Type0 /Encoding /90ms-RKSJ-H >>",
         "A\x88\x9f"
         "B",
         "A\u4e9c"
         "B",
         false},
        // Identity-H with the collection from the descendant.
        {"<< /Subtype /Type0 /Encoding /Identity-H" + japan1 + " >>", "\x00\x22\x04\x65"sv,
         "A\u4e9c", false},
        {"<< /Subtype /Type0 /Encoding /Identity-V" + japan1 + " >>", "\x00\x22"sv, "A", true},
        // Adobe-Identity means nothing without a program.
        {"<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /CIDSystemInfo << "
         "/Registry (Adobe) /Ordering (Identity) >> >>] >>",
         "\x00\x22"sv, "", false},
        // An embedded CMap: its code space splits, its CIDSystemInfo names
        // the collection; /WMode 1 of its stream makes it vertical.
        {"<< /Subtype /Type0 /Encoding 1 0 R >>", "A\x88\x9f", "A\u4e9c", false},
        {"<< /Subtype /Type0 /Encoding 2 0 R >>", "A\x88\x9f", "A\u4e9c", true},
        // ToUnicode wins for the codes it maps, keyed by the split code.
        {"<< /Subtype /Type0 /Encoding 1 0 R /ToUnicode 3 0 R >>", "A\x88\x9f", "x\u4e9c", false},
        // An unknown CMap name: two-byte codes, no text.
        {"<< /Subtype /Type0 /Encoding /No-Such-CMap" + japan1 + " >>", "\x00\x22"sv, "A", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.font);
        const Font f = load_font(r, dict_of(c.font));
        EXPECT_EQ(shown(f, c.bytes), c.text);
        EXPECT_EQ(f.vertical, c.vertical);
    }
}

TEST(FontComposite, WidthsByCidAndWordSpacingOfOneByteCodes) {
    // 90ms-RKSJ-H: "A" is CID 264 (its ASCII is Adobe-Japan1's
    // proportional Latin), 0x889F CID 1125, the space CID 231: widths are
    // looked up by CID, not by code.
    const Font f = font_of(
        "<< /Subtype /Type0 /Encoding /90ms-RKSJ-H /DescendantFonts [<< /DW 1000 "
        "/W [264 [500] 1125 [900] 231 [250] 32 [0] 65 [0]] >>] >>");
    std::string out;
    EXPECT_DOUBLE_EQ(f.show_into(as_bytes("A\x88\x9f"), out, 0, 0, 10, 1), 5 + 9);
    // The one-byte space gets word spacing; a two-byte code 0x0020 does not.
    EXPECT_DOUBLE_EQ(f.show_into(as_bytes(" "), out, 1, 2, 10, 1), 2.5 + 1 + 2);
    const Font identity =
        font_of("<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /DW 1000 >>] >>");
    EXPECT_DOUBLE_EQ(identity.show_into(as_bytes("\x00\x20"sv), out, 1, 2, 10, 1), 11);
}

TEST(FontComposite, VerticalAdvances) {
    struct Case {
        std::string_view descendant;
        std::string_view bytes;  // Identity-V codes: the CIDs
        double advance;          // size 10, Tc 1, Th 0.5 (which vertical text ignores)
    };
    const Case cases[] = {
        // No /DW2: 1000 units down per glyph, whatever /W says.
        {"<< /W [1 [500]] >>", "\x00\x01\x00\x02"sv, (10 + 1) * 2},
        {"<< /DW2 [880 -500] >>", "\x00\x01"sv, 5 + 1},
        // /W2: "c [w1y vx vy ...]" and "first last w1y vx vy".
        {"<< /W2 [1 [-800 500 880 -600 500 880] 10 20 -300 500 880] >>",
         "\x00\x01\x00\x02\x00\x0f\x00\x03"sv, 8 + 6 + 3 + 10 + 4},
        // Elements that are no numbers store nothing; a bad /DW2 keeps 1000.
        {"<< /W2 [1 [/x 500 880] 2 2 -200 0 0] /DW2 [880] >>", "\x00\x01\x00\x02"sv, 10 + 2 + 2},
        {"<< /W2 [1 2 -200 0] /DW2 5 >>", "\x00\x01"sv, 10 + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.descendant));
        const Font f = font_of("<< /Subtype /Type0 /Encoding /Identity-V /DescendantFonts [" +
                               std::string(c.descendant) + "] >>");
        ASSERT_TRUE(f.vertical);
        std::string out;
        EXPECT_DOUBLE_EQ(f.show_into(as_bytes(c.bytes), out, 1, 0, 10, 0.5), c.advance);
    }
    // reportlab's vertical CID fonts write no /W2: each glyph advances by
    // the default 1000 units, down.
    const std::vector<TextRun> runs =
        first_page_runs(kFixtures / "cidcmap" / "reportlab-cjk-vertical.pdf");
    ASSERT_FALSE(runs.empty());
    EXPECT_DOUBLE_EQ(runs[0].width, 12.0 * 25);  // 25 glyphs of HeiseiMin-W3 at 12 pt
}

TEST(FontComposite, HugeW2RangeStopsAtSixteenBitCids) {
    const double start = vellox_test::cpu_seconds();
    const Font f = font_of(
        "<< /Subtype /Type0 /Encoding /Identity-V /DescendantFonts [<< /W2 [0 4294967295 -500 0 "
        "0 4294967290 4294967295 -100 0 0 -9223372036854775807 [-1 0 0]] >>] >>");
    EXPECT_LT(vellox_test::cpu_seconds() - start, 2.0);
    EXPECT_EQ(f.vertical_advances.size(), 65536u);
    EXPECT_DOUBLE_EQ(f.vertical_advance_of(65535), 0.5);
}
