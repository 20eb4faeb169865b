// Line layout: a page's runs ordered top to bottom into lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image.h"
#include "pagetree.h"
#include "tables.h"
#include "text.h"

namespace vellox_core {

struct Line {
    std::string text;
    double x = 0;
    double y = 0;
};

struct PageText {
    std::size_t number = 0;  // 1-based position of the page in the document
    double width = 0;
    double height = 0;
    std::vector<Line> lines;
    bool needs_ocr = false;
    std::vector<Table> tables;
    std::vector<ParsedImage> images;
    // The page's /Rotate: 0, 90, 180 or 270, clockwise, as handed to
    // layout_page.
    std::int64_t rotation = 0;

    // Line texts joined by "\n", no trailing line feed.
    std::string text() const;
};

// `rotation` is the page's /Rotate (Page::rotate), which a viewer applies
// when it shows the page.
PageText layout_page(const std::vector<TextRun>& runs, const Rect& media_box,
                     std::int64_t rotation = 0);

// The runs' indices in reading order: higher on the page first, then left
// to right, equal positions in input order.
std::vector<std::size_t> reading_order(const std::vector<TextRun>& runs);
// The same by a merge sort that stays in bounds whatever the comparisons
// say: what reading_order falls back on when a coordinate is NaN, and the
// reference it is tested against.
std::vector<std::size_t> reading_order_merge(const std::vector<TextRun>& runs);
Line make_line(const std::vector<const TextRun*>& runs);

}  // namespace vellox_core
