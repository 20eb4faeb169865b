// Ruled-table detection from a page's line and rectangle paths.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "content.h"
#include "text.h"

namespace vellox_core {

struct Table {
    std::vector<std::vector<std::string>> cells;  // rows × cols
    std::uint64_t rows = 0;
    std::uint64_t cols = 0;
    bool operator==(const Table&) const = default;
};

struct Segments {
    std::vector<double> verticals;    // x of each vertical rule
    std::vector<double> horizontals;  // y of each horizontal rule
};

// Zero or one table.
std::vector<Table> detect_tables(std::span<const Op> ops, const std::vector<TextRun>& runs);
std::vector<double> cluster(std::vector<double> values, bool descending);

}  // namespace vellox_core
