#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bounds.h"
#include "std14.h"
#include "support/shared_data.h"

using namespace vellox_core;

namespace {

constexpr Std14Font kAll[] = {
    Std14Font::Courier,          Std14Font::CourierBold,
    Std14Font::CourierOblique,   Std14Font::CourierBoldOblique,
    Std14Font::Helvetica,        Std14Font::HelveticaBold,
    Std14Font::HelveticaOblique, Std14Font::HelveticaBoldOblique,
    Std14Font::TimesRoman,       Std14Font::TimesBold,
    Std14Font::TimesItalic,      Std14Font::TimesBoldItalic,
    Std14Font::Symbol,           Std14Font::ZapfDingbats,
};

}  // namespace

TEST(Std14, FontsByBaseFontName) {
    using F = Std14Font;
    struct Case {
        std::string name;
        std::optional<Std14Font> font;
    };
    const Case cases[] = {
        // The fourteen names themselves.
        {"Courier", F::Courier},
        {"Courier-Bold", F::CourierBold},
        {"Courier-Oblique", F::CourierOblique},
        {"Courier-BoldOblique", F::CourierBoldOblique},
        {"Helvetica", F::Helvetica},
        {"Helvetica-Bold", F::HelveticaBold},
        {"Helvetica-Oblique", F::HelveticaOblique},
        {"Helvetica-BoldOblique", F::HelveticaBoldOblique},
        {"Times-Roman", F::TimesRoman},
        {"Times-Bold", F::TimesBold},
        {"Times-Italic", F::TimesItalic},
        {"Times-BoldItalic", F::TimesBoldItalic},
        {"Symbol", F::Symbol},
        {"ZapfDingbats", F::ZapfDingbats},
        // Subset tags.
        {"ABCDEF+Helvetica", F::Helvetica},
        {"QWERTY+Times-Bold", F::TimesBold},
        {"ABCDE+Helvetica", std::nullopt},
        {"abcdef+Helvetica", std::nullopt},
        {"ABCDEFG+Helvetica", std::nullopt},
        {"ABC1EF+Helvetica", std::nullopt},
        // Arial is Helvetica.
        {"Arial", F::Helvetica},
        {"ArialMT", F::Helvetica},
        {"Arial,Bold", F::HelveticaBold},
        {"Arial-BoldMT", F::HelveticaBold},
        {"Arial,Italic", F::HelveticaOblique},
        {"Arial-ItalicMT", F::HelveticaOblique},
        {"Arial,BoldItalic", F::HelveticaBoldOblique},
        {"Arial-BoldItalicMT", F::HelveticaBoldOblique},
        {"ABCDEF+Arial-BoldMT", F::HelveticaBold},
        // Times New Roman is Times; Times alone is its regular face.
        {"TimesNewRoman", F::TimesRoman},
        {"TimesNewRomanPS", F::TimesRoman},
        {"TimesNewRomanPSMT", F::TimesRoman},
        {"TimesNewRoman,Bold", F::TimesBold},
        {"TimesNewRomanPS-BoldMT", F::TimesBold},
        {"TimesNewRoman,Italic", F::TimesItalic},
        {"TimesNewRomanPS-ItalicMT", F::TimesItalic},
        {"TimesNewRoman,BoldItalic", F::TimesBoldItalic},
        {"TimesNewRomanPS-BoldItalicMT", F::TimesBoldItalic},
        {"Times New Roman", F::TimesRoman},
        {"Times New Roman,Bold", F::TimesBold},
        {"Times", F::TimesRoman},
        {"Times,Italic", F::TimesItalic},
        // Courier New is Courier.
        {"CourierNew", F::Courier},
        {"CourierNewPSMT", F::Courier},
        {"CourierNew,Bold", F::CourierBold},
        {"CourierNewPS-BoldMT", F::CourierBold},
        {"CourierNew,Italic", F::CourierOblique},
        {"CourierNewPS-ItalicMT", F::CourierOblique},
        {"CourierNew,BoldItalic", F::CourierBoldOblique},
        {"CourierNewPS-BoldItalicMT", F::CourierBoldOblique},
        {"Courier New", F::Courier},
        // Comma forms of Adobe's names, and italics named for obliques.
        {"Helvetica,Bold", F::HelveticaBold},
        {"Helvetica,Italic", F::HelveticaOblique},
        {"Helvetica,BoldItalic", F::HelveticaBoldOblique},
        {"Helvetica-Italic", F::HelveticaOblique},
        {"Courier,Italic", F::CourierOblique},
        {"Courier-BoldItalic", F::CourierBoldOblique},
        // Symbol and ZapfDingbats stay themselves.
        {"Symbol,Bold", F::Symbol},
        {"Symbol,Italic", F::Symbol},
        {"Symbol,BoldItalic", F::Symbol},
        {"ABCDEF+ZapfDingbats", F::ZapfDingbats},
        // Other fonts, whose widths differ, and broken names.
        {"Arial-Black", std::nullopt},
        {"ArialNarrow", std::nullopt},
        {"Arial Unicode MS", std::nullopt},
        {"Helvetica-Condensed", std::nullopt},
        {"Helvetica-Light", std::nullopt},
        {"Times-Roman,Bold", std::nullopt},
        {"TimesNewRomanPS-BoldMTX", std::nullopt},
        {"helvetica", std::nullopt},
        {"Courier10PitchBT", std::nullopt},
        {"Calibri", std::nullopt},
        {"", std::nullopt},
        {"-Bold", std::nullopt},
        {",", std::nullopt},
        {"ABCDEF+", std::nullopt},
        {"Helvetica" + std::string(limits::kMaxFontNameBytes - 9, ' '), F::Helvetica},
        {"Helvetica" + std::string(limits::kMaxFontNameBytes - 8, ' '), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std14_font(c.name), c.font);
    }
}

TEST(Std14, NamesAndBuiltInEncodings) {
    const char* const names[] = {
        "Courier",     "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
        "Helvetica",   "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
        "Times-Roman", "Times-Bold",     "Times-Italic",      "Times-BoldItalic",
        "Symbol",      "ZapfDingbats"};
    for (std::size_t i = 0; i < std::size(kAll); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(std14_name(kAll[i]), names[i]);
        EXPECT_EQ(std14_font(names[i]), kAll[i]);
        const BaseEncoding want = kAll[i] == Std14Font::Symbol         ? BaseEncoding::Symbol
                                  : kAll[i] == Std14Font::ZapfDingbats ? BaseEncoding::ZapfDingbats
                                                                       : BaseEncoding::Standard;
        EXPECT_EQ(std14_builtin_encoding(kAll[i]), want);
    }
    const auto bad = static_cast<Std14Font>(14);
    EXPECT_EQ(std14_name(bad), "");
    EXPECT_EQ(std14_width(bad, "A"), std::nullopt);
}

TEST(Std14, WidthSpotValues) {
    using F = Std14Font;
    struct Case {
        Std14Font font;
        std::string_view glyph;
        std::optional<std::uint16_t> width;
    };
    // Values read off the AFM files by hand.
    const Case cases[] = {
        {F::Helvetica, "A", 667},
        {F::Helvetica, "space", 278},
        {F::Helvetica, "Euro", 556},
        {F::Helvetica, "lcaron", 299},
        {F::HelveticaBold, "A", 722},
        {F::TimesRoman, "space", 250},
        {F::TimesRoman, "Lslash", 611},
        {F::TimesBoldItalic, "fi", 556},
        {F::Courier, "A", 600},
        {F::CourierBoldOblique, "Euro", 600},
        {F::Symbol, "Alpha", 722},
        {F::Symbol, "apple", 790},
        {F::Symbol, "space", 250},
        {F::ZapfDingbats, "a1", 974},
        {F::ZapfDingbats, "space", 278},
        {F::ZapfDingbats, "a191", 918},
        // Glyphs the font does not have, and names that are not exact.
        {F::Helvetica, "a1", std::nullopt},
        {F::Symbol, "A", std::nullopt},
        {F::ZapfDingbats, "A", std::nullopt},
        {F::Helvetica, "A.sc", std::nullopt},
        {F::Helvetica, "", std::nullopt},
        {F::Helvetica, "Aa", std::nullopt},
        {F::Helvetica, "zzzz", std::nullopt},
        {F::Helvetica, ".notdef", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(std14_name(c.font)) + " " + std::string(c.glyph));
        EXPECT_EQ(std14_width(c.font, c.glyph), c.width);
    }
}

// Every glyph of every AFM file, those with code -1 included, has its WX;
// the Courier fonts are fixed-pitch at 600.
TEST(Std14, EveryAfmWidth) {
    if (!std::filesystem::is_directory(vellox_test::shared_data_dir())) {
        GTEST_SKIP() << "no shared data at " << vellox_test::shared_data_dir();
    }
    for (const Std14Font font : kAll) {
        const std::string name(std14_name(font));
        SCOPED_TRACE(name);
        const auto glyphs = vellox_test::read_afm(name);
        ASSERT_FALSE(glyphs.empty());
        std::size_t unencoded = 0;
        for (const auto& g : glyphs) {
            EXPECT_EQ(std14_width(font, g.name), g.width) << g.name;
            if (name.starts_with("Courier")) {
                EXPECT_EQ(g.width, 600) << g.name;
            }
            unencoded += g.code < 0;
        }
        if (font <= Std14Font::TimesBoldItalic) {
            EXPECT_EQ(glyphs.size(), 315u);
            EXPECT_EQ(unencoded, 315u - 149u);
        }
    }
}

// reportlab_tables.txt holds every third glyph width of reportlab's own
// copies of the standard fonts' metrics (fixtures/std14/make_reportlab_tables.py).
TEST(Std14, WidthsMatchReportlab) {
    std::ifstream in(VELLOX_SOURCE_DIR "/core/tests/fixtures/std14/reportlab_tables.txt");
    ASSERT_TRUE(in) << "missing oracle file";
    std::string kind, font_name, glyph;
    int compared = 0;
    while (in >> kind) {
        if (kind != "width") {
            std::getline(in, glyph);
            continue;
        }
        int width = 0;
        in >> font_name >> glyph >> width;
        const auto font = std14_font(font_name);
        ASSERT_TRUE(font) << font_name;
        EXPECT_EQ(std14_name(*font), font_name);
        EXPECT_EQ(std14_width(*font, glyph), width) << font_name << " " << glyph;
        ++compared;
    }
    EXPECT_GT(compared, 1000);
}

// What a font loader does for a non-embedded Helvetica without /Widths and
// with /Encoding /WinAnsiEncoding: per-code names, then widths by name.
TEST(Std14, WidthsThroughEncodingNames) {
    const GlyphNameTable& win = encoding_glyph_names(BaseEncoding::WinAnsi);
    struct Case {
        unsigned code;
        std::optional<std::uint16_t> width;
    };
    const Case cases[] = {{'A', 667},  {' ', 278},  {0x80, 556},          {0x8A, 667},
                          {0xA0, 278}, {0xAD, 333}, {0x81, std::nullopt}, {0x05, std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(std14_width(Std14Font::Helvetica, win[c.code]), c.width);
    }
    // Every named code of every base encoding has a glyph in the font that
    // uses it.
    for (const Std14Font font : kAll) {
        const std::array<BaseEncoding, 3> latin = {BaseEncoding::Standard, BaseEncoding::WinAnsi,
                                                   BaseEncoding::MacRoman};
        std::vector<BaseEncoding> encodings = {std14_builtin_encoding(font)};
        if (font <= Std14Font::TimesBoldItalic) encodings.assign(latin.begin(), latin.end());
        for (const BaseEncoding e : encodings) {
            for (const std::string_view name : encoding_glyph_names(e)) {
                if (!name.empty()) {
                    EXPECT_TRUE(std14_width(font, name)) << std14_name(font) << " " << name;
                }
            }
        }
    }
}
