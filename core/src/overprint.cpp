#include "overprint.h"

#include <cmath>
#include <cstddef>
#include <string_view>
#include <unordered_map>

#include "bounds.h"

namespace vellox_core {

namespace {

// Whether `copy` repeats `original` at almost the same place. NaN anywhere
// compares false, so a degenerate run is kept.
bool covers(const TextRun& original, const TextRun& copy) {
    const double size = original.font_size;
    if (!(size > 0) || !(std::fabs(copy.font_size - size) <= kOverprintSizeRatio * size)) {
        return false;
    }
    if (!(std::fabs(copy.dir_x - original.dir_x) < 1e-3 &&
          std::fabs(copy.dir_y - original.dir_y) < 1e-3)) {
        return false;
    }
    const double dx = copy.x - original.x;
    const double dy = copy.y - original.y;
    const double along = dx * original.dir_x + dy * original.dir_y;
    const double across = dy * original.dir_x - dx * original.dir_y;
    const double reach = kOverprintReach * size;
    return std::fabs(along) < reach && std::fabs(across) < reach &&
           std::fabs(along) < kOverprintOverlap * std::fabs(original.width);
}

}  // namespace

void drop_overprinted(std::vector<TextRun>& runs) {
    // The runs seen so far by text. Views into the runs' own strings, which
    // do not move until the compaction at the end.
    std::unordered_map<std::string_view, std::vector<std::size_t>> seen;
    std::vector<bool> drop(runs.size(), false);
    bool any = false;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::string_view text = runs[i].text;
        std::vector<std::size_t>& same = seen[text];
        // Only the latest few runs of a text are compared: a copy follows
        // its original closely, and a page repeating one word thousands of
        // times must not cost thousands of comparisons per run.
        const std::size_t first = same.size() > limits::kMaxOverprintCandidates
                                      ? same.size() - limits::kMaxOverprintCandidates
                                      : 0;
        for (std::size_t k = first; k < same.size(); ++k) {
            if (covers(runs[same[k]], runs[i])) {
                drop[i] = true;
                any = true;
                break;
            }
        }
        if (!drop[i]) same.push_back(i);
    }
    if (!any) return;
    std::size_t out = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (drop[i]) continue;
        if (out != i) runs[out] = std::move(runs[i]);
        ++out;
    }
    runs.resize(out);
}

}  // namespace vellox_core
