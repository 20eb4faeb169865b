#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "orientation.h"

using namespace vellox_core;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(Orientation, PageRotation) {
    struct Case {
        std::int64_t rotate;
        int expected;
    };
    const Case cases[] = {{0, 0},     {90, 90},    {180, 180}, {270, 270},     {360, 0},
                          {-90, 270}, {-180, 180}, {450, 90},  {-450, 270},    {45, 0},
                          {1, 0},     {-1, 0},     {359, 0},   {INT64_MIN, 0}, {INT64_MAX, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotate);
        EXPECT_EQ(page_rotation(c.rotate), c.expected);
    }
}

TEST(Orientation, ToDisplayTurnsClockwise) {
    struct Case {
        int rotation;
        Vec2 expected;
    };
    // User space's up (0, 1) is shown to the right on a page turned 90
    // degrees clockwise, down at 180, to the left at 270.
    const Case cases[] = {{0, {0, 1}}, {90, {1, 0}}, {180, {0, -1}}, {270, {-1, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotation);
        const Vec2 p = to_display({0, 1}, c.rotation);
        EXPECT_EQ(p.x, c.expected.x);
        EXPECT_EQ(p.y, c.expected.y);
    }
    // Swaps and sign changes only: an infinity stays one, never a NaN.
    for (const int r : {0, 90, 180, 270}) {
        const Vec2 p = to_display({kInf, 5}, r);
        EXPECT_FALSE(std::isnan(p.x) || std::isnan(p.y)) << r;
    }
}

TEST(Orientation, DisplayDirectionBins) {
    const double deg = std::numbers::pi / 180;
    struct Case {
        const char* name;
        double dx, dy;
        int rotation;
        int bin;
        Vec2 unit;
    };
    const Case cases[] = {
        {"upright", 1, 0, 0, kUprightBin, {1, 0}},
        {"upward", 0, 1, 0, kBottomToTopBin, {0, 1}},
        {"upside down", -1, 0, 0, kUpsideDownBin, {-1, 0}},
        {"downward", 0, -1, 0, kTopToBottomBin, {0, -1}},
        {"upright on a page turned 90", 1, 0, 90, kTopToBottomBin, {0, -1}},
        {"upright on a page turned 180", 1, 0, 180, kUpsideDownBin, {-1, 0}},
        {"upright on a page turned 270", 1, 0, 270, kBottomToTopBin, {0, 1}},
        {"upward on a page turned 90 is upright", 0, 1, 90, kUprightBin, {1, 0}},
        {"signed zero", -1, -0.0, 0, kUpsideDownBin, {-1, 0}},
        {"not a unit vector", 0, 3, 0, kBottomToTopBin, {0, 1}},
        {"within a degree of an axis",
         std::cos(0.9 * deg),
         std::sin(0.9 * deg),
         0,
         kUprightBin,
         {1, 0}},
        {"just below the axis", std::cos(-0.9 * deg), std::sin(-0.9 * deg), 0, kUprightBin, {1, 0}},
        {"near vertical", std::cos(90.14 * deg), std::sin(90.14 * deg), 0, kBottomToTopBin, {0, 1}},
        {"14 degrees",
         std::cos(14 * deg),
         std::sin(14 * deg),
         0,
         7,
         {std::cos(14 * deg), std::sin(14 * deg)}},
        {"-50 degrees",
         std::cos(-50 * deg),
         std::sin(-50 * deg),
         0,
         155,
         {std::cos(-50 * deg), std::sin(-50 * deg)}},
        {"just short of a full turn",
         std::cos(359.5 * deg),
         std::sin(359.5 * deg),
         0,
         kUprightBin,
         {1, 0}},
        {"no length", 0, 0, 0, kUprightBin, {1, 0}},
        {"NaN", kNaN, 1, 0, kUprightBin, {1, 0}},
        {"infinite", kInf, kInf, 90, kUprightBin, {1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Direction d = display_direction(c.dx, c.dy, c.rotation);
        EXPECT_EQ(d.bin, c.bin);
        EXPECT_NEAR(d.unit.x, c.unit.x, 1e-12);
        EXPECT_NEAR(d.unit.y, c.unit.y, 1e-12);
        EXPECT_GE(d.bin, 0);
        EXPECT_LT(d.bin, kDirectionBins);
    }
}
