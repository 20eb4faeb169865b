#include "overprint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "doc.h"
#include "support/read_file.h"

using namespace vellox_core;

namespace {

TextRun run(std::string text, double x, double y, double width, double size = 10) {
    TextRun r;
    r.text = std::move(text);
    r.x = x;
    r.y = y;
    r.width = width;
    r.font_size = size;
    return r;
}

std::vector<std::string> texts(const std::vector<TextRun>& runs) {
    std::vector<std::string> out;
    for (const TextRun& r : runs) out.push_back(r.text);
    return out;
}

}  // namespace

TEST(Overprint, CopiesDrawnAtAlmostTheSamePlaceAreDropped) {
    using Texts = std::vector<std::string>;
    struct Case {
        const char* name;
        std::vector<TextRun> runs;
        Texts kept;
    };
    TextRun turned = run("up", 100, 100, 20);
    turned.dir_x = 0;
    turned.dir_y = 1;
    TextRun turned_copy = turned;
    turned_copy.x -= 0.5;  // across an upward line
    turned_copy.y += 0.5;  // along it
    TextRun upright_copy = turned;
    upright_copy.dir_x = 1;
    upright_copy.dir_y = 0;
    const Case cases[] = {
        {"faked bold, piece by piece",
         {run("M", 546.24, 388.08, 8.4), run("un", 554.4, 388.08, 11),
          run("M", 545.28, 387.12, 8.4), run("un", 553.44, 387.12, 11)},
         {"M", "un"}},
        {"the copy drawn first is the one kept",
         {run("word", 10.5, 9.5, 20), run("word", 10, 10, 20)},
         {"word"}},
        {"letters placed one by one stay",
         {run("l", 10, 10, 2.2), run("l", 12.2, 10, 2.2)},
         {"l", "l"}},
        {"a copy a whole size away is other text",
         {run("0", 10, 10, 5), run("0", 10, 7.5, 5)},
         {"0", "0"}},
        {"another size is other text",
         {run("x", 10, 10, 5, 10), run("x", 10, 10, 6, 12)},
         {"x", "x"}},
        {"another text at the same place stays",
         {run("a", 10, 10, 5), run("b", 10, 10, 5)},
         {"a", "b"}},
        {"a copied space too", {run(" ", 10, 10, 2.5), run(" ", 10.2, 10, 2.5)}, {" "}},
        {"a narrow letter's copy", {run("i", 10, 10, 2.8), run("i", 10.96, 10.96, 2.8)}, {"i"}},
        // Near the reach both along and across: farther from the original
        // than the reach itself, yet a copy.
        {"a copy at the corner of the reach",
         {run("w", 10, 10, 20), run("w", 11.9, 11.9, 20)},
         {"w"}},
        {"measured along the run's direction", {turned, turned_copy}, {"up"}},
        {"another direction is other text", {turned, upright_copy}, {"up", "up"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TextRun> runs = c.runs;
        drop_overprinted(runs);
        EXPECT_EQ(texts(runs), c.kept);
    }

    // Runs whose size or position is not a number are kept.
    std::vector<TextRun> odd = {run("n", 10, 10, 5, std::nan("")),
                                run("n", 10, 10, 5, std::nan(""))};
    drop_overprinted(odd);
    EXPECT_EQ(odd.size(), 2u);
}

TEST(Overprint, FakedBoldInARealFileReadsOnce) {
    const std::filesystem::path file = std::filesystem::path(VELLOX_CORPUS_DIR).parent_path() /
                                       "pdfminer-samples/contrib-issue-1008-inline-ascii85.pdf";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "corpus not found: " << file;
    const std::string data = vellox_test::read_file(file);
    auto doc = Document::parse_with_password(as_bytes(data), {});
    ASSERT_TRUE(doc.ok());
    auto extracted = doc->extract();
    ASSERT_TRUE(extracted.ok());
    const std::string text = extracted->pages.at(0).text();
    EXPECT_NE(text.find("Municipalité de Morin-Heights"), std::string::npos) << text;
    EXPECT_EQ(text.find("MMuu"), std::string::npos) << text;
}
