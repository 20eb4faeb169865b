// The keys a predefined CMap's generated tables hold (its own table and
// the bases under it), for tests that walk every mapping of a CMap.
#pragma once

#include <cstdint>

#include "cidcmap_tables.h"

namespace vellox_test {

// Calls visit(length, key) for every key of table `table` (a kTables index)
// and its bases: a code of 1-4 bytes, or length 0 and a Unicode scalar
// value in the tables of Unicode CMaps. A key a base shares with the table
// above it is visited once per table.
template <class Visit>
void for_each_table_key(std::int16_t table, Visit&& visit) {
    namespace t = vellox_core::cidcmap_tables;
    for (int depth = 0; table >= 0 && depth < t::kMaxChain; ++depth) {
        const t::Table& tab = t::kTables[table];
        for (std::uint32_t s = tab.first; s < tab.first + tab.count; ++s) {
            const t::Segment& seg = t::kSegments[s];
            for (std::uint32_t k = 0; k <= seg.span(); ++k) visit(seg.length(), seg.lo + k);
        }
        table = tab.base;
    }
}

}  // namespace vellox_test
