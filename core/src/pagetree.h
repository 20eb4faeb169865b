// The page tree: a flat list of pages with inherited attributes, and the
// assembly of one page's content bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "filter/chain.h"
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
    std::int64_t rotate = 0;       // clockwise quarter turns in degrees: 0, 90, 180 or 270
    std::uint32_t object_num = 0;  // what destinations name it by; 0 when written inline
};

Result<std::vector<Page>> collect_pages(const Resolver& resolver, const Dictionary& catalog);

// The decoded content of one page; an array of streams gets 0x0A after each.
// Each stream is read leniently (Reading::Lenient): a damaged one gives what
// decoded before the damage, and the page goes on with it.
Result<Bytes> page_content(const Resolver& resolver, const Page& page);

// A copy of a stream dictionary whose /Filter or /DecodeParms (or an
// element of either) is an indirect reference, with those followed; nothing
// when all of them are direct. Producers such as the one of
// contrib-issue-1062-filters.pdf write "/Filter 3 0 R", which the filter
// chain alone, having no resolver, would read as no filter at all.
std::optional<Dictionary> direct_filters(const Resolver& resolver, const Dictionary& dict);
// The stream's data through its filter chain, indirect filter entries
// followed, counted against the budget of the resolver's call.
Result<Bytes> decode_stream(const Resolver& resolver, const Stream& stream, Reading reading);

}  // namespace vellox_core
