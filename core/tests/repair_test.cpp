#include "repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cos.h"
#include "doc.h"
#include "support/page_text.h"
#include "support/pdf_builder.h"
#include "support/read_file.h"

using namespace vellox_core;
using vellox_test::page_text;
using vellox_test::PdfBuilder;
using vellox_test::read_file;

namespace {

// A copy of what the resolver holds for object `num`.
Result<Object> get(const Resolver& r, std::uint32_t num) {
    auto found = r.lookup(num);
    if (!found) return found.error();
    return **found;
}

const std::string kFixtures = std::string(VELLOX_SOURCE_DIR) + "/core/tests/fixtures/";

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
        {"after endobj without white space",
         "1 0 obj (a) endobj176 0 obj (b) endobj",
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
        {"stream that never ends",
         "1 0 obj << /Length 99 >> stream\n2 0 obj null",
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
        {"linearized",
         "trailer << /Root 1 0 R /ID [(a) (b)] /Info 3 0 R /Encrypt 4 0 R /Size 5 /Prev 9 >>\n" +
             objects + "trailer << /Size 7 >>",
         "<< /Size 7 /Root 1 0 R /Info 3 0 R /Encrypt 4 0 R /ID [(a) (b)] >>"},
        {"newer Root wins", objects + "trailer << /Root 1 0 R >> trailer << /Root 5 0 R >>",
         "<< /Root 5 0 R >>"},
        {"cross-reference stream",
         objects + "trailer << /Info 3 0 R >>\n"
                   "9 0 obj << /Type /XRef /Root 1 0 R /W [1 2 1] >> endobj",
         "<< /Type /XRef /Root 1 0 R /W [1 2 1] /Info 3 0 R >>"},
        {"not a trailer keyword",
         objects + "mytrailer << /Root 1 0 R >> trailers << /Root 2 0 R >>", "<< >>"},
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
        "2 0 obj << /Type /Font >> endobj\n"  // page 2 redefined as something else
        "3 0 obj (no longer a stream) endobj\n"
        "7 0 obj << /Type /Page >> endobj\n";
    auto scan = scan_objects(as_bytes(text));
    ASSERT_TRUE(scan.ok());
    EXPECT_EQ(scan->catalogs, (std::vector<std::uint32_t>{4, 1}));
    EXPECT_EQ(scan->pages, (std::vector<std::uint32_t>{5, 7}));
    EXPECT_EQ(scan->object_streams, (std::vector<std::uint32_t>{6}));
}

TEST(ScanObjects, CommentsAfterHeadersAreNotReadAgain) {
    // One line of headers and comments, eight megabytes long: were the
    // comment after each header (or after its dictionary) skipped to the end
    // of the line, the scan would read the line again for each of its
    // hundreds of thousands of headers.
    for (const char* unit : {"1 0 obj %", "1 0 obj <<>> %"}) {
        SCOPED_TRACE(unit);
        std::string text = "%PDF-1.4\n";
        while (text.size() < (std::size_t{8} << 20)) text += unit;
        auto scan = scan_objects(as_bytes(text));
        ASSERT_TRUE(scan.ok());
        EXPECT_EQ(scan->xref.entries.size(), 1u);
    }
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
    b.objstm(10, {{5, "(five, packed later)"},
                  {6, "(six, packed)"},
                  {10, "(the stream itself)"},
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
    EXPECT_EQ(*get(resolver, 5), text("five, packed later"));
    EXPECT_EQ(*get(resolver, 6), text("six, in the file later"));
    EXPECT_EQ(*get(resolver, 7), text("seven"));
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

TEST(CatalogsInObjectStreams, CurrentDefinitionsOnly) {
    PdfBuilder b;
    b.objstm(10, {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                  {2, "<< /Type /Pages >>"},
                  {3, "<< /Type /Catalog >>"}});
    b.obj(3, "(replaced later in the file)");
    b.xref_table("");
    auto scan = scan_objects(b.bytes());
    ASSERT_TRUE(scan.ok());
    Resolver resolver(scan->xref, b.bytes());
    add_object_stream_entries(resolver.xref, scan->object_streams, resolver);
    EXPECT_EQ(catalogs_in_object_streams(resolver), (std::vector<std::uint32_t>{1}));
}

TEST(CatalogsInObjectStreams, MembersListedAtOneOffsetAreReadOnce) {
    // Two hundred thousand members, all at the offset of one catalog of a
    // megabyte: read once each, that is two hundred gigabytes of parsing.
    std::string index;
    for (std::uint32_t n = 1; n <= 200000; ++n) index += std::to_string(n) + " 0 ";
    const std::string catalog = "<< /Type /Catalog /Filler (" + std::string(1 << 20, 'x') + ") >>";
    PdfBuilder b;
    b.stream(300000, "/Type /ObjStm /N 200000 /First " + std::to_string(index.size()),
             index + catalog);
    b.xref_table("");
    auto scan = scan_objects(b.bytes());
    ASSERT_TRUE(scan.ok());
    Resolver resolver(scan->xref, b.bytes());
    add_object_stream_entries(resolver.xref, scan->object_streams, resolver);
    ASSERT_EQ(resolver.xref.entries.size(), 200001u);
    EXPECT_EQ(catalogs_in_object_streams(resolver), (std::vector<std::uint32_t>{200000}));
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
    EXPECT_EQ(*get(resolver, 3), text("three"));
    EXPECT_FALSE(resolver.scanned());
    auto pages = get(resolver, 2);
    ASSERT_TRUE(pages.ok()) << pages.error().to_string();
    EXPECT_TRUE(pages->as_dict()->get("Kids") != nullptr);
    EXPECT_TRUE(resolver.scanned());
    EXPECT_EQ(get(resolver, 4).error(),
              (Error{ErrorKind::InvalidObject, "object number mismatch"}));
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
    auto pages = get(resolver, 2);
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
    auto one = get(resolver, 1);
    ASSERT_FALSE(one.ok());
    EXPECT_EQ(one.error(), (Error{ErrorKind::InvalidObject, "object number mismatch"}));
    EXPECT_EQ(*get(resolver, 2), text("two"));
}

// ---------------------------------------------------------------- documents

namespace {

struct Startxref {
    std::size_t digits = 0;  // where the number starts
    std::size_t length = 0;
    std::uint64_t value = 0;
};

Startxref last_startxref(const std::string& file) {
    const std::size_t at = file.rfind("startxref");
    EXPECT_NE(at, std::string::npos);
    Startxref s;
    s.digits = file.find_first_of("0123456789", at);
    s.length = file.find_first_not_of("0123456789", s.digits) - s.digits;
    s.value = std::stoull(file.substr(s.digits, s.length));
    return s;
}

std::string startxref_moved(std::string file, std::int64_t by) {
    const Startxref s = last_startxref(file);
    file.replace(s.digits, s.length, std::to_string(static_cast<std::int64_t>(s.value) + by));
    return file;
}

bool classic(const std::string& file) {
    return file.compare(last_startxref(file).value, 4, "xref") == 0;
}

// The ways a cross-reference section gets lost, as real files show them.
struct Damage {
    const char* name;
    std::function<std::string(std::string)> apply;
    bool scans;          // the repaired file is read through the scan
    bool keeps_trailer;  // the trailer (and so /Encrypt and /ID) survives
    bool classic_only;
};

const std::vector<Damage>& damages() {
    static const std::vector<Damage> all = {
        {"startxref three bytes late", [](std::string f) { return startxref_moved(f, 3); }, true,
         true, false},
        {"startxref five bytes early", [](std::string f) { return startxref_moved(f, -5); }, true,
         true, false},
        {"no startxref",
         [](std::string f) {
             const std::size_t at = f.rfind("startxref");
             return f.erase(at, f.rfind("%%EOF") - at);
         },
         true, true, false},
        {"section that does not parse",
         [](std::string f) {
             const std::size_t at = last_startxref(f).value;
             if (f.compare(at, 4, "xref") == 0) {
                 f[at + 5] = 'x';  // the first subsection header
                 return f;
             }
             // A cross-reference stream whose data does not inflate.
             const std::size_t data = f.find("stream", at) + 7;
             const std::size_t end = f.find("endstream", data) - 1;
             for (std::size_t i = data; i < end; ++i) f[i] = '\xFF';
             return f;
         },
         true, true, false},
        {"cut before the cross-reference section",
         [](std::string f) { return f.substr(0, last_startxref(f).value); }, true, false, false},
        {"a comment inserted after the header",
         [](std::string f) {
             const std::string comment = "% inserted by an editor\n";
             f.insert(f.find('\n') + 1, comment);
             return startxref_moved(f, static_cast<std::int64_t>(comment.size()));
         },
         true, true, false},
        {"one entry one byte off",
         [](std::string f) {
             // The entry of object 1 in the table "xref\n0 N\n" + 20-byte lines.
             const std::size_t table = f.find('\n', last_startxref(f).value + 5) + 1;
             const std::size_t entry = table + 20;
             const std::uint64_t offset = std::stoull(f.substr(entry, 10)) + 1;
             std::string digits = std::to_string(offset);
             f.replace(entry, 10, std::string(10 - digits.size(), '0') + digits);
             return f;
         },
         true, true, true},
        {"junk before the header",
         [](std::string f) { return std::string(100, '\x01') + "mail gateway\r\n" + f; }, false,
         true, false},
    };
    return all;
}

}  // namespace

// qpdf-made files (fixtures/repair/make.sh), damaged in each way: they read
// as the intact file does, page count and text alike.
TEST(DocumentRepair, DamagedQpdfFilesReadLikeIntactOnes) {
    struct Fixture {
        const char* name;
        const char* password;
    };
    const Fixture fixtures[] = {
        {"classic", ""},           {"objstm", ""},
        {"rc4-classic", "user"},   {"rc4-objstm", "user"},
        {"aes128-objstm", "user"}, {"aes256-objstm", "user"},
    };
    int checked = 0;
    for (const Fixture& fx : fixtures) {
        SCOPED_TRACE(fx.name);
        const std::string intact = read_file(kFixtures + "repair/" + fx.name + ".pdf");
        ASSERT_FALSE(intact.empty());
        auto reference = Document::parse_with_password(as_bytes(intact), as_bytes(fx.password));
        ASSERT_TRUE(reference.ok()) << reference.error().to_string();
        const std::string expected = page_text(*reference);
        ASSERT_EQ(expected, "First page\nof two\n\fSecond page\n");
        EXPECT_FALSE(reference->resolver.scanned());
        const bool encrypted = *fx.password != '\0';
        for (const Damage& damage : damages()) {
            if (damage.classic_only && !classic(intact)) continue;
            // Without its trailer an encrypted file has lost its key.
            if (encrypted && !damage.keeps_trailer) continue;
            SCOPED_TRACE(damage.name);
            const std::string file = damage.apply(intact);
            ASSERT_NE(file, intact);
            auto doc = Document::parse_with_password(as_bytes(file), as_bytes(fx.password));
            ASSERT_TRUE(doc.ok()) << doc.error().to_string();
            EXPECT_EQ(page_text(*doc), expected);
            EXPECT_EQ(doc->resolver.scanned(), damage.scans);
            if (encrypted) {
                auto none = Document::parse_with_password(as_bytes(file), {});
                ASSERT_FALSE(none.ok());
                EXPECT_EQ(none.error(),
                          (Error{ErrorKind::InvalidPassword, "a password is required"}));
            }
            ++checked;
        }
    }
    // Two classic files take all eight, the four others all but one; four
    // encrypted files cannot lose their trailer.
    EXPECT_EQ(checked, 2 * 8 + 4 * 7 - 4);
}

// Incremental updates (fixtures/filestruct/make_fixtures.py) damaged the
// same ways. Where the newest section is unreadable the scan keeps the
// newest revision of each object; where only its startxref or the section
// itself is gone, the older section the file still ends with is read as it
// stands, giving the older revision, as other readers do.
TEST(DocumentRepair, DamagedUpdatesKeepTheNewestRevision) {
    for (const char* name : {"inline-update", "inline-objstm-update"}) {
        SCOPED_TRACE(name);
        const std::string intact = read_file(kFixtures + "filestruct/" + name + ".pdf");
        auto reference = Document::parse_with_password(as_bytes(intact), {});
        ASSERT_TRUE(reference.ok());
        const std::string newest = page_text(*reference);
        const std::size_t update = intact.rfind("startxref", intact.rfind("startxref") - 1);
        const std::string older_file = intact.substr(0, intact.find("%%EOF", update) + 6);
        auto older = Document::parse_with_password(as_bytes(older_file), {});
        ASSERT_TRUE(older.ok());
        const std::string oldest = page_text(*older);
        ASSERT_NE(newest, oldest);
        for (const Damage& damage : damages()) {
            if (damage.classic_only) continue;
            SCOPED_TRACE(damage.name);
            const std::string file = damage.apply(intact);  // the document borrows it
            auto doc = Document::parse_with_password(as_bytes(file), {});
            ASSERT_TRUE(doc.ok()) << doc.error().to_string();
            const std::string_view lost = damage.name;
            const bool older_chain =
                lost == "no startxref" || lost == "cut before the cross-reference section";
            EXPECT_EQ(page_text(*doc), older_chain ? oldest : newest);
        }
    }
}

TEST(DocumentRepair, CatalogAndPagesWithoutUsableTrailer) {
    const auto with_objects = [](std::string_view trailer_text) {
        std::string out = "%PDF-1.4\n";
        out += "1 0 obj << /Type /Outlines >> endobj\n";
        out += "2 0 obj << /Type /Catalog /Pages 3 0 R >> endobj\n";
        out += "3 0 obj << /Type /Pages /Kids [4 0 R] /Count 1 >> endobj\n";
        out += "4 0 obj << /Type /Page /Contents 5 0 R >> endobj\n";
        out += "5 0 obj << /Length 21 >> stream\nBT (page four) Tj ET\nendstream endobj\n";
        out += trailer_text;
        return out;
    };
    struct Case {
        const char* name;
        std::string file;
    };
    const Case cases[] = {
        // pdfminer-samples' simple1.pdf: a trailer, no table, no startxref.
        {"no table", with_objects("trailer << /Root 2 0 R >>\n%%EOF\n")},
        {"no trailer", with_objects("")},
        {"trailer Root not a catalog", with_objects("trailer << /Root 1 0 R >>\n")},
        {"trailer Root missing", with_objects("trailer << /Root 9 0 R >>\n")},
        // scancode-patchelf.pdf: the trailer dictionary is never closed.
        {"trailer never closed", with_objects("trailer << /Root 2 0 R\nstartxref\n0\n%%EOF\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = Document::parse_with_password(as_bytes(c.file), {});
        ASSERT_TRUE(doc.ok()) << doc.error().to_string();
        EXPECT_EQ(page_text(*doc), "page four\n");
    }
}

TEST(DocumentRepair, PagesFromPageObjectsWhenTheTreeIsLost) {
    // The catalog names a page tree that is not in the file: the pages are
    // the objects that say they are one, in file order.
    const std::string file =
        "%PDF-1.4\n"
        "7 0 obj << /Type /Page /Contents 8 0 R >> endobj\n"
        "8 0 obj << /Length 19 >> stream\nBT (first) Tj ET\n\nendstream endobj\n"
        "1 0 obj << /Type /Catalog /Pages 2 0 R /Lang (en) >> endobj\n"
        "3 0 obj << /Type /Page /Contents 4 0 R >> endobj\n"
        "4 0 obj << /Length 20 >> stream\nBT (second) Tj ET\n\nendstream endobj\n"
        "trailer << /Root 1 0 R >>\n";
    auto doc = Document::parse_with_password(as_bytes(file), {});
    ASSERT_TRUE(doc.ok()) << doc.error().to_string();
    EXPECT_EQ(page_text(*doc), "first\n\fsecond\n");
    auto catalog = doc->catalog();
    ASSERT_TRUE(catalog.ok());
    EXPECT_EQ(*catalog->get("Lang"), text("en"));
    // Without a catalog nothing is made up.
    std::string headless = file.substr(0, file.find("trailer"));
    headless.replace(headless.find("/Catalog"), 8, "/Outline");
    auto none = Document::parse_with_password(as_bytes(headless), {});
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error(), (Error{ErrorKind::InvalidXref, "no startxref"}));
}

TEST(DocumentRepair, TrailerOfAnEncryptedFileRebuilt) {
    // The security handler comes from the rebuilt trailer, before the
    // object streams are read: with the wrong password nothing is read.
    const std::string intact = read_file(kFixtures + "repair/aes256-objstm.pdf");
    const std::string file = startxref_moved(intact, 3);
    auto wrong = Document::parse_with_password(as_bytes(file), as_bytes("owner?"));
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error(), (Error{ErrorKind::InvalidPassword, "wrong password"}));
    auto owner = Document::parse_with_password(as_bytes(file), as_bytes("owner"));
    ASSERT_TRUE(owner.ok()) << owner.error().to_string();
    EXPECT_EQ(page_text(*owner), "First page\nof two\n\fSecond page\n");
}

// The corpus files that other readers open and that need the repair: page
// counts are pdfinfo's, except unreadablemetadata.pdf (see doc_test).
TEST(DocumentRepair, CorpusFilesThatNeedRepairOpen) {
    const std::filesystem::path corpora = std::filesystem::path(VELLOX_CORPUS_DIR).parent_path();
    if (!std::filesystem::is_directory(corpora / "pdfminer-samples")) {
        GTEST_SKIP() << "corpora not found under " << corpora;
    }
    struct Case {
        const char* file;
        std::size_t pages;
        const char* first_line;  // of the first page; nullptr for a page without text
    };
    const Case cases[] = {
        {"sample-files/unreadablemetadata.pdf", 3, nullptr},
        {"pdfminer-samples/simple1.pdf", 1, "Hello World"},
        {"pdfminer-samples/simple3.pdf", 1, nullptr},
        {"pdfminer-samples/contrib-issue-1113-evil-xobjects.pdf", 1, nullptr},
        {"pdfminer-samples/scancode-patchelf.pdf", 1, nullptr},
        {"pdfminer-samples/contrib-issue_1165_linewidth.pdf", 1, nullptr},
        {"pypdf-resources/issue-297.pdf", 1, "test example"},
        {"pypdf-resources/form_acrobatReader.pdf", 1, "foo Bar"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = read_file(corpora / c.file);
        auto doc = Document::parse_with_password(as_bytes(file), {});
        ASSERT_TRUE(doc.ok()) << doc.error().to_string();
        EXPECT_TRUE(doc->resolver.scanned());
        auto pages = doc->pages();
        ASSERT_TRUE(pages.ok()) << pages.error().to_string();
        EXPECT_EQ(pages->size(), c.pages);
        if (c.first_line == nullptr) continue;
        const std::string text = page_text(*doc);
        EXPECT_EQ(text.substr(0, text.find('\n')), c.first_line);
    }
}

// Every other corpus file, and every fixture, reads through its own
// cross-reference data: the scan never runs for them.
TEST(DocumentRepair, WellFormedFilesAreNeverScanned) {
    std::vector<std::filesystem::path> files;
    for (const char* dir : {"repair", "filestruct"}) {
        for (const auto& entry : std::filesystem::directory_iterator(kFixtures + dir)) {
            if (entry.path().extension() == ".pdf") files.push_back(entry.path());
        }
    }
    const std::filesystem::path corpora = std::filesystem::path(VELLOX_CORPUS_DIR).parent_path();
    const std::vector<std::string> damaged = {"unreadablemetadata.pdf",
                                              "simple1.pdf",
                                              "simple3.pdf",
                                              "contrib-issue-1113-evil-xobjects.pdf",
                                              "scancode-patchelf.pdf",
                                              "contrib-issue_1165_linewidth.pdf",
                                              "issue-297.pdf",
                                              "form_acrobatReader.pdf"};
    for (const char* dir : {"sample-files", "pypdf-resources", "pdfminer-samples"}) {
        if (!std::filesystem::is_directory(corpora / dir)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(corpora / dir)) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() != ".pdf" ||
                std::find(damaged.begin(), damaged.end(), name) != damaged.end()) {
                continue;
            }
            files.push_back(entry.path());
        }
    }
    std::size_t opened = 0;
    std::size_t refused = 0;
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const std::string file = read_file(path);
        // Encrypted files that need a password fail before any object is
        // read; those with an empty user password open.
        auto doc = Document::parse_with_password(as_bytes(file), {});
        if (!doc) {
            EXPECT_EQ(doc.error().kind, ErrorKind::InvalidPassword) << doc.error().to_string();
            ++refused;
            continue;
        }
        (void)doc->extract();
        EXPECT_FALSE(doc->resolver.scanned());
        ++opened;
    }
    // Every file opened or asked for a password, and most opened.
    EXPECT_EQ(opened + refused, files.size());
    EXPECT_GT(opened, refused);
}
