#include "doc.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/corpus.h"
#include "support/pdf_builder.h"
#include "support/read_file.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;
using vellox_test::read_file;

namespace {

std::string minimal(std::string header, std::string_view trailer = "/Root 1 0 R") {
    PdfBuilder b(header);
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.xref_table(trailer);
    return b.text();
}

}  // namespace

TEST(DocumentOpen, HeaderAndVersion) {
    struct Case {
        const char* name;
        std::string header;
        const char* version;
    };
    const std::string high = "\xE2\x82\xAC\xFF";
    const Case cases[] = {
        {"plain", "%PDF-1.7\n", "1.7"},
        {"CR LF", "%PDF-1.4\r\n%\xE2\xE3\xCF\xD3\r\n", "1.4"},
        {"garbage before", "\xEF\xBB\xBFjunk%PDF-1.5 \n", "1.5"},
        {"last byte at 1023", std::string(1019, 'x') + "%PDF-1.6\n", "1.6"},
        {"long version kept to 8 bytes",
         "%PDF-1.7%" + high +
             "\xC3"
             "abc\n",
         "1.7%\xE2\x82\xAC\xEF\xBF\xBD"},
        {"tab ends the version", "%PDF-2.0\t\n", "2.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = minimal(c.header);
        auto doc = Document::parse_with_password(as_bytes(file), {});
        ASSERT_TRUE(doc.ok()) << doc.error().to_string();
        EXPECT_EQ(doc->version, c.version);
    }
}

TEST(DocumentOpen, HeaderAtTheVeryEnd) {
    // The cross-reference section comes first; the last bytes are the header.
    const std::string file =
        "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Root 1 0 R >>\nstartxref\n0\n%PDF-2.0";
    auto doc = Document::parse_with_password(as_bytes(file), {});
    ASSERT_TRUE(doc.ok()) << doc.error().to_string();
    EXPECT_EQ(doc->version, "2.0");
}

TEST(DocumentOpen, Failures) {
    struct Case {
        const char* name;
        std::string file;
        Error error;
    };
    const Error no_header{ErrorKind::InvalidHeader, "no %PDF- header"};
    const Case cases[] = {
        {"empty", "", no_header},
        {"four bytes", "%PDF", no_header},
        {"header at 1020", minimal(std::string(1020, ' ') + "%PDF-1.4\n"), no_header},
        {"lower case", minimal("%pdf-1.4\n"), no_header},
        {"no Root",
         minimal("%PDF-1.4\n", "/Info 1 0 R"),
         {ErrorKind::MissingTrailer, "trailer has no /Root"}},
        {"no startxref",
         "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n",
         {ErrorKind::InvalidXref, "no startxref"}},
        {"Encrypt missing",
         minimal("%PDF-1.4\n", "/Root 1 0 R /Encrypt 40 0 R"),
         {ErrorKind::ObjectNotFound, "no such object"}},
        {"Encrypt not a dictionary",
         minimal("%PDF-1.4\n", "/Root 1 0 R /Encrypt 5"),
         {ErrorKind::InvalidObject, "expected dictionary"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = Document::parse_with_password(as_bytes(c.file), {});
        ASSERT_FALSE(doc.ok());
        EXPECT_EQ(doc.error(), c.error);
    }
}

TEST(DocumentOpen, RootIsExaminedOnlyByCatalog) {
    const std::string int_root = minimal("%PDF-1.4\n", "/Root 5");
    auto doc = Document::parse_with_password(as_bytes(int_root), {});
    ASSERT_TRUE(doc.ok()) << doc.error().to_string();
    auto catalog = doc->catalog();
    ASSERT_FALSE(catalog.ok());
    EXPECT_EQ(catalog.error(), (Error{ErrorKind::InvalidObject, "expected dictionary"}));
    auto pages = doc->pages();
    ASSERT_FALSE(pages.ok());
    EXPECT_EQ(pages.error(), catalog.error());

    const std::string good = minimal("%PDF-1.4\n");
    auto ok = Document::parse_with_password(as_bytes(good), {});
    ASSERT_TRUE(ok.ok());
    auto cat = ok->catalog();
    ASSERT_TRUE(cat.ok());
    EXPECT_TRUE(cat->get("Type")->is_name("Catalog"));
    auto list = ok->pages();
    ASSERT_TRUE(list.ok());
    EXPECT_EQ(list->size(), 1u);
}

TEST(DocumentOpen, UnknownSecurityHandlerOpensWithoutDecryption) {
    // A direct encryption dictionary the standard handler does not accept:
    // the file opens, and strings come back as stored.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /S (plain) >>");
    b.obj(2, "<< /Type /Pages /Kids [] >>");
    b.xref_table("/Root 1 0 R /Encrypt << /Filter /NotStandard >> /ID [(a) (b)]");
    auto doc = Document::parse_with_password(b.bytes(), {});
    ASSERT_TRUE(doc.ok()) << doc.error().to_string();
    EXPECT_FALSE(doc->resolver.decryptor.has_value());
    auto cat = doc->catalog();
    ASSERT_TRUE(cat.ok());
    EXPECT_EQ(*cat->get("S"), Object(String{Bytes{'p', 'l', 'a', 'i', 'n'}}));
}

namespace {

const std::string kFixtures = std::string(VELLOX_SOURCE_DIR) + "/core/tests/fixtures/filestruct/";

}  // namespace

// Files written by qpdf in every layout it produces (object streams, classic
// tables, linearized, QDF, encrypted) and incremental updates appended to
// them: page count and each page's content bytes match what qpdf reports.
TEST(DocumentOpen, QpdfFixturesMatchQpdf) {
    std::istringstream list(read_file(kFixtures + "fixtures.txt"));
    std::string name;
    std::string password;
    int checked = 0;
    while (list >> name >> password) {
        SCOPED_TRACE(name);
        if (password == "-") password.clear();
        const std::string file = read_file(kFixtures + name + ".pdf");
        ASSERT_FALSE(file.empty());
        auto doc = Document::parse_with_password(as_bytes(file), as_bytes(password));
        ASSERT_TRUE(doc.ok()) << doc.error().to_string();
        EXPECT_EQ(doc->resolver.decryptor.has_value(), !password.empty());
        auto pages = doc->pages();
        ASSERT_TRUE(pages.ok()) << pages.error().to_string();
        ASSERT_EQ(std::to_string(pages->size()) + "\n", read_file(kFixtures + name + ".pages"));
        for (std::size_t i = 0; i < pages->size(); ++i) {
            SCOPED_TRACE(i + 1);
            auto content = page_content(doc->resolver, (*pages)[i]);
            ASSERT_TRUE(content.ok()) << content.error().to_string();
            const std::string expected =
                read_file(kFixtures + name + ".p" + std::to_string(i + 1) + ".bin");
            EXPECT_FALSE(expected.empty());
            EXPECT_EQ(as_text(*content), expected);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 11);
}

TEST(DocumentOpen, WrongPasswordOpensWithoutKey) {
    const std::string file = read_file(kFixtures + "inline-aes128.pdf");
    auto doc = Document::parse_with_password(as_bytes(file), as_bytes("not the password"));
    ASSERT_TRUE(doc.ok()) << doc.error().to_string();
    auto pages = doc->pages();
    ASSERT_TRUE(pages.ok()) << pages.error().to_string();
    auto content = page_content(doc->resolver, (*pages)[0]);
    // Without the key the stored bytes are not the content qpdf reports.
    EXPECT_TRUE(!content.ok() ||
                as_text(*content) != read_file(kFixtures + "inline-aes128.p1.bin"));
}

// Every corpus file opens and has the page count pdfinfo reports, except
// the one whose startxref is wrong: nothing is repaired, so it fails cleanly.
TEST(DocumentOpen, CorpusPageCountsMatchPdfinfo) {
    VELLOX_SKIP_WITHOUT_CORPUS();
    std::istringstream list(read_file(kFixtures + "corpus_pages.txt"));
    std::string name;
    std::string expected;
    int checked = 0;
    while (list >> name >> expected) {
        SCOPED_TRACE(name);
        const std::string file = read_file(std::string(VELLOX_CORPUS_DIR) + "/" + name);
        ASSERT_FALSE(file.empty());
        const std::string password =
            name == "libreoffice-writer-password.pdf" ? "openpassword" : "";
        auto doc = Document::parse_with_password(as_bytes(file), as_bytes(password));
        Result<std::vector<Page>> pages =
            doc.ok() ? doc->pages() : Result<std::vector<Page>>(doc.error());
        if (name == "unreadablemetadata.pdf") {
            ASSERT_FALSE(pages.ok());
            EXPECT_EQ(pages.error().kind, ErrorKind::InvalidObject) << pages.error().to_string();
            ++checked;
            continue;
        }
        ASSERT_TRUE(pages.ok()) << pages.error().to_string();
        EXPECT_EQ(std::to_string(pages->size()), expected);
        for (const Page& page : *pages) {
            auto content = page_content(doc->resolver, page);
            EXPECT_TRUE(content.ok()) << content.error().to_string();
        }
        ++checked;
    }
    EXPECT_EQ(checked, 31);
}

// Damaged copies of the fixtures (bytes overwritten, cut short) either open
// or fail with an error carrying a message; under the sanitizer build this
// also checks that no damage leads to a bad memory access.
TEST(DocumentOpen, DamagedFilesFailCleanly) {
    std::istringstream list(read_file(kFixtures + "fixtures.txt"));
    std::string name;
    std::string password;
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int opened = 0;
    int failed = 0;
    while (list >> name >> password) {
        const std::string original = read_file(kFixtures + name + ".pdf");
        for (int round = 0; round < 150; ++round) {
            std::string file = original;
            const int edits = 1 + static_cast<int>(next() % 4);
            for (int e = 0; e < edits; ++e) {
                file[next() % file.size()] = static_cast<char>(next() & 0xFF);
            }
            if (round % 5 == 0) file.resize(next() % file.size());
            auto doc = Document::parse_with_password(as_bytes(file), as_bytes(password));
            Status status = Unit{};
            if (doc) {
                auto pages = doc->pages();
                if (pages) {
                    for (const Page& page : *pages) {
                        auto content = page_content(doc->resolver, page);
                        if (!content) status = content.error();
                    }
                } else {
                    status = pages.error();
                }
            } else {
                status = doc.error();
            }
            if (status.ok()) {
                ++opened;
            } else {
                ++failed;
                EXPECT_FALSE(status.error().message.empty());
            }
        }
    }
    // Both outcomes occur: most single-byte damage lands in stream data.
    EXPECT_GT(opened, 0);
    EXPECT_GT(failed, 0);
}
