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

// Highest character code whose width a /W range stores: codes are at most two
// bytes wide, so nothing above 65535 can ever be shown.
inline constexpr std::uint32_t kMaxWidthCode = 65535;

// Cells of the one ruled table a page may yield. The grid is the cross product
// of every distinct rule position on the page: two thousand rectangles, some
// forty kilobytes of content, would otherwise ask for four million cells. Real ruled tables hold hundreds of cells; a page of
// vector art that crosses this bound gives no table rather than a huge one.
inline constexpr std::size_t kMaxTableCells = std::size_t{1} << 16;

}  // namespace vellox_core::limits
