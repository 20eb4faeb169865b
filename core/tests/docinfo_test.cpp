#include "docinfo.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bounds.h"
#include "support/parse.h"
#include "support/pdf_builder.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

std::string decode(std::string_view raw) { return decode_text_string(as_bytes(raw)); }

constexpr const char* kReplacement = "\xEF\xBF\xBD";

}  // namespace

TEST(DecodeTextString, PdfDocEncodingUtf16AndUtf8) {
    struct Case {
        const char* name;
        std::string raw;
        std::string expected;
    } cases[] = {
        {"empty", "", ""},
        {"ascii", "Annual report", "Annual report"},
        {"latin-1 range", "caf\xE9 \xFC\xFF", "caf\xC3\xA9 \xC3\xBC\xC3\xBF"},
        {"bullet, dagger, em dash, trademark", "\x80\x81\x84\x92",
         "\xE2\x80\xA2\xE2\x80\xA0\xE2\x80\x94\xE2\x84\xA2"},
        {"fi ligature, Lslash, zcaron", "\x93\x95\x9E", "\xEF\xAC\x81\xC5\x81\xC5\xBE"},
        {"euro at 0xA0", "\xA0", "\xE2\x82\xAC"},
        {"breve and tilde accents", "\x18\x1F", "\xCB\x98\xCB\x9C"},
        {"undefined codes", std::string("\x7F\x9F\xAD"),
         std::string(kReplacement) + kReplacement + kReplacement},
        {"control characters kept", "a\tb\nc", "a\tb\nc"},
        {"utf-16be", std::string("\xFE\xFF\x00H\x00i\x04\x16", 8), "Hi\xD0\x96"},
        {"utf-16be surrogate pair", std::string("\xFE\xFF\xD8\x3D\xDE\x00", 6), "\xF0\x9F\x98\x80"},
        {"lone high surrogate", std::string("\xFE\xFF\xD8\x3D\x00x", 6),
         std::string(kReplacement) + "x"},
        {"lone low surrogate at the end", std::string("\xFE\xFF\xDE\x00", 4), kReplacement},
        {"high surrogate at the end", std::string("\xFE\xFF\x00x\xD8\x3D", 6),
         std::string("x") + kReplacement},
        {"odd trailing byte dropped",
         std::string("\xFE\xFF\x00"
                     "a\x00",
                     5),
         "a"},
        {"language escape dropped",
         std::string("\xFE\xFF\x00\x1B"
                     "en\x00\x1B\x00O\x00K",
                     12),
         "OK"},
        {"utf-16le", std::string("\xFF\xFEH\x00i\x00", 6), "Hi"},
        {"utf-8",
         "\xEF\xBB\xBF"
         "caf\xC3\xA9",
         "caf\xC3\xA9"},
        {"invalid utf-8 replaced",
         "\xEF\xBB\xBF"
         "a\xFF",
         std::string("a") + kReplacement},
        {"bom alone", "\xFE\xFF", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.raw), c.expected);
    }
}

TEST(PdfDate, ToIso8601) {
    struct Case {
        const char* input;
        std::optional<std::string> expected;
    } cases[] = {
        {"D:20230115103000+05'30'", "2023-01-15T10:30:00+05:30"},
        {"D:20230115103000-08'00", "2023-01-15T10:30:00-08:00"},
        {"D:20230115103000-0800", "2023-01-15T10:30:00-08:00"},
        {"D:20230115103000+05", "2023-01-15T10:30:00+05:00"},
        {"D:20230115103000Z", "2023-01-15T10:30:00Z"},
        {"D:20230115103000Z00'00'", "2023-01-15T10:30:00Z"},
        {"D:20230115103000", "2023-01-15T10:30:00"},
        {"D:2023011510", "2023-01-15T10:00:00"},
        {"D:202301151030", "2023-01-15T10:30:00"},
        {"D:20230115", "2023-01-15"},
        {"D:20230115+01'00'", "2023-01-15"},  // no time of day, no offset
        {"D:202301", "2023-01"},
        {"D:2023", "2023"},
        {"20230115103000", "2023-01-15T10:30:00"},           // no prefix
        {"  D:20240229 ", "2024-02-29"},                     // leap day, spaces
        {"D:20230115103000+99'00'", "2023-01-15T10:30:00"},  // bad offset dropped
        {"D:20230115103000+05'99'", "2023-01-15T10:30:00"},
        {"D:20230115103000 garbage", "2023-01-15T10:30:00"},
        {"D:19990229", std::nullopt},
        {"D:21000229", std::nullopt},
        {"D:20000229", "2000-02-29"},
        {"D:20231301", std::nullopt},
        {"D:20230001", std::nullopt},
        {"D:20230100", std::nullopt},
        {"D:20230431", std::nullopt},
        {"D:2023011524", std::nullopt},
        {"D:202301151060", std::nullopt},
        {"D:20230115103060", std::nullopt},
        {"D:191", std::nullopt},  // two-digit years wrapped by old producers
        {"Sunday", std::nullopt},
        {"", std::nullopt},
        {"D:", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(pdf_date_to_iso(c.input), c.expected);
    }
}

TEST(Xmp, TitleAndCreators) {
    const std::string packet = R"(<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/">
<dc:format>application/pdf</dc:format>
<dc:title><rdf:Alt><rdf:li xml:lang="de">Bericht</rdf:li>
<rdf:li xml:lang="x-default"> Report &amp; Accounts &#x2014; 2023 </rdf:li></rdf:Alt></dc:title>
<dc:creator><rdf:Seq><rdf:li>Ada Lovelace</rdf:li><rdf:li/><rdf:li>  </rdf:li>
<rdf:li>Charles &lt;C&gt; Babbage</rdf:li></rdf:Seq></dc:creator>
</rdf:Description></rdf:RDF></x:xmpmeta>
<?xpacket end="w"?>)";
    const XmpText xmp = scan_xmp(packet);
    EXPECT_EQ(xmp.title, "Report & Accounts \xE2\x80\x94 2023");
    EXPECT_EQ(xmp.creator, "Ada Lovelace, Charles <C> Babbage");
}

TEST(Xmp, ToleratesAndRefuses) {
    struct Case {
        const char* name;
        std::string packet;
        std::optional<std::string> title;
        std::optional<std::string> creator;
    } cases[] = {
        {"nothing", "", std::nullopt, std::nullopt},
        {"bare title", "<dc:title>Plain &#65;&#x42;</dc:title>", "Plain AB", std::nullopt},
        {"first alternative without x-default",
         "<dc:title><rdf:Alt><rdf:li "
         "xml:lang='en'>One</rdf:li><rdf:li>Two</rdf:li></rdf:Alt></dc:title>",
         "One", std::nullopt},
        {"empty elements", "<dc:title/><dc:creator/>", std::nullopt, std::nullopt},
        {"unclosed", "<dc:title><rdf:Alt><rdf:li>Lost", std::nullopt, std::nullopt},
        {"similar tag names", "<dc:titles>No</dc:titles><xdc:title>No</xdc:title>", std::nullopt,
         std::nullopt},
        {"the name in text first", "dc:title is <dc:title>Yes</dc:title>", "Yes", std::nullopt},
        {"entities left alone when unknown or far",
         "<dc:title>a &nbsp; b &#xD800; c & d</dc:title>", "a &nbsp; b &#xD800; c & d",
         std::nullopt},
        {"single creator", "<dc:creator><rdf:Seq><rdf:li>Solo</rdf:li></rdf:Seq></dc:creator>",
         std::nullopt, "Solo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const XmpText xmp = scan_xmp(c.packet);
        EXPECT_EQ(xmp.title, c.title);
        EXPECT_EQ(xmp.creator, c.creator);
    }
}

TEST(EncryptionMethod, FromVersionLengthAndCryptFilter) {
    struct Case {
        const char* dict;
        std::optional<std::string> expected;
    } cases[] = {
        {"<< /Filter /Standard /V 1 /R 2 >>", "RC4-40"},
        {"<< /Filter /Standard /R 2 >>", "RC4-40"},
        {"<< /Filter /Standard /V 2 /R 3 /Length 128 >>", "RC4-128"},
        {"<< /Filter /Standard /V 2 /R 3 >>", "RC4-40"},
        {"<< /Filter /Standard /V 2 /R 3 /Length 56 >>", "RC4-56"},
        {"<< /V 4 /R 4 /CF << /StdCF << /CFM /AESV2 >> >> /StmF /StdCF /StrF /StdCF >>", "AES-128"},
        {"<< /V 4 /R 4 /CF << /StdCF << /CFM /V2 >> >> /StmF /StdCF /StrF /StdCF >>", "RC4-128"},
        {"<< /V 4 /R 4 /CF << /A << /CFM /AESV2 >> >> /StmF /Identity /StrF /A >>", "AES-128"},
        {"<< /V 4 /R 4 /CF << /StdCF << /CFM /AESV2 >> >> /StmF /Identity /StrF /Identity >>",
         std::nullopt},
        {"<< /V 4 /R 4 /StmF /StdCF >>", std::nullopt},
        {"<< /V 5 /R 6 /CF << /StdCF << /CFM /AESV3 >> >> /StmF /StdCF >>", "AES-256"},
        {"<< /V 5 /R 5 >>", "AES-256"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dict);
        auto obj = vellox_test::parse(c.dict);
        ASSERT_TRUE(obj.ok());
        EXPECT_EQ(encryption_method(*obj->as_dict()), c.expected);
    }
}

namespace {

// Three pages (the second rotated and A4 through inheritance), an Info
// dictionary, XMP metadata and an outline that reaches its pages every way a
// destination can, plus an item whose /Next points back at its sibling.
std::string outlined_document() {
    PdfBuilder b;
    b.obj(1,
          "<< /Type /Catalog /Pages 2 0 R /Outlines 30 0 R /Metadata 50 0 R "
          "/Names << /Dests 40 0 R >> /Dests << /old [5 0 R /Fit] >> >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R 6 0 R] /MediaBox [0 0 612 792] >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    b.obj(6,
          "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Rotate 90 "
          "/MediaBox [0 0 595.5 842] >>");
    b.obj(4, "<< /Type /Page /Parent 6 0 R >>");
    b.obj(5, "<< /Type /Page /Parent 6 0 R /Rotate -90 >>");
    b.obj(30, "<< /Type /Outlines /First 31 0 R /Last 33 0 R >>");
    b.obj(31, "<< /Title (Intro) /Dest [3 0 R /XYZ 0 792 0] /Next 32 0 R /First 34 0 R >>");
    b.obj(34, "<< /Title <FEFF00C40062> /A << /S /GoTo /D [4 0 R /Fit] >> /Next 35 0 R >>");
    b.obj(35, "<< /Title (Named) /Dest (chap2) /First 36 0 R >>");
    b.obj(36, "<< /Title (Deeper) /Dest /old >>");
    b.obj(32, "<< /Title (Nowhere) /Dest (missing) /Next 33 0 R >>");
    b.obj(33, "<< /Title (Loop) /A << /S /URI /URI (http://x) >> /Next 31 0 R /First 37 0 R >>");
    b.obj(37, "<< /Title (By index) /Dest [1 /Fit] /Next 38 0 R >>");
    b.obj(38, "<< /Title (Bad index) /Dest [9 /Fit] >>");
    b.obj(40, "<< /Kids [41 0 R] >>");
    b.obj(41, "<< /Limits [(a) (z)] /Names [(chap2) 42 0 R (other) [3 0 R /Fit]] >>");
    b.obj(42, "<< /D [5 0 R /XYZ null null null] >>");
    b.stream(50, "/Type /Metadata /Subtype /XML",
             "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">XMP title</rdf:li></rdf:Alt>"
             "</dc:title><dc:creator><rdf:Seq><rdf:li>XMP author</rdf:li></rdf:Seq></dc:creator>");
    b.obj(60,
          "<< /Author <FEFF00410064006100> /Subject (S\\351) /Producer 61 0 R /Title () "
          "/CreationDate (D:20230115103000+05'30') /ModDate (not a date) /Keywords 7 >>");
    b.obj(61, "(vellox tests)");
    b.xref_table("/Root 1 0 R /Info 60 0 R");
    return b.text();
}

}  // namespace

TEST(ReadDocInfo, MetadataPagesAndOutline) {
    const std::string file = outlined_document();
    auto doc = Document::parse_with_password(as_bytes(file), {});
    ASSERT_TRUE(doc.ok());
    auto info = read_doc_info(*doc);
    ASSERT_TRUE(info.ok()) << info.error().to_string();

    EXPECT_EQ(info->version, "1.7");
    EXPECT_EQ(info->encryption, std::nullopt);
    EXPECT_EQ(info->title, "XMP title");  // the dictionary's is empty
    EXPECT_EQ(info->author, "Ada");       // the dictionary's wins over XMP
    EXPECT_EQ(info->subject, "S\xC3\xA9");
    EXPECT_EQ(info->producer, "vellox tests");
    EXPECT_EQ(info->keywords, std::nullopt);  // not a string
    EXPECT_EQ(info->creator, std::nullopt);
    EXPECT_EQ(info->created, "2023-01-15T10:30:00+05:30");
    EXPECT_EQ(info->modified, std::nullopt);

    ASSERT_EQ(info->pages.size(), 3u);
    EXPECT_EQ(info->pages[0].width, 612);
    EXPECT_EQ(info->pages[0].rotation, 0);
    EXPECT_EQ(info->pages[1].width, 595.5);
    EXPECT_EQ(info->pages[1].height, 842);
    EXPECT_EQ(info->pages[1].rotation, 90);
    EXPECT_EQ(info->pages[2].rotation, 270);

    struct Expected {
        std::uint32_t level;
        std::string title;
        std::optional<std::size_t> page;
    };
    const std::vector<Expected> expected = {
        {1, "Intro", 0},
        {2,
         "\xC3\x84"
         "b",
         1},
        {2, "Named", 2},
        {3, "Deeper", 2},
        {1, "Nowhere", std::nullopt},
        {1, "Loop", std::nullopt},
        {2, "By index", 1},
        {2, "Bad index", std::nullopt},
    };
    ASSERT_EQ(info->outline.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].title);
        EXPECT_EQ(info->outline[i].level, expected[i].level);
        EXPECT_EQ(info->outline[i].title, expected[i].title);
        EXPECT_EQ(info->outline[i].page, expected[i].page);
    }
}

TEST(ReadDocInfo, MissingPartsAndBrokenPageTree) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 9 0 R /Metadata 8 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.obj(3, "<< /Type /Page >>");
    b.obj(8, "(not a stream)");
    b.obj(9, "<< /First 99 0 R >>");
    b.xref_table("/Root 1 0 R /Info 98 0 R");
    auto doc = Document::parse_with_password(b.bytes(), {});
    ASSERT_TRUE(doc.ok());
    auto info = read_doc_info(*doc);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->title, std::nullopt);
    EXPECT_TRUE(info->outline.empty());
    ASSERT_EQ(info->pages.size(), 1u);
    EXPECT_EQ(info->pages[0].width, 612);  // the default media box

    PdfBuilder broken;
    broken.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    broken.obj(2, "<< /Type /Pages /Kids 5 >>");
    broken.xref_table("/Root 1 0 R");
    auto opened = Document::parse_with_password(broken.bytes(), {});
    ASSERT_TRUE(opened.ok());
    auto failed = read_doc_info(*opened);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), (Error{ErrorKind::InvalidObject, "/Kids not array"}));
}

TEST(ReadDocInfo, LongOutlineChainIsBounded) {
    // A /Next chain longer than the bound, and a /First chain deeper than
    // the depth bound: both stop where the bounds say.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [] >>");
    b.obj(3, "<< /First 10 0 R >>");
    const std::uint32_t deep = limits::kMaxOutlineDepth + 5;
    for (std::uint32_t i = 0; i < deep; ++i) {
        std::string item = "<< /Title (d) ";
        if (i + 1 < deep) item += "/First " + std::to_string(11 + i) + " 0 R ";
        if (i == 0) item += "/Next 1000 0 R ";
        b.obj(10 + i, item + ">>");
    }
    const std::uint32_t chain = static_cast<std::uint32_t>(limits::kMaxOutlineItems) + 10;
    for (std::uint32_t i = 0; i < chain; ++i) {
        b.obj(1000 + i, "<< /Title (n) /Next " + std::to_string(1001 + i) + " 0 R >>");
    }
    b.xref_table("/Root 1 0 R");
    auto doc = Document::parse_with_password(b.bytes(), {});
    ASSERT_TRUE(doc.ok());
    auto info = read_doc_info(*doc);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->outline.size(), limits::kMaxOutlineItems);
    EXPECT_EQ(info->outline[limits::kMaxOutlineDepth - 1].level, limits::kMaxOutlineDepth);
    EXPECT_EQ(info->outline[limits::kMaxOutlineDepth].level, 1u);  // the chain
}

// The title the extraction gives the HTML form: the Info dictionary's, else
// XMP's, else none; always what read_doc_info says.
TEST(ReadTitle, InfoThenXmpThenNothing) {
    PdfBuilder info_title;
    info_title.obj(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 8 0 R >>");
    info_title.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    info_title.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    info_title.stream(8, "/Type /Metadata /Subtype /XML",
                      "<dc:title><rdf:Alt><rdf:li>XMP</rdf:li></rdf:Alt></dc:title>");
    info_title.obj(9, "<< /Title <FEFF0051002600410020003C0031003E> >>");
    info_title.xref_table("/Root 1 0 R /Info 9 0 R");

    PdfBuilder broken_info;  // /Info is missing, /Metadata is not a stream
    broken_info.obj(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 8 0 R >>");
    broken_info.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    broken_info.obj(3, "<< /Type /Page /Parent 2 0 R >>");
    broken_info.obj(8, "(not a stream)");
    broken_info.xref_table("/Root 1 0 R /Info 98 0 R");

    struct Case {
        const char* name;
        std::string file;
        std::string expected;
    } cases[] = {
        {"empty Info title, XMP's", outlined_document(), "XMP title"},
        {"Info title, UTF-16", info_title.text(), "Q&A <1>"},
        {"nothing readable", broken_info.text(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = Document::parse_with_password(as_bytes(c.file), {});
        ASSERT_TRUE(doc.ok());
        EXPECT_EQ(read_title(*doc), c.expected);
        auto info = read_doc_info(*doc);
        ASSERT_TRUE(info.ok());
        EXPECT_EQ(info->title.value_or(""), c.expected);
        auto extracted = doc->extract();
        ASSERT_TRUE(extracted.ok());
        EXPECT_EQ(extracted->title, c.expected);
    }
}
