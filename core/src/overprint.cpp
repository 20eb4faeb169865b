#include "overprint.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "bounds.h"
#include "font.h"

namespace vellox_core {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;

// Whether `copy` repeats `original` at almost the same place. The places
// are compared first: runs of one text are mostly far apart along the
// line, and that test alone turns them away. NaN anywhere compares false,
// so a degenerate run is kept.
bool covers(const TextRun& original, const TextRun& copy) {
    const double size = original.font_size;
    const double reach = kOverprintReach * size;
    const double dx = copy.x - original.x;
    const double dy = copy.y - original.y;
    const double along = dx * original.dir_x + dy * original.dir_y;
    if (!(std::fabs(along) < reach)) return false;
    const double across = dy * original.dir_x - dx * original.dir_y;
    if (!(std::fabs(across) < reach) ||
        !(std::fabs(along) < kOverprintOverlap * std::fabs(original.width))) {
        return false;
    }
    if (!(size > 0) || !(std::fabs(copy.font_size - size) <= kOverprintSizeRatio * size)) {
        return false;
    }
    return std::fabs(copy.dir_x - original.dir_x) < 1e-3 &&
           std::fabs(copy.dir_y - original.dir_y) < 1e-3;
}

}  // namespace

void drop_overprinted(std::vector<TextRun>& runs) {
    if (runs.size() < 2 || runs.size() >= kNone) return;
    // An open-addressing table from the hash of a text to the latest kept
    // run with that hash; each kept run links to the one before it with the
    // same hash. Flat arrays, so a page of many runs costs no allocation per
    // distinct text; only the table is filled before use, the kept runs'
    // list grows as they are kept.
    // Each kept run's origin and reach are kept beside its hash: most
    // candidates are far away, and telling so from here spares loading the
    // run itself, which lies anywhere in the page's list.
    struct Kept {
        std::size_t hash;
        std::uint32_t run;
        std::uint32_t previous;  // index into `kept`, or kNone
        double x;
        double y;
        double reach;  // kOverprintReach of the size
    };
    std::size_t slots = 16;
    while (slots < 2 * runs.size()) slots *= 2;
    const std::size_t mask = slots - 1;
    std::vector<std::uint32_t> latest(slots, kNone);  // index into `kept`
    // Written before it is read: no need to fill it.
    const std::unique_ptr<Kept[]> kept = std::make_unique_for_overwrite<Kept[]>(runs.size());
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::string_view text = runs[i].text;
        // Run texts are short, as font names are: their hash in a few
        // steps, in line, costs a fifth of what std::hash does.
        const std::size_t hash = FontNameHash{}(text);
        std::size_t slot = hash & mask;
        while (latest[slot] != kNone && kept[latest[slot]].hash != hash) slot = (slot + 1) & mask;
        // Only the latest few runs of a text are compared: a copy follows
        // its original closely, and a page repeating one word thousands of
        // times must not cost thousands of comparisons per run.
        bool copy = false;
        std::uint32_t candidate = latest[slot];
        for (std::size_t seen = 0; candidate != kNone && seen < limits::kMaxOverprintCandidates;
             ++seen, candidate = kept[candidate].previous) {
            // The places first: runs of one text are mostly far apart, and
            // comparing the texts, which the hashes nearly always say are
            // equal, costs more. An origin that covers lies within the
            // reach both along and across a unit direction, so within
            // 2·reach² squared distance; 4·reach² leaves room for rounding.
            // NaN passes on to covers().
            const Kept& k = kept[candidate];
            const double dx = runs[i].x - k.x;
            const double dy = runs[i].y - k.y;
            if (dx * dx + dy * dy > 4 * k.reach * k.reach) continue;
            const TextRun& original = runs[k.run];
            if (covers(original, runs[i]) && original.text == text) {
                copy = true;
                break;
            }
        }
        if (copy) continue;
        kept[count] = Kept{.hash = hash,
                           .run = static_cast<std::uint32_t>(i),
                           .previous = latest[slot],
                           .x = runs[i].x,
                           .y = runs[i].y,
                           .reach = kOverprintReach * runs[i].font_size};
        latest[slot] = count++;
    }
    if (count == runs.size()) return;
    // The kept runs are listed in order: each moves to its place among them.
    for (std::size_t out = 0; out < count; ++out) {
        if (kept[out].run != out) runs[out] = std::move(runs[kept[out].run]);
    }
    runs.resize(count);
}

}  // namespace vellox_core
