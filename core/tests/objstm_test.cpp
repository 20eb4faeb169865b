#include "objstm.h"

#include <gtest/gtest.h>

#include <string>

#include "cos.h"
#include "support/parse.h"

using namespace vellox_core;
using vellox_test::bytes;

namespace {

Dictionary dict_of(std::string_view text) {
    auto o = vellox_test::parse(text);
    return o.ok() && o->as_dict() != nullptr ? *o->as_dict() : Dictionary{};
}

// Reads object i the way the resolver does.
Result<Object> object_at(const ObjStm& s, std::size_t i) {
    const std::size_t at = std::min<std::uint64_t>(s.first + s.offsets.at(i), s.data.size());
    Lexer lx(s.data, at);
    return cos::parse_object(lx);
}

}  // namespace

TEST(ObjStm, IndexesPairsAndReadsFromFirst) {
    // The header pairs are (7, 0) and (8, 3); the objects start at byte 10.
    auto s = ObjStm::parse(dict_of("<< /N 2 /First 10 >>"), bytes("7 0 8 3   1  2"));
    ASSERT_TRUE(s.ok()) << s.error().to_string();
    EXPECT_EQ(s->nums, (std::vector<std::uint32_t>{7, 8}));
    EXPECT_EQ(s->offsets, (std::vector<std::uint64_t>{0, 3}));
    EXPECT_EQ(s->first, 10u);
    EXPECT_EQ(*object_at(*s, 0), Object(1));
    EXPECT_EQ(*object_at(*s, 1), Object(2));
}

TEST(ObjStm, HeaderNumbers) {
    struct Case {
        const char* header;
        bool ok;
        const char* message;
    };
    const Case cases[] = {
        {"+7 +0", true, ""},
        {"%c\n 7\r\n0", true, ""},
        {"18446744073709551615 18446744073709551615", true, ""},
        {"18446744073709551616 0", false, "objstm bad integer"},
        {"-7 0", false, "objstm bad integer"},
        {"+ 0", false, "objstm bad integer"},
        {"7x 0", false, "objstm bad integer"},
        {"7", false, "objstm truncated header"},
        {"", false, "objstm truncated header"},
        {"7 (0)", false, "objstm truncated header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        auto s = ObjStm::parse(dict_of("<< /N 1 /First 0 >>"), bytes(c.header));
        ASSERT_EQ(s.ok(), c.ok);
        if (!c.ok) {
            EXPECT_EQ(s.error(), (Error{ErrorKind::InvalidObject, c.message}));
        }
    }
    auto big =
        ObjStm::parse(dict_of("<< /N 1 /First 0 >>"), bytes("4294967303 18446744073709551615"));
    ASSERT_TRUE(big.ok());
    EXPECT_EQ(big->nums[0], 7u);  // low 32 bits
    EXPECT_EQ(big->offsets[0], 18446744073709551615ull);
}

TEST(ObjStm, DictionaryKeys) {
    struct Case {
        const char* dict;
        const char* message;
    };
    const Case cases[] = {
        {"<< /First 0 >>", "objstm missing key"},
        {"<< /N 1 >>", "objstm missing key"},
        {"<< /N 1.0 /First 0 >>", "objstm missing key"},
        {"<< /N 1 /First 3 0 R >>", "objstm missing key"},
        {"<< /N -1 /First 0 >>", "objstm negative key"},
        {"<< /N 1 /First -4 >>", "objstm negative key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dict);
        auto s = ObjStm::parse(dict_of(c.dict), bytes("1 0 5"));
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error(), (Error{ErrorKind::InvalidObject, c.message}));
    }
}

TEST(ObjStm, HugeCountOverShortHeaderFailsWithoutReserving) {
    // 2^60 claimed objects over three pairs: the loop ends at the data's end.
    auto s = ObjStm::parse(dict_of("<< /N 1152921504606846976 /First 12 >>"),
                           bytes("1 0 2 1 3 2 7 8 9"));
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), (Error{ErrorKind::InvalidObject, "objstm truncated header"}));
}

TEST(ObjStm, EmptyAndOutOfDataOffsets) {
    auto empty = ObjStm::parse(dict_of("<< /N 0 /First 0 >>"), bytes("garbage"));
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->offsets.empty());
    EXPECT_EQ(empty->data, bytes("garbage"));

    auto beyond = ObjStm::parse(dict_of("<< /N 1 /First 4 >>"), bytes("1 99 5"));
    ASSERT_TRUE(beyond.ok());
    auto o = object_at(*beyond, 0);
    ASSERT_FALSE(o.ok());
    EXPECT_EQ(o.error().kind, ErrorKind::UnexpectedEof);
}
