// The keys a predefined CMap's generated tables hold (its own table and
// the bases under it), for tests that walk every mapping of a CMap.
#pragma once

#include <cstdint>
#include <set>
#include <utility>

#include "cidcmap_tables.h"

namespace vellox_test {

// (length, key) pairs: a code of 1-4 bytes, or length 0 and a Unicode
// scalar value in the tables of Unicode CMaps. `table` is a kTables index.
inline std::set<std::pair<std::uint8_t, std::uint32_t>> table_keys(std::int16_t table) {
    namespace t = vellox_core::cidcmap_tables;
    std::set<std::pair<std::uint8_t, std::uint32_t>> keys;
    for (int depth = 0; table >= 0 && depth < t::kMaxChain; ++depth) {
        const t::Table& tab = t::kTables[table];
        for (std::uint32_t s = tab.first; s < tab.first + tab.count; ++s) {
            const t::Segment& seg = t::kSegments[s];
            for (std::uint32_t k = 0; k <= seg.span(); ++k) keys.insert({seg.length(), seg.lo + k});
        }
        table = tab.base;
    }
    return keys;
}

}  // namespace vellox_test
