#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "cos.h"
#include "support/parse.h"

using namespace vellox_core;
using vellox_test::bytes;
using vellox_test::parse;

namespace {

Bytes string_of(std::string_view text) {
    auto r = parse(text);
    EXPECT_TRUE(r) << text << " -> " << (r ? "" : r.error().to_string());
    if (!r || !r->as_string()) return {};
    return r->as_string()->bytes;
}

}  // namespace

TEST(Cos, LiteralStringEscapes) {
    struct Case {
        std::string_view input;
        std::string_view expected;
    };
    const Case cases[] = {
        {"(a(b)c)", "a(b)c"},
        {"(\\))", ")"},
        {"(\\(\\\\)", "(\\"},
        {"(a\\\r\nb)", "ab"},    // backslash CR LF: continuation
        {"(a\\\nb)", "ab"},      // backslash LF
        {"(a\\\rb)", "ab"},      // backslash lone CR
        {"(a\r\nb)", "a\r\nb"},  // bare line ends are kept as they are
        {"(\\n\\r\\t\\b\\f)", "\n\r\t\b\f"},
        {"(\\0539)", "+9"},  // octal stops after three digits
        {"(\\7)", "\x07"},
        {"(\\777)", "\xFF"},
        {"(\\q)", "q"},  // unknown escape: the byte itself
        {"()", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        EXPECT_EQ(string_of(c.input), bytes(c.expected));
    }
    EXPECT_EQ(string_of("(\\400)"), Bytes{0x00});  // 0o400 wraps to 0
}

TEST(Cos, HexStrings) {
    EXPECT_EQ(string_of("<41 4>"), (Bytes{0x41, 0x40}));
    EXPECT_EQ(string_of("<ABC>"), (Bytes{0xAB, 0xC0}));
    EXPECT_EQ(string_of("<>"), Bytes{});
    EXPECT_EQ(string_of("<6a6B>"), bytes("jk"));
}

TEST(Cos, NamesDecodeEscapesAndConvertLossily) {
    auto ab = parse("/A#42");
    ASSERT_TRUE(ab);
    EXPECT_EQ(ab->as_name()->text, "AB");
    auto ff = parse("/#FF");
    ASSERT_TRUE(ff);
    EXPECT_EQ(ff->as_name()->text, "\xEF\xBF\xBD");
    auto empty = parse("/ 1");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->as_name()->text, "");
    auto space = parse("/a#20b");
    ASSERT_TRUE(space);
    EXPECT_EQ(space->as_name()->text, "a b");
    // Raw bytes above ASCII: valid UTF-8 kept, a stray byte replaced.
    EXPECT_EQ(parse("/caf\xC3\xA9/x")->as_name()->text, "caf\xC3\xA9");
    EXPECT_EQ(parse("/caf\xE9 x")->as_name()->text, "caf\xEF\xBF\xBD");
    EXPECT_EQ(parse("/ABCDEFGHIJKLMNOPQRSTUVWXYZ(")->as_name()->text, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

// The fast path for names: a plain name is its bytes up to the first white
// space or delimiter; a '#' or a byte above ASCII anywhere in the token
// leaves the whole token to the decoding path, the cursor where it was.
TEST(Cos, PlainNamesAndTheTokensThatAreNot) {
    struct Case {
        std::string_view input;  // behind the slash
        std::optional<std::string_view> plain;
    };
    const Case cases[] = {
        {"Type/Annot", "Type"},
        {"F1 12 Tf", "F1"},
        {"a.b-c_d*e", "a.b-c_d*e"},
        {"end", "end"},
        {"(x)", ""},
        {"", ""},
        {"#41", std::nullopt},
        {"A#42", std::nullopt},
        {"AB#", std::nullopt},
        {"\xC3\xA9t\xC3\xA9", std::nullopt},
        {"caf\xE9 x", std::nullopt},
        {"ab\x80", std::nullopt},
        {"ab\x7F ", "ab\x7F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Lexer lx(as_bytes(c.input));
        const auto got = cos::take_plain_name(lx);
        ASSERT_EQ(got.has_value(), c.plain.has_value());
        if (got) {
            EXPECT_EQ(*got, *c.plain);
            EXPECT_EQ(lx.pos, c.plain->size());
        } else {
            EXPECT_EQ(lx.pos, 0u);
        }
    }
}

TEST(Cos, Numbers) {
    struct Case {
        std::string_view input;
        ObjectType type;
        double value;
    };
    const Case cases[] = {
        {"42", ObjectType::Integer, 42},
        {"-17", ObjectType::Integer, -17},
        {"+5", ObjectType::Integer, 5},
        {"-0.5", ObjectType::Real, -0.5},
        {".5", ObjectType::Real, 0.5},
        {"5.", ObjectType::Real, 5.0},
        {"0.1", ObjectType::Real, 0.1},
        {"123.456", ObjectType::Real, 123.456},
        {"9223372036854775807", ObjectType::Integer, 9223372036854775807.0},
        {"9223372036854775808", ObjectType::Real, 9.223372036854776e18},
        {"1.5e3", ObjectType::Real, 1500},
        {"1e5", ObjectType::Real, 100000},
        {"+inf", ObjectType::Real, std::numeric_limits<double>::infinity()},
        {"-Infinity", ObjectType::Real, -std::numeric_limits<double>::infinity()},
        {"1e999", ObjectType::Real, std::numeric_limits<double>::infinity()},
        {"1e-999", ObjectType::Real, 0.0},
        // 23 fraction digits take the general conversion.
        {"0.12345678901234567890123", ObjectType::Real, 0.12345678901234567890123},
        // Either side of the length read without overflow checks.
        {"-99999999999999999", ObjectType::Integer, -99999999999999999.0},
        {"999999999999999999", ObjectType::Integer, 999999999999999999.0},
        {"9999999999999999999", ObjectType::Real, 9999999999999999999.0},
        {"-.99999999999999999", ObjectType::Real, -.99999999999999999},
        // Digits over the power of ten, as the fast path divides.
        {"12345678.123456789", ObjectType::Real, 12345678123456789.0 / 1e9},
        {"-0", ObjectType::Integer, 0},
        {"-0.0", ObjectType::Real, 0},
        {"000000000000000000000000007", ObjectType::Integer, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        auto r = parse(c.input);
        ASSERT_TRUE(r) << r.error().to_string();
        EXPECT_EQ(r->type(), c.type);
        EXPECT_EQ(*r->number(), c.value);
    }
    for (const std::string_view bad : {".", "+", "-.", "1.2.3", "1-2", "12345678901234567.."}) {
        SCOPED_TRACE(std::string(bad));
        EXPECT_FALSE(parse(bad));
    }
    auto nan = parse("nan");  // a keyword, not a number: starts with a letter
    EXPECT_FALSE(nan);
    auto signed_nan = parse("-nan");
    ASSERT_TRUE(signed_nan);
    EXPECT_TRUE(std::isnan(*signed_nan->as_real()));
}

TEST(Cos, FastPathDividesByExactPowerOfTen) {
    // 0.3 parsed as 3 / 10 is the correctly rounded double of 0.3.
    auto r = parse("0.3");
    ASSERT_TRUE(r);
    EXPECT_EQ(*r->as_real(), 0.3);
    auto s = parse("1234567.1234567");
    ASSERT_TRUE(s);
    EXPECT_EQ(*s->as_real(), 12345671234567.0 / 1e7);
}

// A number with room behind it is read a word at a time, one near the end
// of its input a byte at a time: every shape of token, each way, reads the
// same, with the cursor behind the same token.
TEST(Cos, NumbersReadTheSameWithAndWithoutRoomBehind) {
    std::mt19937 rng(2718);
    const std::string_view signs[] = {"", "-", "+"};
    const std::string_view ends[] = {"", " ", "/", "[", "(", "x", ".", "-", "e5", "9"};
    for (const std::string_view sign : signs) {
        for (int whole = 0; whole <= 10; ++whole) {
            for (int fraction = -1; fraction <= 10; ++fraction) {  // -1: no point
                for (const std::string_view end : ends) {
                    std::string token(sign);
                    for (int i = 0; i < whole; ++i) token += static_cast<char>('0' + rng() % 10);
                    if (fraction >= 0) token += '.';
                    for (int i = 0; i < fraction; ++i) token += static_cast<char>('0' + rng() % 10);
                    const std::string tight = token + std::string(end);
                    const std::string roomy = tight + "  " + std::string(20, '7');
                    SCOPED_TRACE(roomy);
                    Lexer a(as_bytes(tight));
                    Lexer b(as_bytes(roomy));
                    const cos::Number x = cos::read_number_fast(a);
                    const cos::Number y = cos::read_number_fast(b);
                    EXPECT_EQ(a.pos, b.pos);
                    ASSERT_EQ(x.kind, y.kind);
                    if (x.kind == cos::Number::Integer) {
                        EXPECT_EQ(x.integer, y.integer);
                    }
                    // Bit for bit: the two ways divide the same digits.
                    if (x.kind == cos::Number::Real) {
                        EXPECT_EQ(x.real, y.real);
                    }
                    if (x.kind != cos::Number::None && !end.empty() && end != "9" && end != "." &&
                        end != "-" && end != "x" && end != "e5") {
                        // A short plain token gives the value its text says.
                        const double expected = std::strtod(token.c_str(), nullptr);
                        if (whole + std::max(fraction, 0) <= 15) {
                            EXPECT_EQ(x.kind == cos::Number::Integer
                                          ? static_cast<double>(x.integer)
                                          : x.real,
                                      expected);
                        }
                    }
                }
            }
        }
    }
}

// One dictionary of 300,000 keys, and one of a key written 300,000 times:
// finding each key among all those before it took minutes for such an
// object; the parse stays linear.
TEST(Cos, HugeDictionariesParseInLinearTime) {
    std::string distinct = "<<";
    std::string repeated = "<<";
    for (int i = 0; i < 300000; ++i) {
        distinct += " /k" + std::to_string(i) + " " + std::to_string(i);
        repeated += " /k " + std::to_string(i);
    }
    distinct += " /k7 (last) >>";
    repeated += " >>";
    auto many = parse(distinct);
    ASSERT_TRUE(many) << many.error().to_string();
    const Dictionary& dict = *many->as_dict();
    EXPECT_EQ(dict.size(), 300000u);
    EXPECT_EQ(dict.entries[7].first, "k7");
    ASSERT_NE(dict.entries[7].second.as_string(), nullptr);
    EXPECT_EQ(*dict.get("k299999")->as_int(), 299999);
    auto one = parse(repeated);
    ASSERT_TRUE(one) << one.error().to_string();
    ASSERT_EQ(one->as_dict()->size(), 1u);
    EXPECT_EQ(*one->as_dict()->get("k")->as_int(), 299999);
}

TEST(Cos, Errors) {
    struct Case {
        std::string_view input;
        ErrorKind kind;
        std::string_view message;
    };
    const Case cases[] = {
        {"", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"  % only a comment", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"(abc", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"(abc\\", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"<41", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"<4G>", ErrorKind::UnexpectedToken, "bad hex digit"},
        {"/a#", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"/a#4", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"/a#G1", ErrorKind::UnexpectedToken, "bad #xx escape in name"},
        {"/a#4G", ErrorKind::UnexpectedToken, "bad #xx escape in name"},
        {"[1 2", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"<</A 1", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"<</A", ErrorKind::UnexpectedEof, "input ended mid-object"},
        {"<<1 2>>", ErrorKind::UnexpectedToken, "dictionary key is not a name"},
        {".", ErrorKind::UnexpectedToken, "bad number"},
        {"-", ErrorKind::UnexpectedToken, "bad number"},
        {"1.2.3", ErrorKind::UnexpectedToken, "bad number"},
        {"12abc", ErrorKind::UnexpectedToken, "bad number"},
        {"1e", ErrorKind::UnexpectedToken, "bad number"},
        {"+-1", ErrorKind::UnexpectedToken, "bad number"},
        {"1\xC3", ErrorKind::UnexpectedToken, "non-utf8 number"},
        {"R", ErrorKind::UnexpectedToken, "unexpected token"},
        {"obj", ErrorKind::UnexpectedToken, "unexpected token"},
        {")", ErrorKind::UnexpectedToken, "unexpected token"},
        {"]", ErrorKind::UnexpectedToken, "unexpected token"},
        {"True", ErrorKind::UnexpectedToken, "unexpected token"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        auto r = parse(c.input);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind, c.kind);
        EXPECT_EQ(r.error().message, c.message);
    }
}

TEST(Cos, Keywords) {
    EXPECT_TRUE(parse("null")->is_null());
    EXPECT_EQ(*parse("true")->as_bool(), true);
    EXPECT_EQ(*parse("false")->as_bool(), false);
}

TEST(Cos, ReferenceLookAheadAndRestore) {
    struct Case {
        std::string_view input;
        bool is_ref;
        std::int64_t num;
        std::size_t pos_after;
    };
    const Case cases[] = {
        {"12 0 R", true, 12, 6},
        {"12 +3 R/x", true, 12, 7},
        {"12 R", false, 12, 2},        // no generation
        {"12 0 obj", false, 12, 2},    // header, not a reference
        {"12 70000 R", false, 12, 2},  // generation above 16 bits
        {"12 -1 R", false, 12, 2},
        {"12 0 RG", false, 12, 2},  // R must be the whole keyword
        {"4294967296 0 R", false, 4294967296, 10},
        {"12 % c\n 0 % d\n R", true, 12, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        Lexer lx(as_bytes(c.input));
        auto r = cos::parse_object(lx);
        ASSERT_TRUE(r);
        if (c.is_ref) {
            ASSERT_NE(r->as_ref(), nullptr);
            EXPECT_EQ(r->as_ref()->num, static_cast<std::uint32_t>(c.num));
        } else {
            ASSERT_NE(r->as_int(), nullptr);
            EXPECT_EQ(*r->as_int(), c.num);
        }
        EXPECT_EQ(lx.pos, c.pos_after);
    }
    // After "12 R" the next object meets the keyword R and fails.
    Lexer lx(as_bytes("12 R"));
    ASSERT_TRUE(cos::parse_object(lx));
    auto next = cos::parse_object(lx);
    ASSERT_FALSE(next);
    EXPECT_EQ(next.error().message, "unexpected token");
}

TEST(Cos, ArraysAndDictionaries) {
    auto arr = parse("[1 (a) /N [ ] << >> 3 0 R null]");
    ASSERT_TRUE(arr);
    const Array& a = *arr->as_array();
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a[0], Object(1));
    EXPECT_EQ(a[2], Object(Name{"N"}));
    EXPECT_TRUE(a[3].as_array()->empty());
    EXPECT_TRUE(a[4].as_dict()->empty());
    EXPECT_EQ(a[5], Object(Reference{3, 0}));

    auto dup = parse("<</A 1 /B 2 /A 2>>");
    ASSERT_TRUE(dup);
    const Dictionary& d = *dup->as_dict();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.entries[0].first, "A");
    EXPECT_EQ(*d.entries[0].second.as_int(), 2);

    auto keyed = parse("<</A#42 1 /AB 2>>");
    ASSERT_TRUE(keyed);
    EXPECT_EQ(keyed->as_dict()->size(), 1u);

    // A dictionary closed by a single '>' consumes the byte after it too.
    Lexer lx(as_bytes("<</A 1>x 7"));
    auto single = cos::parse_object(lx);
    ASSERT_TRUE(single);
    EXPECT_EQ(lx.pos, 8u);

    auto nullval = parse("<</A null>>");
    ASSERT_TRUE(nullval);
    ASSERT_TRUE(nullval->as_dict()->contains("A"));
}

TEST(Cos, ScratchSpaceIsLeftAsFound) {
    // Content parsing hands the same working space to every operand; items
    // of an array that failed must not leak into the next one.
    std::vector<Object> scratch{Object(7)};
    std::size_t budget = 100;
    Lexer lx(as_bytes("[1 [2 3] (x)] [4 [5 <zz> 6"));
    auto first = cos::parse_object(lx, budget, scratch);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, parse("[1 [2 3] (x)]").value());
    ASSERT_EQ(scratch.size(), 1u);
    EXPECT_EQ(scratch[0], Object(7));
    EXPECT_FALSE(cos::parse_object(lx, budget, scratch));
    ASSERT_EQ(scratch.size(), 1u);
    Lexer again(as_bytes("[8 9]"));
    auto third = cos::parse_object(again, budget, scratch);
    ASSERT_TRUE(third);
    EXPECT_EQ(*third, Object(Array{Object(8), Object(9)}));
    EXPECT_EQ(scratch.size(), 1u);
}

TEST(Cos, DeepNestingFailsCleanly) {
    for (const char open : {'[', '<'}) {
        std::string text;
        for (int i = 0; i < 100000; ++i) {
            text += open;
            if (open == '<') text += "</A ";
        }
        auto r = parse(text);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind, ErrorKind::UnexpectedToken);
        EXPECT_EQ(r.error().message, "nesting too deep");
    }
    // Moderate nesting is fine.
    std::string ok(200, '[');
    ok += std::string(200, ']');
    EXPECT_TRUE(parse(ok));
}

TEST(Cos, ParseDictionaryDirectly) {
    Lexer lx(as_bytes("<</Type /Page>> rest"));
    auto d = cos::parse_dictionary(lx);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->get("Type")->is_name("Page"));
    EXPECT_EQ(lx.pos, 15u);
}

TEST(Cos, LeavesReadTheSameInsideContainersAsAlone) {
    // Inside arrays and dictionaries numbers, references and plain names
    // take a shorter path than a value parsed alone; every token must read
    // the same either way, including those the shorter path hands on to
    // the general one (exponents, overflow, escapes, strings).
    const std::string_view values[] = {
        "0",      "-17",    "+4",    "3.25",       "-.5",       "007", "1e5", "9223372036854775808",
        "12 0 R", "3 +1 R", "/Name", "/A#42",      "/\xc3\xa9", "/",   "(s)", "<41>",
        "true",   "null",   "[1 2]", "<< /X 1 >>",
    };
    for (const std::string_view v : values) {
        SCOPED_TRACE(v);
        const std::string value(v);
        auto alone = parse(value);
        ASSERT_TRUE(alone);
        auto in_array = parse("[" + value + " " + value + "]");
        ASSERT_TRUE(in_array);
        ASSERT_EQ(in_array->as_array()->size(), 2u);
        EXPECT_EQ(in_array->as_array()->at(0), *alone);
        EXPECT_EQ(in_array->as_array()->at(1), *alone);
        auto in_dict = parse("<</K " + value + "/L " + value + ">>");
        ASSERT_TRUE(in_dict);
        ASSERT_EQ(in_dict->as_dict()->size(), 2u);
        EXPECT_EQ(*in_dict->as_dict()->get("K"), *alone);
        EXPECT_EQ(*in_dict->as_dict()->get("L"), *alone);
    }
    // Keys with escapes, and a repeated key, through the general path.
    auto d = parse("<< /A#42 1 /AB 2 /C 3 >>");
    ASSERT_TRUE(d);
    ASSERT_EQ(d->as_dict()->size(), 2u);
    EXPECT_EQ(*d->as_dict()->get("AB"), Object(2));
    // A key that is no name fails whichever path reads it.
    for (const char* bad : {"<< 1 2 >>", "<< (k) 2 >>", "<< /K 1 2 3 >>"}) {
        SCOPED_TRACE(bad);
        auto r = parse(bad);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message, "dictionary key is not a name");
    }
}

TEST(Cos, ObjectBudgetCountsNestedObjects) {
    struct Case {
        std::string_view input;
        std::size_t objects;  // objects the parse creates, keys included
    };
    const Case cases[] = {
        {"42", 1},
        {"1 0 R", 1},
        {"[]", 1},
        {"[1 2 [3]]", 5},
        {"<< /A 1 /B [/x] >>", 6},
        {"[<<>> () <00> /n true null]", 7},
        {"[1 0 R /a#20b -2.5 1e3]", 5},
        {"<< /K 3 0 R /L -1.5 /M#20 /#41 >>", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        // Exactly enough: the parse succeeds and uses up the budget.
        std::size_t budget = c.objects;
        Lexer exact(as_bytes(c.input));
        ASSERT_TRUE(cos::parse_object(exact, budget));
        EXPECT_EQ(budget, 0u);
        // One fewer: the parse fails without creating the last object.
        budget = c.objects - 1;
        Lexer short_of_one(as_bytes(c.input));
        auto r = cos::parse_object(short_of_one, budget);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind, ErrorKind::UnexpectedToken);
        EXPECT_EQ(r.error().message, "too many objects");
    }
    // The unbudgeted parse takes a million elements.
    std::string big = "[";
    for (int i = 0; i < 1000000; ++i) big += "/ ";
    big += "]";
    auto r = parse(big);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->as_array()->size(), 1000000u);
}

namespace {

// The peek's promise: a name it gives is what the parsed dictionary holds
// under `key`, unless the parse fails.
void expect_peek_agrees(std::string_view text, std::string_view key) {
    Lexer peek_lx(as_bytes(text));
    const std::optional<std::string_view> peeked = cos::peek_name_entry(peek_lx, key);
    if (!peeked) return;
    Lexer lx(as_bytes(text));
    const auto dict = cos::parse_dictionary(lx);
    if (!dict) return;
    const Object* value = dict->get(key);
    ASSERT_NE(value, nullptr) << text;
    ASSERT_NE(value->as_name(), nullptr) << text;
    EXPECT_EQ(value->as_name()->text, *peeked) << text;
}

}  // namespace

TEST(Cos, PeekedNamesAreThoseTheDictionaryHolds) {
    struct Case {
        std::string_view text;
        std::optional<std::string_view> subtype;
    };
    const Case cases[] = {
        {"<</Type/Annot/Subtype/Link>>", "Link"},
        // Every kind of value before and after it is stepped over.
        {"<< /Border [0 0 0] /Rect [1.5 -2 +3 .4] /A << /S /URI /URI (http://x/(a)\\)) >>\n"
         "/Subtype /Link /P 5 0 R /H /I /C [<00FF> (\\\\) <<>>] /N null /T true >>",
         "Link"},
        {"<< /Dest [3 0 R /XYZ 0 792 null] % a comment /Subtype /Text\n /Subtype /Popup >>",
         "Popup"},
        {"<< /Subtype /Link /Next 12 0 R >>", "Link"},
        {"<< /Big 1e5 /Subtype /Link >>", "Link"},
        {"<< /N#61me /x /Subtype /Link >>", std::nullopt},  // a key to decode
        // A repeated key takes its last value.
        {"<< /Subtype /Text /Subtype /Link >>", "Link"},
        {"<< /Subtype /Link /Subtype (Link) >>", std::nullopt},
        {"<< /Subtype /Link /Subtype 4 0 R >>", std::nullopt},
        {"<< /Subtype /L#69nk >>", std::nullopt},
        {"<< /Subtype 4 0 R >>", std::nullopt},
        {"<< /Type /Annot >>", std::nullopt},
        // Keys inside a nested dictionary are not the dictionary's.
        {"<< /A << /Subtype /Link >> >>", std::nullopt},
        {"<< /A [ /Subtype /Link ] >>", std::nullopt},
        {"<< /A (/Subtype /Link) >>", std::nullopt},
        // A name value is no key: here /Subtype is the value of /X.
        {"<< /X /Subtype /Link 5 >>", std::nullopt},
        // Dictionaries that do not read cleanly tell nothing.
        {"<< /Subtype /Link", std::nullopt},
        {"<< /Subtype /Link /A (unclosed >>", std::nullopt},
        {"<< /A <00 /Subtype /Link >>", std::nullopt},
        {"<< 5 /Subtype /Link >>", std::nullopt},
        {"[ /Subtype /Link ]", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        Lexer lx(as_bytes(c.text));
        EXPECT_EQ(cos::peek_name_entry(lx, "Subtype"), c.subtype);
        EXPECT_LE(lx.pos, c.text.size());
        expect_peek_agrees(c.text, "Subtype");
    }
}

TEST(Cos, PeekNeverContradictsTheParseOfDamagedDictionaries) {
    // Every cut of these, every byte removed, and every byte replaced by
    // each byte the syntax treats specially.
    const std::string_view seeds[] = {
        "<< /Type /Annot /Border [0 0 0] /A << /S /URI /URI (http://a\\(b\\)c) >> "
        "/Rect [1 2 3 4] /Subtype /Link /P 7 0 R /C [<0aff> 1] >>",
        "<</Subtype/Widget/FT/Tx/V(x)/Kids[1 0 R 2 0 R]/AP<</N 9 0 R>>>>",
        "<< /X /Subtype /Link /Subtype /Text /Y [/Subtype /Link] >>",
    };
    const std::string_view specials = "()<>[]{}/%\\ \n#R0";
    std::size_t named = 0;
    for (const std::string_view seed : seeds) {
        for (std::size_t cut = 0; cut <= seed.size(); ++cut) {
            expect_peek_agrees(seed.substr(0, cut), "Subtype");
        }
        for (std::size_t at = 0; at < seed.size(); ++at) {
            std::string removed(seed);
            removed.erase(at, 1);
            expect_peek_agrees(removed, "Subtype");
            for (const char c : specials) {
                std::string changed(seed);
                changed[at] = c;
                expect_peek_agrees(changed, "Subtype");
                Lexer lx(as_bytes(changed));
                named += cos::peek_name_entry(lx, "Subtype").has_value();
            }
        }
    }
    // Most single changes leave the subtype readable.
    EXPECT_GT(named, 1000u);
}
