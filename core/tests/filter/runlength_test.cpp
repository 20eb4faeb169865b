#include "filter/runlength.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "bounds.h"
#include "filter/sanitizer.h"

using namespace vellox_core;

namespace {

// Test-side encoder: repeat runs of 2..128 bytes, literal runs of 1..128
// bytes, and the end-of-data marker only when asked for.
Bytes run_length_encode(const Bytes& in, bool end_marker) {
    Bytes out;
    std::size_t i = 0;
    while (i < in.size()) {
        std::size_t run = 1;
        while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(257 - run));
            out.push_back(in[i]);
            i += run;
            continue;
        }
        std::size_t lit = 1;
        while (i + lit < in.size() && lit < 128 &&
               !(i + lit + 1 < in.size() && in[i + lit] == in[i + lit + 1])) {
            ++lit;
        }
        out.push_back(static_cast<std::uint8_t>(lit - 1));
        out.insert(out.end(), in.begin() + i, in.begin() + i + lit);
        i += lit;
    }
    if (end_marker) out.push_back(128);
    return out;
}

}  // namespace

TEST(RunLength, Decodes) {
    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    };
    const Case cases[] = {
        {"literal and repeat",
         {0x02, 0x41, 0x42, 0x43, 0xFE, 0x44, 0x80},
         {0x41, 0x42, 0x43, 0x44, 0x44, 0x44}},
        {"bytes after 128 ignored", {0x00, 0x41, 0x80, 0x05}, {0x41}},
        {"no end marker",
         {0x00, 0x41, 0x81, 0x42},
         [] {
             Bytes v(128, 0x42);
             v.insert(v.begin(), 0x41);
             return v;
         }()},
        {"empty", {}, {}},
        {"128 first", {0x80, 0x00, 0x41}, {}},
        {"longest literal run",
         [] {
             Bytes v{0x7F};
             for (int i = 0; i < 128; ++i) v.push_back(static_cast<std::uint8_t>(i));
             return v;
         }(),
         [] {
             Bytes v;
             for (int i = 0; i < 128; ++i) v.push_back(static_cast<std::uint8_t>(i));
             return v;
         }()},
        {"data bytes that look like markers", {0x01, 0x80, 0xFF}, {0x80, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = run_length_decode(c.input);
        ASSERT_TRUE(got.ok()) << got.error().to_string();
        EXPECT_EQ(*got, c.expected);
    }
}

TEST(RunLength, RejectsTruncatedRuns) {
    const Bytes cases[] = {
        {0x05, 0x41},        // literal run of 6 with one byte
        {0xFF},              // repeat run without its byte
        {0x00, 0x41, 0xFE},  // same, after a complete run
        {0x00},              // literal run of 1 with nothing
    };
    for (const Bytes& c : cases) {
        auto got = run_length_decode(c);
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "truncated RunLength data"}));
    }
}

TEST(RunLength, RoundTripsTestEncoder) {
    std::mt19937 rng(128);
    for (int round = 0; round < 300; ++round) {
        Bytes input;
        std::size_t size = rng() % 1000;
        while (input.size() < size) {
            std::uint8_t v = static_cast<std::uint8_t>(rng() % 4 == 0 ? 128 : rng());
            input.insert(input.end(), rng() % 2 ? 1 : 1 + rng() % 300, v);
        }
        bool marker = round % 2 == 0;
        Bytes packed = run_length_encode(input, marker);
        if (marker) packed.push_back(0x05);  // ignored after the marker
        auto got = run_length_decode(packed);
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(*got, input);
    }
}

// Each two-byte repeat run gives 128 bytes: 17 MB of them would pass 1 GiB.
TEST(RunLength, StopsAtTheDecodedSizeCap) {
    if (vellox_test::kSanitized)
        GTEST_SKIP() << "too slow under sanitizers; runs in the normal build";
    Bytes packed((limits::kMaxDecodedBytes / 128 + 1) * 2, 0x00);
    for (std::size_t i = 0; i < packed.size(); i += 2) packed[i] = 0x81;
    auto got = run_length_decode(packed);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "decoded stream too large"}));
}
