// Resolving a page request against the page count. Ranges and slices follow
// Python's rules exactly, so that `pages=range(...)` and `pages=slice(...)`
// mean in vellox what they mean on a list of the pages.
#include "page_selection.h"

#include <optional>

namespace vellox_core {

namespace {

using Wide = __int128;

// `index` as a page of a `count`-page document, counting negative ones from
// the end; nothing when there is no such page.
std::optional<std::size_t> page_at(Wide index, Wide count) {
    if (index < 0) index += count;
    if (index < 0 || index >= count) return std::nullopt;
    return static_cast<std::size_t>(index);
}

// Number of values of range(start, stop, step).
Wide range_length(Wide start, Wide stop, Wide step) {
    if (step > 0 && start < stop) return (stop - start - 1) / step + 1;
    if (step < 0 && stop < start) return (start - stop - 1) / -step + 1;
    return 0;
}

// One end of a slice, moved into the list as Python's slice.indices() does.
Wide clamp_slice_end(Wide value, Wide count, bool backwards) {
    if (value < 0) {
        value += count;
        if (value < 0) value = backwards ? -1 : 0;
    } else if (value >= count) {
        value = backwards ? count - 1 : count;
    }
    return value;
}

}  // namespace

std::variant<std::vector<std::size_t>, PageOutOfRange> resolve_pages(const PageSelection& selection,
                                                                     std::size_t count) {
    std::vector<std::size_t> out;
    const Wide n = static_cast<Wide>(count);
    if (selection.all) {
        out.reserve(count);
        for (std::size_t i = 0; i < count; ++i) out.push_back(i);
        return out;
    }
    for (const PageRequest& part : selection.parts) {
        const Wide start = part.start;
        const Wide step = part.step == 0 ? 1 : part.step;
        switch (part.kind) {
            case PageRequest::Kind::Index: {
                const auto page = page_at(start, n);
                if (!page) return PageOutOfRange{part.start, count};
                out.push_back(*page);
                break;
            }
            case PageRequest::Kind::Range: {
                const Wide length = range_length(start, part.stop, step);
                if (length == 0) break;
                // The values are monotonic and the valid ones form one
                // interval, so checking both ends checks them all; the
                // first value that leaves the interval is the one reported.
                if (!page_at(start, n)) return PageOutOfRange{part.start, count};
                if (!page_at(start + (length - 1) * step, n)) {
                    const Wide beyond = step > 0 ? n - start : start + n + 1;
                    const Wide k =
                        (beyond + (step > 0 ? step : -step) - 1) / (step > 0 ? step : -step);
                    return PageOutOfRange{static_cast<std::int64_t>(start + k * step), count};
                }
                // Each value names a distinct page, or one page from each
                // end: at most twice the page count, whatever the range.
                for (Wide k = 0; k < length; ++k) out.push_back(*page_at(start + k * step, n));
                break;
            }
            case PageRequest::Kind::Slice: {
                const bool backwards = step < 0;
                const Wide first = clamp_slice_end(start, n, backwards);
                const Wide stop = clamp_slice_end(part.stop, n, backwards);
                const Wide length = range_length(first, stop, step);
                for (Wide k = 0; k < length; ++k) {
                    out.push_back(static_cast<std::size_t>(first + k * step));
                }
                break;
            }
        }
    }
    return out;
}

}  // namespace vellox_core
