#include "headings.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "tables.h"

namespace vellox_core {

namespace {

// The code point at `i` of UTF-8 text, moving `i` past it; a byte that does
// not start a well-formed sequence is U+FFFD and moves one byte.
char32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    char32_t cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        n = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 3;
        cp = b0 & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (text.size() - i <= n) {
        ++i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k <= n; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += n + 1;
    return cp;
}

// Letters of any script, roughly: ASCII letters and the code points from
// Latin-1's letters up, except the punctuation, symbol and private-use
// ranges that symbol fonts and mathematics map their glyphs to.
bool is_letter(char32_t cp) {
    if (cp < 0x80) return (cp | 0x20) >= 'a' && (cp | 0x20) <= 'z';
    if (cp < 0xC0 || cp == 0xD7 || cp == 0xF7) return false;
    if (cp >= 0x2000 && cp <= 0x2BFF) return false;  // punctuation, arrows, math, shapes
    if (cp >= 0x3000 && cp <= 0x303F) return false;  // CJK punctuation
    if (cp >= 0xE000 && cp <= 0xF8FF) return false;  // private use
    if (cp >= 0xFE00 && cp <= 0xFE0F) return false;  // variation selectors
    if (cp == 0xFFFD) return false;
    return true;
}

struct TextCounts {
    std::size_t chars = 0;  // code points other than spaces
    std::size_t letters = 0;
    bool lower_start = false;   // the first letter is a lower-case Latin one
    bool bullet_start = false;  // the first character is a list bullet
    bool leaders = false;       // dot leaders
};

// The marks that open an item of a list.
bool is_bullet(char32_t cp) {
    switch (cp) {
        case '-':
        case '*':
        case 0x00B7:  // middle dot
        case 0x2013:  // en dash
        case 0x2022:  // bullet
        case 0x2023:  // triangular bullet
        case 0x2043:  // hyphen bullet
        case 0x2219:  // bullet operator
        case 0x25AA:  // small black square
        case 0x25CF:  // black circle
        case 0x25E6:  // white bullet
        case 0xF0A7:  // Symbol and Wingdings bullets, mapped to private use
        case 0xF0B7:
        case 0xF0D8: return true;
        default: return false;
    }
}

// What count_text counts: only TextCounts::chars (the body size weighs every
// line of the document by it, and needs no more), or everything.
enum class Counting { Chars, All };

// The bytes of `word` that are neither ' ' nor '\t', for eight ASCII bytes
// (none from 0x80 on): each is one character. A byte is zero, xor the
// blank, exactly when adding 0x7F to its low seven bits leaves the top bit
// clear, and that sum never carries into the next byte.
unsigned ascii_non_blanks(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kLow = 0x7F7F7F7F7F7F7F7Fu;
    const auto zero_bytes = [](std::uint64_t x) { return ~(((x & kLow) + kLow) | x) & ~kLow; };
    const std::uint64_t blanks =
        zero_bytes(word ^ (kOnes * ' ')) | zero_bytes(word ^ (kOnes * '\t'));
    return 8 - static_cast<unsigned>(std::popcount(blanks));
}

template <Counting what = Counting::All>
TextCounts count_text(std::string_view text) {
    TextCounts counts;
    std::size_t dots = 0;
    bool space = false;  // one space since the last dot
    for (std::size_t i = 0; i < text.size();) {
        if constexpr (what == Counting::Chars) {
            // Every line of a document is counted: eight ASCII bytes at a
            // time. A word with any other byte takes the loop below, a
            // character at a time.
            if (text.size() - i >= 8) {
                std::uint64_t word = 0;
                std::memcpy(&word, text.data() + i, sizeof word);
                if ((word & 0x8080808080808080u) == 0) {
                    counts.chars += ascii_non_blanks(word);
                    i += 8;
                    continue;
                }
            }
        }
        // ASCII, most text, without the call.
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t cp = byte;
        if (byte < 0x80) {
            ++i;
        } else {
            cp = next_code_point(text, i);
        }
        if (cp == ' ' || cp == '\t' || cp == 0xA0) {
            if (space) dots = 0;
            space = true;
            continue;
        }
        if constexpr (what == Counting::Chars) {
            ++counts.chars;
            continue;
        }
        space = false;
        if (counts.chars == 0) counts.bullet_start = is_bullet(cp);
        if (cp == '.' || cp == 0x2026) {  // U+2026 is three dots
            dots += cp == '.' ? 1 : 3;
            if (dots >= kLeaderDots) counts.leaders = true;
        } else {
            dots = 0;
        }
        ++counts.chars;
        if (is_letter(cp)) {
            if (counts.letters == 0) counts.lower_start = cp >= 'a' && cp <= 'z';
            ++counts.letters;
        }
    }
    return counts;
}

void add_counts(TextCounts& total, const TextCounts& more) {
    if (total.letters == 0) total.lower_start = more.lower_start;
    if (total.chars == 0) total.bullet_start = more.bullet_start;
    total.chars += more.chars;
    total.letters += more.letters;
    total.leaders = total.leaders || more.leaders;
}

bool usable_size(double size) { return size > 0 && size <= kMaxTextSize; }

// A size to a tenth of a unit; only for usable sizes.
std::int64_t size_key(double size) { return std::llround(size * 10); }

bool same_size(double a, double b) { return std::fabs(a - b) <= kSameSizeShare * std::max(a, b); }

// Where a line is across its direction: the extent of its box along the
// normal of the direction that points to the lines before it (up the page
// for upright text).
struct Across {
    double lo = 0;
    double hi = 0;
};

Across across(const Line& line) {
    const double nx = -line.direction.y;
    const double ny = line.direction.x;
    const double corners[4] = {
        line.box.x0 * nx + line.box.y0 * ny, line.box.x0 * nx + line.box.y1 * ny,
        line.box.x1 * nx + line.box.y0 * ny, line.box.x1 * nx + line.box.y1 * ny};
    Across a{corners[0], corners[0]};
    for (const double c : corners) {
        a.lo = std::min(a.lo, c);
        a.hi = std::max(a.hi, c);
    }
    return a;
}

bool same_direction(Vec2 a, Vec2 b) { return a.x * b.x + a.y * b.y > 0.99; }

// Whether two lines start, end or are centred at the same place along their
// direction, within `tolerance`.
bool aligned(const Line& a, const Line& b, double tolerance) {
    auto along = [](const Line& line) {
        const double p0 = line.box.x0 * line.direction.x + line.box.y0 * line.direction.y;
        const double p1 = line.box.x1 * line.direction.x + line.box.y1 * line.direction.y;
        return std::pair{std::min(p0, p1), std::max(p0, p1)};
    };
    const auto [a0, a1] = along(a);
    const auto [b0, b1] = along(b);
    return std::fabs(a0 - b0) <= tolerance || std::fabs(a1 - b1) <= tolerance ||
           std::fabs((a0 + a1) - (b0 + b1)) <= 2 * tolerance;
}

// Whether `next` continues the heading whose last line is `last`: the gap
// between their boxes, across the lines, is that of one heading's lines.
bool continues(const Line& last, const Line& next, double size) {
    const double gap = across(last).lo - across(next).hi;
    if (!(gap >= -kHeadingLineGap * size)) return false;
    if (gap <= kHeadingLineGap * size) return true;
    return gap <= kAlignedHeadingLineGap * size && aligned(last, next, kHeadingAlignment * size);
}

// The lines the ruled table of the page stands for.
bool in_table(const PageText& page, const Line& line) {
    for (const Table& table : page.tables) {
        if (table_covers(table, line.x, line.y)) return true;
    }
    return false;
}

bool valid_block(const PageText& page, const Block& block) {
    return block.begin < block.end && block.end <= page.lines.size();
}

// Consecutive candidate blocks of one page that read as one heading.
struct HeadingUnit {
    std::size_t page = 0;         // index into the pages
    std::size_t first_block = 0;  // of the page's blocks
    std::size_t last_block = 0;
    double size = 0;
    double top = 0;  // across the direction, of the first line
    std::size_t lines = 0;
    TextCounts counts;
    std::string key;  // the text, every run of digits as one '#'
    bool running = false;
};

void append_key(std::string& key, std::string_view text) {
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const char k = digit ? '#' : c;
        if ((k == '#' && digit) || k == ' ') {
            if (!key.empty() && key.back() == k) continue;
        }
        key.push_back(k);
    }
}

// The smallest size among the block's lines when every line is a candidate
// for a heading: set at `threshold` or larger, in the page's main direction,
// not part of a table. Nothing otherwise.
double candidate_size(const PageText& page, const Block& block, double threshold, Vec2 main) {
    if (block.table || !valid_block(page, block)) return 0;
    double size = kMaxTextSize;
    for (std::size_t i = block.begin; i < block.end; ++i) {
        const Line& line = page.lines[i];
        if (!usable_size(line.font_size) || line.font_size < threshold) return 0;
        if (!same_direction(line.direction, main) || in_table(page, line)) return 0;
        size = std::min(size, line.font_size);
    }
    return size;
}

std::vector<HeadingUnit> find_units(const std::vector<PageText>& pages, double threshold) {
    std::vector<HeadingUnit> units;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const PageText& page = pages[p];
        if (page.lines.empty()) continue;
        const Vec2 main = page.lines.front().direction;
        bool open = false;  // units.back() may take the next block
        for (std::size_t b = 0; b < page.blocks.size(); ++b) {
            const Block& block = page.blocks[b];
            const double size = candidate_size(page, block, threshold, main);
            if (size == 0) {
                open = false;
                continue;
            }
            const Line& first = page.lines[block.begin];
            if (open) {
                HeadingUnit& unit = units.back();
                const Block& prev = page.blocks[unit.last_block];
                const double smaller = std::min(unit.size, size);
                if (prev.end == block.begin && same_size(unit.size, size) &&
                    continues(page.lines[prev.end - 1], first, smaller)) {
                    unit.last_block = b;
                    unit.size = std::min(unit.size, size);
                    for (std::size_t i = block.begin; i < block.end; ++i) {
                        add_counts(unit.counts, count_text(page.lines[i].text));
                        unit.key.push_back(' ');
                        append_key(unit.key, page.lines[i].text);
                    }
                    unit.lines += block.end - block.begin;
                    continue;
                }
            }
            HeadingUnit unit;
            unit.page = p;
            unit.first_block = unit.last_block = b;
            unit.size = size;
            unit.top = across(first).hi;
            unit.lines = block.end - block.begin;
            for (std::size_t i = block.begin; i < block.end; ++i) {
                add_counts(unit.counts, count_text(page.lines[i].text));
                if (i != block.begin) unit.key.push_back(' ');
                append_key(unit.key, page.lines[i].text);
            }
            units.push_back(std::move(unit));
            open = true;
        }
    }
    return units;
}

// Marks the units whose text comes back at the same place on another page.
// Within one text, sorted by position, a unit's nearest neighbour from
// another page is either the unit just before it or the last one before
// that from a different page than it: one pass each way finds it.
void mark_running(std::vector<HeadingUnit>& units, const std::vector<PageText>& pages) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (std::isfinite(units[i].top)) order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (units[a].key != units[b].key) return units[a].key < units[b].key;
        return units[a].top < units[b].top;
    });
    auto number = [&](std::size_t u) { return pages[units[u].page].number; };
    auto near = [&](std::size_t a, std::size_t b) {
        return units[a].key == units[b].key && number(a) != number(b) &&
               std::fabs(units[a].top - units[b].top) <=
                   kRunningShift * std::min(units[a].size, units[b].size);
    };
    auto sweep = [&](auto begin, auto end) {
        const std::size_t none = units.size();
        std::size_t last = none;   // the unit just before
        std::size_t other = none;  // the last one before from another page than `last`
        for (auto it = begin; it != end; ++it) {
            const std::size_t u = *it;
            if (last != none && units[last].key != units[u].key) last = other = none;
            const std::size_t candidate =
                last == none ? none : (number(last) != number(u) ? last : other);
            if (candidate != none && near(u, candidate)) {
                units[u].running = true;
                units[candidate].running = true;
            }
            if (last != none && number(last) != number(u)) other = last;
            last = u;
        }
    };
    sweep(order.begin(), order.end());
    sweep(order.rbegin(), order.rend());
}

}  // namespace

double body_font_size(const std::vector<PageText>& pages) {
    std::vector<std::pair<std::int64_t, std::size_t>> weights;  // size key, characters
    for (const PageText& page : pages) {
        for (const Block& block : page.blocks) {
            if (block.table || !valid_block(page, block)) continue;
            for (std::size_t i = block.begin; i < block.end; ++i) {
                const Line& line = page.lines[i];
                if (!usable_size(line.font_size) || in_table(page, line)) continue;
                const std::size_t chars = count_text<Counting::Chars>(line.text).chars;
                if (chars != 0) weights.emplace_back(size_key(line.font_size), chars);
            }
        }
    }
    std::sort(weights.begin(), weights.end());
    std::int64_t best = 0;
    std::size_t best_weight = 0;
    for (std::size_t i = 0; i < weights.size();) {
        std::size_t weight = 0;
        std::size_t j = i;
        for (; j < weights.size() && weights[j].first == weights[i].first; ++j) {
            weight += weights[j].second;
        }
        // Ties go to the smaller size, which comes first.
        if (weight > best_weight) {
            best = weights[i].first;
            best_weight = weight;
        }
        i = j;
    }
    return static_cast<double>(best) / 10;
}

void mark_headings(std::vector<PageText>& pages) {
    for (PageText& page : pages) {
        if (!page.blocks.empty() || page.lines.empty()) continue;
        page.blocks.reserve(page.lines.size());
        for (std::size_t i = 0; i < page.lines.size(); ++i) page.blocks.push_back({i, i + 1});
    }
    const double body = body_font_size(pages);
    if (body <= 0) return;
    // The threshold a little below the ratio, so that a size rounded down to
    // its tenth still reaches it.
    std::vector<HeadingUnit> units = find_units(pages, body * kHeadingSizeRatio - 0.05);

    // Running headers need two pages to run over (a page asked for twice
    // is still one page).
    const bool several = std::any_of(pages.begin(), pages.end(), [&](const PageText& page) {
        return page.number != pages.front().number;
    });
    if (several) mark_running(units, pages);

    std::vector<double> sizes;
    auto kept = [](const HeadingUnit& u) {
        return !u.running && u.lines <= kMaxHeadingLines && u.counts.chars <= kMaxHeadingChars &&
               u.counts.letters >= kMinHeadingLetters && !u.counts.lower_start &&
               !u.counts.bullet_start && !u.counts.leaders;
    };
    for (const HeadingUnit& unit : units) {
        if (kept(unit)) sizes.push_back(unit.size);
    }
    std::sort(sizes.begin(), sizes.end(), std::greater<>());
    // The first size of each level: a size starts a new level when it is no
    // longer the same size as the level's first.
    std::vector<double> levels;
    for (const double size : sizes) {
        if (levels.empty() || !same_size(levels.back(), size)) levels.push_back(size);
        if (levels.size() == static_cast<std::size_t>(kHeadingLevels)) break;
    }
    auto level_of = [&](double size) {
        for (std::size_t l = 0; l < levels.size(); ++l) {
            if (same_size(levels[l], size) || size > levels[l]) return static_cast<int>(l) + 1;
        }
        return kHeadingLevels;
    };

    // Each kept unit becomes one block; units come in page and block order.
    std::size_t u = 0;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        PageText& page = pages[p];
        if (u == units.size() || units[u].page != p) continue;
        std::vector<Block> blocks;
        blocks.reserve(page.blocks.size());
        for (std::size_t b = 0; b < page.blocks.size(); ++b) {
            if (u < units.size() && units[u].page == p && units[u].first_block == b) {
                const HeadingUnit& unit = units[u++];
                if (kept(unit)) {
                    Block merged = page.blocks[b];
                    merged.end = page.blocks[unit.last_block].end;
                    merged.heading = level_of(unit.size);
                    blocks.push_back(merged);
                    b = unit.last_block;
                    continue;
                }
            }
            blocks.push_back(page.blocks[b]);
        }
        page.blocks = std::move(blocks);
    }
}

}  // namespace vellox_core
