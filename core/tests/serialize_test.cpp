#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "image.h"
#include "layout.h"
#include "serialize.h"
#include "tables.h"

using namespace vellox_core;

namespace {

std::string json_float(double v) {
    std::string out;
    write_json_float(out, v);
    return out;
}

std::string json_string(std::string_view s) {
    std::string out;
    write_json_string(out, s);
    return out;
}

// The pages numbered 1, 2, ... as the extraction numbers a whole document.
std::vector<PageText> numbered(std::vector<PageText> pages) {
    for (std::size_t i = 0; i < pages.size(); ++i) pages[i].number = i + 1;
    return pages;
}

Line line_at(std::string text, double x, double y) {
    Line line;
    line.text = std::move(text);
    line.x = x;
    line.y = y;
    return line;
}

PageText page_with_lines(std::vector<std::string> texts) {
    PageText page;
    page.width = 612;
    page.height = 792;
    double y = 700;
    for (auto& t : texts) {
        page.lines.push_back(line_at(std::move(t), 72, y));
        y -= 14;
    }
    return page;
}

Table table_of(std::vector<std::vector<std::string>> cells, std::uint64_t rows,
               std::uint64_t cols) {
    Table t;
    t.cells = std::move(cells);
    t.rows = rows;
    t.cols = cols;
    return t;
}

const std::string kNotice = "_[scanned page \xE2\x80\x94 text extraction requires OCR]_";
const std::string kHead =
    "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>vellox</title></head>\n<body>\n";
const std::string kTail = "</body>\n</html>\n";

}  // namespace

// ---------------------------------------------------------------------------
// JSON numbers and strings
// ---------------------------------------------------------------------------

TEST(JsonFloat, PlacesDigitsByDecimalExponent) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        const char* expected;
    } cases[] = {
        {612.0, "612.0"},
        {792.0, "792.0"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e+16"},
        {1234.5, "1234.5"},
        {0.5, "0.5"},
        {1.234e-5, "0.00001234"},
        {1e-5, "0.00001"},
        {1e-6, "1e-6"},
        {1.5e-7, "1.5e-7"},
        {9999999999999998.0, "9999999999999998.0"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {5e-324, "5e-324"},
        {-2.5, "-2.5"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {inf, "null"},
        {-inf, "null"},
        {std::nan(""), "null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(json_float(c.value), c.expected);
    }
}

// floats.txt pairs bit patterns with the text computed by an independent
// Python oracle (repr's shortest digits, placement done in Python).
TEST(JsonFloat, MatchesPythonOracleOnThousandsOfDoubles) {
    std::ifstream in(VELLOX_SOURCE_DIR "/core/tests/fixtures/serialize/floats.txt");
    ASSERT_TRUE(in) << "missing floats.txt";
    std::string line;
    std::size_t count = 0;
    std::size_t failures = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string hex, expected;
        fields >> hex >> expected;
        const auto bits = static_cast<std::uint64_t>(std::stoull(hex, nullptr, 16));
        const double value = std::bit_cast<double>(bits);
        const std::string got = json_float(value);
        if (got != expected && ++failures <= 20) {
            ADD_FAILURE() << "bits " << hex << ": got " << got << ", expected " << expected;
        }
        ++count;
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_GT(count, 3000u);
}

TEST(JsonString, EscapesQuotesBackslashAndControlsOnly) {
    struct Case {
        std::string input;
        std::string expected;
    } cases[] = {
        {"", "\"\""},
        {"a\tb\"c", "\"a\\tb\\\"c\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"\b\f\n\r", "\"\\b\\f\\n\\r\""},
        {std::string("\x01", 1), "\"\\u0001\""},
        {std::string("\0x", 2), "\"\\u0000x\""},
        {"\x1f\x0b", "\"\\u001f\\u000b\""},
        {"\x7f", "\"\x7f\""},
        {"a/b", "\"a/b\""},
        {"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "\"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\""},
        // A stray byte that is not valid UTF-8 passes through as it is.
        {"\xFF", "\"\xFF\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(json_string(c.input), c.expected);
    }
}

TEST(JsonString, AppendsToExistingText) {
    std::string out = "key: ";
    write_json_string(out, "v");
    write_json_float(out, 1.0);
    EXPECT_EQ(out, "key: \"v\"1.0");
}

// ---------------------------------------------------------------------------
// The JSON document
// ---------------------------------------------------------------------------

TEST(ToJson, DocumentWithoutPagesIsFourLines) {
    ExtractedDoc doc{"1.7", {}};
    EXPECT_EQ(doc.to_json(), "{\n  \"version\": \"1.7\",\n  \"pages\": []\n}");
}

TEST(ToJson, WritesEveryFieldInOrderWithTwoSpaceIndentation) {
    PageText page;
    page.number = 1;
    page.width = 612;
    page.height = 792;
    page.rotation = 90;
    page.lines.push_back(line_at("Tab\there \"q\"", 72, 700.5));
    page.lines.push_back(line_at("x", std::numeric_limits<double>::infinity(), -0.0));
    page.needs_ocr = false;
    page.tables.push_back(table_of({{"a", "b|c"}, {}}, 2, 2));
    page.tables.push_back(table_of({}, 0, 0));
    ParsedImage im;
    im.name = "Im1";
    im.format = ImageFormat::Jpeg2000;
    im.width = 640;
    im.height = 480;
    im.bits_per_component = 8;
    im.color_space = "DeviceRGB";
    im.data = {1, 2, 3};  // never written
    page.images.push_back(im);
    im.name = "Im2";
    im.format = ImageFormat::Raw;
    im.width = 4294967295u;
    im.bits_per_component = 1;
    im.color_space = "";
    page.images.push_back(im);

    PageText empty;
    empty.number = 7;  // the number as given, not the position
    empty.width = 595.276;
    empty.height = 841.89;
    empty.rotation = 270;
    empty.needs_ocr = true;

    ExtractedDoc doc{"1.4", {page, empty}};
    const std::string expected =
        "{\n"
        "  \"version\": \"1.4\",\n"
        "  \"pages\": [\n"
        "    {\n"
        "      \"page\": 1,\n"
        "      \"width\": 612.0,\n"
        "      \"height\": 792.0,\n"
        "      \"rotation\": 90,\n"
        "      \"lines\": [\n"
        "        {\n"
        "          \"text\": \"Tab\\there \\\"q\\\"\",\n"
        "          \"x\": 72.0,\n"
        "          \"y\": 700.5\n"
        "        },\n"
        "        {\n"
        "          \"text\": \"x\",\n"
        "          \"x\": null,\n"
        "          \"y\": -0.0\n"
        "        }\n"
        "      ],\n"
        "      \"needs_ocr\": false,\n"
        "      \"tables\": [\n"
        "        {\n"
        "          \"rows\": 2,\n"
        "          \"cols\": 2,\n"
        "          \"cells\": [\n"
        "            [\n"
        "              \"a\",\n"
        "              \"b|c\"\n"
        "            ],\n"
        "            []\n"
        "          ]\n"
        "        },\n"
        "        {\n"
        "          \"rows\": 0,\n"
        "          \"cols\": 0,\n"
        "          \"cells\": []\n"
        "        }\n"
        "      ],\n"
        "      \"images\": [\n"
        "        {\n"
        "          \"name\": \"Im1\",\n"
        "          \"format\": \"Jpeg2000\",\n"
        "          \"width\": 640,\n"
        "          \"height\": 480,\n"
        "          \"bits_per_component\": 8,\n"
        "          \"color_space\": \"DeviceRGB\"\n"
        "        },\n"
        "        {\n"
        "          \"name\": \"Im2\",\n"
        "          \"format\": \"Raw\",\n"
        "          \"width\": 4294967295,\n"
        "          \"height\": 480,\n"
        "          \"bits_per_component\": 1,\n"
        "          \"color_space\": \"\"\n"
        "        }\n"
        "      ]\n"
        "    },\n"
        "    {\n"
        "      \"page\": 7,\n"
        "      \"width\": 595.276,\n"
        "      \"height\": 841.89,\n"
        "      \"rotation\": 270,\n"
        "      \"lines\": [],\n"
        "      \"needs_ocr\": true,\n"
        "      \"tables\": [],\n"
        "      \"images\": []\n"
        "    }\n"
        "  ]\n"
        "}";
    EXPECT_EQ(doc.to_json(), expected);
}

TEST(ToJson, TableCountsAreFullSixtyFourBitDecimals) {
    PageText page;
    page.tables.push_back(table_of({}, 18446744073709551615u, 10));
    const std::string json = ExtractedDoc{"", {page}}.to_json();
    EXPECT_NE(json.find("\"rows\": 18446744073709551615,\n"), std::string::npos) << json;
    EXPECT_NE(json.find("\"cols\": 10,\n"), std::string::npos) << json;
}

TEST(ImageFormat, NamesAllFiveFormats) {
    struct Case {
        ImageFormat format;
        const char* name;
    } cases[] = {
        {ImageFormat::Jpeg, "Jpeg"},   {ImageFormat::Jpeg2000, "Jpeg2000"},
        {ImageFormat::Ccitt, "Ccitt"}, {ImageFormat::Jbig2, "Jbig2"},
        {ImageFormat::Raw, "Raw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(format_name(c.format), c.name);
    }
}

// ---------------------------------------------------------------------------
// Markdown
// ---------------------------------------------------------------------------

TEST(ToMarkdown, RendersPagesBlocksAndTables) {
    PageText ocr_with_table;
    ocr_with_table.needs_ocr = true;
    ocr_with_table.tables.push_back(table_of({{"a"}}, 1, 1));

    PageText text_and_table = page_with_lines({"Title"});
    text_and_table.tables.push_back(table_of({{"h1", "h2"}, {"a", "b"}}, 2, 2));

    PageText table_only;
    table_only.tables.push_back(table_of({{"x", "y", "z"}}, 1, 3));

    PageText ragged;  // the separator follows cols, not the first row's length
    ragged.tables.push_back(table_of({{"only"}, {"p", "q", "r"}}, 2, 3));

    PageText escaped;
    escaped.tables.push_back(table_of({{"a|b", "line\nbreak", " pad "}}, 1, 3));

    PageText separator_only;
    separator_only.tables.push_back(table_of({}, 2, 2));

    PageText zero_counts;  // rows present but no separator without rows and cols
    zero_counts.tables.push_back(table_of({{"a"}, {"b"}}, 0, 2));

    PageText empty_row;
    empty_row.tables.push_back(table_of({{}, {"a"}}, 2, 1));

    PageText nothing_to_show = page_with_lines({"T"});
    nothing_to_show.tables.push_back(table_of({}, 0, 5));
    nothing_to_show.tables.push_back(table_of({}, 3, 0));
    nothing_to_show.tables.push_back(table_of({{"t"}}, 1, 1));

    PageText empty_lines = page_with_lines({"", ""});

    // Each page opens with its number; a page without lines has only that.
    const std::string P1 = "<!-- page 1 -->\n\n";
    struct Case {
        const char* name;
        std::vector<PageText> pages;
        std::string expected;
    } cases[] = {
        {"no pages", {}, ""},
        {"two lines", {page_with_lines({"A", "B"})}, P1 + "A\nB"},
        {"two pages",
         {page_with_lines({"A"}), page_with_lines({"B"})},
         P1 + "A\n\n---\n\n<!-- page 2 -->\n\nB"},
        {"empty page between",
         {page_with_lines({"A"}), PageText{}, page_with_lines({"B"})},
         P1 + "A\n\n---\n\n<!-- page 2 -->\n\n---\n\n<!-- page 3 -->\n\nB"},
        {"single empty page", {PageText{}}, "<!-- page 1 -->"},
        {"ocr notice ignores tables", {ocr_with_table}, P1 + kNotice},
        {"ocr between pages",
         {page_with_lines({"A"}), ocr_with_table},
         P1 + "A\n\n---\n\n<!-- page 2 -->\n\n" + kNotice},
        {"text then table",
         {text_and_table},
         P1 + "Title\n\n| h1 | h2 |\n| --- | --- |\n| a | b |"},
        {"table alone", {table_only}, P1 + "| x | y | z |\n| --- | --- | --- |"},
        {"separator from cols", {ragged}, P1 + "| only |\n| --- | --- | --- |\n| p | q | r |"},
        {"bar escaped, rest kept",
         {escaped},
         P1 + "| a\\|b | line\nbreak |  pad  |\n| --- | --- | --- |"},
        {"cells empty, counts set", {separator_only}, P1 + "| --- | --- |"},
        {"zero rows: no separator", {zero_counts}, P1 + "| a |\n| b |"},
        {"row without cells", {empty_row}, P1 + "|  |\n| --- |\n| a |"},
        {"empty tables dropped", {nothing_to_show}, P1 + "T\n\n| t |\n| --- |"},
        // Lines with empty texts still join: the page text is one "\n".
        {"empty line texts", {empty_lines}, P1 + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ((ExtractedDoc{"1.7", numbered(c.pages)}.to_markdown()), c.expected);
    }
}

TEST(ToMarkdown, NoticeIsFortyNineBytesWithEmDash) {
    PageText page;
    page.number = 12;
    page.needs_ocr = true;
    const std::string md = ExtractedDoc{"1.7", {page}}.to_markdown();
    const std::string comment = "<!-- page 12 -->\n\n";
    ASSERT_EQ(md.substr(0, comment.size()), comment);
    EXPECT_EQ(md.size() - comment.size(), 49u);
    EXPECT_NE(md.find("\xE2\x80\x94"), std::string::npos);
}

// ---------------------------------------------------------------------------
// HTML
// ---------------------------------------------------------------------------

TEST(EscapeHtml, ReplacesExactlyFiveCharacters) {
    struct Case {
        std::string input;
        std::string expected;
    } cases[] = {
        {"", ""},
        {"a<b & 'c' \"d\">", "a&lt;b &amp; &#39;c&#39; &quot;d&quot;&gt;"},
        {"&amp;", "&amp;amp;"},
        {"<<x>>", "&lt;&lt;x&gt;&gt;"},
        {"caf\xC3\xA9\n\t\x01/=", "caf\xC3\xA9\n\t\x01/="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(escape_html(c.input), c.expected);
    }
}

TEST(ToHtml, RoundsPageSizeHalfToEven) {
    struct Case {
        double value;
        const char* expected;
    } cases[] = {
        {612.0, "612"},
        {612.5, "612"},
        {613.5, "614"},
        {841.89, "842"},
        {595.276, "595"},
        {0.5, "0"},
        {1.5, "2"},
        {2.5, "2"},
        {0.49999999999999994, "0"},
        {0.0, "0"},
        {4503599627370497.0, "4503599627370497"},
        {1e20, "100000000000000000000"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {std::nan(""), "nan"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        PageText page;
        page.number = 3;
        page.width = c.value;
        page.height = 1;
        const std::string html = ExtractedDoc{"1.7", {page}}.to_html();
        const std::string tag =
            std::string("<section class=\"page\" data-page=\"3\" style=\"width:") + c.expected +
            "px;height:1px\" data-rotation=\"0\">\n</section>\n";
        EXPECT_EQ(html, kHead + tag + kTail);
    }
}

TEST(ToHtml, WritesSectionsParagraphsAndTables) {
    PageText a4 = page_with_lines({"x < y & 'z'", "two\nlines"});
    a4.width = 595.276;
    a4.height = 841.89;
    a4.rotation = 180;
    a4.tables.push_back(table_of({{"<a>", "b"}, {}, {"c"}}, 99, 99));

    PageText scanned;
    scanned.width = 612;
    scanned.height = 792;
    scanned.needs_ocr = true;

    struct Case {
        const char* name;
        std::vector<PageText> pages;
        std::string body;
    } cases[] = {
        {"no pages", {}, ""},
        {"empty page",
         {page_with_lines({})},
         "<section class=\"page\" data-page=\"1\" "
         "style=\"width:612px;height:792px\" data-rotation=\"0\">\n</section>\n"},
        {"lines before table, ragged rows",
         {a4},
         "<section class=\"page\" data-page=\"1\" style=\"width:595px;height:842px\" "
         "data-rotation=\"180\">\n"
         "<p>x &lt; y &amp; &#39;z&#39;</p>\n"
         "<p>two\nlines</p>\n"
         "<table>\n"
         "<tr><td>&lt;a&gt;</td><td>b</td></tr>\n"
         "<tr></tr>\n"
         "<tr><td>c</td></tr>\n"
         "</table>\n"
         "</section>\n"},
        {"needs_ocr attribute only",
         {scanned, page_with_lines({"A"})},
         "<section class=\"page\" data-page=\"1\" style=\"width:612px;height:792px\" "
         "data-rotation=\"0\" "
         "data-needs-ocr=\"true\">\n"
         "</section>\n"
         "<section class=\"page\" data-page=\"2\" style=\"width:612px;height:792px\" "
         "data-rotation=\"0\">\n"
         "<p>A</p>\n"
         "</section>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ((ExtractedDoc{"1.7", numbered(c.pages)}.to_html()), kHead + c.body + kTail);
    }
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

TEST(ToText, LinesByLineFeedsPagesByFormFeeds) {
    PageText scanned;
    scanned.needs_ocr = true;
    struct Case {
        const char* name;
        std::vector<PageText> pages;
        std::string expected;
    } cases[] = {
        {"no pages", {}, ""},
        {"one page", {page_with_lines({"A", "B"})}, "A\nB"},
        {"empty and scanned pages keep their place",
         {page_with_lines({"A"}), PageText{}, scanned, page_with_lines({"B"})},
         "A\f\f\fB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ((ExtractedDoc{"1.7", numbered(c.pages)}.to_text()), c.expected);
    }
}
