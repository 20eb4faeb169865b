// Fonts loaded once per document give the same extraction as fonts loaded
// on every page: the whole pipeline, run page by page with uncached fonts,
// against Document::extract over the sample corpus and over a hand-built
// file whose pages share fonts in every way a resource dictionary can.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "content.h"
#include "doc.h"
#include "font.h"
#include "image.h"
#include "layout.h"
#include "page.h"
#include "reading_order.h"
#include "support/corpus.h"
#include "support/pdf_builder.h"
#include "tables.h"
#include "text.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

// Document::extract with every page's fonts loaded afresh; the JSON form
// shows every field of the result.
std::string uncached_json(const Document& doc) {
    auto pages = doc.pages();
    if (!pages) return "pages failed";
    ExtractedDoc out;
    out.version = doc.version;
    for (const Page& page : *pages) {
        FontCache fresh;  // nothing loaded for another page is reused
        auto drawing = interpret_page(doc.resolver, page, fresh);
        if (!drawing) return "content failed";
        std::vector<LinePiece> pieces;
        PageText text = layout_page(drawing->runs, page.media_box, page.rotate, &pieces);
        text.number = out.pages.size() + 1;
        text.tables = detect_tables(drawing->rules, drawing->runs, page.rotate);
        std::vector<Rect> boxes;
        for (const Table& t : text.tables) boxes.push_back(t.box);
        order_page(text, pieces, boxes, ReadingOrder::Columns);
        text.images = extract_images(doc.resolver, page.resources, drawing->images);
        text.needs_ocr = text.lines.empty() && !text.images.empty();
        out.pages.push_back(std::move(text));
    }
    return out.to_json();
}

void expect_same_as_uncached(const std::string& data) {
    auto doc = Document::parse_with_password(as_bytes(data), {});
    if (!doc) return;
    auto extracted = doc->extract();
    if (!extracted) {
        // Only the page tree or a page's content can fail (an encrypted
        // file opened without its password); the uncached run fails too.
        EXPECT_NE(uncached_json(*doc).find(" failed"), std::string::npos);
        return;
    }
    EXPECT_EQ(extracted->to_json(), uncached_json(*doc));
}

}  // namespace

TEST(FontCache, SharedTablesFontsAndInlineDictionaries) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2,
          "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R] /MediaBox [0 0 612 792] >>");
    // Pages 3 and 4 share the /Font table 40; page 5 names font 21 as /F1
    // (another page's /F2); page 6 has an inline font dictionary named /F1.
    // The text differs between these, so a cache that mixed fonts up would
    // show.
    b.obj(3, "<< /Type /Page /Parent 2 0 R /Contents 10 0 R /Resources << /Font 40 0 R >> >>");
    b.obj(4, "<< /Type /Page /Parent 2 0 R /Contents 10 0 R /Resources << /Font 40 0 R >> >>");
    b.obj(5,
          "<< /Type /Page /Parent 2 0 R /Contents 10 0 R /Resources << /Font << /F1 21 0 R /F2 20 "
          "0 R >> >> >>");
    b.obj(6,
          "<< /Type /Page /Parent 2 0 R /Contents 10 0 R /Resources << /Font << /F1 "
          "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Widths [900] /FirstChar 65 /LastChar "
          "65 >> >> >> >>");
    // Pages 7 and 8 repeat the tables of pages 3 and 5 as direct
    // dictionaries: same names, fonts swapped between them.
    b.obj(7,
          "<< /Type /Page /Parent 2 0 R /Contents 10 0 R /Resources << /Font << /F1 20 0 R /F2 21 "
          "0 R >> >> >>");
    b.obj(8,
          "<< /Type /Page /Parent 2 0 R /Contents 10 0 R /Resources << /Font << /F1 21 0 R /F2 20 "
          "0 R >> >> >>");
    b.stream(10, "", "BT /F1 12 Tf 72 700 Td (AAB) Tj /F2 12 Tf (AB) Tj ET");
    b.obj(20,
          "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 65 /LastChar 66 /Widths "
          "[300 2000] >>");
    b.obj(21,
          "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding << /Differences [65 /B "
          "/A] >> "
          "/FirstChar 65 /LastChar 66 /Widths [1500 250] >>");
    b.obj(40, "<< /F1 20 0 R /F2 21 0 R >>");
    b.xref_table("/Root 1 0 R");
    std::string data = b.text();
    expect_same_as_uncached(data);
    auto doc = Document::parse_with_password(as_bytes(data), {});
    ASSERT_TRUE(doc.ok());
    auto extracted = doc->extract();
    ASSERT_TRUE(extracted.ok());
    ASSERT_EQ(extracted->pages.size(), 6u);
    std::string md3 = extracted->pages[0].text();
    std::string md5 = extracted->pages[2].text();
    std::string md6 = extracted->pages[3].text();
    std::string md7 = extracted->pages[4].text();
    std::string md8 = extracted->pages[5].text();
    EXPECT_NE(md3, md5);
    EXPECT_NE(md3, md6);
    EXPECT_EQ(md7, md3);
    EXPECT_EQ(md8, md5);
}

TEST(FontCache, CorpusMatchesPerPageLoading) {
    VELLOX_SKIP_WITHOUT_CORPUS();
    std::filesystem::path dir(VELLOX_CORPUS_DIR);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".pdf") continue;
        std::ifstream f(entry.path(), std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        expect_same_as_uncached(data);
        ++files;
    }
    EXPECT_GT(files, 20);
}
