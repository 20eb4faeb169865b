// The TIFF and PNG predictors.
#include "filter/predictor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "bounds.h"
#include "filter/deflate_util.h"

using namespace vellox_core;

namespace {

Object name(const char* n) { return Object(Name{n}); }

Dictionary dict(std::initializer_list<std::pair<const char*, Object>> entries) {
    Dictionary d;
    for (const auto& [k, v] : entries) d.set(k, v);
    return d;
}

int paeth_ref(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// PNG encoding of `raw` cut into rows of `row` bytes (the last may be
// shorter), each row with its filter type, as an encoder would write it.
Bytes png_encode(const Bytes& raw, std::size_t row, std::size_t bpp,
                 const std::vector<int>& types) {
    Bytes out;
    for (std::size_t start = 0, r = 0; start < raw.size(); start += row, ++r) {
        int type = types[r % types.size()];
        out.push_back(static_cast<std::uint8_t>(type));
        std::size_t len = std::min(row, raw.size() - start);
        for (std::size_t i = 0; i < len; ++i) {
            int x = raw[start + i];
            int a = i >= bpp ? raw[start + i - bpp] : 0;
            int b = start >= row ? raw[start - row + i] : 0;
            int c = i >= bpp && start >= row ? raw[start - row + i - bpp] : 0;
            int pred = type == 1   ? a
                       : type == 2 ? b
                       : type == 3 ? (a + b) / 2
                       : type == 4 ? paeth_ref(a, b, c)
                                   : 0;
            out.push_back(static_cast<std::uint8_t>(x - pred));
        }
    }
    return out;
}

Bytes tiff_encode(const Bytes& raw, std::size_t row, std::size_t bpp) {
    Bytes out = raw;
    for (std::size_t start = 0; start < raw.size(); start += row) {
        for (std::size_t i = start + bpp; i < std::min(start + row, raw.size()); ++i) {
            out[i] = static_cast<std::uint8_t>(raw[i] - raw[i - bpp]);
        }
    }
    return out;
}

struct Geometry {
    int colors, bpc, columns;
    std::size_t bpp, row;
};
// bytes per pixel and row length worked out by hand for each geometry.
const Geometry kGeometries[] = {
    {1, 8, 4, 1, 4}, {3, 8, 5, 3, 15}, {1, 1, 10, 1, 2}, {2, 16, 3, 4, 12},
    {3, 4, 3, 2, 5}, {4, 8, 1, 4, 4},  {1, 2, 7, 1, 2},  {5, 8, 9, 5, 45},
};

Dictionary parms_for(int predictor, const Geometry& g) {
    return dict({{"Predictor", Object(predictor)},
                 {"Colors", Object(g.colors)},
                 {"BitsPerComponent", Object(g.bpc)},
                 {"Columns", Object(g.columns)}});
}

}  // namespace

TEST(Predictor, PngRowsOfEveryTypeAreRestored) {
    std::mt19937 rng(10);
    const std::vector<std::vector<int>> type_plans = {{0}, {1}, {2}, {3}, {4}, {4, 2, 0, 3, 1}};
    for (const Geometry& g : kGeometries) {
        for (const auto& types : type_plans) {
            for (std::size_t rows : {1, 2, 7}) {
                // Whole rows, and a short last row.
                for (std::size_t extra : {std::size_t{0}, g.row / 2 + (g.row > 1 ? 1 : 0)}) {
                    Bytes raw(g.row * rows + extra - (extra ? g.row : 0));
                    for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
                    SCOPED_TRACE("colors " + std::to_string(g.colors) + " bpc " +
                                 std::to_string(g.bpc) + " columns " + std::to_string(g.columns) +
                                 " type " + std::to_string(types[0]) + " bytes " +
                                 std::to_string(raw.size()));
                    for (int predictor : {10, 11, 12, 15, 3}) {
                        auto got = predictor::apply(png_encode(raw, g.row, g.bpp, types),
                                                    parms_for(predictor, g));
                        ASSERT_TRUE(got.ok()) << got.error().to_string();
                        ASSERT_EQ(*got, raw);
                    }
                }
            }
        }
    }
}

TEST(Predictor, TiffRowsAreRestored) {
    std::mt19937 rng(2);
    for (const Geometry& g : kGeometries) {
        for (std::size_t size : {std::size_t{0}, std::size_t{1}, g.row, g.row * 3, g.row * 3 + 1}) {
            SCOPED_TRACE("row " + std::to_string(g.row) + " size " + std::to_string(size));
            Bytes raw(size);
            for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
            auto got = predictor::apply(tiff_encode(raw, g.row, g.bpp), parms_for(2, g));
            ASSERT_TRUE(got.ok());
            EXPECT_EQ(*got, raw);
        }
    }
}

TEST(Predictor, PaethAndAverageByHand) {
    // Two rows of 3 one-byte pixels. Second row (type 4): left, up, upleft.
    // i=0: left 0, up 10, upleft 0 -> p 10, picks up (10): 5 + 10 = 15.
    // i=1: left 15, up 20, upleft 10 -> p 25, pa 10, pb 5, pc 15: up: 1 + 20 = 21.
    // i=2: left 21, up 250, upleft 20 -> p 251, pa 230, pb 1, pc 231: up: 10 + 250 = 260 = 4.
    // Third row (type 3): floor((left + up) / 2) without 8-bit overflow:
    // i=0: (0 + 15) / 2 = 7; i=1: (7 + 21) / 2 = 14; i=2: (14 + 4) / 2 = 9.
    const Bytes encoded = {0, 10, 20, 250, 4, 5, 1, 10, 3, 0, 0, 0};
    auto got = predictor::apply(encoded, dict({{"Predictor", Object(12)}, {"Columns", Object(3)}}));
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(*got, (Bytes{10, 20, 250, 15, 21, 4, 7, 14, 9}));
    // Average with both neighbours at 255: (255 + 255) / 2 = 255, not 127.
    // Second row: i=0 adds (0 + 255) / 2 = 127 to 128; i=1 adds 255 to 0.
    auto avg = predictor::apply(Bytes{0, 255, 255, 3, 128, 0},
                                dict({{"Predictor", Object(12)}, {"Columns", Object(2)}}));
    ASSERT_TRUE(avg.ok());
    EXPECT_EQ(*avg, (Bytes{255, 255, 255, 255}));
}

TEST(Predictor, PngChunking) {
    const Dictionary p = dict({{"Predictor", Object(12)}, {"Columns", Object(4)}});
    struct Case {
        const char* name;
        Bytes input;
        std::size_t expected_size;
    };
    const Case cases[] = {
        {"12 bytes: two rows and a one-byte row", Bytes(12, 0), 9},
        {"11 bytes: last chunk a lone type byte", Bytes(11, 0), 8},
        {"lone trailing type byte 9 is not examined", {0, 1, 2, 3, 4, 9}, 4},
        {"empty", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto got = predictor::apply(c.input, p);
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(got->size(), c.expected_size);
    }
    for (const Bytes& bad :
         {Bytes{9, 1}, Bytes{0, 1, 2, 3, 4, 5, 6}, Bytes{0, 1, 2, 3, 4, 255, 1, 2, 3, 4}}) {
        auto got = predictor::apply(bad, p);
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "bad predictor row filter"}));
    }
}

TEST(Predictor, ParametersThatLeaveDataUnchangedOrDefault) {
    const Bytes data = {2, 1, 2, 1};
    // No prediction at all.
    for (const Dictionary& p :
         {dict({}), dict({{"Predictor", Object(1)}}), dict({{"Predictor", Object(2.0)}}),
          dict({{"Predictor", Object(12.0)}}), dict({{"Predictor", name("PNG")}}),
          dict({{"Predictor", Object(-5)}})}) {
        auto got = predictor::apply(data, p);
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(*got, data);
    }
    // Reals and values below 1 fall back to one column of one 8-bit colour:
    // each one-byte row adds its "up" byte.
    for (const Dictionary& p :
         {dict({{"Predictor", Object(10)}, {"Columns", Object(0)}}),
          dict({{"Predictor", Object(10)}, {"Columns", Object(3.0)}, {"Colors", Object(-2)}}),
          dict({{"Predictor", Object(10)}, {"BitsPerComponent", Object(8.0)}})}) {
        auto got = predictor::apply(data, p);
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(*got, (Bytes{1, 2}));
    }
}

TEST(Predictor, HugeGeometryFailsWithoutAllocating) {
    const std::int64_t big = std::int64_t{1} << 40;
    const Dictionary cases[] = {
        dict({{"Predictor", Object(12)}, {"Columns", Object(big)}}),
        dict({{"Predictor", Object(2)}, {"Columns", Object(big)}, {"Colors", Object(big)}}),
        dict({{"Predictor", Object(15)},
              {"Columns", Object(INT64_MAX)},
              {"Colors", Object(INT64_MAX)},
              {"BitsPerComponent", Object(INT64_MAX)}}),
        // 2^30 bytes is allowed, one byte more is not.
        dict({{"Predictor", Object(12)},
              {"Columns", Object(std::int64_t{1} << 30)},
              {"Colors", Object(1)},
              {"BitsPerComponent", Object(8)},
              {"X", Object(0)}}),
    };
    for (std::size_t i = 0; i < 3; ++i) {
        auto got = predictor::apply(Bytes{0, 1, 2}, cases[i]);
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error(), (Error{ErrorKind::BadStream, "bad predictor parameters"}));
    }
    auto at_cap = predictor::apply(Bytes{0, 1, 2}, cases[3]);
    ASSERT_TRUE(at_cap.ok());
    EXPECT_EQ(*at_cap, (Bytes{1, 2}));
    auto past_cap = predictor::apply(
        Bytes{0, 1, 2},
        dict({{"Predictor", Object(12)}, {"Columns", Object((std::int64_t{1} << 30) + 1)}}));
    ASSERT_FALSE(past_cap.ok());
}
