#include "spacing.h"

#include <algorithm>
#include <cmath>

namespace vellox_core {

namespace {

// gap_is_space, in line in append_run_text, which layout calls for nearly
// every run.
inline bool space_between(const TextRun& before, const TextRun& after) {
    // The direction as layout reads it (display_direction): a unit vector,
    // and left to right when it has no length or is not finite.
    double dx = before.dir_x;
    double dy = before.dir_y;
    if (dx != 1 || dy != 0) {
        const double length = std::hypot(dx, dy);
        if (std::isfinite(length) && length > 0) {
            dx /= length;
            dy /= length;
        } else {
            dx = 1;
            dy = 0;
        }
    }
    const double end_x = before.x + before.width * dx;
    const double end_y = before.y + before.width * dy;
    const double gap = (after.x - end_x) * dx + (after.y - end_y) * dy;
    // std::max keeps its first argument when the second is NaN, so a NaN
    // size is passed over; fabs takes a size from a mirrored matrix.
    const double size =
        std::max(std::max(kMinSpaceSize, std::fabs(before.font_size)), std::fabs(after.font_size));
    return gap > kSpaceGap * size;
}

}  // namespace

bool gap_is_space(const TextRun& before, const TextRun& after) {
    return space_between(before, after);
}

void append_run_text(std::string& text, const TextRun& before, const TextRun& after) {
    // The spaces first: they are cheaper to look at than the gap.
    if ((text.empty() || text.back() != ' ') && (after.text.empty() || after.text.front() != ' ') &&
        space_between(before, after)) {
        text.push_back(' ');
    }
    text += after.text;
}

}  // namespace vellox_core
