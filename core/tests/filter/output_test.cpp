#include "filter/output.h"

#include <gtest/gtest.h>

using namespace vellox_core;

// g++ 12 at -O2 follows the constant 1 GiB sizes below into vector's move
// and reports an out-of-bounds memmove that cannot happen.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif

TEST(DecodedOutput, GrowsByDoublingThenStraightToTheCap) {
    constexpr std::size_t kCap = limits::kMaxDecodedBytes;
    Bytes out;
    ASSERT_TRUE(make_room(out, 100));
    EXPECT_GE(out.capacity(), 100u);
    out.resize(100);
    // Doubling while it stays within a quarter of the cap.
    ASSERT_TRUE(make_room(out, out.capacity() - out.size() + 1));
    EXPECT_GE(out.capacity(), 200u);
    EXPECT_LT(out.capacity(), 1000u);

    // No room asked past the cap, whatever is already there.
    EXPECT_FALSE(make_room(out, kCap));
    EXPECT_FALSE(make_room(out, kCap - out.size() + 1));
    EXPECT_LE(out.capacity(), kCap / 4);

    // A step that would pass a quarter of the cap reserves the cap itself,
    // never more: the largest move then holds at most a quarter plus all.
    Bytes big;
    big.reserve(kCap / 4);
    big.resize(kCap / 4);
    ASSERT_TRUE(make_room(big, 1));
    EXPECT_EQ(big.capacity(), kCap);
    big.resize(kCap);
    EXPECT_TRUE(make_room(big, 0));
    EXPECT_FALSE(make_room(big, 1));
    EXPECT_EQ(big.capacity(), kCap);
}
