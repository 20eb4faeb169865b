// Real files through page content, the content parser, font loading and the
// text-run machine, checked against poppler's pdftotext.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "content.h"
#include "doc.h"
#include "page.h"
#include "support/corpus.h"
#include "support/read_file.h"
#include "text.h"

using namespace vellox_core;
using vellox_test::read_file;

namespace {

// Layout differs between extractors (we insert no spaces at all before line
// layout), so texts are compared with every ASCII white-space byte removed.
std::string squeeze(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t' && c != '\f') out += c;
    }
    return out;
}

struct PageRuns {
    std::vector<std::vector<TextRun>> pages;
};

PageRuns runs_of_file(const std::string& data) {
    PageRuns out;
    auto doc = Document::parse_with_password(as_bytes(data), {});
    EXPECT_TRUE(doc.ok()) << (doc.ok() ? "" : doc.error().to_string());
    if (!doc) return out;
    auto pages = doc->pages();
    EXPECT_TRUE(pages.ok());
    if (!pages) return out;
    FontCache fonts_of_file;
    for (const Page& page : pages.value()) {
        auto drawing = interpret_page(doc->resolver, page, fonts_of_file);
        EXPECT_TRUE(drawing.ok());
        if (!drawing) return out;
        out.pages.push_back(std::move(drawing->runs));
    }
    return out;
}

std::filesystem::path corpus_file(std::string_view name) {
    return std::filesystem::path(VELLOX_CORPUS_DIR) / (std::string(name) + ".pdf");
}

}  // namespace

TEST(TextCorpus, PageTextMatchesPdftotext) {
    VELLOX_SKIP_WITHOUT_CORPUS();
    // The oracle texts come from core/tests/fixtures/text/make.sh.
    const char* const files[] = {"minimal-document", "002-trivial-libre-office-writer",
                                 "libre-office-link", "pdfkit", "pdflatex-outline"};
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const auto pdf = corpus_file(name);
        ASSERT_TRUE(std::filesystem::exists(pdf)) << pdf;
        const std::string oracle =
            read_file(std::filesystem::path(VELLOX_SOURCE_DIR) / "core/tests/fixtures/text" /
                      (std::string(name) + ".txt"));
        ASSERT_FALSE(oracle.empty());
        // pdftotext ends every page with a form feed.
        std::vector<std::string> want;
        std::size_t start = 0;
        for (std::size_t ff = oracle.find('\f'); ff != std::string::npos;
             ff = oracle.find('\f', start)) {
            want.push_back(squeeze(oracle.substr(start, ff - start)));
            start = ff + 1;
        }
        const std::string data = read_file(pdf);
        const PageRuns got = runs_of_file(data);
        ASSERT_EQ(got.pages.size(), want.size());
        for (std::size_t p = 0; p < want.size(); ++p) {
            SCOPED_TRACE("page " + std::to_string(p + 1));
            std::string text;
            for (const TextRun& run : got.pages[p]) text += run.text;
            EXPECT_FALSE(want[p].empty());
            EXPECT_EQ(squeeze(text), want[p]);
        }
    }
}

TEST(TextCorpus, FirstWordPlacedLikePdftotext) {
    VELLOX_SKIP_WITHOUT_CORPUS();
    // From `pdftotext -bbox -f 1 -l 1`: the first word's box, in a top-left
    // coordinate system with the given page height. The pdfTeX file shows
    // whole words per TJ string; LibreOffice shows one glyph per string.
    struct Case {
        std::string_view file;
        std::string_view first_run;
        double x_min, x_max, y_max, page_height;
    };
    const Case cases[] = {
        {"minimal-document", "Lorem", 100.2, 130.684389, 97.264365, 841.89},
        {"002-trivial-libre-office-writer", "L", 56.8, 0, 70.250764, 841.889764},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file));
        const auto pdf = corpus_file(c.file);
        ASSERT_TRUE(std::filesystem::exists(pdf)) << pdf;
        const std::string data = read_file(pdf);
        const PageRuns got = runs_of_file(data);
        ASSERT_FALSE(got.pages.empty());
        ASSERT_FALSE(got.pages[0].empty());
        const TextRun& run = got.pages[0][0];
        EXPECT_EQ(run.text, c.first_run);
        EXPECT_NEAR(run.x, c.x_min, 0.01);
        if (c.x_max > 0) {
            EXPECT_NEAR(run.x + run.width, c.x_max, 0.01);
        }
        // The box top sits above the baseline by less than the font size.
        const double baseline_from_top = c.page_height - run.y;
        EXPECT_GT(baseline_from_top, c.y_max - run.font_size);
        EXPECT_LE(baseline_from_top, c.y_max);
    }
}
