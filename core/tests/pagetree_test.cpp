#include "pagetree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/cpu_time.h"
#include "support/parse.h"
#include "support/pdf_builder.h"
#include "support/zlib_compress.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

// Opens the builder's file (its trailer naming catalog 1) and collects pages.
// The file text lives on the heap so the resolver's view survives moves.
struct Opened {
    std::unique_ptr<std::string> text;
    Resolver resolver;
    Result<std::vector<Page>> pages;
};

Opened collect(PdfBuilder& b) {
    b.xref_table("/Root 1 0 R");
    Opened o{std::make_unique<std::string>(b.text()), Resolver(Xref{}, {}), Error{}};
    auto x = read_xref(as_bytes(*o.text));
    EXPECT_TRUE(x.ok());
    o.resolver = Resolver(x.ok() ? std::move(x).value() : Xref{}, as_bytes(*o.text));
    auto catalog = o.resolver.resolve_dict(Object(Reference{1, 0}));
    EXPECT_TRUE(catalog.ok());
    const Dictionary none;
    o.pages = collect_pages(o.resolver, catalog.ok() ? **catalog : none);
    return o;
}

std::string refs(std::uint32_t from, std::uint32_t to) {
    std::string s;
    for (std::uint32_t k = from; k <= to; ++k) s += std::to_string(k) + " 0 R ";
    return s;
}

std::vector<std::int64_t> ids(const std::vector<Page>& pages) {
    std::vector<std::int64_t> out;
    for (const Page& p : pages) {
        const Object* id = p.dict.get("Id");
        out.push_back(id != nullptr && id->as_int() != nullptr ? *id->as_int() : -1);
    }
    return out;
}

// A chain of intermediate nodes 2, 3, ... with one page at the bottom, so
// that the page sits at `depth` (the root is depth 0).
PdfBuilder chain(std::uint32_t depth) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (std::uint32_t k = 0; k < depth; ++k) {
        b.obj(2 + k, "<< /Type /Pages /Kids [" + std::to_string(3 + k) + " 0 R] >>");
    }
    b.obj(2 + depth, "<< /Type /Page /Id 7 >>");
    return b;
}

}  // namespace

TEST(PageTree, InheritsResourcesMediaBoxAndRotate) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2,
          "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Resources 9 0 R "
          "/MediaBox [0 0 595.5 842] /Rotate 90 /CropBox [1 1 2 2] >>");
    b.obj(3, "<< /Type /Page /Id 3 >>");
    b.obj(4, "<< /Type /Pages /Kids [6 0 R] /Rotate -90 /MediaBox 8 0 R >>");
    b.obj(5,
          "<< /Type /Page /Id 5 /Resources << /Own true >> /MediaBox [0 0 /x 612 792] "
          "/Rotate 450 >>");
    b.obj(6, "<< /Type /Page /Id 6 /Rotate 90.0 >>");
    b.obj(8, "[10 20 30 40]");
    b.obj(9, "<< /Font << /F1 10 0 R >> >>");
    Opened o = collect(b);
    ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
    const auto& pages = *o.pages;
    ASSERT_EQ(ids(pages), (std::vector<std::int64_t>{3, 6, 5}));

    EXPECT_EQ(pages[0].media_box, (Rect{0, 0, 595.5, 842}));
    EXPECT_EQ(pages[0].rotate, 90);
    ASSERT_NE(pages[0].resources.get("Font"), nullptr);
    EXPECT_EQ(pages[0].dict.get("CropBox"), nullptr);  // not inherited

    EXPECT_EQ(pages[1].media_box, (Rect{10, 20, 30, 40}));  // through a reference
    EXPECT_EQ(pages[1].rotate, 90);  // its own 90.0, a whole real, over the parent's -90
    ASSERT_NE(pages[1].resources.get("Font"), nullptr);

    EXPECT_EQ(pages[2].media_box, (Rect{0, 0, 612, 792}));
    EXPECT_EQ(pages[2].rotate, 90);  // 450
    EXPECT_EQ(pages[2].resources, *vellox_test::parse("<< /Own true >>")->as_dict());
    EXPECT_EQ(*pages[2].dict.get("Resources"), *vellox_test::parse("<< /Own true >>"));
}

TEST(PageTree, MediaBoxAndRotateFallbacks) {
    struct Case {
        const char* entries;
        Rect box;
        std::int64_t rotate;
    };
    // The parent sets [1 2 3 4] and 180.
    const Case cases[] = {
        {"", {1, 2, 3, 4}, 180},
        {"/MediaBox [0 0 612]", {1, 2, 3, 4}, 180},
        {"/MediaBox [0 0 6 1 2]", {1, 2, 3, 4}, 180},
        {"/MediaBox [0 0 9 0 R 6]", {1, 2, 3, 4}, 180},
        {"/MediaBox 9 0 R", {1, 2, 3, 4}, 180},      // an Integer object
        {"/MediaBox 99 0 R", {1, 2, 3, 4}, 180},     // missing object
        {"/MediaBox [4 3 2 1]", {4, 3, 2, 1}, 180},  // array order, unnormalised
        {"/Rotate 360", {1, 2, 3, 4}, 0},
        {"/Rotate -450", {1, 2, 3, 4}, 270},
        {"/Rotate 9 0 R", {1, 2, 3, 4}, 180},  // 7 is no quarter turn
        {"/Rotate 10 0 R", {1, 2, 3, 4}, 90},  // -270 through a reference
        {"/Rotate 45", {1, 2, 3, 4}, 180},
        {"/Rotate -180", {1, 2, 3, 4}, 180},
        {"/Rotate -630", {1, 2, 3, 4}, 90},
        {"/Rotate 270.0", {1, 2, 3, 4}, 270},
        {"/Rotate 270.5", {1, 2, 3, 4}, 180},
        {"/Rotate 1234567890123456789.0", {1, 2, 3, 4}, 180},
        {"/Rotate 99 0 R", {1, 2, 3, 4}, 180},
        {"/Rotate /R90", {1, 2, 3, 4}, 180},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        PdfBuilder b;
        b.obj(1, "<< /Pages 2 0 R >>");
        b.obj(2, "<< /Kids [3 0 R] /MediaBox [1 2 3 4] /Rotate 180 >>");
        b.obj(3, std::string("<< ") + c.entries + " >>");
        b.obj(9, "7");
        b.obj(10, "-270");
        Opened o = collect(b);
        ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
        ASSERT_EQ(o.pages->size(), 1u);
        EXPECT_EQ((*o.pages)[0].media_box, c.box);
        EXPECT_EQ((*o.pages)[0].rotate, c.rotate);
    }
}

TEST(PageTree, DefaultsAndUnresolvableResources) {
    PdfBuilder b;
    b.obj(1, "<< /Pages 2 0 R >>");
    b.obj(2, "<< /Kids [3 0 R 4 0 R 5 0 R] >>");
    b.obj(3, "<< /Id 3 >>");
    b.obj(4, "<< /Id 4 /Resources 12 >>");
    b.obj(5, "<< /Id 5 /Resources 88 0 R >>");
    Opened o = collect(b);
    ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
    ASSERT_EQ(o.pages->size(), 3u);
    for (const Page& p : *o.pages) {
        EXPECT_TRUE(p.resources.empty());
        EXPECT_EQ(p.media_box, kDefaultMediaBox);
        EXPECT_EQ(p.rotate, 0);
    }
}

TEST(PageTree, TreeShapes) {
    struct Case {
        const char* name;
        std::vector<std::string> objects;  // objects 2, 3, ...
        std::vector<std::int64_t> ids;
    };
    const Case cases[] = {
        {"root without Kids is the page", {"<< /Type /Pages /Id 2 >>"}, {2}},
        {"empty Kids", {"<< /Kids [] /Id 2 >>"}, {}},
        {"duplicate kids listed once",
         {"<< /Kids [3 0 R 4 0 R 3 0 R] >>", "<< /Id 3 >>", "<< /Id 4 >>"},
         {3, 4}},
        {"kid back to the root",
         {"<< /Kids [3 0 R 2 0 R 4 0 R] >>", "<< /Id 3 >>", "<< /Id 4 >>"},
         {3, 4}},
        {"shared subtree walked once",
         {"<< /Kids [3 0 R 4 0 R] >>", "<< /Kids [5 0 R] >>", "<< /Kids [5 0 R 6 0 R] >>",
          "<< /Id 5 >>", "<< /Id 6 >>"},
         {5, 6}},
        {"direct kids are not tracked", {"<< /Kids [<< /Id 8 >> << /Id 8 >>] >>"}, {8, 8}},
        {"Type is never consulted",
         {"<< /Type /Page /Kids [3 0 R] >>", "<< /Type /Pages /Id 3 >>"},
         {3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        b.obj(1, "<< /Pages 2 0 R >>");
        for (std::size_t k = 0; k < c.objects.size(); ++k) {
            b.obj(static_cast<std::uint32_t>(2 + k), c.objects[k]);
        }
        Opened o = collect(b);
        ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
        EXPECT_EQ(ids(*o.pages), c.ids);
    }
}

TEST(PageTree, Errors) {
    struct Case {
        const char* name;
        std::string catalog;
        std::vector<std::string> objects;  // objects 2, 3, ...
        Error error;
    };
    const Case cases[] = {
        {"no Pages",
         "<< /Type /Catalog >>",
         {},
         {ErrorKind::InvalidObject, "catalog has no /Pages"}},
        {"Pages not a dictionary",
         "<< /Pages 2 0 R >>",
         {"[1]"},
         {ErrorKind::InvalidObject, "expected dictionary"}},
        {"Pages missing", "<< /Pages 9 0 R >>", {}, {ErrorKind::ObjectNotFound, "no such object"}},
        {"Kids indirect",
         "<< /Pages 2 0 R >>",
         {"<< /Kids 3 0 R >>", "[4 0 R]", "<< >>"},
         {ErrorKind::InvalidObject, "/Kids not array"}},
        {"Kids a dictionary",
         "<< /Pages 2 0 R >>",
         {"<< /Kids << >> >>"},
         {ErrorKind::InvalidObject, "/Kids not array"}},
        {"kid an integer",
         "<< /Pages 2 0 R >>",
         {"<< /Kids [3 0 R 7] >>", "<< >>"},
         {ErrorKind::InvalidObject, "expected dictionary"}},
        {"kid missing",
         "<< /Pages 2 0 R >>",
         {"<< /Kids [3 0 R 9 0 R] >>", "<< >>"},
         {ErrorKind::ObjectNotFound, "no such object"}},
        {"deep failure aborts all",
         "<< /Pages 2 0 R >>",
         {"<< /Kids [3 0 R 4 0 R] >>", "<< >>", "<< /Kids [<< /Kids 5 >>] >>"},
         {ErrorKind::InvalidObject, "/Kids not array"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        b.obj(1, c.catalog);
        for (std::size_t k = 0; k < c.objects.size(); ++k) {
            b.obj(static_cast<std::uint32_t>(2 + k), c.objects[k]);
        }
        Opened o = collect(b);
        ASSERT_FALSE(o.pages.ok());
        EXPECT_EQ(o.pages.error(), c.error);
    }
}

TEST(PageTree, DepthLimit) {
    for (std::uint32_t depth : {63u, 64u}) {
        SCOPED_TRACE(depth);
        PdfBuilder b = chain(depth);
        Opened o = collect(b);
        ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
        EXPECT_EQ(ids(*o.pages), (std::vector<std::int64_t>{7}));
    }
    for (std::uint32_t depth : {65u, 10000u}) {
        SCOPED_TRACE(depth);
        PdfBuilder b = chain(depth);
        Opened o = collect(b);
        ASSERT_FALSE(o.pages.ok());
        EXPECT_EQ(o.pages.error(), (Error{ErrorKind::InvalidObject, "page tree too deep"}));
    }
}

TEST(PageTree, MillionReferencesToOnePageAreCheap) {
    PdfBuilder b;
    b.obj(1, "<< /Pages 2 0 R >>");
    std::string kids = "<< /Kids [";
    for (int k = 0; k < 1000000; ++k) kids += "3 0 R ";
    kids += "] >>";
    b.obj(2, kids);
    b.obj(3, "<< /Id 3 /Resources << /Big [" + refs(100, 400) + "] >> >>");
    const double start = vellox_test::cpu_seconds();
    Opened o = collect(b);
    const double elapsed = vellox_test::cpu_seconds() - start;
    ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
    EXPECT_EQ(ids(*o.pages), (std::vector<std::int64_t>{3}));
    EXPECT_LT(elapsed, 20.0);
}

namespace {}  // namespace

TEST(PageContent, AssemblesStreamsAndArrays) {
    struct Case {
        const char* name;
        std::string contents;
        std::string expected;
    };
    const Case cases[] = {
        {"no Contents", "", ""},
        {"one stream, no separator", "/Contents 10 0 R", "BT (a) Tj ET"},
        {"flate stream", "/Contents 12 0 R", "q 1 0 0 1 0 0 cm Q"},
        {"array of two", "/Contents [10 0 R 11 0 R]", "BT (a) Tj ET\n0 0 m\n"},
        // A Flate part's buffer has spare room: the parts before it are
        // moved in at its front rather than the part copied behind them.
        {"plain then flate", "/Contents [10 0 R 12 0 R 11 0 R 12 0 R]",
         "BT (a) Tj ET\nq 1 0 0 1 0 0 cm Q\n0 0 m\nq 1 0 0 1 0 0 cm Q\n"},
        {"indirect array", "/Contents 13 0 R", "0 0 m\nBT (a) Tj ET\n"},
        {"non-streams skipped", "/Contents [14 0 R 11 0 R (x) 5]", "0 0 m\n"},
        {"empty array", "/Contents []", ""},
        {"a number", "/Contents 5", ""},
        {"a dictionary", "/Contents 14 0 R", ""},
        {"a null", "/Contents null", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        b.obj(1, "<< /Pages 2 0 R >>");
        b.obj(2, "<< " + c.contents + " >>");
        b.stream(10, "", "BT (a) Tj ET");
        b.stream(11, "", "0 0 m");
        b.stream(12, "/Filter /FlateDecode", vellox_test::zlib_compress("q 1 0 0 1 0 0 cm Q"));
        b.obj(13, "[11 0 R 10 0 R]");
        b.obj(14, "<< /Length 3 >>");
        Opened o = collect(b);
        ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
        ASSERT_EQ(o.pages->size(), 1u);
        auto content = page_content(o.resolver, (*o.pages)[0]);
        ASSERT_TRUE(content.ok()) << content.error().to_string();
        EXPECT_EQ(as_text(*content), c.expected);
    }
}

TEST(PageContent, Failures) {
    struct Case {
        const char* name;
        std::string contents;
        ErrorKind kind;
    };
    // Damage to a stream's data is no failure (see the next test); a stream
    // that cannot be found, or whose filter is unknown, still fails.
    const Case cases[] = {
        {"missing stream", "/Contents 30 0 R", ErrorKind::ObjectNotFound},
        {"missing array element", "/Contents [10 0 R 30 0 R]", ErrorKind::ObjectNotFound},
        {"bad filter", "/Contents 12 0 R", ErrorKind::Unsupported},
        {"bad filter in array", "/Contents [10 0 R 12 0 R]", ErrorKind::Unsupported},
        {"predictor parameters that describe no row", "/Contents 13 0 R", ErrorKind::BadStream},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        b.obj(1, "<< /Pages 2 0 R >>");
        b.obj(2, "<< " + c.contents + " >>");
        b.stream(10, "", "BT ET");
        b.stream(12, "/Filter /NoSuchDecode", "x");
        b.stream(13,
                 "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Colors 99999999 "
                 "/BitsPerComponent 99999999 /Columns 99999999 >>",
                 vellox_test::zlib_compress("q Q"));
        Opened o = collect(b);
        ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
        auto content = page_content(o.resolver, (*o.pages)[0]);
        ASSERT_FALSE(content.ok());
        EXPECT_EQ(content.error().kind, c.kind);
    }
}

// A content stream that is empty, cut short or corrupt part-way gives what
// decoded before the damage, and the other streams of the page follow.
// contrib-issue-1057-tiff-predictor.pdf has an empty Flate stream of
// /Length 0 beside a good one.
TEST(PageContent, DamagedStreamsGiveWhatDecodedBeforeTheDamage) {
    const std::string text = "BT /F1 12 Tf 72 700 Td (first line) Tj ET " + std::string(300, ' ') +
                             "BT /F1 12 Tf 72 680 Td (second line) Tj ET";
    const std::string packed = vellox_test::zlib_compress(text);
    struct Case {
        const char* name;
        std::string dict;
        std::string data;
        std::string expected;  // the damaged part, before the good one
    };
    const Case cases[] = {
        {"empty Flate data", "/Filter /FlateDecode", "", ""},
        {"Flate without its checksum", "/Filter /FlateDecode", packed.substr(0, packed.size() - 4),
         text},
        {"Flate cut after its header", "/Filter /FlateDecode", packed.substr(0, 2), ""},
        {"ASCII85 with a stray byte", "/Filter /ASCII85Decode", "9jqo^v~>", "Man "},
        {"ASCIIHex with a stray byte", "/Filter /ASCIIHexDecode", "7120 51x20", "q Q"},
        {"RunLength cut inside a run", "/Filter /RunLengthDecode", std::string("\002q Q\005ab", 8),
         "q Q"},
        {"damage in the first filter of two", "/Filter [/ASCIIHexDecode /FlateDecode]",
         [&] {
             std::string hex;
             for (const unsigned char c : packed) {
                 static const char* digits = "0123456789abcdef";
                 hex += digits[c >> 4];
                 hex += digits[c & 15];
             }
             return hex.substr(0, hex.size() - 8) + "zz";
         }(),
         text},
        {"an indirect filter name", "/Filter 20 0 R", packed, text},
        {"an indirect filter array element", "/Filter [20 0 R]", packed, text},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        b.obj(1, "<< /Pages 2 0 R >>");
        b.obj(2, "<< /Contents [10 0 R 11 0 R] >>");
        b.stream(10, c.dict, c.data);
        b.stream(11, "", "0 0 m");
        b.obj(20, "/FlateDecode");
        Opened o = collect(b);
        ASSERT_TRUE(o.pages.ok()) << o.pages.error().to_string();
        auto content = page_content(o.resolver, (*o.pages)[0]);
        ASSERT_TRUE(content.ok()) << content.error().to_string();
        EXPECT_EQ(as_text(*content), c.expected + "\n0 0 m\n");
    }

    // Cut in the middle: a part of the text from its start (the filter
    // tests hold the part to exactly what zlib decodes).
    PdfBuilder b;
    b.obj(1, "<< /Pages 2 0 R >>");
    b.obj(2, "<< /Contents 10 0 R >>");
    b.stream(10, "/Filter /FlateDecode", packed.substr(0, packed.size() / 2));
    Opened o = collect(b);
    ASSERT_TRUE(o.pages.ok());
    auto content = page_content(o.resolver, (*o.pages)[0]);
    ASSERT_TRUE(content.ok()) << content.error().to_string();
    EXPECT_GT(content->size(), 0u);
    EXPECT_LT(content->size(), text.size());
    EXPECT_EQ(as_text(*content), std::string_view(text).substr(0, content->size()));
}
