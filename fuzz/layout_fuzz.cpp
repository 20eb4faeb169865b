// Line layout over runs made straight from the input bytes, so that every
// position, width, size and direction a hostile matrix could produce
// (NaN, infinities, huge and tiny values, zero directions) reaches the
// grouping and the sorts, on pages of every rotation. Each run must come out
// in exactly one line: its one-byte text is counted back.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "layout.h"

namespace {

// Eight bytes read as a double, whatever their bits: a quarter of all bit
// patterns are extreme or NaN, which is the point.
double take_double(const std::uint8_t*& p, const std::uint8_t* end) {
    std::uint8_t bytes[8] = {};
    for (std::uint8_t& b : bytes) {
        if (p < end) b = *p++;
    }
    double v = 0;
    std::memcpy(&v, bytes, sizeof v);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    if (size == 0) return 0;
    const std::uint8_t* p = data + 1;
    const std::uint8_t* end = data + size;
    // The first byte picks the rotation, any multiple of 90 or not.
    const std::int64_t rotate = static_cast<std::int64_t>(data[0]) * 45 - 3600;
    std::vector<TextRun> runs;
    std::array<std::size_t, 256> expected{};
    // A run is a text byte and six doubles (49 bytes); a short tail still
    // makes a run, zero-filled.
    while (p < end && runs.size() < 4096) {
        TextRun r;
        const std::uint8_t ch = *p++;
        // Letters only, so that inserted spaces and line breaks are told
        // apart from run texts.
        r.text.assign(1, static_cast<char>('A' + ch % 26));
        ++expected[static_cast<std::uint8_t>(r.text[0])];
        r.x = take_double(p, end);
        r.y = take_double(p, end);
        r.width = take_double(p, end);
        r.font_size = take_double(p, end);
        r.dir_x = take_double(p, end);
        r.dir_y = take_double(p, end);
        runs.push_back(std::move(r));
    }
    const PageText page = layout_page(runs, Rect{0, 0, 612, 792}, rotate);
    std::array<std::size_t, 256> got{};
    for (const Line& line : page.lines) {
        for (const char c : line.text) {
            if (c != ' ') ++got[static_cast<std::uint8_t>(c)];
        }
    }
    if (got != expected) std::abort();
    return 0;
}
