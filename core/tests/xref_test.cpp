#include "xref.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "support/pdf_builder.h"
#include "support/zlib_compress.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

const XrefEntry* entry(const Xref& x, std::uint32_t num) {
    auto it = x.entries.find(num);
    return it == x.entries.end() ? nullptr : &it->second;
}

std::uint64_t offset_of(const Xref& x, std::uint32_t num) {
    const XrefEntry* e = entry(x, num);
    const auto* f = e != nullptr ? std::get_if<XrefInFile>(e) : nullptr;
    return f != nullptr ? f->offset : ~0ULL;
}

// A cross-reference stream object at offset 0 with the given dictionary
// entries and raw record bytes, followed by startxref 0.
std::string xref_stream_file(const std::string& dict, const std::string& records) {
    return "1 0 obj\n<< " + dict + " /Length " + std::to_string(records.size()) + " >>\nstream\n" +
           records + "\nendstream\nendobj\nstartxref\n0\n%%EOF\n";
}

}  // namespace

// The numbers of the cross-reference data fail as InvalidXref: a token that
// is no unsigned 32-bit number is a "bad integer", a missing one an
// "expected integer" (the lexer's side is in lex_test.cpp).
TEST(Xref, NumberErrorsAreInvalidXref) {
    struct Case {
        std::string file;
        const char* message;
    };
    const Case cases[] = {
        {"startxref\n4294967296\n%%EOF", "bad integer"},
        {"startxref\n-1", "bad integer"},
        {"startxref\n12a", "bad integer"},
        {"startxref\n%%EOF", "expected integer"},
        {"xref\n0 +\ntrailer <<>>\nstartxref\n0", "bad integer"},
        {"xref\n0 1\n0000000000 /x n\ntrailer <<>>\nstartxref\n0", "expected integer"},
        {"xref\n0 2\n0000000000 65535 f\n(x)\nstartxref\n0", "expected integer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto x = read_xref(as_bytes(c.file));
        ASSERT_FALSE(x.ok());
        EXPECT_EQ(x.error(), (Error{ErrorKind::InvalidXref, c.message}));
    }
}

TEST(Xref, ReadsClassicTableAndTrailer) {
    PdfBuilder b;
    const std::size_t o1 = b.obj(1, "<< /Type /Catalog >>");
    const std::size_t o2 = b.obj(2, "42", 3);
    b.xref_table("/Root 1 0 R");
    auto x = read_xref(b.bytes());
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(x->entries.size(), 3u);
    EXPECT_EQ(*entry(*x, 0), XrefEntry{XrefFree{}});
    EXPECT_EQ(*entry(*x, 1), XrefEntry(XrefInFile{o1, 0}));
    EXPECT_EQ(*entry(*x, 2), XrefEntry(XrefInFile{o2, 3}));
    ASSERT_NE(x->trailer.get("Root"), nullptr);
    EXPECT_EQ(*x->trailer.get("Size"), Object(3));
}

TEST(Xref, IncrementalUpdateNewestEntryWins) {
    // Revision 1 has objects 1..3; revision 2 rewrites 2 and frees 3.
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>");
    b.obj(2, "(old)");
    const std::size_t o3 = b.obj(3, "(three)");
    b.xref_table("/Root 1 0 R /Info 9 0 R");
    const std::size_t o2new = b.obj(2, "(new)");
    b.free_entry(3);
    b.xref_table("/Root 1 0 R");
    auto x = read_xref(b.bytes());
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(offset_of(*x, 2), o2new);
    EXPECT_NE(o3, 0u);
    EXPECT_EQ(*entry(*x, 3), XrefEntry{XrefFree{}});
    // The newest trailer is kept whole; keys of older ones are not merged.
    EXPECT_EQ(x->trailer.get("Info"), nullptr);
    EXPECT_NE(x->trailer.get("Prev"), nullptr);
}

TEST(Xref, StartxrefMayPointAtWhitespaceAndComments) {
    PdfBuilder b;
    b.obj(1, "<< >>");
    b.raw("\n% before the table\n  ");
    const std::size_t padded = b.size() - 22;
    b.xref_table("/Root 1 0 R");
    std::string text = b.text();
    const std::size_t sx = text.rfind("startxref\n");
    text = text.substr(0, sx) + "startxref\n" + std::to_string(padded) + "\n%%EOF\n";
    auto x = read_xref(as_bytes(text));
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(x->entries.size(), 2u);
}

TEST(Xref, PrevCycleEndsTheChainSilently) {
    // The table's trailer names its own offset as /Prev.
    const std::string body = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n";
    const std::size_t at = body.size();
    const std::string text = body + "xref\n0 2\n0000000000 65535 f \n0000000009 00000 n \n" +
                             "trailer\n<< /Root 1 0 R /Prev " + std::to_string(at) +
                             " >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
    auto x = read_xref(as_bytes(text));
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(offset_of(*x, 1), 9u);
    EXPECT_NE(x->trailer.get("Root"), nullptr);
}

TEST(Xref, TwoSectionCycleReadsEachOnceNewestFirst) {
    // Section A then section B; the last startxref names B, B's Prev names A
    // and A's Prev names B again. Offsets are written with ten digits so the
    // text can be laid out before they are known.
    const auto ten = [](std::size_t v) {
        std::string s = std::to_string(v);
        return std::string(10 - s.size(), '0') + s;
    };
    const std::string head = "%PDF-1.4\n";
    const auto section_a = [&](std::size_t b_at) {
        return "xref\n5 1\n0000000100 00000 n \ntrailer\n<< /Root 1 0 R /Prev " + ten(b_at) +
               " >>\nstartxref\n" + ten(head.size()) + "\n";
    };
    const std::size_t b_at = head.size() + section_a(0).size();
    const std::string b =
        "xref\n5 2\n0000000200 00000 n \n0000000300 00000 n \ntrailer\n"
        "<< /Root 2 0 R /Prev " +
        ten(head.size()) + " >>\nstartxref\n" + ten(b_at) + "\n%%EOF\n";
    const std::string text = head + section_a(b_at) + b;
    auto x = read_xref(as_bytes(text));
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(offset_of(*x, 5), 200u);
    EXPECT_EQ(offset_of(*x, 6), 300u);
    EXPECT_EQ(*x->trailer.get("Root"), Object(Reference{2, 0}));
}

TEST(Xref, FirstListingWinsWithinOneTable) {
    const std::string text =
        "%PDF-1.4\nxref\n3 1\n0000000111 00000 n \n2 2\n0000000222 00000 n \n"
        "0000000333 00000 n \ntrailer\n<< /Root 1 0 R >>\nstartxref\n9\n%%EOF\n";
    auto x = read_xref(as_bytes(text));
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(offset_of(*x, 2), 222u);
    EXPECT_EQ(offset_of(*x, 3), 111u);
}

TEST(Xref, EntriesAreTokensNotFixedLines) {
    // Short numbers, comments and odd spacing between fields; a count of 0;
    // a generation above 16 bits keeps its low 16 bits.
    const std::string text =
        "%PDF-1.4\nxref 0 0 7 2 % two entries\n 15 65538 n 99\n1 f trailer<</Root 7 0 R>>\n"
        "startxref\n9\n%%EOF\n";
    auto x = read_xref(as_bytes(text));
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(*entry(*x, 7), XrefEntry(XrefInFile{15, 2}));
    EXPECT_EQ(*entry(*x, 8), XrefEntry{XrefFree{}});
}

// Entries laid out as writers nearly always write them are read at once;
// near misses go token by token. Both readings must agree on every entry.
TEST(Xref, StandardEntryLayoutReadsAsItsTokens) {
    struct Case {
        const char* entry;
        std::optional<XrefEntry> expected;  // nothing: the table fails
        const char* message = "";
    };
    const Case cases[] = {
        {"0000000017 00000 n \r\n", XrefInFile{17, 0}},
        {"0000000017 00000 n\n", XrefInFile{17, 0}},
        {"0000000017 00000 n\r", XrefInFile{17, 0}},
        {"0000000017 00003 f \n", XrefFree{}},
        {"0000000017 99999 n \n", XrefInFile{17, 99999 & 0xFFFF}},
        {"4294967295 00002 n \n", XrefInFile{4294967295u, 2}},
        {"0000000017 00000 n%note\n", XrefInFile{17, 0}},
        {"0000000017  00000 n\n", XrefInFile{17, 0}},
        {"000000017 00000 n \n", XrefInFile{17, 0}},
        {"00000000017 00000 n \n", XrefInFile{17, 0}},
        {"0000000017\t00000 n \n", XrefInFile{17, 0}},
        {"4294967296 00000 n \n", std::nullopt, "bad integer"},
        {"0000000017 00000 nx\n", std::nullopt, "bad xref entry type"},
        {"0000000017 00000 x \n", std::nullopt, "bad xref entry type"},
        {"00000000a7 00000 n \n", std::nullopt, "bad integer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const std::string text = std::string("xref\n5 1\n") + c.entry +
                                 "\ntrailer\n<< /Root 1 0 R >>\nstartxref\n0\n%%EOF\n";
        auto x = read_xref(as_bytes(text));
        if (!c.expected) {
            ASSERT_FALSE(x.ok());
            EXPECT_EQ(x.error(), (Error{ErrorKind::InvalidXref, c.message}));
            continue;
        }
        ASSERT_TRUE(x.ok()) << x.error().to_string();
        ASSERT_NE(entry(*x, 5), nullptr);
        EXPECT_EQ(*entry(*x, 5), *c.expected);
        EXPECT_EQ(x->entries.size(), 1u);
    }
}

TEST(Xref, PrevThatIsNotANonNegativeIntegerEndsTheChain) {
    for (const char* prev : {"-5", "9.0", "(9)", "9 0 R"}) {
        SCOPED_TRACE(prev);
        // Offset 9 holds a valid older section that must not be read.
        const std::string older = "xref\n4 1\n0000000044 00000 n \ntrailer\n<< /Root 1 0 R >>\n";
        const std::size_t newer_at = 9 + older.size();
        const std::string text = "%PDF-1.4\n" + older + "xref\n1 1\n0000000011 00000 n \n" +
                                 "trailer\n<< /Root 1 0 R /Prev " + prev + " >>\nstartxref\n" +
                                 std::to_string(newer_at) + "\n%%EOF\n";
        auto x = read_xref(as_bytes(text));
        ASSERT_TRUE(x.ok()) << x.error().to_string();
        EXPECT_EQ(entry(*x, 4), nullptr);
        EXPECT_EQ(offset_of(*x, 1), 11u);
    }
}

TEST(Xref, EmptyTrailerStaysEmpty) {
    // Only a section with a /Prev has a non-empty trailer, so an empty one is
    // met only at the end of the chain; it is then the result's trailer when
    // no other was read.
    const std::string text =
        "%PDF-1.4\nxref\n0 1\n0000000000 65535 f \ntrailer\n<< >>\nstartxref\n9\n%%EOF\n";
    auto x = read_xref(as_bytes(text));
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_TRUE(x->trailer.empty());
}

TEST(Xref, ChainErrors) {
    struct Case {
        const char* name;
        std::string text;
        Error error;
    };
    const std::string table = "%PDF-1.4\nxref\n0 1\n";
    const Case cases[] = {
        {"no startxref",
         "%PDF-1.4\nxref\n0 0\ntrailer\n<<>>\n",
         {ErrorKind::InvalidXref, "no startxref"}},
        {"startxref at end", "%PDF-1.4\nstartxref", {ErrorKind::InvalidXref, "expected integer"}},
        {"startxref negative",
         "%PDF-1.4\nstartxref\n-9\n",
         {ErrorKind::InvalidXref, "bad integer"}},
        {"startxref past end",
         "%PDF-1.4\nstartxref\n4000\n",
         {ErrorKind::InvalidObject, "expected integer"}},
        {"startxref at garbage",
         "%PDF-1.4\nstartxref\n1\n",
         {ErrorKind::InvalidObject, "bad integer"}},
        {"type x",
         table + "0000000000 00000 x \ntrailer\n<<>>\nstartxref\n9\n",
         {ErrorKind::InvalidXref, "bad xref entry type"}},
        {"type nn",
         table + "0000000000 00000 nn\ntrailer\n<<>>\nstartxref\n9\n",
         {ErrorKind::InvalidXref, "bad xref entry type"}},
        {"type missing",
         table + "0000000000 00000 /n\ntrailer\n<<>>\nstartxref\n9\n",
         {ErrorKind::InvalidXref, "bad xref entry type"}},
        {"short table",
         "startxref\n13\nxref\n0 2\n0000000000 65535 f \n",
         {ErrorKind::InvalidXref, "expected integer"}},
        {"huge count",
         "startxref\n13\nxref\n0 4294967295\n0 0 n\n",
         {ErrorKind::InvalidXref, "expected integer"}},
        {"trailer array",
         table + "0 0 f\ntrailer\n[1 2]\nstartxref\n9\n",
         {ErrorKind::InvalidXref, "trailer is not a dictionary"}},
        {"trailer broken",
         table + "0 0 f\ntrailer\n<< /A\nstartxref\n9\n",
         {ErrorKind::UnexpectedToken, ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto x = read_xref(as_bytes(c.text));
        ASSERT_FALSE(x.ok());
        EXPECT_EQ(x.error().kind, c.error.kind);
        if (!c.error.message.empty()) {
            EXPECT_EQ(x.error().message, c.error.message);
        }
    }
}

TEST(XrefStream, RecordLayouts) {
    struct Case {
        const char* name;
        std::string dict;
        std::string records;
        std::map<std::uint32_t, XrefEntry> expected;
    };
    using std::string;
    const Case cases[] = {
        {"W 1 2 1 with Size",
         "/W [1 2 1] /Size 3",
         string("\x00\x00\x00\xff"
                "\x01\x01\x02\x07"
                "\x02\x00\x09\x04",
                12),
         {{0, XrefFree{}}, {1, XrefInFile{0x0102, 7}}, {2, XrefCompressed{9, 4}}}},
        {"type field absent means in file",
         "/W [0 2 1] /Size 2",
         string("\x00\x10\x00"
                "\x00\x20\x01",
                6),
         {{0, XrefInFile{0x10, 0}}, {1, XrefInFile{0x20, 1}}}},
        {"Index pairs",
         "/W [1 1 0] /Index [0 1 5 2] /Size 1",
         string("\x01\x0a"
                "\x01\x0b"
                "\x01\x0c",
                6),
         {{0, XrefInFile{10, 0}}, {5, XrefInFile{11, 0}}, {6, XrefInFile{12, 0}}}},
        {"odd Index element ignored",
         "/W [1 1 0] /Index [3 1 5]",
         string("\x01\x0a", 2),
         {{3, XrefInFile{10, 0}}}},
        {"bad Index pairs skipped",
         "/W [1 1 0] /Index [4 -1 /x 2 7 4294967296 9 1]",
         string("\x01\x0a", 2),
         {{9, XrefInFile{10, 0}}}},
        {"Index not array counts as absent",
         "/W [1 1 0] /Index 7 /Size 1",
         string("\x01\x0a", 2),
         {{0, XrefInFile{10, 0}}}},
        {"unknown type consumes its bytes",
         "/W [1 1 0] /Size 3",
         string("\x03\x0a"
                "\x01\x0b"
                "\xff\x0c",
                6),
         {{1, XrefInFile{11, 0}}}},
        {"non-integer widths skipped",
         "/W [1 2.0 /a 1 (x) 1] /Size 1",
         string("\x01\x05\x06", 3),
         {{0, XrefInFile{5, 6}}}},
        {"five byte stream field keeps low 32 bits",
         "/W [1 5 1] /Size 1",
         string("\x02\x07\x00\x00\x00\x09\x03", 7),
         {{0, XrefCompressed{9, 3}}}},
        {"ten byte offset keeps low 64 bits",
         "/W [1 10 0] /Size 1",
         string("\x01\xaa\xbb\x00\x00\x00\x00\x00\x00\x01\x02", 11),
         {{0, XrefInFile{0x0102, 0}}}},
        {"generation keeps low 16 bits",
         "/W [1 1 3] /Size 1",
         string("\x01\x05\x07\x00\x02", 5),
         {{0, XrefInFile{5, 2}}}},
        {"first record for a number wins",
         "/W [1 1 0] /Index [2 1 2 1]",
         string("\x01\x0a"
                "\x00\x00",
                4),
         {{2, XrefInFile{10, 0}}}},
        {"object numbers wrap",
         "/W [1 1 0] /Index [4294967295 2]",
         string("\x01\x0a"
                "\x01\x0b",
                4),
         {{4294967295u, XrefInFile{10, 0}}, {0, XrefInFile{11, 0}}}},
        {"zero counts need no data", "/W [1 1 0] /Size 0", string(), {}},
        {"huge widths with no records", "/W [1 9223372036854775807 0] /Size 0", string(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = xref_stream_file(c.dict, c.records);
        auto x = parse_xref_stream(as_bytes(file), 0);
        ASSERT_TRUE(x.ok()) << x.error().to_string();
        EXPECT_EQ(x->entries, (XrefEntries(c.expected.begin(), c.expected.end())));
        EXPECT_NE(x->trailer.get("W"), nullptr);
    }
}

TEST(XrefStream, Errors) {
    struct Case {
        const char* name;
        std::string file;
        const char* message;
    };
    using std::string;
    const string twelve("\x01\x00\x01\x00\x01\x00\x02\x00\x01\x00\x03\x00", 12);
    const Case cases[] = {
        {"Size 4 over 12 bytes", xref_stream_file("/W [1 2 1] /Size 4", twelve),
         "xref stream truncated"},
        {"huge Size over 12 bytes", xref_stream_file("/W [1 2 1] /Size 4000000000", twelve),
         "xref stream truncated"},
        {"huge Index counts",
         xref_stream_file("/W [1 2 1] /Index [0 4294967295 0 4294967295]", twelve),
         "xref stream truncated"},
        {"record wider than data", xref_stream_file("/W [1 20 1] /Size 1", twelve),
         "xref stream truncated"},
        {"widths overflow",
         xref_stream_file(
             "/W [9223372036854775807 9223372036854775807 9223372036854775807] /Size 1", twelve),
         "xref stream truncated"},
        {"W with four widths", xref_stream_file("/W [1 2 1 3] /Size 1", twelve),
         "xref /W must have three widths"},
        {"W with two widths", xref_stream_file("/W [1 -2 1] /Size 1", twelve),
         "xref /W must have three widths"},
        {"W missing", xref_stream_file("/Size 1", twelve), "xref /W missing"},
        {"W not array", xref_stream_file("/W 4 /Size 1", twelve), "xref /W missing"},
        {"Size missing", xref_stream_file("/W [1 2 1]", twelve), "xref /Size missing"},
        {"Size real", xref_stream_file("/W [1 2 1] /Size 3.0", twelve), "xref /Size missing"},
        {"Size negative", xref_stream_file("/W [1 2 1] /Size -1", twelve), "bad /Size"},
        {"Size too large", xref_stream_file("/W [1 2 1] /Size 4294967296", twelve), "bad /Size"},
        {"zero width", xref_stream_file("/W [0 0 0] /Size 1", twelve),
         "xref stream zero-width records"},
        {"zero width and no records", xref_stream_file("/W [0 0 0] /Size 0", twelve),
         "xref stream zero-width records"},
        {"not a stream", "1 0 obj\n<< /W [1 2 1] /Size 1 >>\nendobj\n",
         "xref stream is not a stream"},
        {"not a dictionary", "1 0 obj\n[1 2]\nstream\nabc\nendstream\n",
         "xref stream is not a stream"},
        {"filter rejected", xref_stream_file("/W [1 2 1] /Size 3 /Filter /NoSuchDecode", twelve),
         "xref decode"},
        {"corrupt flate", xref_stream_file("/W [1 2 1] /Size 3 /Filter /FlateDecode", twelve),
         "xref decode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto x = parse_xref_stream(as_bytes(c.file), 0);
        ASSERT_FALSE(x.ok());
        EXPECT_EQ(x.error(), (Error{ErrorKind::InvalidXref, c.message}));
    }
}

TEST(XrefStream, HeaderErrorsComeFromTheFraming) {
    const std::string file = xref_stream_file("/W [1 1 0] /Size 1", std::string("\x01\x05", 2));
    auto ok = parse_xref_stream(as_bytes(file), 0);
    ASSERT_TRUE(ok.ok()) << ok.error().to_string();
    auto past_end = parse_xref_stream(as_bytes(file), 1u << 30);
    ASSERT_FALSE(past_end.ok());
    EXPECT_EQ(past_end.error(), (Error{ErrorKind::InvalidObject, "expected integer"}));
    const std::string no_obj = "1 0 ob\n<< >>";
    auto bad = parse_xref_stream(as_bytes(no_obj), 0);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), (Error{ErrorKind::InvalidObject, "missing obj keyword"}));
}

TEST(XrefStream, IndirectLengthFallsBackToEndstreamSearch) {
    // The record bytes contain no line end, so the search finds them whole.
    const std::string file = "7 0 obj\n<< /W [1 1 0] /Size 2 /Length 9 0 R >>\nstream\n" +
                             std::string("\x01\x05\x01\x06", 4) + "\nendstream\nendobj\n";
    auto x = parse_xref_stream(as_bytes(file), 0);
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(x->entries.size(), 2u);
    EXPECT_EQ(offset_of(*x, 1), 6u);
}

TEST(XrefStream, FlateCompressedRecordsMatchZlib) {
    // Records compressed by zlib itself, with the PNG Up predictor producers
    // use for cross-reference streams.
    const std::string rows[] = {std::string("\x01\x00\x10\x00", 4),
                                std::string("\x01\x00\x20\x00", 4),
                                std::string("\x02\x00\x05\x01", 4)};
    std::string raw;
    std::string prev(4, '\0');
    for (const std::string& row : rows) {
        raw += '\x02';  // PNG Up
        for (int k = 0; k < 4; ++k) raw += static_cast<char>(row[k] - prev[k]);
        prev = row;
    }
    const std::string packed = vellox_test::zlib_compress(raw);
    ASSERT_FALSE(packed.empty());
    const std::string file = xref_stream_file(
        "/W [1 2 1] /Size 3 /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >>",
        packed);
    auto x = parse_xref_stream(as_bytes(file), 0);
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(offset_of(*x, 0), 0x10u);
    EXPECT_EQ(offset_of(*x, 1), 0x20u);
    EXPECT_EQ(*entry(*x, 2), XrefEntry(XrefCompressed{5, 1}));
}

TEST(Xref, ReadsChainOfCrossReferenceStreams) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>");
    const std::size_t o2 = b.obj(2, "(old)");
    b.xref_stream(3, "/Root 1 0 R");
    const std::size_t o2new = b.obj(2, "(new)");
    b.free_entry(1);
    b.xref_stream(4, "/Root 1 0 R /Marker true");
    auto x = read_xref(b.bytes());
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_NE(o2, o2new);
    EXPECT_EQ(offset_of(*x, 2), o2new);
    EXPECT_EQ(*entry(*x, 1), XrefEntry{XrefFree{}});
    EXPECT_NE(x->trailer.get("Marker"), nullptr);
    EXPECT_EQ(x->entries.size(), 5u);  // 0..4
}

TEST(Xref, HybridTableWinsOverItsXRefStmWhichWinsOverOlderSections) {
    // Revision 1: a table listing 11 and 12. Then a stream section reachable
    // only through XRefStm, listing 10 as compressed, 11 anew and 1. The
    // newest table marks 10 free, names the stream and has Prev revision 1.
    PdfBuilder b;
    b.in_file_entry(11, 1);
    b.in_file_entry(12, 2);
    b.xref_table("/Root 1 0 R");
    const auto rev1 = b.last_section();
    b.obj(1, "<< /Type /Catalog >>");
    b.compressed_entry(10, 20, 0);
    b.in_file_entry(11, 1234);
    b.set_prev(std::nullopt);
    const std::size_t stm = b.xref_stream(30, "");
    b.set_prev(rev1);
    b.free_entry(10);
    b.xref_table("/Root 1 0 R /XRefStm " + std::to_string(stm));
    auto x = read_xref(b.bytes());
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(*entry(*x, 10), XrefEntry{XrefFree{}});
    EXPECT_EQ(offset_of(*x, 11), 1234u);
    EXPECT_EQ(offset_of(*x, 12), 2u);
    EXPECT_NE(entry(*x, 1), nullptr);
    // The stream's dictionary never becomes the trailer.
    EXPECT_EQ(x->trailer.get("W"), nullptr);
    EXPECT_NE(x->trailer.get("XRefStm"), nullptr);
}

TEST(Xref, BrokenXRefStmIsIgnored) {
    for (const char* target : {"9", "100000", "0"}) {
        SCOPED_TRACE(target);
        PdfBuilder b;
        b.obj(1, "<< /Type /Catalog >>");
        b.xref_table(std::string("/Root 1 0 R /XRefStm ") + target);
        auto x = read_xref(b.bytes());
        ASSERT_TRUE(x.ok()) << x.error().to_string();
        EXPECT_EQ(x->entries.size(), 2u);
    }
}

TEST(Xref, XRefStmAtAVisitedOffsetIsNotReadAgain) {
    // The table's XRefStm names its own offset: already visited, skipped.
    PdfBuilder b;
    b.obj(1, "<< >>");
    const std::size_t at = b.size();
    b.xref_table("/Root 1 0 R /XRefStm " + std::to_string(at));
    auto x = read_xref(b.bytes());
    ASSERT_TRUE(x.ok()) << x.error().to_string();
    EXPECT_EQ(x->entries.size(), 2u);
}

TEST(Xref, MergeNeverReplaces) {
    Xref x;
    merge_entries(x, {{1, XrefFree{}}, {2, XrefInFile{5, 0}}});
    merge_entries(x, {{1, XrefInFile{9, 0}}, {3, XrefCompressed{4, 0}}});
    EXPECT_EQ(x.entries,
              (XrefEntries{{1, XrefFree{}}, {2, XrefInFile{5, 0}}, {3, XrefCompressed{4, 0}}}));
    // An older section larger than the table (a linearized file's main
    // section behind its first page's): the table's entries still win.
    merge_entries(x, {{0, XrefFree{}},
                      {1, XrefInFile{1, 0}},
                      {3, XrefInFile{3, 0}},
                      {4, XrefInFile{4, 0}},
                      {5, XrefCompressed{6, 2}}});
    EXPECT_EQ(x.entries, (XrefEntries{{0, XrefFree{}},
                                      {1, XrefFree{}},
                                      {2, XrefInFile{5, 0}},
                                      {3, XrefCompressed{4, 0}},
                                      {4, XrefInFile{4, 0}},
                                      {5, XrefCompressed{6, 2}}}));
}
