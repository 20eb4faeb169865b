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

// A page of blocks, each given as its lines' texts, set top to bottom at
// size 10 in a 612 by 792 page.
PageText page_of_blocks(std::vector<std::vector<std::string>> blocks) {
    PageText page;
    page.width = 612;
    page.height = 792;
    double y = 700;
    for (auto& block : blocks) {
        const std::size_t begin = page.lines.size();
        for (auto& text : block) {
            Line line = line_at(std::move(text), 72, y);
            line.font_size = 10;
            line.box = {72, y - 2.5, 300, y + 7.5};
            page.lines.push_back(std::move(line));
            y -= 12;
        }
        page.blocks.push_back({begin, page.lines.size()});
    }
    return page;
}

const std::string kNotice = "_[scanned page \xE2\x80\x94 text extraction requires OCR]_";
const std::string kTail = "</body>\n</html>\n";

// What the HTML has between <body> and </body>: the page sections.
std::string html_body(const std::string& html) {
    const std::size_t start = html.find("<body>\n");
    if (start == std::string::npos || !html.ends_with(kTail)) return "(not an HTML document)";
    return html.substr(start + 7, html.size() - kTail.size() - start - 7);
}

// One page's Markdown without its "<!-- page N -->" line.
std::string markdown_of(const PageText& page) {
    PageText numbered_page = page;
    numbered_page.number = 1;
    const std::string md = ExtractedDoc{"1.7", {numbered_page}}.to_markdown();
    const std::string comment = "<!-- page 1 -->";
    if (!md.starts_with(comment)) return "(no page comment)";
    return md.size() == comment.size() ? "" : md.substr(comment.size() + 2);
}

// One page's sections without the section tag.
std::string html_of(const PageText& page) {
    PageText numbered_page = page;
    numbered_page.number = 1;
    const std::string body = html_body(ExtractedDoc{"1.7", {numbered_page}}.to_html());
    const std::size_t open = body.find(">\n");
    if (!body.starts_with("<section ") || open == std::string::npos ||
        !body.ends_with("</section>\n")) {
        return "(not one section)";
    }
    return body.substr(open + 2, body.size() - open - 2 - 11);
}

std::string text_of(const PageText& page) { return ExtractedDoc{"1.7", {page}}.to_text(); }

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
// Markdown: text as written
// ---------------------------------------------------------------------------

// Each text is a paragraph of its own; CommonMark must show it as it is.
TEST(ToMarkdown, EscapesWhatCommonMarkReadsAsSyntaxAndNothingElse) {
    struct Case {
        std::string text;
        std::string expected;
    } cases[] = {
        // At the start of a line: headings, quotes, lists, breaks, fences.
        {"# 3 Results", R"(\# 3 Results)"},
        {"###### six", R"(\###### six)"},
        {"#", R"(\#)"},
        {"#hashtag", "#hashtag"},
        {"####### seven", "####### seven"},
        {"> quoted", R"(\> quoted)"},
        {"- AOAAAAAAAAAA -", R"(\- AOAAAAAAAAAA -)"},
        {"-", R"(\-)"},
        {"---", R"(\---)"},
        {"- - -", R"(\- - -)"},
        {"-5 degrees", "-5 degrees"},
        {"--verbose", "--verbose"},
        {"+ plus", R"(\+ plus)"},
        {"+1 vote", "+1 vote"},
        {"* star", R"(\* star)"},
        {"1. Introduction", R"(1\. Introduction)"},
        {"2) second", R"(2\) second)"},
        {"3.", R"(3\.)"},
        {"123456789. nine digits", R"(123456789\. nine digits)"},
        {"1234567890. ten digits", "1234567890. ten digits"},
        {"1.5 metres", "1.5 metres"},
        {"2024) year", R"(2024\) year)"},
        {"===", R"(\===)"},
        {"a = b", "a = b"},
        {"~~~ fence", R"(\~~~ fence)"},
        {"~ about", "~ about"},
        {"```code", R"(\`\`\`code)"},
        {"    indented four", "indented four"},
        {"\tindented tab", "indented tab"},
        // Inline: emphasis, code, links, raw HTML, escapes, references.
        {"a*b*c", R"(a\*b\*c)"},
        {"snake_case_name", R"(snake\_case\_name)"},
        {"[link](x)", R"(\[link\](x))"},
        {"![image](y)", R"(!\[image\](y))"},
        {"<b>bold</b>", R"(\<b>bold\</b>)"},
        {"<http://x.org>", R"(\<http://x.org>)"},
        {"C:\\path\\", R"(C:\\path\\)"},
        {"`tick`", R"(\`tick\`)"},
        {"&amp; &#169; &#xA9;", R"(\&amp; \&#169; \&#xA9;)"},
        {"AT&T & co; &#; &;", "AT&T & co; &#; &;"},
        {"a\nb\rc", "a b c"},
        // What is not syntax stays as it is.
        {"50% off! a|b {x} ~y~ ^z $1 'q' \"d\" a - b #1",
         "50% off! a|b {x} ~y~ ^z $1 'q' \"d\" a - b #1"},
        {"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(markdown_of(page_of_blocks({{c.text}})), c.expected);
    }
}

// Plain text is skipped several bytes a step; a character to escape is
// found wherever it falls in a step, and only it is escaped.
TEST(ToMarkdown, EscapesACharacterAtEveryPlaceInLongerText) {
    struct Case {
        char c;
        std::string written;
    } cases[] = {
        {'\\', "\\\\"}, {'`', "\\`"}, {'*', "\\*"}, {'_', "\\_"}, {'[', "\\["},
        {']', "\\]"},   {'<', "\\<"}, {'|', "|"},   {'&', "&"},   {'\n', " "},
    };
    for (const auto& c : cases) {
        for (std::size_t before = 0; before < 11; ++before) {
            for (std::size_t after = 0; after < 6; ++after) {
                const std::string head = "p" + std::string(before, 'x');
                const std::string tail = std::string(after, 'y');
                SCOPED_TRACE(head + c.c + tail);
                // Twice, so that a second stretch starts right after the first.
                const std::string text = head + c.c + tail + c.c + tail;
                const std::string expected = head + c.written + tail + c.written + tail;
                EXPECT_EQ(markdown_of(page_of_blocks({{text}})), expected);
            }
        }
    }
}
TEST(ToMarkdown, HeadingsKeepTheirTextAndAClosingHash) {
    struct Case {
        int level;
        std::string text;
        std::string expected;
    } cases[] = {
        {1, "Results", "# Results"},
        {2, "3 Methods", "## 3 Methods"},
        {3, "Costs *net*", R"(### Costs \*net\*)"},
        {1, "1. Introduction", "# 1. Introduction"},  // not a list inside a heading
        {1, "Section #", R"(# Section \#)"},
        {1, "Section ##", R"(# Section \##)"},
        {2, "C#", "## C#"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PageText page = page_of_blocks({{c.text}, {"body"}});
        page.blocks[0].heading = c.level;
        EXPECT_EQ(markdown_of(page), c.expected + "\n\nbody");
    }
}

// ---------------------------------------------------------------------------
// Paragraphs, in all three reading forms
// ---------------------------------------------------------------------------

TEST(ReadingForms, BlocksAreParagraphsOfJoinedLines) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> blocks;
        std::string markdown;
        std::string html;
        std::string text;
    } cases[] = {
        {"lines joined by a space, blocks apart",
         {{"The quick", "brown fox."}, {"Next one."}},
         "The quick brown fox.\n\nNext one.",
         "<p>The quick brown fox.</p>\n<p>Next one.</p>\n",
         "The quick brown fox.\n\nNext one."},
        {"a hyphen at a line end is kept, without a space",
         {{"exam-", "ple and well-", "known", "a -", "dash"}},
         "exam-ple and well-known a - dash",
         "<p>exam-ple and well-known a - dash</p>\n",
         "exam-ple and well-known a - dash"},
        {"U+2010 too",
         {{"exam\xE2\x80\x90", "ple"}},
         "exam\xE2\x80\x90ple",
         "<p>exam\xE2\x80\x90ple</p>\n",
         "exam\xE2\x80\x90ple"},
        {"no space between CJK characters",
         {{"\xE6\x97\xA5\xE6\x9C\xAC", "\xE8\xAA\x9E and", "\xE6\x97\xA5"}},
         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E and \xE6\x97\xA5",
         "<p>\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E and \xE6\x97\xA5</p>\n",
         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E and \xE6\x97\xA5"},
        {"lines trimmed, empty ones dropped",
         {{"  a  ", "", " ", "b\t"}, {""}, {"c"}},
         "a b\n\nc",
         "<p>a b</p>\n<p>c</p>\n",
         "a b\n\nc"},
        {"only a paragraph's start is a line start",
         {{"see", "# 3 and", "- x"}, {"1. one", "two"}},
         "see # 3 and - x\n\n1\\. one two",
         "<p>see # 3 and - x</p>\n<p>1. one two</p>\n",
         "see # 3 and - x\n\n1. one two"},
        {"escaped for HTML, not for text",
         {{"a < b & \"c\""}},
         "a \\< b & \"c\"",
         "<p>a &lt; b &amp; &quot;c&quot;</p>\n",
         "a < b & \"c\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PageText page = page_of_blocks(c.blocks);
        EXPECT_EQ(markdown_of(page), c.markdown);
        EXPECT_EQ(html_of(page), c.html);
        EXPECT_EQ(text_of(page), c.text);
    }
}

TEST(ReadingForms, HeadingsAndTabularBlocks) {
    PageText page = page_of_blocks({{"Results", "and costs"},
                                    {"Body text"},
                                    {"Sub"},
                                    {"Name  Qty", "- pens  3", "===", ""},
                                    {"Minor"}});
    page.blocks[0].heading = 1;
    page.blocks[2].heading = 2;
    page.blocks[3].table = true;
    page.blocks[4].heading = 3;
    EXPECT_EQ(markdown_of(page),
              "# Results and costs\n\nBody text\n\n## Sub\n\n"
              "Name  Qty\\\n\\- pens  3\\\n\\===\n\n### Minor");
    EXPECT_EQ(html_of(page),
              "<h1>Results and costs</h1>\n<p>Body text</p>\n<h2>Sub</h2>\n"
              "<p>Name  Qty<br>\n- pens  3<br>\n===</p>\n<h3>Minor</h3>\n");
    EXPECT_EQ(text_of(page),
              "Results and costs\n\nBody text\n\nSub\n\nName  Qty\n- pens  3\n===\n\nMinor");
}

// ---------------------------------------------------------------------------
// The ruled table in place of its lines
// ---------------------------------------------------------------------------

TEST(ReadingForms, TableStandsInPlaceOfTheLinesItCovers) {
    // Lines at y 700, 688, 676, 664, 652: the table covers 688 and 676.
    PageText page = page_of_blocks({{"Intro"}, {"a b"}, {"c d"}, {"After"}, {"End"}});
    Table table = table_of({{"a", "b *x*"}, {"c|", "d\ne"}}, 2, 2);
    table.box = {60, 670, 400, 695};
    page.tables.push_back(table);
    EXPECT_EQ(markdown_of(page),
              "Intro\n\n| a | b \\*x\\* |\n| --- | --- |\n| c\\| | d e |\n\nAfter\n\nEnd");
    EXPECT_EQ(html_of(page),
              "<p>Intro</p>\n<table>\n<tr><td>a</td><td>b *x*</td></tr>\n"
              "<tr><td>c|</td><td>d\ne</td></tr>\n</table>\n<p>After</p>\n<p>End</p>\n");
    EXPECT_EQ(text_of(page), "Intro\n\na\tb *x*\nc|\td\ne\n\nAfter\n\nEnd");

    // A block that runs into the table is cut around it; the table comes
    // once, where its first line was.
    PageText merged = page_of_blocks({{"Intro", "a b", "c d", "After"}, {"End"}});
    merged.tables.push_back(table);
    EXPECT_EQ(text_of(merged), "Intro\n\na\tb *x*\nc|\td\ne\n\nAfter\n\nEnd");

    // The pipeline's blocks may come without the table flag, or with it.
    PageText flagged = page;
    flagged.blocks[1].table = flagged.blocks[2].table = true;
    EXPECT_EQ(markdown_of(flagged), markdown_of(page));

    // A table that covers no line comes after the page's lines; one with
    // nothing to show is left out.
    PageText apart = page_of_blocks({{"Only"}});
    Table away = table_of({{"x"}, {"y"}}, 2, 1);
    away.box = {0, 0, 10, 10};
    apart.tables.push_back(away);
    EXPECT_EQ(markdown_of(apart), "Only\n\n| x |\n| --- |\n| y |");
    EXPECT_EQ(text_of(apart), "Only\n\nx\ny");
    apart.tables[0] = table_of({}, 0, 0);
    EXPECT_EQ(markdown_of(apart), "Only");
    EXPECT_EQ(text_of(apart), "Only");
    EXPECT_EQ(html_of(apart), "<p>Only</p>\n<table>\n</table>\n");
}

TEST(ToMarkdown, TableShapes) {
    PageText ragged;  // the separator follows cols, not the first row's length
    ragged.tables.push_back(table_of({{"only"}, {"p", "q", "r"}}, 2, 3));
    PageText separator_only;
    separator_only.tables.push_back(table_of({}, 2, 2));
    PageText zero_counts;  // rows present but no separator without rows and cols
    zero_counts.tables.push_back(table_of({{"a"}, {"b"}}, 0, 2));
    PageText empty_row;
    empty_row.tables.push_back(table_of({{}, {"a"}}, 2, 1));
    struct Case {
        const char* name;
        PageText page;
        std::string expected;
    } cases[] = {
        {"separator from cols", ragged, "| only |\n| --- | --- | --- |\n| p | q | r |"},
        {"cells empty, counts set", separator_only, "| --- | --- |"},
        {"zero rows: no separator", zero_counts, "| a |\n| b |"},
        {"row without cells", empty_row, "|  |\n| --- |\n| a |"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(markdown_of(c.page), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Pages
// ---------------------------------------------------------------------------

TEST(ToMarkdown, PagesOpenWithTheirNumberAndAreSeparatedByBreaks) {
    PageText ocr_with_table;
    ocr_with_table.needs_ocr = true;
    ocr_with_table.tables.push_back(table_of({{"a"}}, 1, 1));
    const std::string P1 = "<!-- page 1 -->\n\n";
    struct Case {
        const char* name;
        std::vector<PageText> pages;
        std::string expected;
    } cases[] = {
        {"no pages", {}, ""},
        {"lines without blocks are blocks of one", {page_with_lines({"A", "B"})}, P1 + "A\n\nB"},
        {"empty page between",
         {page_with_lines({"A"}), PageText{}, page_with_lines({"B"})},
         P1 + "A\n\n---\n\n<!-- page 2 -->\n\n---\n\n<!-- page 3 -->\n\nB"},
        {"single empty page", {PageText{}}, "<!-- page 1 -->"},
        {"empty line texts show nothing", {page_with_lines({"", ""})}, "<!-- page 1 -->"},
        {"ocr notice ignores tables", {ocr_with_table}, P1 + kNotice},
        {"ocr between pages",
         {page_with_lines({"A"}), ocr_with_table},
         P1 + "A\n\n---\n\n<!-- page 2 -->\n\n" + kNotice},
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

TEST(ToHtml, SectionsGrowWithTheirPageAsDisplayed) {
    struct Case {
        double width;
        double height;
        int rotation;
        const char* size;
    } cases[] = {
        {612.0, 792.0, 0, "width:612px;min-height:792px"},
        {612.5, 613.5, 180, "width:612px;min-height:614px"},    // halves to even
        {595.276, 841.89, 90, "width:842px;min-height:595px"},  // turned a quarter
        {0.49999999999999994, 2.5, 270, "width:2px;min-height:0px"},
        {1e20, 4503599627370497.0, 0,
         "width:100000000000000000000px;min-height:4503599627370497px"},
        {std::numeric_limits<double>::infinity(), std::nan(""), 0, "width:infpx;min-height:nanpx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        PageText page;
        page.number = 3;
        page.width = c.width;
        page.height = c.height;
        page.rotation = c.rotation;
        const std::string expected = "<section class=\"page\" id=\"page-3\" data-page=\"3\" " +
                                     std::string("data-rotation=\"") + std::to_string(c.rotation) +
                                     "\" style=\"" + c.size + "\">\n</section>\n";
        EXPECT_EQ(html_body(ExtractedDoc{"1.7", {page}}.to_html()), expected);
    }
}

TEST(ToHtml, TitleEscapedOrVellox) {
    struct Case {
        std::string title;
        std::string expected;
    } cases[] = {
        {"", "<title>vellox</title>"},
        {"Q&A <draft>", "<title>Q&amp;A &lt;draft&gt;</title>"},
        {"</title><script>", "<title>&lt;/title&gt;&lt;script&gt;</title>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ExtractedDoc doc{"1.7", {}, c.title};
        const std::string html = doc.to_html();
        EXPECT_TRUE(html.starts_with("<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\">" +
                                     c.expected))
            << html;
        EXPECT_EQ(html_body(html), "");
    }
}

TEST(ToHtml, ScannedPagesAreMarked) {
    PageText scanned;
    scanned.width = 612;
    scanned.height = 792;
    scanned.needs_ocr = true;
    const std::string body =
        html_body(ExtractedDoc{"1.7", numbered({scanned, page_with_lines({"A"})})}.to_html());
    EXPECT_EQ(body,
              "<section class=\"page\" id=\"page-1\" data-page=\"1\" data-rotation=\"0\" "
              "data-needs-ocr=\"true\" style=\"width:612px;min-height:792px\">\n</section>\n"
              "<section class=\"page\" id=\"page-2\" data-page=\"2\" data-rotation=\"0\" "
              "style=\"width:612px;min-height:792px\">\n<p>A</p>\n</section>\n");
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

TEST(ToText, PagesSeparatedByFormFeeds) {
    PageText scanned;
    scanned.needs_ocr = true;
    struct Case {
        const char* name;
        std::vector<PageText> pages;
        std::string expected;
    } cases[] = {
        {"no pages", {}, ""},
        {"one page", {page_with_lines({"A", "B"})}, "A\n\nB"},
        {"empty and scanned pages keep their place",
         {page_with_lines({"A"}), PageText{}, scanned, page_with_lines({"B"})},
         "A\f\f\fB"},
        {"a form feed in a line is a space",
         {page_with_lines({"A\fB"}), page_with_lines({"C"})},
         "A B\fC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ((ExtractedDoc{"1.7", numbered(c.pages)}.to_text()), c.expected);
    }
}
