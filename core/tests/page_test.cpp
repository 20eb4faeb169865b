// The page's interpretation over hand-built files: form XObjects (placed,
// nested, cyclic, unreadable), annotation appearances, field values and
// inline images, seen through the extraction pipeline.
#include "page.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bounds.h"
#include "doc.h"
#include "filter/sanitizer.h"
#include "support/pdf_builder.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

const char* kHelvetica = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

// A one-page file: the page (object 3) with `page_entries`, its content
// (object 4), font F1 (object 5) in its resources beside `resources`, and
// the further objects given.
std::string one_page(
    const std::string& content, const std::string& resources,
    const std::vector<std::pair<std::uint32_t, std::string>>& objects,
    const std::vector<std::pair<std::uint32_t, std::pair<std::string, std::string>>>& streams = {},
    const std::string& page_entries = "") {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /MediaBox [0 0 612 792] >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> " +
                 resources + " >> " + page_entries + " >>");
    b.stream(4, "", content);
    b.obj(5, kHelvetica);
    for (const auto& [num, text] : objects) b.obj(num, text);
    for (const auto& [num, stream] : streams) b.stream(num, stream.first, stream.second);
    b.xref_table("/Root 1 0 R");
    return b.text();
}

PageText extract_page(const std::string& file) {
    auto doc = Document::parse_with_password(as_bytes(file), {});
    EXPECT_TRUE(doc.ok());
    if (!doc) return {};
    auto result = doc->extract();
    EXPECT_TRUE(result.ok()) << result.error().to_string();
    if (!result || result->pages.empty()) return {};
    return std::move(result->pages[0]);
}

PageDrawing drawing_of(const std::string& file) {
    auto doc = Document::parse_with_password(as_bytes(file), {});
    EXPECT_TRUE(doc.ok());
    if (!doc) return {};
    auto pages = doc->pages();
    EXPECT_TRUE(pages.ok());
    FontCache cache;
    auto drawing = interpret_page(doc->resolver, (*pages)[0], cache);
    EXPECT_TRUE(drawing.ok());
    return drawing ? std::move(drawing).value() : PageDrawing{};
}

using Form = std::pair<std::string, std::string>;  // dictionary entries, content

Form form(const std::string& content, const std::string& entries = "") {
    return {"/Type /XObject /Subtype /Form /BBox [0 0 612 792] " + entries, content};
}

}  // namespace

// Forms draw with their /Matrix after the CTM in force, their own fonts or
// the page's, and give the drawing content its state back.
TEST(PageForms, TextOfFormsJoinsThePage) {
    struct Case {
        const char* name;
        std::string content;
        std::vector<std::pair<std::uint32_t, Form>> forms;
        std::string text;
    };
    const Case cases[] = {
        {"placed by its matrix and the CTM",
         "BT /F1 10 Tf 72 700 Td (page) Tj ET q 1 0 0 1 0 -100 cm /A Do Q",
         {{10, form("BT /F1 10 Tf 72 700 Td (in the form) Tj ET", "/Matrix [1 0 0 1 0 -50]")}},
         "page\nin the form"},
        {"its own resources",
         "/A Do",
         {{10, form("BT /G 10 Tf 72 700 Td (own font) Tj ET",
                    "/Resources << /Font << /G 5 0 R >> >>")}},
         "own font"},
        {"state restored after it",
         "BT /F1 10 Tf 72 700 Td (one) Tj ET /A Do BT 72 680 Td (two) Tj ET",
         {{10, form("2 0 0 2 0 0 cm BT /F1 30 Tf 36 300 Td (big) Tj ET q")}},
         "one\ntwo\nbig"},
        {"nested, drawn twice",
         "q 1 0 0 1 0 100 cm /A Do Q /A Do",
         {{10, form("/B Do", "/Resources << /XObject << /B 11 0 R >> /Font << /F1 5 0 R >> >>")},
          {11, form("BT /F1 10 Tf 72 500 Td (deep) Tj ET")}},
         "deep\ndeep"},
        {"a form drawing itself draws once",
         "/A Do",
         {{10, form("BT /F1 10 Tf 72 700 Td (self) Tj ET /A Do")}},
         "self"},
        {"two forms drawing each other",
         "/A Do",
         {{10, form("BT /F1 10 Tf 72 700 Td (a) Tj ET /B Do")},
          {11, form("BT /F1 10 Tf 72 600 Td (b) Tj ET /A Do")}},
         "a\nb"},
        {"an unreadable form is skipped",
         "/Bad Do BT /F1 10 Tf 72 700 Td (after) Tj ET",
         {{12, {"/Subtype /Form /Filter /NoSuchDecode", "x"}}},
         "after"},
        {"a damaged form gives what decoded",
         "/Cut Do",
         {{13, {"/Subtype /Form /Filter /ASCIIHexDecode", "42542028637574292054 6A !!!"}}},
         "cut"},
        {"an image is no form", "/Im Do BT /F1 10 Tf 72 700 Td (text) Tj ET", {}, "text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::uint32_t, Form>> streams = c.forms;
        streams.push_back({20, {"/Subtype /Image /Width 1 /Height 1", "x"}});
        const std::string file = one_page(
            c.content, "/XObject << /A 10 0 R /B 11 0 R /Bad 12 0 R /Cut 13 0 R /Im 20 0 R >>", {},
            streams);
        EXPECT_EQ(extract_page(file).text(), c.text);
    }
}

// Measures of form text are in user space: the form's matrix scales them.
TEST(PageForms, FormsFoundByNameInSmallAndLargeTables) {
    // A table of a few forms is searched entry by entry, one of dozens
    // through an index built at its first Do; both find the same forms.
    for (const int count : {3, 40}) {
        SCOPED_TRACE(count);
        std::string table = "/XObject <<";
        std::vector<std::pair<std::uint32_t, Form>> forms;
        for (int k = 0; k < count; ++k) {
            const auto num = static_cast<std::uint32_t>(10 + k);
            table += " /X" + std::to_string(k) + " " + std::to_string(num) + " 0 R";
            forms.push_back({num, form("BT /F1 10 Tf 0 0 Td (" + std::to_string(k) + ") Tj ET")});
        }
        table += " >>";
        const std::string last = std::to_string(count - 1);
        const PageDrawing d = drawing_of(
            one_page("/X" + last + " Do /X1 Do /Missing Do 1 0 0 1 0 50 cm /X" + last + " Do",
                     table, {}, forms));
        std::vector<std::string> texts;
        for (const TextRun& run : d.runs) texts.push_back(run.text);
        EXPECT_EQ(texts, (std::vector<std::string>{last, "1", last}));
    }
}

TEST(PageForms, RunsMeasuredThroughTheFormMatrix) {
    const std::string file =
        one_page("q 2 0 0 2 0 0 cm /A Do Q", "/XObject << /A 10 0 R >>", {},
                 {{10, form("BT /F1 5 Tf 10 20 Td (x) Tj ET", "/Matrix [1 0 0 1 5 5]")}});
    const PageDrawing drawing = drawing_of(file);
    ASSERT_EQ(drawing.runs.size(), 1u);
    EXPECT_DOUBLE_EQ(drawing.runs[0].x, 30);
    EXPECT_DOUBLE_EQ(drawing.runs[0].y, 50);
    EXPECT_DOUBLE_EQ(drawing.runs[0].font_size, 10);
    EXPECT_NEAR(drawing.runs[0].width, 2 * 5 * 0.5, 1e-9);  // Helvetica's x is 500 wide
}

// A chain of forms deeper than the bound is drawn to the bound.
TEST(PageForms, DepthIsBounded) {
    std::vector<std::pair<std::uint32_t, Form>> chain;
    const std::uint32_t levels = limits::kMaxFormDepth + 5;
    for (std::uint32_t i = 0; i < levels; ++i) {
        const std::uint32_t num = 10 + i;
        chain.push_back({num, form("BT /F1 10 Tf 72 " + std::to_string(700 - i) + " Td (" +
                                       std::to_string(i) + ") Tj ET /N Do",
                                   "/Resources << /Font << /F1 5 0 R >> /XObject << /N " +
                                       std::to_string(num + 1) + " 0 R >> >>")});
    }
    const PageDrawing drawing =
        drawing_of(one_page("/N Do", "/XObject << /N 10 0 R >>", {}, chain));
    EXPECT_EQ(drawing.runs.size(), limits::kMaxFormDepth);
}

// A form drawn many times inside forms drawn many times: the page's budget
// of interpreted operations stops it, and the page's own text stays.
TEST(PageForms, WorkIsBounded) {
    std::vector<std::pair<std::uint32_t, Form>> forms;
    std::string tens;
    for (int i = 0; i < 10; ++i) tens += "/N Do ";
    for (std::uint32_t level = 0; level < 12; ++level) {
        forms.push_back({10 + level, form(tens + "0 0 m 1 1 l S", "/Resources << /XObject << /N " +
                                                                      std::to_string(11 + level) +
                                                                      " 0 R >> >>")});
    }
    const PageText page = extract_page(one_page("/N Do BT /F1 10 Tf 72 700 Td (still here) Tj ET",
                                                "/XObject << /N 10 0 R >>", {}, forms));
    EXPECT_EQ(page.text(), "still here");
}

// A form is read each time it is drawn, but charged to the page's object
// budget once: drawn again, it is read with what its first reading took,
// so that it shows the same whether or not the budget ran out in it.
TEST(PageForms, AFormDrawnAgainIsChargedOnce) {
    if (vellox_test::kSanitized) GTEST_SKIP() << "millions of objects; runs in the normal build";
    // Two fifths of the budget in operands that the delimiter drops: three
    // draws charged each time would pass the budget in the third.
    std::string filler;
    const std::size_t fifths = 2 * limits::kMaxContentObjects / 5;
    filler.reserve(2 * fifths + 2);
    for (std::size_t i = 0; i < fifths; ++i) filler += "0 ";
    filler += "] ";
    const std::string fonts = "/Resources << /Font << /F1 5 0 R >> >>";
    std::string over = filler + filler + filler;  // more than the budget
    // Each draw 50 units higher, so that none overprints another.
    const std::string up = " 1 0 0 1 0 50 cm ";
    const PageDrawing d =
        drawing_of(one_page("/A Do" + up + "/A Do" + up + "/A Do" + up + "/B Do" + up + "/B Do",
                            "/XObject << /A 10 0 R /B 11 0 R >>", {},
                            {{10, form("BT /F1 10 Tf " + filler + "(a) Tj ET", fonts)},
                             {11, form("BT /F1 10 Tf (b) Tj " + over + "(c) Tj ET", fonts)}}));
    std::vector<std::string> texts;
    for (const TextRun& run : d.runs) texts.push_back(run.text);
    // B's first reading ends where the budget does, its second there too.
    EXPECT_EQ(texts, (std::vector<std::string>{"a", "a", "a", "b", "b"}));

    // A form's share leaves out the forms it draws. C draws D, which takes
    // three fifths of the budget, then (a batch of operations later) needs
    // three fifths itself: its first reading ends for want of budget, and
    // so does its second, which has only what C itself took.
    std::string three_fifths;
    const std::size_t count = 3 * limits::kMaxContentObjects / 5;
    three_fifths.reserve(2 * count + 2);
    for (std::size_t i = 0; i < count; ++i) three_fifths += "0 ";
    three_fifths += "] ";
    std::string pause;
    for (std::size_t i = 0; i < ContentReader::kBatchOps; ++i) pause += "n ";
    const PageDrawing nested = drawing_of(
        one_page("/C Do" + up + "/C Do", "/XObject << /C 10 0 R /D 11 0 R >>", {},
                 {{10, form("/D Do " + pause + three_fifths + "BT /F1 10 Tf (c) Tj ET",
                            "/Resources << /Font << /F1 5 0 R >> /XObject << /D 11 0 R >> >>")},
                  {11, form("BT /F1 10 Tf " + three_fifths + "(d) Tj ET", fonts)}}));
    texts.clear();
    for (const TextRun& run : nested.runs) texts.push_back(run.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"d", "d"}));
}

// Images drawn inside forms are the page's images; a page whose only
// drawing is such an image needs OCR.
TEST(PageForms, ImagesInsideFormsCount) {
    const std::string file = one_page(
        "q 612 0 0 792 0 0 cm /Wrap Do Q", "/XObject << /Wrap 10 0 R >>", {},
        {{10, form("/Scan Do /Scan Do", "/Resources << /XObject << /Scan 11 0 R >> >>")},
         {11,
          {"/Subtype /Image /Width 8 /Height 4 /BitsPerComponent 1 /ColorSpace /DeviceGray",
           "xxxx"}}});
    const PageText page = extract_page(file);
    EXPECT_TRUE(page.lines.empty());
    ASSERT_EQ(page.images.size(), 1u);  // drawn twice, listed once
    EXPECT_EQ(page.images[0].name, "Scan");
    EXPECT_EQ(page.images[0].width, 8u);
    EXPECT_TRUE(page.needs_ocr);
}

// The rules of forms join the page's for its table.
TEST(PageForms, RulesOfFormsMakeTheTable) {
    const std::string file =
        one_page("/Grid Do BT /F1 10 Tf 110 550 Td (left) Tj 100 0 Td (right) Tj ET",
                 "/XObject << /Grid 10 0 R >>", {},
                 {{10, form("100 500 200 100 re S 200 500 m 200 600 l S")}});
    const PageText page = extract_page(file);
    ASSERT_EQ(page.tables.size(), 1u);
    EXPECT_EQ(page.tables[0].cells, (std::vector<std::vector<std::string>>{{"left", "right"}}));
}

// Which annotations are drawn, and where their appearance lands.
TEST(PageAnnotations, AppearancesBecomePageText) {
    // An appearance whose box, through its matrix, is mapped onto /Rect.
    const std::string ap =
        "/Type /XObject /Subtype /Form /BBox [0 0 100 20] "
        "/Resources << /Font << /F1 5 0 R >> >>";
    struct Case {
        const char* name;
        std::string annot;
        std::string text;
    };
    const Case cases[] = {
        {"printed stamp", "/Subtype /Stamp /F 4 /Rect [300 400 400 420] /AP << /N 10 0 R >>",
         "page\nappearance"},
        {"hidden", "/Subtype /Stamp /F 6 /Rect [300 400 400 420] /AP << /N 10 0 R >>", "page"},
        {"not printed", "/Subtype /FreeText /Rect [300 400 400 420] /AP << /N 10 0 R >>", "page"},
        {"a widget is drawn without the Print flag",
         "/Subtype /Widget /Rect [300 400 400 420] /AP << /N 10 0 R >>", "page\nappearance"},
        {"a widget marked NoView only",
         "/Subtype /Widget /F 32 /Rect [300 400 400 420] /AP << /N 10 0 R >>", "page"},
        {"a link gives nothing", "/Subtype /Link /F 4 /Rect [300 400 400 420] /AP << /N 10 0 R >>",
         "page"},
        {"a popup gives nothing",
         "/Subtype /Popup /F 4 /Rect [300 400 400 420] /AP << /N 10 0 R >>", "page"},
        {"the state /AS names",
         "/Subtype /Widget /F 4 /Rect [300 400 400 420] /AS /On /AP << /N << /On 10 0 R /Off 11 0 "
         "R >> >>",
         "page\nappearance"},
        {"the other state",
         "/Subtype /Widget /F 4 /Rect [300 400 400 420] /AS /Off "
         "/AP << /N << /On 10 0 R /Off 11 0 R >> >>",
         "page\noff"},
        {"states without /AS",
         "/Subtype /Widget /F 4 /Rect [300 400 400 420] "
         "/AP << /N << /On 10 0 R /Off 11 0 R >> >>",
         "page"},
        {"no rectangle", "/Subtype /Stamp /F 4 /AP << /N 10 0 R >>", "page"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file =
            one_page("BT /F1 10 Tf 72 700 Td (page) Tj ET", "", {{30, "<< " + c.annot + " >>"}},
                     {{10, {ap, "BT /F1 10 Tf 2 5 Td (appearance) Tj ET"}},
                      {11, {ap, "BT /F1 10 Tf 2 5 Td (off) Tj ET"}}},
                     "/Annots [30 0 R]");
        EXPECT_EQ(extract_page(file).text(), c.text);
    }
}

TEST(PageAnnotations, AppearancePlacedOnItsRectangle) {
    // The box [10 10 110 30] turned a quarter by the matrix spans x -30..-10,
    // y 10..110; mapped onto the rectangle 300..320 x 400..500.
    const std::string file = one_page(
        "", "", {{30, "<< /Subtype /FreeText /F 4 /Rect [320 500 300 400] /AP << /N 10 0 R >> >>"}},
        {{10,
          {"/Subtype /Form /BBox [10 10 110 30] /Matrix [0 1 -1 0 0 0] "
           "/Resources << /Font << /F1 5 0 R >> >>",
           "BT /F1 10 Tf 20 15 Td (turned) Tj ET"}}},
        "/Annots [30 0 R]");
    const PageDrawing drawing = drawing_of(file);
    ASSERT_EQ(drawing.runs.size(), 1u);
    // (20, 15) -> matrix (-15, 20) -> moved by (330, 390): (315, 410).
    EXPECT_NEAR(drawing.runs[0].x, 315, 1e-9);
    EXPECT_NEAR(drawing.runs[0].y, 410, 1e-9);
    EXPECT_NEAR(drawing.runs[0].dir_x, 0, 1e-12);
    EXPECT_NEAR(drawing.runs[0].dir_y, 1, 1e-12);
    // Annotation frames are no rules.
    EXPECT_TRUE(drawing.rules.horizontals.empty());
}

// Text fields without an appearance show their value.
TEST(PageAnnotations, FieldValuesWithoutAppearance) {
    struct Case {
        const char* name;
        std::string field;
        std::string text;
    };
    const Case cases[] = {
        {"text field", "/FT /Tx /V (Alice) /DA (/Helv 10 Tf 0 g)", "Alice"},
        {"UTF-16 value", "/FT /Tx /V <FEFF00E9007400E9>", "\xc3\xa9t\xc3\xa9"},
        {"type and value from the parent", "/Parent 31 0 R", "inherited"},
        {"a choice field", "/FT /Ch /V (Red)", "Red"},
        {"a button has no text value", "/FT /Btn /V /Yes", ""},
        {"several lines", "/FT /Tx /Ff 4096 /V (one\\rtwo)", "one\ntwo"},
        {"several lines in a one-line field", "/FT /Tx /V (one\\ntwo)", "one two"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file =
            one_page("", "",
                     {{30, "<< /Subtype /Widget /F 4 /Rect [100 600 300 640] " + c.field + " >>"},
                      {31, "<< /FT /Tx /V (inherited) >>"}},
                     {}, "/Annots [30 0 R]");
        EXPECT_EQ(extract_page(file).text(), c.text);
    }
}

// Inline images are drawn images: a page with one and no text needs OCR,
// and the listing names them in drawing order.
TEST(PageInlineImages, CountAndAreListed) {
    const std::string file = one_page(
        "q 100 0 0 100 0 0 cm BI /W 2 /H 2 /BPC 8 /CS /G ID abcd EI Q "
        "q BI /W 16 /H 1 /IM true /F /CCF ID \x01\x02 EI Q "
        "BI /W 1 /H 1 /CS /Cs0 /BPC 8 /F [/A85 /Fl] ID 9jqo\nEI ~> EI",
        "/ColorSpace << /Cs0 [/ICCBased 40 0 R] >>", {});
    const PageText page = extract_page(file);
    EXPECT_TRUE(page.lines.empty());
    EXPECT_TRUE(page.needs_ocr);
    ASSERT_EQ(page.images.size(), 3u);
    EXPECT_EQ(page.images[0].name, "inline-1");
    EXPECT_EQ(page.images[0].format, ImageFormat::Raw);
    EXPECT_EQ(page.images[0].width, 2u);
    EXPECT_EQ(page.images[0].bits_per_component, 8u);
    EXPECT_EQ(page.images[0].color_space, "DeviceGray");
    EXPECT_EQ(as_text(page.images[0].data), "abcd");
    EXPECT_EQ(page.images[1].name, "inline-2");
    EXPECT_EQ(page.images[1].format, ImageFormat::Ccitt);
    EXPECT_EQ(page.images[1].bits_per_component, 1u);
    EXPECT_EQ(page.images[2].format, ImageFormat::Raw);
    EXPECT_EQ(page.images[2].color_space, "ICCBased");  // through the resources
}
