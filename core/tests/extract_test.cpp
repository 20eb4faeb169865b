// The extraction pipeline and image listing over small hand-built files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "doc.h"
#include "image.h"
#include "support/corpus.h"
#include "support/pdf_builder.h"
#include "support/zlib_compress.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

const char* kFont = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

// Pages: 1 text + image, 2 image only, 3 nothing, 4 a ruled 2x1 table.
std::string sample_document() {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /MediaBox [0 0 612 792] >>");
    b.obj(3,
          "<< /Type /Page /Parent 2 0 R /Contents 10 0 R "
          "/Resources << /Font << /F1 20 0 R >> /XObject << /Im1 30 0 R >> >> >>");
    b.obj(4,
          "<< /Type /Page /Parent 2 0 R /Contents 11 0 R "
          "/Resources << /XObject << /Scan 31 0 R /Form 32 0 R >> >> >>");
    b.obj(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] >>");
    b.obj(
        6,
        "<< /Type /Page /Parent 2 0 R /Contents 12 0 R /Resources << /Font << /F1 20 0 R >> >> >>");
    b.stream(10, "", "BT /F1 12 Tf 72 700 Td (Hello) Tj ET q 100 0 0 100 0 0 cm /Im1 Do Q");
    b.stream(11, "", "q 612 0 0 792 0 0 cm /Scan Do Q");
    b.stream(12, "",
             "0 0 612 792 re W n "  // page clip: not a rule
             "100 500 200 100 re S 200 500 m 200 600 l S "
             "BT /F1 10 Tf 110 550 Td (left) Tj 100 0 Td (right) Tj ET");
    b.obj(20, kFont);
    const std::string pixels = vellox_test::zlib_compress(std::string(12, '\x7f'));
    b.stream(30,
             "/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 "
             "/ColorSpace /DeviceRGB /Filter /FlateDecode",
             pixels);
    b.stream(31,
             "/Subtype /Image /Width 1700 /Height -5 /ColorSpace [/ICCBased 40 0 R] "
             "/Filter [/FlateDecode /DCTDecode]",
             vellox_test::zlib_compress("\xFF\xD8 not really a jpeg"));
    b.stream(32, "/Subtype /Form /BBox [0 0 1 1]", "");
    b.xref_table("/Root 1 0 R");
    return b.text();
}

}  // namespace

TEST(Extract, PagesStagesAndOcrFlag) {
    const std::string file = sample_document();
    auto doc = Document::parse_with_password(as_bytes(file), {});
    ASSERT_TRUE(doc.ok()) << doc.error().to_string();
    auto result = doc->extract();
    ASSERT_TRUE(result.ok()) << result.error().to_string();
    EXPECT_EQ(result->version, "1.7");
    ASSERT_EQ(result->pages.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(result->pages[i].number, i + 1);

    const PageText& text_and_image = result->pages[0];
    ASSERT_EQ(text_and_image.lines.size(), 1u);
    EXPECT_EQ(text_and_image.lines[0].text, "Hello");
    EXPECT_EQ(text_and_image.lines[0].x, 72);
    EXPECT_EQ(text_and_image.lines[0].y, 700);
    ASSERT_EQ(text_and_image.images.size(), 1u);
    EXPECT_FALSE(text_and_image.needs_ocr);  // text wins over images

    const PageText& scan = result->pages[1];
    EXPECT_TRUE(scan.lines.empty());
    ASSERT_EQ(scan.images.size(), 1u);  // the form XObject is not an image
    EXPECT_TRUE(scan.needs_ocr);

    const PageText& empty = result->pages[2];
    EXPECT_TRUE(empty.lines.empty());
    EXPECT_TRUE(empty.images.empty());
    EXPECT_FALSE(empty.needs_ocr);  // nothing at all is not a scan
    EXPECT_DOUBLE_EQ(empty.width, 595.276);
    EXPECT_DOUBLE_EQ(empty.height, 841.89);

    const PageText& table_page = result->pages[3];
    ASSERT_EQ(table_page.tables.size(), 1u);
    const Table& t = table_page.tables[0];
    EXPECT_EQ(t.rows, 1u);
    EXPECT_EQ(t.cols, 2u);
    EXPECT_EQ(t.cells, (std::vector<std::vector<std::string>>{{"left", "right"}}));

    // A second extraction of the same document gives the same result.
    auto again = doc->extract();
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->to_json(), result->to_json());
}

TEST(Extract, NumbersPagesAndInterpretsOnlyThoseChosen) {
    // Page 2's content names a filter no reader knows: interpreting it fails
    // the call, so a call that succeeds without it has not touched it.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] >>");
    b.obj(3, "<< /Type /Page /Contents 10 0 R /Resources << /Font << /F1 20 0 R >> >> >>");
    b.obj(4, "<< /Type /Page /Contents 11 0 R >>");
    b.obj(5, "<< /Type /Page /Contents 12 0 R /Resources << /Font << /F1 20 0 R >> >> >>");
    b.stream(10, "", "BT /F1 12 Tf 72 700 Td (one) Tj ET");
    b.stream(11, "/Filter /NoSuchDecode", "not deflate data");
    b.stream(12, "", "BT /F1 12 Tf 72 700 Td (three) Tj ET");
    b.obj(20, kFont);
    b.xref_table("/Root 1 0 R");
    auto doc = Document::parse_with_password(b.bytes(), {});
    ASSERT_TRUE(doc.ok());
    auto pages = doc->pages();
    ASSERT_TRUE(pages.ok());

    const std::vector<std::size_t> chosen = {2, 0, 2};
    auto some = doc->extract_pages(*pages, chosen, {.images = ImageDetail::Full});
    ASSERT_TRUE(some.ok()) << some.error().to_string();
    ASSERT_EQ(some->pages.size(), 3u);
    EXPECT_EQ(some->pages[0].number, 3u);
    EXPECT_EQ(some->pages[0].text(), "three");
    EXPECT_EQ(some->pages[1].number, 1u);
    EXPECT_EQ(some->pages[1].text(), "one");
    EXPECT_EQ(some->pages[2].number, 3u);

    EXPECT_FALSE(doc->extract().ok());
    const std::vector<std::size_t> broken = {1};
    EXPECT_FALSE(doc->extract_pages(*pages, broken, {.images = ImageDetail::Full}).ok());
    const std::vector<std::size_t> past_end = {3};
    auto none = doc->extract_pages(*pages, past_end, {.images = ImageDetail::Full});
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error(), (Error{ErrorKind::InvalidObject, "no such page"}));
}

TEST(Extract, ImageEntries) {
    const std::string file = sample_document();
    auto doc = Document::parse_with_password(as_bytes(file), {});
    ASSERT_TRUE(doc.ok());
    auto pages = doc->pages();
    ASSERT_TRUE(pages.ok());

    auto first = extract_images(doc->resolver, (*pages)[0].resources);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].name, "Im1");
    EXPECT_EQ(first[0].format, ImageFormat::Raw);
    EXPECT_EQ(first[0].width, 2u);
    EXPECT_EQ(first[0].bits_per_component, 8u);
    EXPECT_EQ(first[0].color_space, "DeviceRGB");
    EXPECT_EQ(first[0].data, Bytes(12, 0x7f));  // decoded through the chain

    auto scan = extract_images(doc->resolver, (*pages)[1].resources);
    ASSERT_EQ(scan.size(), 1u);
    EXPECT_EQ(scan[0].name, "Scan");
    EXPECT_EQ(scan[0].format, ImageFormat::Jpeg);  // the last filter decides
    EXPECT_EQ(scan[0].width, 1700u);
    EXPECT_EQ(scan[0].height, 0u);              // a negative height becomes 0
    EXPECT_EQ(scan[0].bits_per_component, 8u);  // absent
    EXPECT_EQ(scan[0].color_space, "ICCBased");
}

TEST(Extract, ImageListingRules) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.obj(3, "<< /Type /Page /Resources << /XObject 4 0 R >> >>");
    b.obj(4, "<< /A 5 0 R /B 5 0 R /Bad 6 0 R /Missing 99 0 R /Idx 7 0 R /Unk 8 0 R >>");
    b.stream(5, "/Subtype /Image /Filter /JPXDecode /ColorSpace 9 0 R", "jpx");
    b.stream(6, "/Subtype /Image /Filter /FlateDecode", "not deflate data");
    b.stream(7, "/Subtype /Image /Filter /CCITTFaxDecode /ColorSpace [/Indexed /DeviceRGB 1 <00>]",
             "");
    b.stream(8, "/Subtype /Image /Filter [/JBIG2Decode /Crazy] /ColorSpace [1 2]", "x");
    b.obj(9, "[/Indexed /DeviceGray 1 <0000>]");
    b.xref_table("/Root 1 0 R");
    auto doc = Document::parse_with_password(b.bytes(), {});
    ASSERT_TRUE(doc.ok());
    auto pages = doc->pages();
    ASSERT_TRUE(pages.ok());
    auto images = extract_images(doc->resolver, (*pages)[0].resources);
    // The same stream under two names is listed twice; the one that fails to
    // decode, the missing one and the one with an unknown filter are skipped.
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].name, "A");
    EXPECT_EQ(images[1].name, "B");
    EXPECT_EQ(images[0].format, ImageFormat::Jpeg2000);
    EXPECT_EQ(images[0].color_space, "Indexed");  // through a reference
    EXPECT_EQ(images[2].name, "Idx");
    EXPECT_EQ(images[2].format, ImageFormat::Ccitt);
    EXPECT_EQ(images[2].color_space, "Indexed");

    Dictionary no_xobject;
    EXPECT_TRUE(extract_images(doc->resolver, no_xobject).empty());
    Dictionary not_dict;
    not_dict.set("XObject", Object(5));
    EXPECT_TRUE(extract_images(doc->resolver, not_dict).empty());
}

// A damaged content stream costs its own page what came after the damage;
// an unknown filter still fails the whole call.
TEST(Extract, DamagedContentKeepsTheDocument) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] >>");
    b.obj(3, "<< /Type /Page /Contents 10 0 R >>");
    b.obj(4, "<< /Type /Page /Contents [11 0 R 10 0 R] >>");
    b.obj(5, "<< /Type /Page /Contents 12 0 R >>");
    b.stream(10, "", "BT 72 700 Td (fine) Tj ET");
    b.stream(11, "/Filter /FlateDecode", "this is not deflate");
    const std::string packed = vellox_test::zlib_compress(
        "BT 72 700 Td (kept) Tj ET BT 72 600 Td (lost with the end of the data) Tj ET");
    b.stream(12, "/Filter /FlateDecode", packed.substr(0, packed.size() * 2 / 5));
    b.xref_table("/Root 1 0 R");
    auto doc = Document::parse_with_password(b.bytes(), {});
    ASSERT_TRUE(doc.ok());
    auto result = doc->extract();
    ASSERT_TRUE(result.ok()) << result.error().to_string();
    ASSERT_EQ(result->pages.size(), 3u);
    EXPECT_EQ(result->pages[0].text(), "fine");
    EXPECT_EQ(result->pages[1].text(), "fine");
    EXPECT_EQ(result->pages[2].text(), "kept");

    PdfBuilder unknown;
    unknown.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    unknown.obj(2, "<< /Type /Pages /Kids [3 0 R] >>");
    unknown.obj(3, "<< /Type /Page /Contents 10 0 R >>");
    unknown.stream(10, "/Filter /NoSuchDecode", "x");
    unknown.xref_table("/Root 1 0 R");
    auto other = Document::parse_with_password(unknown.bytes(), {});
    ASSERT_TRUE(other.ok());
    auto failed = other->extract();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().to_string(), "Unsupported: unsupported filter: NoSuchDecode");
}

TEST(Extract, NoPagesGivesVersionAndEmptyList) {
    PdfBuilder b("%PDF-1.4\r\n");
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] >>");
    b.xref_table("/Root 1 0 R");
    auto doc = Document::parse_with_password(b.bytes(), {});
    ASSERT_TRUE(doc.ok());
    auto result = doc->extract();
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->version, "1.4");
    EXPECT_TRUE(result->pages.empty());
    EXPECT_EQ(result->to_markdown(), "");
}

TEST(Extract, HasImageAgreesWithTheListing) {
    // Each table alone: only undecodable or non-image entries, a good image
    // behind bad ones, nothing at all, and a table that is not a dictionary.
    struct Case {
        const char* xobjects;
        bool expected;
    };
    const Case cases[] = {
        {"<< /Bad 6 0 R /Missing 99 0 R /Form 8 0 R >>", false},
        {"<< /Bad 6 0 R /Missing 99 0 R /Good 5 0 R >>", true},
        {"<< >>", false},
        {"7", false},
        {"<< /Inline 5 0 R /Form 8 0 R >>", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xobjects);
        PdfBuilder b;
        b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.obj(2, "<< /Type /Pages /Kids [3 0 R] >>");
        b.obj(3, std::string("<< /Type /Page /Contents 9 0 R /Resources << /XObject ") +
                     c.xobjects + " >> >>");
        b.stream(5, "/Subtype /Image /Filter /FlateDecode", vellox_test::zlib_compress("pixels"));
        b.stream(6, "/Subtype /Image /Filter /FlateDecode", "not deflate data");
        b.obj(7, "42");
        b.stream(8, "/Subtype /Form", "");
        b.stream(9, "", "q Q");
        b.xref_table("/Root 1 0 R");
        auto doc = Document::parse_with_password(b.bytes(), {});
        ASSERT_TRUE(doc.ok());
        auto pages = doc->pages();
        ASSERT_TRUE(pages.ok());
        const Dictionary& resources = (*pages)[0].resources;
        EXPECT_EQ(has_image(doc->resolver, resources), c.expected);
        EXPECT_EQ(!extract_images(doc->resolver, resources).empty(), c.expected);
        // The page has no text, so the flag follows the images either way.
        auto presence = doc->extract({.images = ImageDetail::PresenceOnly});
        ASSERT_TRUE(presence.ok());
        EXPECT_EQ(presence->pages[0].needs_ocr, c.expected);
        EXPECT_TRUE(presence->pages[0].images.empty());
    }
}

// The text forms of a document do not depend on whether its images were
// decoded in full or only looked for.
void expect_text_forms_agree(const std::string& file) {
    auto doc = Document::parse_with_password(as_bytes(file), {});
    if (!doc) return;
    auto full = doc->extract();
    auto presence = doc->extract({.images = ImageDetail::PresenceOnly});
    ASSERT_EQ(full.ok(), presence.ok());
    if (!full) return;
    EXPECT_EQ(presence->to_markdown(), full->to_markdown());
    EXPECT_EQ(presence->to_html(), full->to_html());
    ASSERT_EQ(presence->pages.size(), full->pages.size());
    for (std::size_t i = 0; i < full->pages.size(); ++i) {
        EXPECT_EQ(presence->pages[i].needs_ocr, full->pages[i].needs_ocr) << "page " << i;
        EXPECT_TRUE(presence->pages[i].images.empty());
    }
}

TEST(Extract, PresenceOnlyKeepsTheTextForms) {
    expect_text_forms_agree(sample_document());
    VELLOX_SKIP_WITHOUT_CORPUS();
    const std::filesystem::path dir(VELLOX_CORPUS_DIR);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".pdf") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream f(entry.path(), std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(f)),
                               std::istreambuf_iterator<char>());
        expect_text_forms_agree(data);
        ++files;
    }
    EXPECT_GT(files, 20);
}
