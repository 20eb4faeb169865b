#include "filter/ascii85.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "bounds.h"
#include "filter/sanitizer.h"

using namespace vellox_core;

namespace {

Bytes b(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Test-side encoder (Adobe's format): 'z' for a zero group, a final group of
// n bytes padded with zeros and cut to n + 1 digits, "~>" at the end.
std::string ascii85_encode(const Bytes& in, std::mt19937& rng) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 4) {
        std::size_t n = std::min<std::size_t>(4, in.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | (k < n ? in[i + k] : 0u);
        if (n == 4 && v == 0) {
            out += 'z';
        } else {
            char digits[5];
            for (int k = 4; k >= 0; --k) {
                digits[k] = static_cast<char>('!' + v % 85);
                v /= 85;
            }
            // White space may also split a group.
            for (std::size_t k = 0; k <= n; ++k) {
                out += digits[k];
                if (rng() % 32 == 0) out += " \t\n\f\r"[rng() % 5];
            }
        }
        // White space of every kind the decoder must skip, anywhere.
        if (rng() % 4 == 0) out += " \t\n\f\r"[rng() % 5];
        if (rng() % 16 == 0) out += '\0';
    }
    return out + "~>";
}

}  // namespace

TEST(Ascii85, DecodesKnownText) {
    struct Case {
        std::string_view input;
        Bytes expected;
    };
    const Case cases[] = {
        {"87cURDZ~>", b("Hello")},
        {"87cURDZ", b("Hello")},
        {"<+U,m", b("Test")},
        {"87d&", b("Hey")},
        {"z", Bytes(4, 0)},
        {"s8W-!", {0xFF, 0xFF, 0xFF, 0xFF}},
        {"uuuuu", {0x08, 0x78, 0x0E, 0xC4}},  // above 2^32 - 1: wraps
        {"87~>", b("H")},                     // two digits give one byte
        {"87cUR DZ~>garbage \x01", b("Hello")},
        {std::string_view("8\n7\tc\rU\fR\x00"
                          "DZ",
                          12),
         b("Hello")},
        {"~", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        auto got = ascii85_decode(as_bytes(c.input));
        ASSERT_TRUE(got.ok()) << got.error().to_string();
        EXPECT_EQ(*got, c.expected);
    }
}

TEST(Ascii85, RejectsBadData) {
    const char* const cases[] = {
        "!!z",          // z inside a group
        "8~>",          // a final group of one digit
        "87cUR8~>",     // a final group of one digit after a full group
        "<~87cURDZ~>",  // a start marker is read as a lone digit '<'
        "87v",          // above 'u'
        "87\013cU",     // vertical tab is not white space
        "\x80",
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        auto got = ascii85_decode(as_bytes(c));
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "bad ASCII85 data"}));
    }
}

TEST(Ascii85, RoundTripsTestEncoder) {
    std::mt19937 rng(85);
    for (int round = 0; round < 300; ++round) {
        // Long zero runs come out as many 'z's, four bytes out for each
        // byte in: the output outgrows anything sized from the input.
        const bool zeros = round % 10 == 0;
        Bytes input(zeros ? rng() % 5000 : rng() % 40);
        for (auto& x : input) x = zeros || rng() % 3 == 0 ? 0 : static_cast<std::uint8_t>(rng());
        std::string text = ascii85_encode(input, rng);
        SCOPED_TRACE(text);
        auto got = ascii85_decode(as_bytes(text));
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(*got, input);
    }
}

// Every 'z' is four bytes: 2^28 + 1 of them would pass 1 GiB.
TEST(Ascii85, StopsAtTheDecodedSizeCap) {
    if (vellox_test::kSanitized)
        GTEST_SKIP() << "too slow under sanitizers; runs in the normal build";
    const std::string zeros(limits::kMaxDecodedBytes / 4 + 1, 'z');
    auto got = ascii85_decode(as_bytes(zeros));
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "decoded stream too large"}));
}
