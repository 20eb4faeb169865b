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

// Objects the scan of a damaged file (repair.cpp) may find, and its rebuilt
// table may hold: the bound a table read from the file has, since the
// rebuilt one replaces it. A header costs eight bytes of file ("1 0 obj "),
// so without it a gigabyte of headers would ask for a table a hundred
// times that size.
inline constexpr std::size_t kMaxScannedObjects = kMaxXrefEntries;

// The scan of a damaged file steps over every dictionary that parses, but a
// dictionary that fails to parse can have read to the end of the file (an
// unterminated string) and is read again from the next header. All such
// failures may re-read this many times the file's size, after which the scan
// only records headers. Real damage fails a handful of times; a file of
// nothing but broken headers ("1 0 obj << (" over and over) would otherwise
// cost the square of its size.
inline constexpr std::size_t kMaxScanReparsePasses = 4;

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

}  // namespace vellox_core::limits
