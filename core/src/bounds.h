// Every bound the library puts on work driven by file data, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellox_core::limits {

// Nesting of arrays and dictionaries in one object. Real files nest a few
// levels (a font's /W array inside a descendant font dictionary); hundreds of
// levels only come from hostile input, and the parser recurses per level.
inline constexpr std::uint32_t kMaxNesting = 256;

// Output of any single decoder (Flate, LZW, RunLength) and the predictor row
// length. A 1 GiB page content or image is far beyond anything a real
// producer writes, while a few bytes of deflate data can claim terabytes.
inline constexpr std::size_t kMaxDecodedBytes = std::size_t{1} << 30;

// Page-tree nodes below the root: the root is depth 0, leaves may sit at 64.
inline constexpr std::uint32_t kMaxPageTreeDepth = 64;

// Entries one cross-reference section (or the merged chain) may hold. The
// largest real documents have a few million objects; a compressed
// cross-reference stream can otherwise claim one entry per decoded byte, and
// each entry costs far more memory than the byte that described it.
inline constexpr std::size_t kMaxXrefEntries = std::size_t{1} << 24;

// Objects whose resolution may be under way at once. Resolving one object
// can need another (an indirect /Length, the object stream holding it, that
// stream's own /Length...); real files nest two or three deep, while a chain
// of streams whose lengths point at one another would recurse once per link.
inline constexpr std::size_t kMaxResolveNesting = 32;

// Highest character code whose width a /W range stores: codes are at most two
// bytes wide, so nothing above 65535 can ever be shown.
inline constexpr std::uint32_t kMaxWidthCode = 65535;

// Cells of the one ruled table a page may yield. The grid is the cross product
// of every distinct rule position on the page: two thousand rectangles, some
// forty kilobytes of content, would otherwise ask for four million cells. Real ruled tables hold hundreds of cells; a page of
// vector art that crosses this bound gives no table rather than a huge one.
inline constexpr std::size_t kMaxTableCells = std::size_t{1} << 16;

// Objects one page's content may turn into: every operation and every
// operand, the elements of array and dictionary operands included, takes
// one. An object costs 32 to 56 bytes while it may stand for a single byte
// of content ("q " or "/ "), so a decoded content stream of up to
// kMaxDecodedBytes could otherwise need fifty gigabytes; this keeps the
// parsed form of a page near 250 MiB at most. The heaviest page of the test
// corpus (a map in GeoTopo-komprimiert.pdf) holds 29,977 operations with
// 61,823 operands, some 92,000 objects: the bound is 45 times that. Content
// past it is ignored, as after an operand that does not parse.
inline constexpr std::size_t kMaxContentObjects = std::size_t{1} << 22;

// Text runs one page may yield. Each run becomes a record of about a
// hundred bytes, often a line of its own, and then a JSON object or a Python
// dictionary of several hundred bytes: seven bytes of content ("(a) ' ")
// per run would otherwise let one decoded content stream demand tens of
// gigabytes of output. Real pages show a few thousand runs (one per glyph
// in files that place every glyph; 1,058 on the busiest corpus page); text
// past the bound is dropped.
inline constexpr std::size_t kMaxPageRuns = std::size_t{1} << 18;

// Font programs (fontprog). Their counts are 16-bit or 32-bit fields that a
// damaged or hostile program can set to anything; each loop below is bounded
// by the bytes that back it and, where that could still be large, by these.

// Bytes of a Type 1 program searched for its clear-text part. That part
// (the font dictionary up to "eexec", with the encoding array) is a few
// kilobytes in real fonts: 1.6 KB in the Computer Modern subsets of the
// corpus, some 10 KB with a full 256-entry encoding. A stream that is
// not a Type 1 program would otherwise be tokenized in full.
inline constexpr std::size_t kMaxType1ClearText = std::size_t{1} << 20;

// Operands on a CFF DICT's stack before an operator. The CFF format itself
// allows 48; a DICT with more is damaged.
inline constexpr std::size_t kMaxCffDictOperands = 48;

// Records of an sfnt (TrueType, OpenType) table directory that are looked
// at. Real fonts carry 10 to 30 tables; the count is 16-bit.
inline constexpr std::size_t kMaxSfntTables = 256;

// Encoding records of a 'cmap' table looked at. Real fonts list two to
// six subtables; each record read may cost a pass over a 64K-code subtable.
inline constexpr std::size_t kMaxCmapRecords = 64;

// Groups of a format 12 'cmap' subtable kept. A font's groups are fewer
// than its glyphs (at most 65,535) plus the gaps between them; the 32-bit
// count could otherwise ask for millions of 12-byte groups, each sorted
// and each able to claim 2^32 codes (codes are clipped to Unicode and to
// the glyph count, never iterated as claimed).
inline constexpr std::size_t kMaxCmapGroups = std::size_t{1} << 17;

}  // namespace vellox_core::limits
