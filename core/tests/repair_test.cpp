#include "repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "cos.h"
#include "support/pdf_builder.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

// (number, offset) of every in-file entry, in number order.
std::vector<std::pair<std::uint32_t, std::uint64_t>> in_file(const Xref& xref) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> out;
    for (const auto& [num, entry] : xref.entries) {
        if (const auto* f = std::get_if<XrefInFile>(&entry)) out.emplace_back(num, f->offset);
    }
    return out;
}

Object text(std::string_view s) { return Object(String{Bytes(s.begin(), s.end())}); }

}  // namespace

// ---------------------------------------------------------------- the scan

TEST(ScanObjects, FindsHeadersWhereverTheyStand) {
    struct Case {
        const char* name;
        std::string text;
        // Each header expected, at its first occurrence in `text`.
        std::vector<std::string> headers;
    };
    const Case cases[] = {
        {"plain", "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n", {"1 0 obj"}},
        {"after endobj without white space", "1 0 obj (a) endobj176 0 obj (b) endobj",
         {"1 0 obj", "176 0 obj"}},
        {"CR line ends", "1 0 obj\r(a)\rendobj\r2 0 obj\r(b)\rendobj\r", {"1 0 obj", "2 0 obj"}},
        {"delimiter after obj", "%PDF-1.4\n3 0 obj<<>>endobj", {"3 0 obj"}},
        {"largest number and generation", "4294967295 65535 obj null", {"4294967295 65535 obj"}},
        {"number too large", "4294967296 0 obj null 1 0 obj null", {"1 0 obj"}},
        {"generation too large", "7 65536 obj null 1 0 obj null", {"1 0 obj"}},
        {"signs and decimals", "-1 0 obj null +2 0 obj null 3.5 0 obj null", {}},
        {"obj inside a longer word", "1 0 objx null 2 0 obj", {"2 0 obj"}},
        {"obj glued to the generation", "1 0obj null 2 0 obj", {"2 0 obj"}},
        {"endobj is no header", "endobj 2 0 obj null endobj", {"2 0 obj"}},
        {"inside a dictionary", "1 0 obj << /A (2 0 obj) >> endobj", {"1 0 obj"}},
        {"inside a stream of direct length",
         "1 0 obj << /Length 7 >> stream\n2 0 obj\nendstream endobj 3 0 obj null",
         {"1 0 obj", "3 0 obj"}},
        // The body holds the word itself: only the length steps over it all.
        {"endstream inside a stream of direct length",
         "1 0 obj << /Length 23 >> stream\nendstream 2 0 obj (x) b\nendstream endobj",
         {"1 0 obj"}},
        {"inside a stream of indirect length",
         "1 0 obj << /Length 9 0 R >> stream\n2 0 obj\nendstream endobj 3 0 obj null",
         {"1 0 obj", "3 0 obj"}},
        {"stream that never ends", "1 0 obj << /Length 99 >> stream\n2 0 obj null",
         {"1 0 obj", "2 0 obj"}},
        {"dictionary that never ends", "1 0 obj << /A (open 2 0 obj null", {"1 0 obj", "2 0 obj"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto scan = scan_objects(as_bytes(c.text));
        if (c.headers.empty()) {
            ASSERT_FALSE(scan.ok());
            EXPECT_EQ(scan.error(), (Error{ErrorKind::InvalidXref, "no objects found"}));
            continue;
        }
        ASSERT_TRUE(scan.ok()) << scan.error().to_string();
        std::vector<std::pair<std::uint32_t, std::uint64_t>> expected;
        for (const std::string& h : c.headers) {
            expected.emplace_back(static_cast<std::uint32_t>(std::stoul(h)), c.text.find(h));
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(in_file(scan->xref), expected);
    }
}

TEST(ScanObjects, LastDefinitionWins) {
    // An incremental update rewrites object 2 with another generation.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.xref_table("/Root 1 0 R");
    const std::size_t newer = b.obj(2, "<< /Type /Pages /Kids [] /Count 0 /New true >>", 3);
    b.xref_table("/Root 1 0 R");
    auto scan = scan_objects(b.bytes());
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->xref.entries.size(), 2u);
    EXPECT_EQ(scan->xref.entries.at(2), XrefEntry(XrefInFile{newer, 3}));
}

TEST(ScanObjects, TrailersNewestFirstWithOlderEntriesKept) {
    struct Case {
        const char* name;
        std::string text;
        std::string trailer;  // as the parser reads it
    };
    const std::string objects = "1 0 obj null endobj\n";
    const Case cases[] = {
        {"one trailer", objects + "trailer << /Root 1 0 R /Size 2 >>", "<< /Root 1 0 R /Size 2 >>"},
        // A linearized file: the first-page trailer has everything, the
        // main one at the end only /Size.
        {"linearized", "trailer << /Root 1 0 R /ID [(a) (b)] /Info 3 0 R /Encrypt 4 0 R /Size 5 /Prev 9 >>\n" +
                           objects + "trailer << /Size 7 >>",
         "<< /Size 7 /Root 1 0 R /Info 3 0 R /Encrypt 4 0 R /ID [(a) (b)] >>"},
        {"newer Root wins", objects + "trailer << /Root 1 0 R >> trailer << /Root 5 0 R >>",
         "<< /Root 5 0 R >>"},
        {"cross-reference stream", objects + "trailer << /Info 3 0 R >>\n"
                                             "9 0 obj << /Type /XRef /Root 1 0 R /W [1 2 1] >> endobj",
         "<< /Type /XRef /Root 1 0 R /W [1 2 1] /Info 3 0 R >>"},
        {"not a trailer keyword", objects + "mytrailer << /Root 1 0 R >> trailers << /Root 2 0 R >>",
         "<< >>"},
        {"trailer without dictionary", objects + "trailer [1 2] trailer", "<< >>"},
        {"trailer that never ends", objects + "trailer << /Root 1 0 R", "<< >>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto scan = scan_objects(as_bytes(c.text));
        ASSERT_TRUE(scan.ok()) << scan.error().to_string();
        Lexer lx(as_bytes(c.trailer));
        auto expected = cos::parse_dictionary(lx);
        ASSERT_TRUE(expected.ok());
        EXPECT_EQ(Object(scan->xref.trailer), Object(*expected));
    }
}

TEST(ScanObjects, TypesOfTheLastDefinitions) {
    const std::string text =
        "1 0 obj << /Type /Catalog >> endobj\n"
        "2 0 obj << /Type /Page >> endobj\n"
        "3 0 obj << /Type /ObjStm /Length 2 >> stream\nab\nendstream endobj\n"
        "4 0 obj << /Type /Catalog >> endobj\n"
        "5 0 obj << /Type /Page >> endobj\n"
        "6 0 obj << /Type /ObjStm /Length 0 >> stream\n\nendstream endobj\n"
        "2 0 obj << /Type /Font >> endobj\n"   // page 2 redefined as something else
        "3 0 obj (no longer a stream) endobj\n"
        "7 0 obj << /Type /Page >> endobj\n";
    auto scan = scan_objects(as_bytes(text));
    ASSERT_TRUE(scan.ok());
    EXPECT_EQ(scan->catalogs, (std::vector<std::uint32_t>{4, 1}));
    EXPECT_EQ(scan->pages, (std::vector<std::uint32_t>{5, 7}));
    EXPECT_EQ(scan->object_streams, (std::vector<std::uint32_t>{6}));
}

TEST(ScanObjects, BrokenDictionariesCostABoundedRereading) {
    // Every dictionary runs to the end of the data in an unterminated
    // string. Parsing each one to the end would cost the square of the
    // size; past the allowance the scan records headers only, so the catalog
    // at the end is never read as one.
    std::string text;
    while (text.size() < (std::size_t{1} << 20)) text += "1 0 obj << (";
    const std::size_t last = text.size();
    text += "2 0 obj << /Type /Catalog >> endobj";
    auto scan = scan_objects(as_bytes(text));
    ASSERT_TRUE(scan.ok());
    EXPECT_EQ(in_file(scan->xref),
              (std::vector<std::pair<std::uint32_t, std::uint64_t>>{{1, last - 12}, {2, last}}));
    EXPECT_TRUE(scan->catalogs.empty());
}

// ---------------------------------------------------------------- object streams

TEST(ObjectStreamEntries, LaterDefinitionsWin) {
    PdfBuilder b;
    b.obj(5, "(five, in the file first)");
    b.objstm(10, {{5, "(five, packed later)"}, {6, "(six, packed)"}, {10, "(the stream itself)"},
                  {11, "(another object stream)"}});
    b.obj(6, "(six, in the file later)");
    b.objstm(11, {{7, "(seven)"}});
    b.xref_table("");
    auto scan = scan_objects(b.bytes());
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->object_streams, (std::vector<std::uint32_t>{10, 11}));
    Resolver resolver(scan->xref, b.bytes());
    add_object_stream_entries(resolver.xref, scan->object_streams, resolver);
    EXPECT_EQ(resolver.xref.entries.at(5), XrefEntry(XrefCompressed{10, 0}));
    EXPECT_TRUE(std::holds_alternative<XrefInFile>(resolver.xref.entries.at(6)));
    EXPECT_TRUE(std::holds_alternative<XrefInFile>(resolver.xref.entries.at(10)));
    EXPECT_TRUE(std::holds_alternative<XrefInFile>(resolver.xref.entries.at(11)));
    EXPECT_EQ(resolver.xref.entries.at(7), XrefEntry(XrefCompressed{11, 0}));
    EXPECT_EQ(*resolver.get(5), text("five, packed later"));
    EXPECT_EQ(*resolver.get(6), text("six, in the file later"));
    EXPECT_EQ(*resolver.get(7), text("seven"));
}

TEST(ObjectStreamEntries, StreamsThatDoNotReadAddNothing) {
    PdfBuilder b;
    b.stream(10, "/Type /ObjStm /N 1 /First 4 /Filter /FlateDecode", "not deflate");
    b.stream(11, "/Type /ObjStm /N 5 /First 2", "1 0");
    b.xref_table("");
    auto scan = scan_objects(b.bytes());
    ASSERT_TRUE(scan.ok());
    Resolver resolver(scan->xref, b.bytes());
    add_object_stream_entries(resolver.xref, scan->object_streams, resolver);
    EXPECT_EQ(resolver.xref.entries.size(), 2u);
}

// ---------------------------------------------------------------- resolver

TEST(ResolverFallback, EntryThatMissesItsObjectIsFoundInTheBody) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    const std::size_t two = b.obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    b.obj(3, "(three)");
    b.in_file_entry(2, two + 3);  // an offset an editor left behind
    b.in_file_entry(4, two);      // names object 2's bytes; 4 is nowhere
    b.xref_table("/Root 1 0 R");
    auto xref = read_xref(b.bytes());
    ASSERT_TRUE(xref.ok());
    Resolver resolver(std::move(xref).value(), b.bytes());
    EXPECT_EQ(*resolver.get(3), text("three"));
    EXPECT_FALSE(resolver.scanned());
    auto pages = resolver.get(2);
    ASSERT_TRUE(pages.ok()) << pages.error().to_string();
    EXPECT_TRUE(pages->as_dict()->get("Kids") != nullptr);
    EXPECT_TRUE(resolver.scanned());
    EXPECT_EQ(resolver.get(4).error(), (Error{ErrorKind::InvalidObject, "object number mismatch"}));
}

TEST(ResolverFallback, ObjectStreamFoundInTheBody) {
    // A cross-reference stream whose entry for the object stream is off:
    // its members are found once the stream is.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    const std::size_t at = b.objstm(10, {{2, "<< /Type /Pages /Kids [] /Count 0 >>"}});
    b.in_file_entry(10, at + 1);
    b.xref_stream(20, "/Root 1 0 R");
    auto xref = read_xref(b.bytes());
    ASSERT_TRUE(xref.ok());
    Resolver resolver(std::move(xref).value(), b.bytes());
    auto pages = resolver.get(2);
    ASSERT_TRUE(pages.ok()) << pages.error().to_string();
    EXPECT_TRUE(resolver.scanned());
}

TEST(ResolverFallback, TableRebuiltAtOpenIsNotScannedAgain) {
    PdfBuilder b;
    b.obj(1, "(one)");
    const std::size_t two = b.obj(2, "(two)");
    auto scan = scan_objects(b.bytes());
    ASSERT_TRUE(scan.ok());
    scan->xref.entries[1] = XrefInFile{two, 0};
    Resolver resolver(scan->xref, b.bytes());
    resolver.xref_rebuilt = true;
    auto one = resolver.get(1);
    ASSERT_FALSE(one.ok());
    EXPECT_EQ(one.error(), (Error{ErrorKind::InvalidObject, "object number mismatch"}));
    EXPECT_EQ(*resolver.get(2), text("two"));
}
