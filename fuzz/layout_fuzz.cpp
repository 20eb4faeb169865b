// Line layout and reading order over runs made straight from the input
// bytes, so that every position, width, size and direction a hostile
// matrix could produce (NaN, infinities, huge and tiny values, zero
// directions) reaches the grouping, the cuts and the sorts, on pages of
// every rotation. Each run must come out in exactly one line, in either
// order: its one-byte text is counted back. Position order must leave the
// lines as layout made them, and in both orders the blocks must cut the
// lines into consecutive ranges.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "layout.h"
#include "reading_order.h"

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

// The checks on one page of runs; `expected` counts the runs' letters.
void check_page(const std::vector<vellox_core::TextRun>& runs, std::int64_t rotate,
                const std::array<std::size_t, 256>& expected) {
    using namespace vellox_core;
    // The first run's position and size, if any, make a ruled table's box.
    std::vector<Rect> tables;
    if (!runs.empty()) {
        const TextRun& r = runs.front();
        tables.push_back({r.x, r.y, r.x + r.width * 8, r.y - r.font_size * 4});
    }
    const auto check = [&expected](const PageText& page) {
        std::array<std::size_t, 256> got{};
        for (const Line& line : page.lines) {
            for (const char c : line.text) {
                if (c != ' ') ++got[static_cast<std::uint8_t>(c)];
            }
        }
        if (got != expected) std::abort();
        std::size_t next = 0;
        for (const Block& b : page.blocks) {
            if (b.begin != next || b.end <= b.begin) std::abort();
            next = b.end;
        }
        if (next != page.lines.size()) std::abort();
    };
    std::vector<LinePiece> pieces;
    PageText page = layout_page(runs, Rect{0, 0, 612, 792}, rotate, &pieces);
    check(page);
    PageText position = page;
    order_page(position, {}, tables, ReadingOrder::Position);
    check(position);
    if (position.lines.size() != page.lines.size()) std::abort();
    for (std::size_t i = 0; i < page.lines.size(); ++i) {
        if (position.lines[i].text != page.lines[i].text) std::abort();
    }
    order_page(page, pieces, tables, ReadingOrder::Columns);
    check(page);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    if (size == 0) return 0;
    // The first byte picks the rotation, any multiple of 90 or not.
    const std::int64_t rotate = static_cast<std::int64_t>(data[0]) * 45 - 3600;
    {
        const std::uint8_t* p = data + 1;
        const std::uint8_t* end = data + size;
        std::vector<TextRun> runs;
        std::array<std::size_t, 256> expected{};
        // A run is a text byte and six doubles (49 bytes); a short tail
        // still makes a run, zero-filled.
        while (p < end && runs.size() < 4096) {
            TextRun r;
            const std::uint8_t ch = *p++;
            // Letters only, so that inserted spaces and line breaks are
            // told apart from run texts.
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
        check_page(runs, rotate, expected);
    }
    // The same bytes as a page of upright runs on a grid, four bytes a
    // run (letter, x, y, width and size), so that columns, bands, tables
    // and paragraphs form as on real pages.
    std::vector<TextRun> runs;
    std::array<std::size_t, 256> expected{};
    for (std::size_t i = 1; i + 4 <= size && runs.size() < 4096; i += 4) {
        TextRun r;
        r.text.assign(1, static_cast<char>('a' + data[i] % 26));
        ++expected[static_cast<std::uint8_t>(r.text[0])];
        r.x = 2.0 * data[i + 1] + 36;
        r.y = 756 - 3.0 * data[i + 2];
        r.width = 1.0 + (data[i + 3] >> 2);
        r.font_size = 6.0 + (data[i + 3] & 3) * 2;
        runs.push_back(std::move(r));
    }
    check_page(runs, data[0] % 4 == 0 ? 0 : rotate, expected);
    return 0;
}
