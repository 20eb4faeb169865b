// CID-to-Unicode data of Adobe's CJK character collections: the layout of
// collection_tables.cpp, which scripts/gen_cjk_tables.py generates from each
// collection's cid2code.txt. Only collection.cpp (and tests that check the
// data against its source) read it.
#pragma once

#include <cstdint>

namespace vellox_core::collection_tables {

// The value stored for a CID whose character lies outside the Basic
// Multilingual Plane; the character is then in the collection's wide list.
// A surrogate code unit can never be a character of its own.
inline constexpr std::uint16_t kWideMarker = 0xD800;

struct WideEntry {
    std::uint16_t cid;
    std::uint32_t code_point;
};

// `bmp[cid]` for CIDs below `cid_count`: the character, 0 for none, or
// kWideMarker; `wide` is sorted by CID.
struct CollectionData {
    const std::uint16_t* bmp;
    std::uint32_t cid_count;
    const WideEntry* wide;
    std::uint32_t wide_count;
};

// In the order of the Collection enumeration (collection.h).
extern const CollectionData kCollections[5];

}  // namespace vellox_core::collection_tables
