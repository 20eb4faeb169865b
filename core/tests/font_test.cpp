#include "font.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/cpu_time.h"
#include "support/parse.h"
#include "support/tiny_pdf.h"

using namespace vellox_core;
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
        {"<< /FirstChar 32 /Widths [250 0 /x 500] >>", {{32, .25}, {33, 0}, {35, .5}}},
        {"<< /Widths [250] >>", {{0, .25}}},
        {"<< /FirstChar 32.0 /Widths [250] >>", {{0, .25}}},
        {"<< /FirstChar 3 0 R /Widths [250] >>", {{0, .25}}},
        {"<< /FirstChar -1 /Widths [250 300] >>", {{0, .3}}},
        {"<< /FirstChar 4294967295 /Widths [250 300] /LastChar 0 >>", {{4294967295u, .25}}},
        {"<< /FirstChar 32 /Widths 250 >>", {}},
        {"<< /Subtype /TrueType /FirstChar 65 /Widths [722] >>", {{65, .722}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.font));
        const Font f = font_of(c.font);
        EXPECT_FALSE(f.composite);
        EXPECT_DOUBLE_EQ(f.default_width, 0.5);
        EXPECT_EQ(sorted(f.widths), c.widths);
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
        EXPECT_EQ(f.encoding, EncodingTable{});
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
    EXPECT_EQ(sorted(simple.widths), (std::map<std::uint32_t, double>{{10, .25}, {11, .3}}));
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
        EXPECT_EQ(sorted(load_font(r2, dict_of(c.font)).widths), c.widths);
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
    // /Widths entry or the default, as the width map holds them.
    for (const std::string_view text : {"<< /FirstChar 254 /Widths [100 200 300] >>",
                                        "<< /FirstChar 0 /Widths [700 /x 900] >>"}) {
        for (const bool with_cmap : {false, true}) {
            SCOPED_TRACE(std::string(text) + (with_cmap ? " with CMap" : ""));
            Font f = font_of(text);
            if (with_cmap) f.to_unicode = CMap{};
            for (int code = 0; code < 256; ++code) {
                const std::string byte(1, static_cast<char>(code));
                std::string out;
                const auto found = f.widths.find(static_cast<std::uint32_t>(code));
                const double expected = found != f.widths.end() ? found->second : 0.5;
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
    // 0x0102 is one code; the trailing 0x03 is a code of its own.
    Font f = font_of("<< /Subtype /Type0 /DescendantFonts [<< /DW 0 /W [258 [100] 3 [200]] >>] >>");
    double adv = 0;
    EXPECT_EQ(shown(f, "\x01\x02\x03", &adv), "");  // no CMap: no text
    EXPECT_DOUBLE_EQ(adv, (0.1 + 0.2) * 10);

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

TEST(FontShow, EncodingEntriesThatAreNotCharacters) {
    Font f = font_of("<< >>");
    f.encoding['a'] = 0xD800;
    f.encoding['b'] = 0x110000;
    f.encoding['c'] = 0x1F600;
    double adv = 0;
    EXPECT_EQ(shown(f, "abc\x81", &adv), "\xf0\x9f\x98\x80");
    EXPECT_DOUBLE_EQ(adv, 20);
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

TEST(FontLoad, FontsOfResources) {
    TinyPdf pdf;
    pdf.add(1, "<< /F1 2 0 R /Gone 99 0 R /Num 5 /F3 << /Subtype /Type0 >> /F4 4 0 R >>");
    pdf.add(2, "<< /FirstChar 65 /Widths [900] >>");
    pdf.add(4, "<< /Subtype /Type0 >>\nstream\n\nendstream");
    const Resolver r = pdf.resolver();
    const auto load = [&r](std::string_view resources) {
        FontCache cache;
        return FontMap(load_fonts(r, dict_of(resources), cache));
    };
    const FontMap fonts = load("<< /Font 1 0 R >>");
    ASSERT_EQ(fonts.size(), 3u);
    EXPECT_DOUBLE_EQ(fonts.at("F1")->widths.at(65), 0.9);
    EXPECT_TRUE(fonts.at("F3")->composite);
    EXPECT_TRUE(fonts.at("F4")->composite);  // a stream counts as its dictionary

    EXPECT_TRUE(load("<< /Font 99 0 R >>").empty());
    EXPECT_TRUE(load("<< /Font [2 0 R] >>").empty());
    EXPECT_TRUE(load("<< /XObject << >> >>").empty());
    EXPECT_EQ(load("<< /Font << /A 2 0 R >> >>").count("A"), 1u);
}
