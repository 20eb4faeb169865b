#include "resolver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "support/parse.h"
#include "support/pdf_builder.h"
#include "support/zlib_compress.h"

using namespace vellox_core;
using vellox_test::PdfBuilder;

namespace {

Resolver open(const PdfBuilder& b) {
    auto x = read_xref(b.bytes());
    EXPECT_TRUE(x.ok()) << (x.ok() ? "" : x.error().to_string());
    return Resolver(x.ok() ? std::move(x).value() : Xref{}, b.bytes());
}

Bytes stream_data(const Result<Object>& o) {
    if (!o.ok() || o->as_stream() == nullptr) return {};
    return o->as_stream()->data;
}

Error error_of(const Result<Object>& o) { return o.ok() ? Error{} : o.error(); }

// A copy of what the resolver holds for object `num`.
Result<Object> get(const Resolver& r, std::uint32_t num) {
    auto found = r.lookup(num);
    if (!found) return found.error();
    return **found;
}

}  // namespace

TEST(Resolver, ReadsObjectsAndStreams) {
    PdfBuilder b;
    b.obj(1, "<< /A [1 2] >>");
    b.stream(2, "/B 3", "line one\r\nline two");
    b.obj(3, "(a) % comment\n");
    b.xref_table("/Root 1 0 R");
    Resolver r = open(b);
    EXPECT_EQ(*get(r, 1), *vellox_test::parse("<< /A [1 2] >>"));
    EXPECT_EQ(stream_data(get(r, 2)), vellox_test::bytes("line one\r\nline two"));
    EXPECT_EQ(*get(r, 3), Object(String{vellox_test::bytes("a")}));
}

TEST(Resolver, MissingFreeAndMismatchedObjects) {
    PdfBuilder b;
    const std::size_t o12 = b.obj(12, "<< >>");
    b.free_entry(4);
    b.in_file_entry(13, o12);
    b.in_file_entry(14, 3);  // inside "%PDF-1.7": a bad header
    b.in_file_entry(15, b.size());
    b.raw("15 0 ob\n<< >>\nendobj\n");
    b.in_file_entry(16, 1u << 30);  // past the end of the file
    b.xref_table("/Root 12 0 R");
    Resolver r = open(b);
    struct Case {
        std::uint32_t num;
        Error error;
    };
    const Case cases[] = {
        {99, {ErrorKind::ObjectNotFound, "no such object"}},
        {4, {ErrorKind::ObjectNotFound, "no such object"}},
        {13, {ErrorKind::InvalidObject, "object number mismatch"}},
        {14, {ErrorKind::InvalidObject, "bad integer"}},
        {15, {ErrorKind::InvalidObject, "missing obj keyword"}},
        {16, {ErrorKind::InvalidObject, "expected integer"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.num);
        EXPECT_EQ(error_of(get(r, c.num)), c.error);
    }
    EXPECT_TRUE(get(r, 12).ok());
}

TEST(Resolver, StreamLengthFromReferencesAndTheirFailures) {
    // The body holds the text "endstream" itself, so only a usable /Length
    // gives the whole body; otherwise the search stops at the first one.
    const std::string body = "abc endstream xyz";
    PdfBuilder b;
    b.stream(1, "", body, "9 0 R");  // length object exists
    b.obj(9, std::to_string(body.size()));
    b.stream(2, "", body, "8 0 R");   // length object missing
    b.stream(3, "", body, "3 0 R");   // length is the stream itself
    b.stream(4, "", body, "10 0 R");  // length object is a Real
    b.obj(10, "17.0");
    b.stream(5, "", body, "-17");
    b.xref_table("/Root 1 0 R");
    Resolver r = open(b);
    const Bytes whole = vellox_test::bytes(body);
    const Bytes cut = vellox_test::bytes("abc ");
    EXPECT_EQ(stream_data(get(r, 1)), whole);
    EXPECT_EQ(stream_data(get(r, 2)), cut);
    EXPECT_EQ(stream_data(get(r, 3)), cut);
    EXPECT_EQ(stream_data(get(r, 4)), cut);
    EXPECT_EQ(stream_data(get(r, 5)), cut);
    // The cycle left no mark behind: asking again gives the same object.
    EXPECT_EQ(stream_data(get(r, 3)), cut);
    Dictionary d;
    d.set("Length", Object(Reference{9, 0}));
    EXPECT_EQ(r.declared_length(d), std::optional<std::uint64_t>(body.size()));
    d.set("Length", Object(Reference{3, 0}));
    EXPECT_EQ(r.declared_length(d), std::nullopt);
}

TEST(Resolver, LongChainOfLengthReferencesIsBounded) {
    // Stream k's /Length names stream k+1: resolving the first would nest
    // once per link. The nesting bound turns the deep lookups into "no
    // declared length", which the endstream search covers.
    PdfBuilder b;
    constexpr std::uint32_t kLinks = 5000;
    for (std::uint32_t k = 1; k <= kLinks; ++k) {
        b.stream(k, "", "data", std::to_string(k + 1) + " 0 R");
    }
    b.xref_table("/Root 1 0 R");
    Resolver r = open(b);
    EXPECT_EQ(stream_data(get(r, 1)), vellox_test::bytes("data"));
}

TEST(Resolver, LookupThatFailedDeepInAChainSucceedsLater) {
    // Streams 1..31 each take their /Length from the next; stream 31's
    // /Length is object 100, stored in object stream 50. Reached through the
    // chain, object 100 fails (its object stream is one level too deep);
    // asked for directly afterwards it must resolve: failures leave no
    // in-progress mark behind.
    PdfBuilder b;
    for (std::uint32_t k = 1; k < 31; ++k) {
        b.stream(k, "", "data", std::to_string(k + 1) + " 0 R");
    }
    b.stream(31, "", "data", "100 0 R");
    b.objstm(50, {{100, "4"}});
    b.xref_stream(60, "/Root 1 0 R");
    Resolver r = open(b);
    EXPECT_EQ(stream_data(get(r, 1)), vellox_test::bytes("data"));
    auto direct = get(r, 100);
    ASSERT_TRUE(direct.ok()) << direct.error().to_string();
    EXPECT_EQ(*direct, Object(4));
}

TEST(Resolver, ObjectStreams) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>");
    b.objstm(5, {{20, "<< /In 5 >>"}, {21, "[1 (two)]"}});
    b.obj(6, "<< /Not /AStream >>");
    b.compressed_entry(22, 5, 2);  // index equal to the stream's count
    b.compressed_entry(23, 6, 0);
    b.compressed_entry(24, 77, 0);  // the stream does not exist
    b.xref_stream(7, "/Root 1 0 R");
    Resolver r = open(b);
    EXPECT_EQ(*get(r, 20), *vellox_test::parse("<< /In 5 >>"));
    EXPECT_EQ(*get(r, 21), *vellox_test::parse("[1 (two)]"));
    EXPECT_EQ(error_of(get(r, 22)), (Error{ErrorKind::InvalidObject, "objstm index out of range"}));
    EXPECT_EQ(error_of(get(r, 23)), (Error{ErrorKind::InvalidObject, "ObjStm is not a stream"}));
    EXPECT_EQ(error_of(get(r, 24)), (Error{ErrorKind::ObjectNotFound, "no such object"}));
}

TEST(Resolver, ObjectStreamIsDecodedOnce) {
    PdfBuilder b;
    b.obj(1, "<< >>");
    b.objstm(5, {{20, "(first)"}, {21, "(second)"}});
    b.xref_stream(7, "/Root 1 0 R");
    std::string file = b.text();
    Resolver r(read_xref(as_bytes(file)).value(), as_bytes(file));
    ASSERT_TRUE(get(r, 20).ok());
    // Wipe the object stream in the file: the second object must come from
    // the parsed form kept since the first lookup.
    const std::size_t at = file.find("5 0 obj");
    for (std::size_t k = at; k < file.find("endobj", at); ++k) file[k] = 'X';
    auto second = get(r, 21);
    ASSERT_TRUE(second.ok()) << second.error().to_string();
    EXPECT_EQ(*second, Object(String{vellox_test::bytes("second")}));
}

TEST(Resolver, FlateObjectStream) {
    const std::string head = "30 0 31 6 ";
    const std::string objs = "(abc) << /K [true null] >>";
    PdfBuilder b;
    b.obj(1, "<< >>");
    b.stream(5,
             "/Type /ObjStm /N 2 /First " + std::to_string(head.size()) + " /Filter /FlateDecode",
             vellox_test::zlib_compress(head + objs));
    b.compressed_entry(30, 5, 0);
    b.compressed_entry(31, 5, 1);
    b.xref_stream(7, "/Root 1 0 R");
    Resolver r = open(b);
    EXPECT_EQ(*get(r, 30), Object(String{vellox_test::bytes("abc")}));
    EXPECT_EQ(*get(r, 31), *vellox_test::parse("<< /K [true null] >>"));
}

TEST(Resolver, ObjectStreamsThatContainThemselvesFailCleanly) {
    PdfBuilder b;
    b.obj(1, "<< >>");
    b.objstm(5, {{20, "1"}});
    b.compressed_entry(5, 5, 0);  // the object stream claims to live in itself
    b.objstm(8, {{21, "2"}});
    b.objstm(9, {{22, "3"}});
    b.compressed_entry(8, 9, 0);  // 8 lives in 9 and 9 lives in 8
    b.compressed_entry(9, 8, 0);
    b.xref_stream(7, "/Root 1 0 R");
    Resolver r = open(b);
    const Error cycle{ErrorKind::InvalidObject, "reference cycle"};
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(error_of(get(r, 20)), cycle);
        EXPECT_EQ(error_of(get(r, 5)), cycle);
        EXPECT_EQ(error_of(get(r, 21)), cycle);
        EXPECT_EQ(error_of(get(r, 9)), cycle);
    }
    EXPECT_TRUE(get(r, 1).ok());
}

TEST(Resolver, CopiesAreIndependentOfTheCache) {
    PdfBuilder b;
    b.obj(1, "<< /A [1] >>");
    b.xref_table("/Root 1 0 R");
    Resolver r = open(b);
    auto first = get(r, 1);
    ASSERT_TRUE(first.ok());
    first->as_dict()->set("A", Object(2));
    EXPECT_EQ(*get(r, 1), *vellox_test::parse("<< /A [1] >>"));
}

TEST(Resolver, ResolveDict) {
    PdfBuilder b;
    b.obj(1, "<< /A 1 >>");
    b.stream(2, "/S true", "xyz");
    b.obj(3, "7");
    b.xref_table("/Root 1 0 R");
    Resolver r = open(b);
    const Error not_dict{ErrorKind::InvalidObject, "expected dictionary"};

    // The dictionary is the resolver's own, or the one inside the object.
    auto d1 = r.resolve_dict(Object(Reference{1, 9}));  // generation ignored
    ASSERT_TRUE(d1.ok());
    EXPECT_EQ(*(*d1)->get("A"), Object(1));
    EXPECT_EQ(*d1, (*r.lookup(1))->as_dict());
    auto d2 = r.resolve_dict(Object(Reference{2, 0}));
    ASSERT_TRUE(d2.ok());
    EXPECT_EQ(*(*d2)->get("S"), Object(true));
    EXPECT_EQ(*(*d2)->get("Length"), Object(3));
    EXPECT_EQ(*d2, &(*r.lookup(2))->as_stream()->dict);
    const Object direct_dict = *vellox_test::parse("<< /D 4 >>");
    auto direct = r.resolve_dict(direct_dict);
    ASSERT_TRUE(direct.ok());
    EXPECT_EQ(*direct, direct_dict.as_dict());

    auto i = r.resolve_dict(Object(Reference{3, 0}));
    ASSERT_FALSE(i.ok());
    EXPECT_EQ(i.error(), not_dict);
    auto n = r.resolve_dict(Object());
    ASSERT_FALSE(n.ok());
    EXPECT_EQ(n.error(), not_dict);
    auto missing = r.resolve_dict(Object(Reference{50, 0}));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::ObjectNotFound);
}

TEST(Resolver, DecryptsWithHeaderGenerationExceptTheEncryptionDictionary) {
    PdfBuilder b;
    b.obj(1, "<< /Root true >>");
    b.obj(2, "<< /S (abc) >>");
    b.obj(3, "(abc)", 7);
    b.xref_table("/Root 1 0 R");
    Resolver r = open(b);
    r.decryptor = Decryptor{Bytes{1, 2, 3, 4, 5}, CryptMethod::Rc4};
    r.encrypt_ref = 2;
    const Bytes abc = vellox_test::bytes("abc");
    auto encrypt = get(r, 2);
    ASSERT_TRUE(encrypt.ok());
    EXPECT_EQ(*encrypt->as_dict()->get("S"), Object(String{abc}));
    auto s = get(r, 3);
    ASSERT_TRUE(s.ok());
    const Bytes expected = r.decryptor->decrypt_bytes(3, 7, abc);
    EXPECT_NE(expected, abc);
    EXPECT_EQ(*s, Object(String{expected}));
}

TEST(Resolver, FetchEntryFollowsOneReference) {
    PdfBuilder b;
    b.obj(1, "<< /A 1 >>");
    b.obj(2, "[1 2]");
    b.obj(3, "2 0 R");
    b.xref_table("/Root 1 0 R");
    Resolver r = open(b);
    const Object holder =
        *vellox_test::parse("<< /Direct 5 /Ref 2 0 R /Chain 3 0 R /Gone 9 0 R >>");
    const Dictionary& dict = *holder.as_dict();
    // A direct value is the one in the dictionary.
    EXPECT_EQ(fetch_entry(r, dict, "Direct"), dict.get("Direct"));
    // A reference is followed once, to the resolver's own object.
    EXPECT_EQ(fetch_entry(r, dict, "Ref"), *r.lookup(2));
    const Object* chain = fetch_entry(r, dict, "Chain");
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(*chain, Object(Reference{2, 0}));
    EXPECT_EQ(fetch_entry(r, dict, "Gone"), nullptr);
    EXPECT_EQ(fetch_entry(r, dict, "Absent"), nullptr);
}

TEST(Resolver, PeeksNamesInFileAndInObjectStreams) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog >>");
    b.obj(2, "<< /Subtype /Link /A << /S /GoTo >> >>");
    b.stream(3, "/Subtype /Form", "0 0 m");
    b.objstm(5, {{20, "<< /Subtype /Popup >>"}, {21, "[/Subtype /Link]"}});
    b.obj(6, "<< /Subtype /Text >>");
    b.compressed_entry(22, 5, 2);  // index past the stream's count
    b.in_file_entry(23, 0);        // no object at this place
    b.xref_stream(60, "/Root 1 0 R");
    Resolver r = open(b);
    EXPECT_EQ(r.peek_name(2, "Subtype"), "Link");
    EXPECT_EQ(r.peek_name(2, "S"), std::nullopt);  // nested, not the object's
    EXPECT_EQ(r.peek_name(3, "Subtype"), "Form");
    EXPECT_EQ(r.peek_name(20, "Subtype"), "Popup");
    EXPECT_EQ(r.peek_name(21, "Subtype"), std::nullopt);
    EXPECT_EQ(r.peek_name(22, "Subtype"), std::nullopt);
    EXPECT_EQ(r.peek_name(23, "Subtype"), std::nullopt);
    EXPECT_EQ(r.peek_name(99, "Subtype"), std::nullopt);
    // Nothing is loaded by a peek; a loaded object is left to the lookup.
    ASSERT_TRUE(r.lookup(6).ok());
    EXPECT_EQ(r.peek_name(6, "Subtype"), std::nullopt);
    EXPECT_EQ(r.peek_name(2, "Subtype"), "Link");
}

// Over every object of the shared corpora: a name the peek gives is the one
// the loaded object holds, or the load fails.
TEST(Resolver, PeekedNamesMatchLoadedObjectsOverTheCorpora) {
    const std::filesystem::path corpora = std::filesystem::path(VELLOX_CORPUS_DIR).parent_path();
    if (!std::filesystem::is_directory(corpora)) {
        GTEST_SKIP() << "corpora not found under " << corpora;
    }
    std::size_t peeked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpora)) {
        if (entry.path().extension() != ".pdf") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string file((std::istreambuf_iterator<char>(in)), {});
        const ByteView data = as_bytes(file);
        auto xref = read_xref(data);
        if (!xref) continue;
        const Resolver r(std::move(xref).value(), data);
        for (const auto& [num, where] : r.xref.entries) {
            const auto subtype = r.peek_name(num, "Subtype");
            const auto type = r.peek_name(num, "Type");
            if (!subtype && !type) continue;
            const auto loaded = r.resolve_dict(Object(Reference{num, 0}));
            if (!loaded) continue;
            for (const auto& [key, name] :
                 {std::pair{"Subtype", subtype}, std::pair{"Type", type}}) {
                if (!name) continue;
                ++peeked;
                const Object* value = (*loaded)->get(key);
                ASSERT_TRUE(value != nullptr && value->as_name() != nullptr)
                    << entry.path() << " object " << num << " /" << key;
                EXPECT_EQ(value->as_name()->text, *name) << entry.path() << " object " << num;
            }
        }
    }
    EXPECT_GT(peeked, 1000u);
}
