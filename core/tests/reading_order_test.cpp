// Reading order: columns, blocks and tables, on runs built here and on the
// multi-column pages of real producers (core/tests/fixtures/order/make.py),
// whose words are checked exactly against the text they were made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "doc.h"
#include "layout.h"
#include "reading_order.h"
#include "support/corpus.h"
#include "support/read_file.h"

using namespace vellox_core;

namespace {

const Rect kLetter{0, 0, 612, 792};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A run of `text` at (x, y), its advance 6 units a character at size 10.
TextRun run(const std::string& text, double x, double y, double size = 10) {
    TextRun r;
    r.text = text;
    r.font = "F1";
    r.x = x;
    r.y = y;
    r.width = 0.5 * size * static_cast<double>(text.size());
    r.font_size = size;
    return r;
}

PageText ordered(const std::vector<TextRun>& runs, ReadingOrder order,
                 std::vector<Rect> tables = {}) {
    std::vector<LinePiece> pieces;
    PageText page = layout_page(runs, kLetter, 0, &pieces);
    order_page(page, pieces, tables, order);
    return page;
}

std::vector<std::string> texts(const PageText& page) {
    std::vector<std::string> out;
    for (const Line& l : page.lines) out.push_back(l.text);
    return out;
}

// Blocks as lists of line texts, "T:" before a table block's.
std::vector<std::vector<std::string>> block_texts(const PageText& page) {
    std::vector<std::vector<std::string>> out;
    for (const Block& b : page.blocks) {
        std::vector<std::string> lines;
        for (std::size_t i = b.begin; i < b.end; ++i) {
            lines.push_back((b.table ? "T:" : "") + page.lines[i].text);
        }
        out.push_back(std::move(lines));
    }
    return out;
}

// The blocks cut `lines` into consecutive, non-empty ranges, in order.
void expect_blocks_cover(const PageText& page) {
    std::size_t next = 0;
    for (const Block& b : page.blocks) {
        ASSERT_EQ(b.begin, next);
        ASSERT_LT(b.begin, b.end);
        next = b.end;
    }
    EXPECT_EQ(next, page.lines.size());
}

// The non-space bytes of all lines, sorted: the same text, whatever the
// order and wherever lines were split.
std::string letters(const PageText& page) {
    std::string out;
    for (const Line& l : page.lines) {
        for (const char c : l.text) {
            if (c != ' ') out.push_back(c);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// `n` lines of a column at x, from y down, 12 units apart; each line a
// run of words "<tag><i>w..." filling `width` characters.
std::vector<TextRun> column(const std::string& tag, double x, double y, int n, int chars = 40,
                            double size = 10) {
    std::vector<TextRun> out;
    for (int i = 0; i < n; ++i) {
        std::string text = tag + std::to_string(i);
        while (static_cast<int>(text.size()) < chars) text += " word";
        out.push_back(run(text, x, y - 12 * i, size));
    }
    return out;
}

std::vector<TextRun> joined(std::vector<std::vector<TextRun>> parts) {
    std::vector<TextRun> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(ReadingOrder, ColumnsAndWhatSpansThem) {
    // Two columns of 40 characters (200 units wide, 20 apart) on shared
    // baselines, so that layout makes each pair one line; a title above and
    // a footer below span both.
    const std::vector<TextRun> runs = joined({
        {run("A Title Across Both Columns", 200, 740, 16)},
        column("L", 72, 700, 5),
        column("R", 292, 700, 5),
        {run("page footer", 280, 600)},
    });
    const PageText position = ordered(runs, ReadingOrder::Position);
    ASSERT_EQ(position.lines.size(), 7u);
    EXPECT_EQ(position.lines[1].text.substr(0, 3), "L0 ");
    EXPECT_NE(position.lines[1].text.find("R0"), std::string::npos);

    const PageText page = ordered(runs, ReadingOrder::Columns);
    std::vector<std::string> expected = {"A Title Across Both Columns"};
    for (const char* tag : {"L", "R"}) {
        for (const TextRun& r : column(tag, 0, 0, 5)) expected.push_back(r.text);
    }
    expected.push_back("page footer");
    EXPECT_EQ(texts(page), expected);
    expect_blocks_cover(page);
    // The title, each column, the footer.
    EXPECT_EQ(page.blocks.size(), 4u);
    // A split line keeps its own origin: the right column's lines start
    // at its x.
    EXPECT_EQ(page.lines[6].x, 292);
    EXPECT_EQ(page.lines[6].y, 700);
    EXPECT_EQ(letters(page), letters(position));
}

TEST(ReadingOrder, LinesStayWholeWithoutColumns) {
    struct Case {
        const char* name;
        std::vector<TextRun> runs;
    };
    const std::vector<Case> cases = {
        // A running head with the page number far to the right.
        {"head",
         joined({{run("Running head", 72, 750), run("17", 520, 750)}, column("P", 72, 720, 6)})},
        // A wide word space in one line of a paragraph.
        {"space", joined({column("P", 72, 720, 3),
                          {run("gap", 72, 684), run("after", 200, 684)},
                          column("Q", 72, 672, 3)})},
        // Gaps lining up over two lines of text: a river, not a column.
        {"river", joined({column("P", 72, 720, 3),
                          {run("left side", 72, 684), run("right side", 200, 684)},
                          {run("left more", 72, 672), run("right more", 200, 672)},
                          column("Q", 72, 660, 3)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PageText position = ordered(c.runs, ReadingOrder::Position);
        const PageText page = ordered(c.runs, ReadingOrder::Columns);
        EXPECT_EQ(texts(page), texts(position));
        expect_blocks_cover(page);
    }
}

TEST(ReadingOrder, TablesReadRowByRow) {
    // Four rows of three short cells, 100 units apart: a table, not three
    // columns, ruled or not.
    std::vector<TextRun> cells;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) {
            cells.push_back(run("c" + std::to_string(row) + std::to_string(col), 100 + 100 * col,
                                600 - 14 * row));
        }
    }
    const std::vector<TextRun> runs =
        joined({column("P", 72, 700, 3), cells, column("Q", 72, 520, 3)});
    const std::vector<std::string> rows = {"c00 c01 c02", "c10 c11 c12", "c20 c21 c22",
                                           "c30 c31 c32"};
    for (const bool ruled : {false, true}) {
        SCOPED_TRACE(ruled ? "ruled" : "unruled");
        std::vector<Rect> tables;
        if (ruled) tables.push_back({95, 550, 400, 615});
        const PageText page = ordered(runs, ReadingOrder::Columns, tables);
        const auto blocks = block_texts(page);
        ASSERT_EQ(blocks.size(), 3u);
        std::vector<std::string> table;
        for (const std::string& r : rows) table.push_back("T:" + r);
        EXPECT_EQ(blocks[1], table);
        EXPECT_EQ(blocks[0].size(), 3u);
        EXPECT_EQ(blocks[2].size(), 3u);
        // Position order keeps the lines and marks the ruled table's block.
        const PageText position = ordered(runs, ReadingOrder::Position, tables);
        EXPECT_EQ(texts(position), texts(page));
        EXPECT_EQ(block_texts(position)[1] == table, ruled);
    }
}

TEST(ReadingOrder, ParagraphBlocks) {
    // A heading, a paragraph, a space, a paragraph with a first-line indent
    // following one without space between them.
    const std::vector<TextRun> runs = joined({
        {run("Heading", 72, 740, 14)},
        column("A", 72, 716, 3),
        column("B", 72, 670, 2),
        {run("C0 indented first line of a new paragraph", 90, 646)},
        column("C", 72, 634, 2),
    });
    const PageText page = ordered(runs, ReadingOrder::Columns);
    const auto blocks = block_texts(page);
    std::vector<std::size_t> sizes;
    for (const auto& b : blocks) sizes.push_back(b.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1, 3, 2, 3}));
    // The same blocks in position order, where the lines are the same.
    std::vector<std::size_t> position;
    for (const Block& b : ordered(runs, ReadingOrder::Position).blocks) {
        position.push_back(b.end - b.begin);
    }
    EXPECT_EQ(position, sizes);
}

TEST(ReadingOrder, HostileCoordinatesKeepEveryLine) {
    std::vector<TextRun> runs = joined({column("L", 72, 700, 4), column("R", 292, 700, 4)});
    runs[2].x = kNaN;
    runs[5].y = std::numeric_limits<double>::infinity();
    runs[6].font_size = kNaN;
    runs.push_back(run("huge", 1e308, -1e308, 1e300));
    const PageText position = ordered(runs, ReadingOrder::Position);
    const PageText page = ordered(runs, ReadingOrder::Columns);
    EXPECT_EQ(letters(page), letters(position));
    expect_blocks_cover(page);
}

TEST(ReadingOrder, ManyLinesStayNearLinear) {
    // 100,000 lines in two columns and many bands: each level of cuts is
    // a sort, so this takes well under a second unsanitized; a quadratic
    // pass would take minutes.
    std::vector<TextRun> runs;
    for (int i = 0; i < 50000; ++i) {
        const double y = 100000 - 12.0 * i;
        runs.push_back(run("left column text of a line", 72, y));
        runs.push_back(run("right column text of a line", 292, y - 6));
    }
    const auto start = std::chrono::steady_clock::now();
    const PageText page = ordered(runs, ReadingOrder::Columns);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(page.lines.size(), 100000u);
    EXPECT_EQ(page.lines[0].text, "left column text of a line");
    EXPECT_EQ(page.lines[50000].text, "right column text of a line");
    expect_blocks_cover(page);
    EXPECT_LT(seconds, 30.0);
}

// Real producers' multi-column pages.
namespace {

const std::string kFixtures = std::string(VELLOX_SOURCE_DIR) + "/core/tests/fixtures/order/";

std::vector<std::string> split_words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

Result<ExtractedDoc> extract_file(const std::filesystem::path& path, ReadingOrder order,
                                  const std::string& password = {}) {
    const std::string data = vellox_test::read_file(path);
    auto doc = Document::parse_with_password(as_bytes(data), as_bytes(password));
    if (!doc) return std::move(doc).error();
    ExtractOptions options;
    options.order = order;
    return doc->extract(options);
}

}  // namespace

TEST(ReadingOrderFixtures, ReadInSourceOrder) {
    for (const char* name : {"frames", "groff_2c", "latex_twocolumn", "sections"}) {
        SCOPED_TRACE(name);
        const auto expected = split_words(vellox_test::read_file(kFixtures + name + ".txt"));
        ASSERT_FALSE(expected.empty());
        auto doc = extract_file(kFixtures + name + ".pdf", ReadingOrder::Columns);
        ASSERT_TRUE(doc);
        auto position = extract_file(kFixtures + name + ".pdf", ReadingOrder::Position);
        ASSERT_TRUE(position);
        std::string text;
        for (const PageText& page : doc->pages) {
            SCOPED_TRACE(page.number);
            expect_blocks_cover(page);
            text += page.text() + "\n";
        }
        EXPECT_EQ(split_words(text), expected);
        // Position order mixes the columns.
        EXPECT_NE(split_words(position->to_text()), expected);
    }
}

TEST(ReadingOrderFixtures, TablesOnTheFramesPage) {
    auto doc = extract_file(kFixtures + "frames.pdf", ReadingOrder::Columns);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->pages.size(), 4u);
    const PageText& page = doc->pages[3];
    ASSERT_EQ(page.tables.size(), 1u);
    // The ruled table's 4 rows of 3 cells and the unruled 5 rows of 4 are
    // table blocks, each row one line.
    std::vector<std::size_t> rows;
    for (const Block& b : page.blocks) {
        if (!b.table) continue;
        rows.push_back(b.end - b.begin);
        for (std::size_t i = b.begin; i < b.end; ++i) {
            EXPECT_EQ(split_words(page.lines[i].text).size(), rows.size() == 1 ? 3u : 4u);
        }
    }
    EXPECT_EQ(rows, (std::vector<std::size_t>{4, 5}));
}

TEST(ReadingOrderCorpus, SameTextEveryLineOnce) {
    VELLOX_SKIP_WITHOUT_CORPUS();
    const std::filesystem::path root = std::filesystem::path(VELLOX_CORPUS_DIR).parent_path();
    std::size_t pages = 0;
    for (const char* folder : {"sample-files", "pypdf-resources", "pdfminer-samples"}) {
        if (!std::filesystem::is_directory(root / folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
            if (entry.path().extension() != ".pdf") continue;
            SCOPED_TRACE(entry.path().string());
            auto columns = extract_file(entry.path(), ReadingOrder::Columns);
            auto position = extract_file(entry.path(), ReadingOrder::Position);
            ASSERT_EQ(columns.ok(), position.ok());
            if (!columns) continue;
            ASSERT_EQ(columns->pages.size(), position->pages.size());
            for (std::size_t i = 0; i < columns->pages.size(); ++i) {
                SCOPED_TRACE(i);
                expect_blocks_cover(columns->pages[i]);
                expect_blocks_cover(position->pages[i]);
                EXPECT_EQ(letters(columns->pages[i]), letters(position->pages[i]));
                EXPECT_GE(columns->pages[i].lines.size(), position->pages[i].lines.size());
                ++pages;
            }
        }
    }
    EXPECT_GT(pages, 100u);
}
