#include <gtest/gtest.h>

#include <string>

#include "object.h"
#include "result.h"

using namespace vellox_core;

TEST(Object, CopyOfDictionaryHoldingStreamsIsIndependent) {
    Stream s;
    s.dict.set("Length", Object(3));
    s.data = {1, 2, 3};
    Dictionary d;
    d.set("Kids", Object(Array{Object(s), Object(s)}));
    Object original(d);

    Object copy = clone(original);
    copy.as_dict()->get("Kids")->as_array()->at(0).as_stream()->data[0] = 9;
    copy.as_dict()->set("New", Object(true));

    const Stream* first = original.as_dict()->get("Kids")->as_array()->at(0).as_stream();
    EXPECT_EQ(first->data[0], 1);
    EXPECT_FALSE(original.as_dict()->contains("New"));
    EXPECT_NE(original, copy);
}

TEST(Object, DictionarySetReplacesValueInItsFirstPosition) {
    Dictionary d;
    d.set("A", Object(1));
    d.set("B", Object(Null{}));
    d.set("A", Object(2));
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.entries[0].first, "A");
    EXPECT_EQ(*d.get("A")->as_int(), 2);
    // A stored Null is a value, not an absence.
    ASSERT_NE(d.get("B"), nullptr);
    EXPECT_TRUE(d.get("B")->is_null());
    EXPECT_EQ(d.get("a"), nullptr);  // keys are case-sensitive
}

// The builder merges repeats as set() does, before and after it starts to
// index its keys: the dictionary it gives equals one made by set().
TEST(Object, DictionaryBuilderMergesRepeatsAsSetDoes) {
    for (const int size : {3, 31, 32, 33, 100, 1000}) {
        SCOPED_TRACE(size);
        DictionaryBuilder builder;
        Dictionary expected;
        for (int i = 0; i < 3 * size; ++i) {
            // Every key comes back: from the start (k0 at the end), within
            // the entries looked up one by one, and past them.
            const std::string key = "k" + std::to_string((i * 7) % size);
            builder.add(std::string(key), Object(i));
            expected.set(key, Object(i));
        }
        const Dictionary built = std::move(builder).take();
        EXPECT_EQ(built, expected);
        ASSERT_EQ(built.size(), static_cast<std::size_t>(size));
        EXPECT_EQ(built.entries[0].first, "k0");
    }
}

TEST(Object, NumberAcceptsIntegerAndRealOnly) {
    EXPECT_EQ(Object(7).number(), 7.0);
    EXPECT_EQ(Object(2.5).number(), 2.5);
    EXPECT_FALSE(Object(true).number());
    EXPECT_FALSE(Object(Reference{1, 0}).number());
}

TEST(Error, PrintsKindColonSpaceMessage) {
    EXPECT_EQ((Error{ErrorKind::ObjectNotFound, "no such object"}).to_string(),
              "ObjectNotFound: no such object");
    EXPECT_EQ((Error{ErrorKind::InvalidHeader, "no %PDF- header"}).to_string(),
              "InvalidHeader: no %PDF- header");
    EXPECT_EQ(kind_name(ErrorKind::Unsupported), "Unsupported");
    EXPECT_EQ((Error{ErrorKind::InvalidPassword, "wrong password"}).to_string(),
              "InvalidPassword: wrong password");
}

TEST(Result, CarriesValueOrError) {
    Result<int> good(5);
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, 5);
    Result<int> bad(Error{ErrorKind::BadStream, "x"});
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().kind, ErrorKind::BadStream);
}
