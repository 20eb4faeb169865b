#include <gtest/gtest.h>

#include <string>

#include "cos.h"
#include "framing.h"
#include "support/parse.h"

using namespace vellox_core;
using vellox_test::bytes;

TEST(Framing, ReadHeader) {
    struct Case {
        std::string_view input;
        bool ok;
        std::uint32_t num, gen;
        std::string_view message;
    };
    const Case cases[] = {
        {"12 0 obj", true, 12, 0, ""},
        {" % c\n7 +3 obj<<>>", true, 7, 3, ""},
        {"12 0 ob", false, 0, 0, "missing obj keyword"},
        {"12 0 objx", false, 0, 0, "missing obj keyword"},
        {"12 -1 obj", false, 0, 0, "bad integer"},
        {"12 4294967296 obj", false, 0, 0, "bad integer"},
        {"+ 0 obj", false, 0, 0, "bad integer"},
        {"12", false, 0, 0, "expected integer"},
        {"<< >>", false, 0, 0, "expected integer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        Lexer lx(as_bytes(c.input));
        auto h = read_header(lx);
        ASSERT_EQ(h.ok(), c.ok);
        if (c.ok) {
            EXPECT_EQ(h->num, c.num);
            EXPECT_EQ(h->gen, c.gen);
        } else {
            EXPECT_EQ(h.error().kind, ErrorKind::InvalidObject);
            EXPECT_EQ(h.error().message, c.message);
        }
    }
}

namespace {

// Frames "<<...>> stream<eol>BODY<tail>endstream" and returns the body read.
Bytes body_of(const std::string& file, std::optional<std::uint64_t> declared) {
    const ByteView data = as_bytes(file);
    Lexer lx(data);
    auto obj = cos::parse_object(lx);
    EXPECT_TRUE(obj);
    Object framed = assemble_stream(data, lx, std::move(obj).value(), declared);
    const Stream* s = framed.as_stream();
    EXPECT_NE(s, nullptr);
    return s ? s->data : Bytes{};
}

}  // namespace

TEST(Framing, StreamBodies) {
    const std::string body = "BT /F1 12 Tf (Hello) Tj ET";  // 26 bytes
    struct Case {
        std::string name;
        std::string file;
        std::optional<std::uint64_t> declared;
        std::string expected;
    };
    const Case cases[] = {
        {"exact length, CR LF before endstream", "<<>>stream\r\n" + body + "\r\nendstream", 26,
         body},
        {"length including the end of line", "<<>>stream\n" + body + "\nendstream", 27,
         body + "\n"},
        {"length 10 bytes short", "<<>>stream\n" + body + "\nendstream", 16, body},
        {"length too long", "<<>>stream\n" + body + "\nendstream", 60, body},
        {"no length, CR LF trimmed", "<<>>stream\n" + body + "\r\nendstream", std::nullopt, body},
        {"no length, lone CR trimmed", "<<>>stream\r" + body + "\rendstream", std::nullopt, body},
        {"no length, no end of line", "<<>>stream\n" + body + "endstream", std::nullopt, body},
        {"space after keyword is data", "<<>>stream " + body + "\nendstream", std::nullopt,
         " " + body},
        {"no endstream runs to the end", "<<>>stream\n" + body, std::nullopt, body},
        {"garbage between declared end and endstream", "<<>>stream\n" + body + "XYZ\nendstream", 26,
         body + "XYZ"},
        {"huge declared length", "<<>>stream\n" + body + "\nendstream",
         std::numeric_limits<std::uint64_t>::max(), body},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(body_of(c.file, c.declared), bytes(c.expected));
    }
}

TEST(Framing, NonStreamObjectsComeBackUnchanged) {
    const std::string file = "<</A 1>> 5 0 obj";
    const ByteView data = as_bytes(file);
    Lexer lx(data);
    auto obj = cos::parse_object(lx);
    ASSERT_TRUE(obj);
    Object framed = assemble_stream(data, lx, obj.value(), std::nullopt);
    ASSERT_NE(framed.as_dict(), nullptr);
    EXPECT_EQ(framed, obj.value());

    Lexer lx2(as_bytes("7 stream\nxx"));
    auto num = cos::parse_object(lx2);
    ASSERT_TRUE(num);
    EXPECT_EQ(assemble_stream(as_bytes("7 stream\nxx"), lx2, num.value(), 2), Object(7));
}
