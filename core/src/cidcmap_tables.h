// The predefined CMaps as data: the layout of cidcmap_tables.cpp, which
// scripts/gen_cjk_tables.py generates from Adobe's CMap resources. Only
// cidcmap.cpp (and tests that check the data against its source) read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vellox_core {

// The form of Unicode that the codes of a Unicode CMap (UniJIS-UTF16-H...)
// are in; None for every other CMap.
enum class UnicodeForm : std::uint8_t { None, Ucs2, Utf16, Utf8, Utf32 };

namespace cidcmap_tables {

// How a segment maps its keys. Range: key lo + i maps to CID value + i.
// Array: key lo + i maps to kCidPool[table.pool_first + value + i], where 0
// means "not in this table": ask its base. Unmapped: the keys have no CID
// here even if the base maps them.
enum class SegmentKind : std::uint8_t { Range, Array, Unmapped };

// A stretch of keys lo .. lo + span of one code length, 8 bytes. A key is a
// code (its bytes read big-endian, length 1-4) or, in the tables of Unicode
// CMaps, the Unicode scalar value the code encodes (length 0), so that the
// UTF-8, UTF-16 and UTF-32 forms of a CMap share one table.
struct Segment {
    std::uint32_t lo;
    std::uint16_t bits;   // span << 5 | length << 2 | kind
    std::uint16_t value;  // Range: the CID of lo; Array: offset in the pool

    std::uint32_t span() const { return bits >> 5; }
    std::uint8_t length() const { return (bits >> 2) & 7; }
    SegmentKind kind() const { return static_cast<SegmentKind>(bits & 3); }
};

constexpr std::uint16_t segment_bits(unsigned span, unsigned length, SegmentKind kind) {
    return static_cast<std::uint16_t>(span << 5 | length << 2 | static_cast<unsigned>(kind));
}

// Segments kSegments[first .. first + count), sorted by (length, lo) and
// disjoint; keys found in none of them are looked up in kTables[base]
// (none when base is -1). Chains are at most kMaxChain tables long.
struct Table {
    std::uint32_t first;
    std::uint32_t count;
    std::uint32_t pool_first;
    std::int16_t base;
};

inline constexpr int kMaxChain = 4;

// A code space range: codes of `length` bytes whose every byte lies between
// the bytes of lo and hi at its position.
struct CodespaceEntry {
    std::uint8_t length;
    std::uint8_t lo[4];
    std::uint8_t hi[4];
};

// One predefined CMap. `cids` and `notdefs` index kTables (-1: none); the
// code space is kCodespace[codespace_first .. + codespace_count).
// `collection` is the Collection enumeration's value (collection.h), or 5
// for Adobe-Identity.
struct PredefinedCMap {
    std::string_view name;
    std::int16_t cids;
    std::int16_t notdefs;
    std::uint16_t codespace_first;
    std::uint8_t codespace_count;
    std::uint8_t wmode;
    UnicodeForm form;
    std::uint8_t collection;
    std::uint8_t supplement;
};

inline constexpr std::uint8_t kIdentityCollection = 5;

// Sorted by the bytes of the names.
extern const PredefinedCMap kCMaps[];
extern const std::size_t kCMapCount;
extern const CodespaceEntry kCodespace[];
extern const Table kTables[];
extern const std::size_t kTableCount;
extern const Segment kSegments[];
extern const std::uint16_t kCidPool[];

}  // namespace cidcmap_tables
}  // namespace vellox_core
