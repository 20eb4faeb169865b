// Big-endian fields of a font program, read at offsets checked against the
// buffer: every read outside it gives nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "object.h"

namespace vellox_core::fontprog {

// a + b, nothing when the sum does not fit.
inline std::optional<std::uint64_t> add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
    return sum;
}

// a * b, nothing when the product does not fit.
inline std::optional<std::uint64_t> mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
    return product;
}

struct BigEndian {
    ByteView data;
    // The end of the furthest range asked about so far, inside the buffer or
    // not. A reader handed only the start of a program learns from it
    // whether the rest could have changed what it read.
    mutable std::uint64_t reach = 0;

    // True when `length` bytes from `at` lie inside the buffer.
    bool has(std::uint64_t at, std::uint64_t length) const {
        note(at, length);
        return at <= data.size() && length <= data.size() - at;
    }
    // An unsigned field of 1 to 4 bytes.
    std::optional<std::uint32_t> uint(std::uint64_t at, unsigned width) const {
        if (width == 0 || width > 4 || !has(at, width)) return std::nullopt;
        std::uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i) v = (v << 8) | data[at + i];
        return v;
    }
    std::optional<std::uint32_t> u8(std::uint64_t at) const { return uint(at, 1); }
    std::optional<std::uint32_t> u16(std::uint64_t at) const { return uint(at, 2); }
    std::optional<std::uint32_t> u32(std::uint64_t at) const { return uint(at, 4); }
    // The bytes from `at` to `at + length`, cut at the end of the buffer;
    // empty when `at` lies past it.
    ByteView slice(std::uint64_t at, std::uint64_t length) const {
        note(at, length);
        if (at >= data.size()) return {};
        const std::uint64_t room = data.size() - at;
        return data.subspan(at, length < room ? length : room);
    }

private:
    void note(std::uint64_t at, std::uint64_t length) const {
        reach = std::max(reach, add(at, length).value_or(UINT64_MAX));
    }
};

}  // namespace vellox_core::fontprog
