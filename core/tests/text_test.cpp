#include "text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bounds.h"
#include "content.h"

using namespace vellox_core;

namespace {

// A simple font with the default width 0.5 and the Windows table.
Font plain_font() {
    Font f;
    f.encoding = win_ansi_encoding();
    return f;
}

FontMap one_font() {
    FontMap fonts;
    fonts["F1"] = std::make_shared<const Font>(plain_font());
    return fonts;
}

std::vector<TextRun> runs_of(std::string_view content, const FontMap& fonts = one_font()) {
    return extract_runs(parse_content(as_bytes(content)), fonts);
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
        const Content content = parse_content(as_bytes(c.content));
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
        {"cm scales positions not widths",
         "2 0 0 2 0 0 cm BT /F1 10 Tf 10 20 Td (ab) Tj (c) Tj ET",
         {{"ab", 20, 40, 10}, {"c", 40, 40, 5}}},
        {"cm composes with the earlier CTM",
         "1 0 0 1 100 0 cm 2 0 0 2 0 0 cm BT /F1 10 Tf 1 1 Td (a) Tj ET",
         {{"a", 102, 2, 5}}},
        {"Tm replaces the line matrix",
         "BT /F1 10 Tf 5 5 Td 1 0 0 1 30 40 Tm (a) Tj ET",
         {{"a", 30, 40, 5}}},
        {"Tm scale applies to Td and advance",
         "BT /F1 10 Tf 2 0 0 2 0 0 Tm 10 10 Td (a) Tj (b) Tj ET",
         {{"a", 20, 20, 5}, {"b", 30, 20, 5}}},
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
        {"q/Q keep Tc", "q 10 Tc Q BT /F1 10 Tf (a) Tj ET", {{"a", 0, 0, 15}}},
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
    EXPECT_DOUBLE_EQ(runs[0].font_size, 12);
    EXPECT_EQ(runs[1].font, "Missing");
    EXPECT_DOUBLE_EQ(runs[1].font_size, 7);
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

    const auto before_tf = extract_runs(parse_content(as_bytes("BT (A) Tj ET")), FontMap{});
    ASSERT_EQ(before_tf.size(), 1u);
    EXPECT_EQ(before_tf[0].text, "A");
    EXPECT_EQ(before_tf[0].font, "");
    EXPECT_DOUBLE_EQ(before_tf[0].width, 0);
}

TEST(TextRuns, UsesTheFontOfTheTable) {
    FontMap fonts;
    Font f = plain_font();
    f.widths[65] = 0.25;
    f.encoding[65] = 0x263A;
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
    Font smiley = plain_font();
    smiley.encoding[65] = 0x263A;
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
    EXPECT_FALSE(std::isfinite(runs[1].width));
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
