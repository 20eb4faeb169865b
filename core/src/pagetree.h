// The page tree: a flat list of pages with inherited attributes, and the
// assembly of one page's content bytes.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "object.h"
#include "resolver.h"
#include "result.h"

namespace vellox_core {

using Rect = std::array<double, 4>;  // [x0 y0 x1 y1] in array order
inline constexpr Rect kDefaultMediaBox{0, 0, 612, 792};

struct Page {
    Dictionary dict;       // the leaf's own entries, unresolved
    Dictionary resources;  // effective /Resources, resolved; empty when none
    Rect media_box = kDefaultMediaBox;
    std::int64_t rotate = 0;       // 0..359
    std::uint32_t object_num = 0;  // what destinations name it by; 0 when written inline
};

Result<std::vector<Page>> collect_pages(const Resolver& resolver, const Dictionary& catalog);

// The decoded content of one page; an array of streams gets 0x0A after each.
Result<Bytes> page_content(const Resolver& resolver, const Page& page);

}  // namespace vellox_core
