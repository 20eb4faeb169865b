// The pages of a document a caller asks for: single indices, ranges and
// slices, resolved against the page count once the page tree is walked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

namespace vellox_core {

// One part of a request. Indices are 0-based and a negative one counts from
// the end (-1 is the last page), as in a Python sequence:
// - Index: the page `start`;
// - Range: every value of range(start, stop, step), each of which must name a
//   page;
// - Slice: the pages [start:stop:step] selects, clamped to the document as a
//   slice of a list is (so it never names a page that is not there).
struct PageRequest {
    enum class Kind : std::uint8_t { Index, Range, Slice };
    Kind kind = Kind::Index;
    std::int64_t start = 0;
    std::int64_t stop = 0;
    std::int64_t step = 1;  // never 0 for Range and Slice
};

// Every page, or the pages of `parts` in their order.
struct PageSelection {
    bool all = true;
    std::vector<PageRequest> parts;
};

// The first requested index that names no page of a `count`-page document.
struct PageOutOfRange {
    std::int64_t index = 0;
    std::size_t count = 0;
};

// The 0-based page indices `selection` names, in the order asked (a page
// asked twice comes twice), or the first index past the document.
std::variant<std::vector<std::size_t>, PageOutOfRange> resolve_pages(const PageSelection& selection,
                                                                     std::size_t count);

}  // namespace vellox_core
