// Line layout: a page's runs ordered top to bottom into lines.
#pragma once

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
    double width = 0;
    double height = 0;
    std::vector<Line> lines;
    bool needs_ocr = false;
    std::vector<Table> tables;
    std::vector<ParsedImage> images;

    // Line texts joined by "\n", no trailing line feed.
    std::string text() const;
};

PageText layout_page(const std::vector<TextRun>& runs, const Rect& media_box);
Line make_line(const std::vector<const TextRun*>& runs);

}  // namespace vellox_core
