// TrueType and OpenType programs (/FontFile2, /FontFile3 /Subtype
// /OpenType): the table directory, 'maxp' for the glyph count, the 'cmap'
// subtables, the 'post' glyph names, and the 'CFF ' table when the outlines
// are CFF.
//
// Format notes. An sfnt starts with a version (0x00010000 or "true" for
// TrueType outlines, "OTTO" for CFF) and a table count; 16-byte records
// follow, each a tag, a checksum, an offset and a length. PDF producers
// subset these fonts and some leave a last table's length running past the
// end of the stream, so a table is cut at the end of the buffer rather than
// dropped.
//
// 'cmap' lists (platform, encoding, offset) records; the subtables read
// are those a PDF reader uses: (3,0) Windows Symbol, (3,1) Windows BMP,
// (3,10) Windows full Unicode, (1,0) Macintosh Roman and (0,*) Unicode, in
// formats 0 (256 bytes), 4 (segments of 16-bit codes, by delta or through
// an array), 6 (a trimmed array) and 12 (groups of 32-bit codes).
// Format 2 (mixed one- and two-byte codes) only ever appears with CJK
// encodings that are not read.
//
// 'post' names glyphs: format 1 by the 258 standard Macintosh names,
// format 2 by an index per glyph into those names and Pascal strings that
// follow, format 2.5 by a signed offset per glyph into the standard names;
// format 3 has no names.
#include <algorithm>
#include <vector>

#include "bounds.h"
#include "fontprog.h"
#include "fontprog/bytes.h"
#include "fontprog/tables.h"
#include "utf8.h"

namespace vellox_core {

namespace {

using fontprog::add;
using fontprog::BigEndian;

constexpr std::uint32_t tag(const char (&t)[5]) {
    return (static_cast<std::uint32_t>(static_cast<std::uint8_t>(t[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(t[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(t[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(t[3]));
}

// Glyph ids in TrueType are 16-bit: a 'cmap' can name no glyph past this.
constexpr std::uint32_t kGlyphIdLimit = 0x10000;

struct Directory {
    BigEndian in;
    std::uint32_t tables = 0;

    // The first table with tag `t`, cut at the end of the buffer; empty when
    // absent.
    ByteView table(std::uint32_t t) const {
        for (std::uint32_t i = 0; i < tables; ++i) {
            const std::uint64_t record = 12 + 16 * std::uint64_t{i};
            const auto record_tag = in.u32(record);
            const auto offset = in.u32(record + 8);
            const auto length = in.u32(record + 12);
            if (!record_tag || !offset || !length) return {};
            if (*record_tag == t) return in.slice(*offset, *length);
        }
        return {};
    }
};

std::optional<Directory> read_directory(ByteView bytes) {
    const BigEndian in{bytes};
    const auto version = in.u32(0);
    const auto tables = in.u16(4);
    if (!version || !tables) return std::nullopt;
    if (*version != 0x00010000 && *version != tag("true") && *version != tag("OTTO")) {
        return std::nullopt;
    }
    return Directory{in, std::min<std::uint32_t>(*tables, limits::kMaxSfntTables)};
}

// Appends code -> glyph, extending the last run when it continues it.
void append(std::vector<CmapRange>& ranges, std::uint32_t code, std::uint32_t glyph) {
    if (!ranges.empty()) {
        CmapRange& last = ranges.back();
        if (code == last.last + 1 && glyph == last.glyph + (last.last - last.first) + 1) {
            last.last = code;
            return;
        }
    }
    ranges.push_back({code, code, glyph});
}

// Formats 0 and 6: a glyph id per code from a first code.
void read_array(const BigEndian& in, std::uint64_t at, std::uint32_t first, std::uint32_t count,
                unsigned width, std::uint32_t glyph_limit, CmapSubtable& out) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto glyph = in.uint(at + std::uint64_t{i} * width, width);
        if (!glyph) return;
        if (*glyph != 0 && *glyph < glyph_limit) append(out.ranges, first + i, *glyph);
    }
}

// Format 4: segments [start, end] of 16-bit codes, each mapped by adding a
// delta, or (idRangeOffset non-zero) through the glyph array at an offset
// counted from the idRangeOffset entry itself. Segments must ascend; one
// that overlaps the segment before it is cut to the codes after it, so
// that the whole subtable costs at most one step per 16-bit code.
void read_format4(const BigEndian& in, std::uint64_t at, std::uint32_t glyph_limit,
                  CmapSubtable& out) {
    const auto seg_x2 = in.u16(at + 6);
    if (!seg_x2) return;
    const std::uint32_t segments = *seg_x2 / 2;
    const std::uint64_t ends = at + 14;
    const std::uint64_t starts = ends + 2 * std::uint64_t{segments} + 2;
    const std::uint64_t deltas = starts + 2 * std::uint64_t{segments};
    const std::uint64_t range_offsets = deltas + 2 * std::uint64_t{segments};
    std::int64_t previous_end = -1;
    for (std::uint32_t s = 0; s < segments; ++s) {
        const auto end = in.u16(ends + 2 * s);
        const auto start = in.u16(starts + 2 * s);
        const auto delta = in.u16(deltas + 2 * s);
        const auto range_offset = in.u16(range_offsets + 2 * s);
        if (!end || !start || !delta || !range_offset) return;
        const std::uint32_t from = std::max<std::int64_t>(*start, previous_end + 1);
        for (std::uint32_t code = from; code <= *end; ++code) {
            std::uint32_t glyph = 0;
            if (*range_offset == 0) {
                glyph = (code + *delta) & 0xFFFF;
            } else {
                const std::uint64_t entry =
                    range_offsets + 2 * std::uint64_t{s} + *range_offset + 2 * (code - *start);
                const auto raw = in.u16(entry);
                if (raw && *raw != 0) glyph = (*raw + *delta) & 0xFFFF;
            }
            if (glyph != 0 && glyph < glyph_limit) append(out.ranges, code, glyph);
        }
        previous_end = std::max<std::int64_t>(previous_end, *end);
    }
}

// Format 12: groups of codes mapped to consecutive glyphs. A group may
// claim any 32-bit range; codes are cut to Unicode's and glyphs to the
// glyph limit, and overlapping groups to the codes not yet covered, so the
// runs stay disjoint and no range is ever walked.
void read_format12(const BigEndian& in, std::uint64_t at, std::uint32_t glyph_limit,
                   CmapSubtable& out) {
    const auto groups = in.u32(at + 12);
    if (!groups) return;
    std::vector<CmapRange> runs;
    for (std::uint32_t g = 0; g < *groups && runs.size() < limits::kMaxCmapGroups; ++g) {
        const std::uint64_t record = at + 16 + 12 * std::uint64_t{g};
        const auto first = in.u32(record);
        const auto last = in.u32(record + 4);
        const auto glyph = in.u32(record + 8);
        if (!first || !last || !glyph) break;
        if (*first > *last || *first > 0x10FFFF || *glyph >= glyph_limit) continue;
        std::uint32_t end = std::min<std::uint32_t>(*last, 0x10FFFF);
        end = std::min<std::uint64_t>(end, std::uint64_t{*first} + (glyph_limit - 1 - *glyph));
        runs.push_back({*first, end, *glyph});
    }
    std::stable_sort(runs.begin(), runs.end(),
                     [](const CmapRange& a, const CmapRange& b) { return a.first < b.first; });
    for (CmapRange run : runs) {
        if (!out.ranges.empty() && run.first <= out.ranges.back().last) {
            const std::uint32_t skip = out.ranges.back().last + 1 - run.first;
            if (run.last < out.ranges.back().last + 1) continue;
            run.first += skip;
            run.glyph += skip;
        }
        if (run.glyph == 0) {  // glyph 0 is "missing": drop that one code
            if (run.first == run.last) continue;
            ++run.first;
            ++run.glyph;
        }
        out.ranges.push_back(run);
    }
}

bool wanted(std::uint32_t platform, std::uint32_t encoding) {
    return platform == 0 || (platform == 3 && (encoding == 0 || encoding == 1 || encoding == 10)) ||
           (platform == 1 && encoding == 0);
}

void read_cmap(ByteView table, std::uint32_t glyph_limit, FontProgram& program) {
    const BigEndian in{table};
    const auto records = in.u16(2);
    if (!records) return;
    const std::uint32_t count = std::min<std::uint32_t>(*records, limits::kMaxCmapRecords);
    for (std::uint32_t r = 0; r < count; ++r) {
        const auto platform = in.u16(4 + 8 * r);
        const auto encoding = in.u16(6 + 8 * r);
        const auto offset = in.u32(8 + 8 * r);
        if (!platform || !encoding || !offset) return;
        if (!wanted(*platform, *encoding) || program.cmap(*platform, *encoding) != nullptr)
            continue;
        const auto format = in.u16(*offset);
        if (!format) continue;
        CmapSubtable sub;
        sub.platform = static_cast<std::uint16_t>(*platform);
        sub.encoding = static_cast<std::uint16_t>(*encoding);
        sub.format = static_cast<std::uint16_t>(*format);
        switch (*format) {
            case 0: read_array(in, *offset + 6, 0, 256, 1, glyph_limit, sub); break;
            case 4: read_format4(in, *offset, glyph_limit, sub); break;
            case 6: {
                const auto first = in.u16(*offset + 6);
                const auto entries = in.u16(*offset + 8);
                if (first && entries)
                    read_array(in, *offset + 10, *first, *entries, 2, glyph_limit, sub);
                break;
            }
            case 12: read_format12(in, *offset, glyph_limit, sub); break;
            default: continue;
        }
        program.cmaps.push_back(std::move(sub));
    }
}

// glyph_unicode from the preferred Unicode subtable: each glyph gets the
// lowest code point that selects it (the runs ascend, so the first seen).
// The runs are disjoint and cut to Unicode, so this is at most one step
// per code point.
void reverse_unicode(FontProgram& program) {
    const CmapSubtable* sub = unicode_subtable(program);
    if (sub == nullptr) return;
    auto& out = program.glyph_unicode;
    for (const CmapRange& run : sub->ranges) {
        for (std::uint64_t code = run.first; code <= run.last; ++code) {
            const std::uint64_t glyph = run.glyph + (code - run.first);
            if (code == 0 || !is_scalar_value(static_cast<std::uint32_t>(code))) continue;
            if (glyph >= out.size()) out.resize(glyph + 1, 0);
            if (out[glyph] == 0) out[glyph] = static_cast<std::uint32_t>(code);
        }
    }
}

void read_post(ByteView table, std::uint32_t glyph_count, FontProgram& program) {
    const BigEndian in{table};
    const auto version = in.u32(0);
    if (!version) return;
    const auto mac = fontprog::mac_glyph_names();
    auto& names = program.glyph_names;
    if (*version == 0x00010000) {
        for (std::uint32_t g = 0; g < mac.size() && g < glyph_count; ++g)
            names.emplace_back(mac[g]);
    } else if (*version == 0x00020000) {
        const auto claimed = in.u16(32);
        if (!claimed) return;
        // A count past 'maxp's is taken as damaged and cut to it.
        const std::uint32_t n = std::min(*claimed, glyph_count);
        if (!in.has(34, 2 * std::uint64_t{n})) return;
        // The Pascal strings after the index array, located once.
        std::vector<ByteView> extra;
        std::uint32_t max_index = 0;
        for (std::uint32_t g = 0; g < n; ++g) max_index = std::max(max_index, *in.u16(34 + 2 * g));
        std::uint64_t at = 34 + 2 * std::uint64_t{*claimed};
        while (extra.size() + mac.size() <= max_index) {
            const auto length = in.u8(at);
            if (!length || !in.has(at + 1, *length)) break;
            extra.push_back(in.data.subspan(at + 1, *length));
            at += 1 + *length;
        }
        names.reserve(n);
        for (std::uint32_t g = 0; g < n; ++g) {
            const std::uint32_t index = *in.u16(34 + 2 * g);
            if (index < mac.size()) {
                names.emplace_back(mac[index]);
            } else if (index - mac.size() < extra.size()) {
                names.emplace_back(as_text(extra[index - mac.size()]));
            } else {
                names.emplace_back();
            }
        }
    } else if (*version == 0x00025000) {
        const auto claimed = in.u16(32);
        if (!claimed) return;
        const std::uint32_t n = std::min(*claimed, glyph_count);
        for (std::uint32_t g = 0; g < n; ++g) {
            const auto offset = in.u8(34 + g);
            if (!offset) break;
            const std::int64_t index = std::int64_t{g} + static_cast<std::int8_t>(*offset);
            if (index >= 0 && index < static_cast<std::int64_t>(mac.size())) {
                names.emplace_back(mac[static_cast<std::size_t>(index)]);
            } else {
                names.emplace_back();
            }
        }
    }
}

}  // namespace

std::uint32_t CmapSubtable::glyph(std::uint32_t code) const {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), code,
                               [](std::uint32_t c, const CmapRange& r) { return c < r.first; });
    if (it == ranges.begin()) return 0;
    --it;
    return code <= it->last ? it->glyph + (code - it->first) : 0;
}

const CmapSubtable* FontProgram::cmap(std::uint16_t platform, std::uint16_t encoding) const {
    for (const CmapSubtable& sub : cmaps) {
        if (sub.platform == platform && sub.encoding == encoding) return &sub;
    }
    return nullptr;
}

const CmapSubtable* unicode_subtable(const FontProgram& program) {
    const std::pair<std::uint16_t, std::uint16_t> order[] = {{3, 10}, {0, 6}, {0, 4}, {3, 1}};
    for (const auto& [platform, encoding] : order) {
        if (const CmapSubtable* sub = program.cmap(platform, encoding)) return sub;
    }
    for (const CmapSubtable& sub : program.cmaps) {
        if (sub.platform == 0) return &sub;
    }
    return nullptr;
}

std::optional<FontProgram> read_sfnt_program(ByteView bytes) {
    const auto dir = read_directory(bytes);
    if (!dir) return std::nullopt;
    FontProgram program;
    program.format = FontProgramFormat::TrueType;
    const ByteView cff = dir->table(tag("CFF "));
    if (!cff.empty()) {
        if (auto read = read_cff_program(cff)) program = std::move(*read);
        program.format = FontProgramFormat::OpenTypeCff;
    }
    const BigEndian maxp{dir->table(tag("maxp"))};
    if (const auto glyphs = maxp.u16(4)) program.glyph_count = *glyphs;
    // Without 'maxp' any 16-bit glyph id may exist.
    const std::uint32_t glyph_limit = maxp.u16(4) ? program.glyph_count : kGlyphIdLimit;
    read_cmap(dir->table(tag("cmap")), glyph_limit, program);
    reverse_unicode(program);
    if (program.glyph_names.empty()) read_post(dir->table(tag("post")), glyph_limit, program);
    return program;
}

}  // namespace vellox_core
