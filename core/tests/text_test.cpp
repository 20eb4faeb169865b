#include "text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "agl.h"
#include "bounds.h"
#include "content.h"
#include "page.h"
#include "support/stored_content.h"
#include "utf8.h"

using namespace vellox_core;

namespace {

// A simple font with the default width 0.5 whose codes read as the given
// table says (the Windows table unless replaced).
Font font_with(const EncodingTable& table) {
    Font f;
    for (std::size_t code = 0; code < table.size(); ++code) {
        std::string text;
        if (table[code] != 0) append_utf8(text, static_cast<char32_t>(table[code]));
        f.texts.push_back(text);
        if (text.size() == 1 && static_cast<unsigned char>(text[0]) - 1u < 0x7Fu)
            f.ascii[code] = text[0];
    }
    return f;
}

Font plain_font() { return font_with(win_ansi_encoding()); }

FontMap one_font() {
    FontMap fonts;
    fonts["F1"] = std::make_shared<const Font>(plain_font());
    return fonts;
}

std::vector<TextRun> runs_of(std::string_view content, const FontMap& fonts = one_font()) {
    return interpret_content(as_bytes(content), fonts).runs;
}

struct Expect {
    std::string text;
    double x, y, width;
};

void expect_runs(const std::vector<TextRun>& got, const std::vector<Expect>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        EXPECT_EQ(got[i].text, want[i].text);
        EXPECT_DOUBLE_EQ(got[i].x, want[i].x);
        EXPECT_DOUBLE_EQ(got[i].y, want[i].y);
        EXPECT_DOUBLE_EQ(got[i].width, want[i].width);
    }
}

}  // namespace

TEST(Matrix, MultiplyAppliesLeftOperandFirst) {
    const Matrix scale{2, 0, 0, 3, 0, 0};
    const Matrix move{1, 0, 0, 1, 10, 20};
    // Scale first, then move: the translation is not scaled.
    EXPECT_EQ(multiply(scale, move), (Matrix{2, 0, 0, 3, 10, 20}));
    // Move first, then scale: the translation is scaled too.
    EXPECT_EQ(multiply(move, scale), (Matrix{2, 0, 0, 3, 20, 60}));
    const Matrix rot{0, 1, -1, 0, 0, 0};  // 90 degrees counter-clockwise
    const Matrix m = multiply(move, rot);
    EXPECT_EQ(m, (Matrix{0, 1, -1, 0, -20, 10}));
}

TEST(Matrix, OfOperandsFillsIdentityDefaults) {
    struct Case {
        std::string_view content;
        Matrix expected;
    };
    const Case cases[] = {
        {"2 0.5 3 4 5 6 cm", {2, 0.5, 3, 4, 5, 6}}, {"cm", {}}, {"/x 7 [1] cm", {1, 7, 0, 1, 0, 0}},
        {"(s) [1] 1 0 R 4 cm", {1, 0, 0, 4, 0, 0}},  // a reference is one operand
        {"1 2 3 4 5 6 7 cm", {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.content));
        const vellox_test::StoredContent content = vellox_test::read_content(as_bytes(c.content));
        ASSERT_EQ(content.size(), 1u);
        EXPECT_EQ(matrix_of(content[0].operands), c.expected);
    }
}

TEST(TextRuns, PositionsAndAdvances) {
    struct Case {
        std::string_view name;
        std::string_view content;
        std::vector<Expect> runs;
    };
    const Case cases[] = {
        {"Td positions the first run",
         "BT /F1 12 Tf 100 700 Td (Hi) Tj ET",
         {{"Hi", 100, 700, 12}}},
        {"consecutive strings continue on the line",
         "BT /F1 10 Tf 5 6 Td (ab) Tj (c) Tj ET",
         {{"ab", 5, 6, 10}, {"c", 15, 6, 5}}},
        {"TJ number moves the next string",
         "BT /F1 10 Tf [(A) -1000 (B) 500 (C)] TJ ET",
         {{"A", 0, 0, 5}, {"B", 15, 0, 5}, {"C", 15, 0, 5}}},
        {"TJ adjustment follows Tz",
         "BT /F1 10 Tf 50 Tz [(A) -1000 (B)] TJ ET",
         {{"A", 0, 0, 2.5}, {"B", 7.5, 0, 2.5}}},
        {"TJ non-numbers count as zero",
         "BT /F1 10 Tf [(A) /x (B)] TJ ET",
         {{"A", 0, 0, 5}, {"B", 5, 0, 5}}},
        {"cm scales positions and widths",
         "2 0 0 2 0 0 cm BT /F1 10 Tf 10 20 Td (ab) Tj (c) Tj ET",
         {{"ab", 20, 40, 20}, {"c", 40, 40, 10}}},
        {"cm composes with the earlier CTM",
         "1 0 0 1 100 0 cm 2 0 0 2 0 0 cm BT /F1 10 Tf 1 1 Td (a) Tj ET",
         {{"a", 102, 2, 10}}},
        {"Tm replaces the line matrix",
         "BT /F1 10 Tf 5 5 Td 1 0 0 1 30 40 Tm (a) Tj ET",
         {{"a", 30, 40, 5}}},
        {"Tm scale applies to Td and advance",
         "BT /F1 10 Tf 2 0 0 2 0 0 Tm 10 10 Td (a) Tj (b) Tj ET",
         {{"a", 20, 20, 10}, {"b", 30, 20, 10}}},
        {"Td moves from the line start, not the pen",
         "BT /F1 10 Tf 10 100 Td (abcd) Tj 0 -12 Td (e) Tj ET",
         {{"abcd", 10, 100, 20}, {"e", 10, 88, 5}}},
        {"TD sets leading for T*",
         "BT /F1 10 Tf 10 100 Td (a) Tj 0 -20 TD (b) Tj T* (c) Tj ET",
         {{"a", 10, 100, 5}, {"b", 10, 80, 5}, {"c", 10, 60, 5}}},
        {"TL and quote",
         "BT /F1 10 Tf 14 TL 0 50 Td (a) Tj (b) ' ET",
         {{"a", 0, 50, 5}, {"b", 0, 36, 5}}},
        {"double quote sets spacings then shows",
         "BT /F1 10 Tf 10 TL 0 50 Td 3 1 (a b) \" ET",
         {{"a b", 0, 40, 21}}},
        {"double quote without string shows nothing",
         "BT /F1 10 Tf 10 TL 3 1 \" (a) Tj ET",
         {{"a", 0, -10, 6}}},
        {"Ts raises the origin", "BT /F1 10 Tf 0 100 Td 4 Ts (a) Tj ET", {{"a", 0, 104, 5}}},
        {"Ts goes through the matrices",
         "1 0 0 3 0 0 cm BT /F1 10 Tf 4 Ts (a) Tj ET",
         {{"a", 0, 12, 5}}},
        {"rotated text advances and rises along its own axes",
         "BT /F1 10 Tf 0 1 -1 0 100 100 Tm 4 Ts (a) Tj (b) Tj ET",
         {{"a", 96, 100, 5}, {"b", 96, 105, 5}}},
        {"Tz without operand makes advances zero",
         "BT /F1 10 Tf Tz (ab) Tj (c) Tj ET",
         {{"ab", 0, 0, 0}, {"c", 0, 0, 0}}},
        {"Tc and Tw add spacing", "BT /F1 10 Tf 1 Tc 2 Tw (a b) Tj ET", {{"a b", 0, 0, 20}}},
        {"q/Q restore the CTM", "q 1 0 0 1 50 0 cm Q BT /F1 10 Tf (a) Tj ET", {{"a", 0, 0, 5}}},
        // The text parameters belong to the graphics state.
        {"Q restores Tc", "q 10 Tc Q BT /F1 10 Tf (a) Tj ET", {{"a", 0, 0, 5}}},
        {"Q restores the font size and Tz",
         "BT /F1 10 Tf q /F1 20 Tf 50 Tz Q (a) Tj ET",
         {{"a", 0, 0, 5}}},
        {"Q restores TL and Ts", "BT /F1 10 Tf 0 50 Td q 30 TL 7 Ts Q (a) ' ET", {{"a", 0, 50, 5}}},
        {"Q keeps the text matrix", "BT /F1 10 Tf q 5 5 Td Q (a) Tj ET", {{"a", 5, 5, 5}}},
        {"Q on an empty stack is ignored",
         "Q Q 1 0 0 1 7 0 cm q Q Q BT /F1 10 Tf (a) Tj ET",
         {{"a", 7, 0, 5}}},
        {"nested q/Q",
         "q 1 0 0 1 5 0 cm q 1 0 0 1 5 0 cm Q BT /F1 10 Tf (a) Tj ET Q "
         "BT /F1 10 Tf (b) Tj ET",
         {{"a", 5, 0, 5}, {"b", 0, 0, 5}}},
        {"BT resets the text matrix", "BT /F1 10 Tf 40 40 Td ET BT (a) Tj ET", {{"a", 0, 0, 5}}},
        {"Tf keeps the name when operand 0 is no name",
         "BT /F1 10 Tf 5 20 Tf (a) Tj ET",
         {{"a", 0, 0, 10}}},
        {"Tf without size sets size 0", "BT /F1 10 Tf /F1 Tf (a) Tj ET", {{"a", 0, 0, 0}}},
        {"empty string still makes a run", "BT /F1 10 Tf () Tj [] TJ ET", {{"", 0, 0, 0}}},
        {"Tj with a number shows nothing", "BT /F1 10 Tf 5 Tj ET", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        expect_runs(runs_of(c.content), c.runs);
    }
}

TEST(TextRuns, RecordsFontNameAndSize) {
    const auto runs = runs_of("BT /F1 12 Tf 3 0 0 3 0 0 Tm (a) Tj /Missing 7 Tf (b) Tj ET");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].font, "F1");
    EXPECT_DOUBLE_EQ(runs[0].font_size, 36);  // the Tf size through the text matrix
    EXPECT_EQ(runs[1].font, "Missing");
    EXPECT_DOUBLE_EQ(runs[1].font_size, 21);
}

TEST(TextRuns, FontMissingFromTableReadsLatin1) {
    // 0x80 is the euro sign in the Windows table but U+0080 in Latin-1; the
    // width is 0.5 per byte whatever the font table says.
    FontMap fonts;
    Font wide = plain_font();
    wide.default_width = 2.0;
    fonts["F1"] = std::make_shared<const Font>(wide);
    const auto runs = runs_of("BT /F2 10 Tf 1 Tc 4 Tw (\x80\xe9 ) Tj ET", fonts);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text, "\xc2\x80\xc3\xa9 ");
    EXPECT_DOUBLE_EQ(runs[0].width, 3 * (5 + 1) + 4);
    EXPECT_EQ(runs[0].font, "F2");

    const auto before_tf = runs_of("BT (A) Tj ET", FontMap{});
    ASSERT_EQ(before_tf.size(), 1u);
    EXPECT_EQ(before_tf[0].text, "A");
    EXPECT_EQ(before_tf[0].font, "");
    EXPECT_DOUBLE_EQ(before_tf[0].width, 0);
}

TEST(TextRuns, UsesTheFontOfTheTable) {
    FontMap fonts;
    EncodingTable smiley_a = win_ansi_encoding();
    smiley_a[65] = 0x263A;
    Font f = font_with(smiley_a);
    f.widths[65] = 0.25;
    fonts["F1"] = std::make_shared<const Font>(f);
    const auto runs = runs_of("BT /F1 20 Tf (AB) Tj ET", fonts);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text,
              "\xe2\x98\xba"
              "B");
    EXPECT_DOUBLE_EQ(runs[0].width, 5 + 10);
}

// A font is looked up again only when the name changes; a font whose
// resource name is empty ("/") is still found by its first selection.
TEST(TextRuns, SelectingFontsAgainAndTheEmptyName) {
    FontMap fonts;
    EncodingTable smiley_a = win_ansi_encoding();
    smiley_a[65] = 0x263A;
    const Font smiley = font_with(smiley_a);
    fonts[""] = std::make_shared<const Font>(smiley);
    fonts["F1"] = std::make_shared<const Font>(plain_font());
    const auto runs = runs_of(
        "BT / 10 Tf (A) Tj /F1 10 Tf (A) Tj /F1 10 Tf (A) Tj / 10 Tf (A) Tj "
        "/ 10 Tf (A) Tj /Gone 10 Tf (A) Tj /Gone 10 Tf (\200) Tj ET",
        fonts);
    ASSERT_EQ(runs.size(), 7u);
    const char* const want[] = {"\xe2\x98\xba", "A", "A",       "\xe2\x98\xba",
                                "\xe2\x98\xba", "A", "\xc2\x80"};
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(runs[i].text, want[i]) << "run " << i;
    EXPECT_EQ(runs[0].font, "");
    EXPECT_EQ(runs[6].font, "Gone");
}

TEST(TextRuns, IgnoresOtherOperatorsAndBadOperands) {
    const auto runs = runs_of(
        "BT /F1 10 Tf 3 Tr /P <</MCID 0>> BDC 0 0 m 5 5 l S (a) Tj EMC /X Do "
        "(x) Td /n Tc [1] TL ET BT () Tj ET");
    expect_runs(runs, {{"a", 0, 0, 5}, {"", 0, 0, 0}});
}

TEST(TextRuns, HostileNumbersStayDefined) {
    // Huge and infinite values must flow through double arithmetic only.
    const auto runs = runs_of(
        "1e308 0 0 1e308 0 0 cm 1e308 0 0 1e308 1e308 1e308 cm BT /F1 1e308 Tf 1e308 Tz "
        "[(a) -1e308 (b)] TJ 1e308 1e308 TD T* (c) ' ET");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].text + runs[1].text + runs[2].text, "abc");
    // Measures that overflow are 0 rather than infinite; the direction
    // falls back to upright.
    for (const TextRun& r : runs) {
        EXPECT_TRUE(std::isfinite(r.width));
        EXPECT_TRUE(std::isfinite(r.font_size));
        EXPECT_EQ(r.dir_x, 1);
        EXPECT_EQ(r.dir_y, 0);
    }
}

// Every measure of a run in user-space units: text set with 1 Tf in a
// matrix that scales by 12 measures exactly as text set with 12 Tf, and
// the cm of the page counts as the text matrix does.
TEST(TextRuns, MeasuresInUserSpaceWhateverTheMatrices) {
    const char* const same[] = {
        "BT /F1 12 Tf 72 700 Td (ab) Tj 10 0 Td (c) Tj ET",
        "BT /F1 1 Tf 12 0 0 12 72 700 Tm (ab) Tj 0.83333333333333337 0 Td (c) Tj ET",
        "12 0 0 12 0 0 cm BT /F1 1 Tf 6 0 0 1 Tm 1 0 0 1 6 58.333333333333336 Tm (ab) Tj "
        "0.83333333333333337 0 Td (c) Tj ET",
        "q 3 0 0 3 0 0 cm BT /F1 4 Tf 24 233.33333333333334 Td (ab) Tj 3.3333333333333335 0 "
        "Td (c) Tj ET Q",
    };
    const auto want = runs_of(same[0]);
    ASSERT_EQ(want.size(), 2u);
    EXPECT_DOUBLE_EQ(want[0].width, 12);
    EXPECT_DOUBLE_EQ(want[0].font_size, 12);
    for (const char* content : same) {
        SCOPED_TRACE(content);
        const auto got = runs_of(content);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].text, want[i].text);
            EXPECT_NEAR(got[i].x, want[i].x, 1e-9);
            EXPECT_NEAR(got[i].y, want[i].y, 1e-9);
            EXPECT_NEAR(got[i].width, want[i].width, 1e-9);
            EXPECT_NEAR(got[i].font_size, want[i].font_size, 1e-9);
            EXPECT_EQ(got[i].dir_x, 1);
            EXPECT_EQ(got[i].dir_y, 0);
        }
    }
}

// The writing direction is the text rendering matrix's x axis, the size is
// measured across it, and a degenerate matrix falls back to upright.
TEST(TextRuns, DirectionAndSizeFollowTheMatrix) {
    struct Case {
        const char* name;
        std::string_view content;
        double x, y, width, size, dir_x, dir_y;
    };
    const double h = std::sqrt(0.5);
    const Case cases[] = {
        {"upright", "BT /F1 10 Tf (ab) Tj ET", 0, 0, 10, 10, 1, 0},
        {"quarter turn counter-clockwise", "BT /F1 10 Tf 0 1 -1 0 100 50 Tm (ab) Tj ET", 100, 50,
         10, 10, 0, 1},
        {"quarter turn by cm", "0 -1 1 0 0 700 cm BT /F1 10 Tf (ab) Tj ET", 0, 700, 10, 10, 0, -1},
        {"upside down", "BT /F1 10 Tf -2 0 0 -2 300 300 Tm (ab) Tj ET", 300, 300, 20, 20, -1, 0},
        {"45 degrees, scaled by 2",
         "BT /F1 10 Tf 1.4142135623730951 1.4142135623730951 -1.4142135623730951 "
         "1.4142135623730951 0 0 Tm (ab) Tj ET",
         0, 0, 20, 20, h, h},
        // Skewed (oblique) text: the size is the height across the baseline.
        {"skewed", "BT /F1 10 Tf 1 0 0.5 1 0 0 Tm (ab) Tj ET", 0, 0, 10, 10, 1, 0},
        {"wider than high", "BT /F1 10 Tf 3 0 0 1 0 0 Tm (ab) Tj ET", 0, 0, 30, 10, 1, 0},
        {"mirrored", "BT /F1 10 Tf 1 0 0 -1 0 0 Tm (ab) Tj ET", 0, 0, 10, 10, 1, 0},
        {"negative font size", "BT /F1 -10 Tf (ab) Tj ET", 0, 0, -10, 10, 1, 0},
        {"no x axis", "BT /F1 10 Tf 0 0 0 1 5 5 Tm (ab) Tj ET", 5, 5, 0, 10, 1, 0},
        {"all zero", "BT /F1 10 Tf 0 0 0 0 5 5 Tm (ab) Tj ET", 5, 5, 0, 0, 1, 0},
        {"infinite scale along", "BT /F1 10 Tf +inf 0 0 1 5 5 Tm (ab) Tj ET", 5, 5, 0, 10, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto runs = runs_of(c.content);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_NEAR(runs[0].x, c.x, 1e-9);
        EXPECT_NEAR(runs[0].y, c.y, 1e-9);
        EXPECT_NEAR(runs[0].width, c.width, 1e-9);
        EXPECT_NEAR(runs[0].font_size, c.size, 1e-9);
        EXPECT_NEAR(runs[0].dir_x, c.dir_x, 1e-12);
        EXPECT_NEAR(runs[0].dir_y, c.dir_y, 1e-12);
    }
}

// A vertical font: each advance moves the text matrix down, the direction
// is the matrix's -y axis, the size is measured across the column, and a
// TJ number moves the next glyph down.
TEST(TextRuns, VerticalWriting) {
    FontMap fonts;
    Font vertical = plain_font();
    vertical.vertical = true;
    fonts["V"] = std::make_shared<const Font>(vertical);
    fonts["F1"] = std::make_shared<const Font>(plain_font());
    const auto runs = runs_of(
        "BT /V 10 Tf 100 700 Td (ab) Tj (c) Tj [(d) 1000 (e)] TJ 50 Tz (f) Tj "
        "/F1 10 Tf 100 Tz (g) Tj ET "
        "BT /V 10 Tf 0 1 -1 0 300 300 Tm (h) Tj ET",
        fonts);
    ASSERT_EQ(runs.size(), 7u);
    struct Want {
        double x, y, width, size, dir_x, dir_y;
    };
    const Want want[] = {
        {100, 700, 10, 10, 0, -1},  // two glyphs of 5 units going down
        {100, 690, 5, 10, 0, -1},  {100, 685, 5, 10, 0, -1},
        {100, 670, 5, 10, 0, -1},   // 1000/1000 of the size further down
        {100, 665, 2.5, 5, 0, -1},  // Tz narrows the column and the advance
        {100, 662.5, 5, 10, 1, 0},  // a horizontal font in the same text object
        {300, 300, 5, 10, 1, 0},    // turned: down in text space is right on the page
    };
    for (std::size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(runs[i].x, want[i].x, 1e-9);
        EXPECT_NEAR(runs[i].y, want[i].y, 1e-9);
        EXPECT_NEAR(runs[i].width, want[i].width, 1e-9);
        EXPECT_NEAR(runs[i].font_size, want[i].size, 1e-9);
        EXPECT_NEAR(runs[i].dir_x, want[i].dir_x, 1e-12);
        EXPECT_NEAR(runs[i].dir_y, want[i].dir_y, 1e-12);
    }
}

TEST(TextRuns, RunsPerPageAreBounded) {
    // The page's text stops at the bound, whether the runs come one per
    // operator or many from one TJ array.
    const std::size_t n = limits::kMaxPageRuns + 100;
    for (const bool tj : {false, true}) {
        SCOPED_TRACE(tj);
        std::string content = "BT /F1 10 Tf ";
        if (tj) content += "[";
        for (std::size_t i = 0; i < n; ++i) content += tj ? "(a) -5 " : "(a) Tj ";
        if (tj) content += "] TJ";
        content += " ET";
        const auto runs = runs_of(content);
        ASSERT_EQ(runs.size(), limits::kMaxPageRuns);
        EXPECT_EQ(runs.back().text, "a");
    }
}
