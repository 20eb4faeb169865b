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

// Outline (bookmark) items read. The outline is walked with an explicit
// stack and a set of visited objects, so a long /Next chain cannot recurse
// or loop; this caps the list it yields. Books and manuals carry a few
// thousand bookmarks (the largest real outlines, of standards and reference
// manuals with every clause bookmarked, some tens of thousands).
inline constexpr std::size_t kMaxOutlineItems = std::size_t{1} << 16;

// Outline levels read below the top. Real outlines nest three to six levels
// (part, chapter, section...); deeper items are left out with their subtree.
inline constexpr std::uint32_t kMaxOutlineDepth = 64;

// Named destinations kept from the /Dests name tree and dictionary, which
// outline items may point through. LaTeX's hyperref names one per page,
// section, figure and equation: some tens of thousands in a long thesis.
// Each kept name costs its key and a pointer.
inline constexpr std::size_t kMaxNamedDests = std::size_t{1} << 20;

// Levels of /Kids below a name tree's root. Producers write two or three;
// the walk keeps a stack entry per pending node, not a recursion.
inline constexpr std::uint32_t kMaxNameTreeDepth = 64;

// rdf:li items read from one XMP container (dc:creator's authors, dc:title's
// languages). A paper lists at most a few hundred authors; the items are
// joined into one text field.
inline constexpr std::size_t kMaxXmpItems = 1024;

}  // namespace vellox_core::limits
