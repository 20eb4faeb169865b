#include "orientation.h"

#include <cmath>
#include <numbers>

namespace vellox_core {

int page_rotation(std::int64_t rotate) {
    const std::int64_t r = ((rotate % 360) + 360) % 360;
    // /Rotate must be a multiple of 90; another value says nothing about how
    // the page is meant to be shown, so the page is taken as it is drawn.
    if (r % 90 != 0) return 0;
    return static_cast<int>(r);
}

Vec2 to_display(Vec2 p, int rotation) {
    switch (rotation) {
        case 90: return {p.y, -p.x};
        case 180: return {-p.x, -p.y};
        case 270: return {-p.y, p.x};
        default: return p;
    }
}

Direction display_direction(double dir_x, double dir_y, int rotation) {
    const Vec2 d = to_display({dir_x, dir_y}, rotation);
    // The axes first, exactly: nearly every run of every page is one of them.
    if (d.y == 0 && d.x > 0) return {{1, 0}, kUprightBin};
    if (d.x == 0 && d.y > 0) return {{0, 1}, kBottomToTopBin};
    if (d.y == 0 && d.x < 0) return {{-1, 0}, kUpsideDownBin};
    if (d.x == 0 && d.y < 0) return {{0, -1}, kTopToBottomBin};
    const double length = std::hypot(d.x, d.y);
    if (!std::isfinite(length) || length == 0) return {};
    double degrees = std::atan2(d.y, d.x) * (180 / std::numbers::pi);
    if (degrees < 0) degrees += 360;
    const int bin = static_cast<int>(std::lround(degrees / 2)) % kDirectionBins;
    switch (bin) {
        case kUprightBin: return {{1, 0}, bin};
        case kBottomToTopBin: return {{0, 1}, bin};
        case kUpsideDownBin: return {{-1, 0}, bin};
        case kTopToBottomBin: return {{0, -1}, bin};
        default: return {{d.x / length, d.y / length}, bin};
    }
}

}  // namespace vellox_core
