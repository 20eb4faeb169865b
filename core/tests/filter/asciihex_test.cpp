#include "filter/asciihex.h"

#include <gtest/gtest.h>

#include <string>

using namespace vellox_core;

TEST(AsciiHex, Decodes) {
    struct Case {
        std::string_view input;
        Bytes expected;
    };
    const Case cases[] = {
        {"48 65 6C 6C 6F>", {'H', 'e', 'l', 'l', 'o'}},
        {"48656c6C6f", {'H', 'e', 'l', 'l', 'o'}},
        {"4>", {0x40}},
        {"4", {0x40}},
        {"", {}},
        {">", {}},
        {"aBcD>zz", {0xAB, 0xCD}},  // nothing after '>' is read
        {std::string_view("0\x00"
                          "1\t2\n3\f4\r5 6",
                          13),
         {0x01, 0x23, 0x45, 0x60}},
        {"fF 0 0", {0xFF, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        auto got = ascii_hex_decode(as_bytes(c.input));
        ASSERT_TRUE(got.ok()) << got.error().to_string();
        EXPECT_EQ(*got, c.expected);
    }
}

TEST(AsciiHex, RejectsNonHexBytes) {
    for (std::string_view input : {"4G",
                                   "4\x0b"
                                   "1",
                                   "12 x", "<41>", "41-"}) {
        SCOPED_TRACE(std::string(input));
        auto got = ascii_hex_decode(as_bytes(input));
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "bad ASCIIHex data"}));
    }
}
