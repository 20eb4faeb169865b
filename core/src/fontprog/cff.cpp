// CFF font programs (/FontFile3 /Subtype /Type1C or /CIDFontType0C, and
// the 'CFF ' table of OpenType): glyph names or CIDs from the charset, and
// the built-in encoding.
//
// Format notes. A CFF font set starts with a header (major version 1,
// header size), then four INDEXes in a row: Name, Top DICT, String and
// Global Subrs. An INDEX is a 16-bit count, an offset size (1 to 4 bytes)
// and count + 1 offsets, 1-based from the byte before the data. A DICT is
// a sequence of operands (integers in five encodings, reals as nibbles)
// each run ended by an operator (one byte, or 12 and a second byte); it has
// no nesting, so nothing here recurses. The Top DICT gives the offsets of
// the charset (15; 0, 1, 2 name the predefined ISOAdobe, Expert and
// ExpertSubset charsets), the encoding (16; 0 and 1 the predefined Standard
// and Expert encodings) and the CharStrings INDEX (17), whose count is the
// number of glyphs. A CID-keyed font has ROS (12 30) first; its charset
// maps glyph ids to CIDs instead of string ids, and it has no encoding.
//
// Strings are named by string ids (SIDs): 0 to 390 are the standard
// strings (tables.cpp), the rest index the String INDEX.
//
// A PDF embeds one font per CFF program; when the Name INDEX lists more,
// the first is read.
#include <algorithm>
#include <vector>

#include "bounds.h"
#include "fontprog.h"
#include "fontprog/bytes.h"
#include "fontprog/tables.h"

namespace vellox_core {

namespace {

using fontprog::add;
using fontprog::BigEndian;

// An INDEX located in the buffer; its elements are checked when taken.
struct Index {
    std::uint32_t count = 0;
    std::uint32_t off_size = 0;
    std::uint64_t offsets = 0;  // position of the offset array
    std::uint64_t base = 0;     // position of the byte before the data
    std::uint64_t end = 0;      // first byte after the INDEX
};

std::optional<Index> read_index(const BigEndian& in, std::uint64_t at) {
    const auto count = in.u16(at);
    if (!count) return std::nullopt;
    Index index;
    index.count = *count;
    if (*count == 0) {
        index.end = at + 2;
        return index;
    }
    const auto off_size = in.u8(at + 2);
    if (!off_size || *off_size < 1 || *off_size > 4) return std::nullopt;
    index.off_size = *off_size;
    index.offsets = at + 3;
    // count + 1 offsets of off_size bytes: at most 65536 * 4, no overflow.
    const std::uint64_t table = (std::uint64_t{*count} + 1) * *off_size;
    if (!in.has(index.offsets, table)) return std::nullopt;
    index.base = index.offsets + table - 1;
    const auto last = in.uint(index.offsets + std::uint64_t{*count} * *off_size, *off_size);
    const auto end = last ? add(index.base, *last) : std::nullopt;
    if (!end || !in.has(0, *end)) return std::nullopt;
    index.end = *end;
    return index;
}

// Element i of an INDEX; nothing when its offsets are out of order or
// point outside the buffer.
std::optional<ByteView> element(const BigEndian& in, const Index& index, std::uint32_t i) {
    if (i >= index.count) return std::nullopt;
    const auto from = in.uint(index.offsets + std::uint64_t{i} * index.off_size, index.off_size);
    const auto to =
        in.uint(index.offsets + (std::uint64_t{i} + 1) * index.off_size, index.off_size);
    if (!from || !to || *from < 1 || *from > *to) return std::nullopt;
    if (!in.has(index.base + *from, *to - *from)) return std::nullopt;
    return in.data.subspan(index.base + *from, *to - *from);
}

// What the Top DICT says that matters here.
struct TopDict {
    std::int64_t charset = 0;
    std::int64_t encoding = 0;
    std::optional<std::int64_t> charstrings;
    bool cid_keyed = false;
    std::int64_t registry = 0;  // SIDs
    std::int64_t ordering = 0;
    std::int64_t supplement = 0;
};

// The operators are keyed as the byte, or 1200 + the second byte after 12.
constexpr int kCharset = 15;
constexpr int kEncoding = 16;
constexpr int kCharStrings = 17;
constexpr int kRos = 1230;

std::optional<TopDict> read_top_dict(ByteView dict) {
    TopDict top;
    // Operands of the operator being read; reals count as 0, since no
    // operator read here takes one.
    std::int64_t operands[limits::kMaxCffDictOperands] = {};
    std::size_t n = 0;
    std::size_t i = 0;
    const auto push = [&](std::int64_t v) {
        if (n == limits::kMaxCffDictOperands) return false;
        operands[n++] = v;
        return true;
    };
    while (i < dict.size()) {
        const std::uint8_t b0 = dict[i];
        if (b0 <= 21) {
            int op = b0;
            ++i;
            if (b0 == 12) {
                if (i >= dict.size()) return std::nullopt;
                op = 1200 + dict[i++];
            }
            switch (op) {
                case kCharset:
                    if (n >= 1) top.charset = operands[n - 1];
                    break;
                case kEncoding:
                    if (n >= 1) top.encoding = operands[n - 1];
                    break;
                case kCharStrings:
                    if (n >= 1) top.charstrings = operands[n - 1];
                    break;
                case kRos:
                    if (n >= 3) {
                        top.cid_keyed = true;
                        top.registry = operands[n - 3];
                        top.ordering = operands[n - 2];
                        top.supplement = operands[n - 1];
                    }
                    break;
                default: break;
            }
            n = 0;
        } else if (b0 == 28 || b0 == 29) {
            const std::size_t width = b0 == 28 ? 2 : 4;
            if (dict.size() - i - 1 < width) return std::nullopt;
            std::uint32_t v = 0;
            for (std::size_t k = 0; k < width; ++k) v = (v << 8) | dict[i + 1 + k];
            const std::int64_t value =
                b0 == 28 ? static_cast<std::int16_t>(v) : static_cast<std::int32_t>(v);
            if (!push(value)) return std::nullopt;
            i += 1 + width;
        } else if (b0 == 30) {
            // A real: nibbles up to the nibble 0xF.
            ++i;
            while (i < dict.size() && (dict[i] & 0x0F) != 0x0F && (dict[i] >> 4) != 0x0F) ++i;
            if (i == dict.size()) return std::nullopt;
            ++i;
            if (!push(0)) return std::nullopt;
        } else if (b0 >= 32 && b0 <= 246) {
            if (!push(b0 - 139)) return std::nullopt;
            ++i;
        } else if (b0 >= 247 && b0 <= 254) {
            if (i + 1 >= dict.size()) return std::nullopt;
            const std::int64_t w = (b0 - (b0 <= 250 ? 247 : 251)) * 256 + dict[i + 1] + 108;
            if (!push(b0 <= 250 ? w : -w)) return std::nullopt;
            i += 2;
        } else {
            return std::nullopt;  // 22..27, 31 and 255 are reserved
        }
    }
    return top;
}

struct Strings {
    const BigEndian& in;
    const Index& index;

    // The string of a SID; empty when there is none.
    std::string get(std::int64_t sid) const {
        const auto standard = fontprog::cff_standard_strings();
        if (sid < 0) return {};
        if (static_cast<std::uint64_t>(sid) < standard.size()) {
            return std::string(standard[static_cast<std::size_t>(sid)]);
        }
        const std::uint64_t i = static_cast<std::uint64_t>(sid) - standard.size();
        if (i >= index.count) return {};
        const auto bytes = element(in, index, static_cast<std::uint32_t>(i));
        return bytes ? std::string(as_text(*bytes)) : std::string();
    }
};

// The charset: the SID (or, CID-keyed, the CID) of each glyph id, glyph 0
// being .notdef (id 0). Stops early where the charset data runs out or a
// predefined charset has no more names.
std::vector<std::uint32_t> read_charset(const BigEndian& in, const TopDict& top,
                                        std::uint32_t glyphs) {
    std::vector<std::uint32_t> ids{0};
    const auto predefined = [&](std::span<const std::uint16_t> sids) {
        for (std::uint32_t g = 1; g < glyphs && g - 1 < sids.size(); ++g)
            ids.push_back(sids[g - 1]);
    };
    if (!top.cid_keyed && top.charset >= 0 && top.charset <= 2) {
        if (top.charset == 0) {
            // ISOAdobe: glyph i is SID i, up to 228.
            for (std::uint32_t g = 1; g < glyphs && g <= 228; ++g) ids.push_back(g);
        } else {
            predefined(top.charset == 1 ? fontprog::expert_charset_sids()
                                        : fontprog::expert_subset_charset_sids());
        }
        return ids;
    }
    if (top.charset < 0) return ids;
    std::uint64_t at = static_cast<std::uint64_t>(top.charset);
    const auto format = in.u8(at++);
    if (!format) return ids;
    while (ids.size() < glyphs) {
        if (*format == 0) {
            const auto id = in.u16(at);
            if (!id) break;
            ids.push_back(*id);
            at += 2;
        } else if (*format == 1 || *format == 2) {
            // Ranges: a first id, then how many more follow it (one or two bytes).
            const auto first = in.u16(at);
            const auto left = in.uint(at + 2, *format == 1 ? 1 : 2);
            if (!first || !left) break;
            at += *format == 1 ? 3 : 4;
            for (std::uint32_t k = 0; k <= *left && ids.size() < glyphs; ++k)
                ids.push_back(*first + k);
        } else {
            break;
        }
    }
    return ids;
}

void predefined_encoding(FontProgram& program, const Strings& strings,
                         std::span<const std::uint16_t, 256> sids) {
    for (std::size_t code = 0; code < 256; ++code) {
        if (sids[code] != 0) program.code_names[code] = strings.get(sids[code]);
    }
}

// The encoding of a name-keyed font. Custom encodings give codes to glyphs
// 1, 2, ... in order (format 0: one code each; format 1: ranges of codes);
// with the high bit of the format set, supplements follow that give more
// codes to glyphs by name.
void read_encoding(const BigEndian& in, const TopDict& top, const Strings& strings,
                   FontProgram& program) {
    if (top.encoding == 0) {
        program.encoding = BuiltinEncoding::Standard;
        predefined_encoding(program, strings, fontprog::standard_encoding_sids());
        return;
    }
    program.encoding = BuiltinEncoding::Custom;
    if (top.encoding == 1) {
        predefined_encoding(program, strings, fontprog::expert_encoding_sids());
        return;
    }
    if (top.encoding < 0) return;
    const auto& names = program.glyph_names;
    const auto name_of = [&](std::uint32_t glyph) -> std::string {
        return glyph < names.size() ? names[glyph] : std::string();
    };
    std::uint64_t at = static_cast<std::uint64_t>(top.encoding);
    const auto format = in.u8(at);
    const auto count = in.u8(at + 1);
    if (!format || !count) return;
    at += 2;
    std::uint32_t glyph = 1;
    if ((*format & 0x7F) == 0) {
        for (std::uint32_t i = 0; i < *count; ++i) {
            const auto code = in.u8(at++);
            if (!code) return;
            program.code_names[*code] = name_of(glyph++);
        }
    } else if ((*format & 0x7F) == 1) {
        for (std::uint32_t i = 0; i < *count; ++i) {
            const auto first = in.u8(at);
            const auto left = in.u8(at + 1);
            if (!first || !left) return;
            at += 2;
            for (std::uint32_t code = *first; code <= *first + *left && code < 256; ++code) {
                program.code_names[code] = name_of(glyph++);
            }
        }
    } else {
        return;
    }
    if ((*format & 0x80) == 0) return;
    const auto supplements = in.u8(at++);
    if (!supplements) return;
    for (std::uint32_t i = 0; i < *supplements; ++i) {
        const auto code = in.u8(at);
        const auto sid = in.u16(at + 1);
        if (!code || !sid) return;
        at += 3;
        program.code_names[*code] = strings.get(*sid);
    }
}

// The number of glyphs: the count of the CharStrings INDEX at `at`, with a
// valid offset size. The glyph programs themselves, most of the font, are
// not read, nor is the INDEX checked to end inside the data: the charset
// and the encoding usually come before it, and a reader that needs only
// them can then stop at its start.
std::optional<std::uint32_t> glyph_count(const BigEndian& in, std::uint64_t at) {
    const auto count = in.u16(at);
    if (!count || *count == 0) return std::nullopt;
    const auto off_size = in.u8(at + 2);
    if (!off_size || *off_size < 1 || *off_size > 4) return std::nullopt;
    return *count;
}

std::optional<FontProgram> read_cff(const BigEndian& in) {
    const auto major = in.u8(0);
    const auto header_size = in.u8(2);
    if (!major || *major != 1 || !header_size || *header_size < 4) return std::nullopt;
    const auto names = read_index(in, *header_size);
    if (!names || names->count == 0) return std::nullopt;
    const auto dicts = read_index(in, names->end);
    if (!dicts) return std::nullopt;
    const auto string_index = read_index(in, dicts->end);
    if (!string_index) return std::nullopt;
    const auto dict = element(in, *dicts, 0);
    if (!dict) return std::nullopt;
    const auto top = read_top_dict(*dict);
    if (!top || !top->charstrings || *top->charstrings < 0) return std::nullopt;
    const auto glyphs = glyph_count(in, static_cast<std::uint64_t>(*top->charstrings));
    if (!glyphs) return std::nullopt;

    FontProgram program;
    program.format = FontProgramFormat::Cff;
    program.glyph_count = *glyphs;
    const Strings strings{in, *string_index};
    const std::vector<std::uint32_t> ids = read_charset(in, *top, *glyphs);
    if (top->cid_keyed) {
        program.cid_system =
            CidSystem{strings.get(top->registry), strings.get(top->ordering), top->supplement};
        program.glyph_cids = ids;
        program.glyphs_by_cid.resize(ids.size());
        for (std::uint32_t g = 0; g < ids.size(); ++g) program.glyphs_by_cid[g] = g;
        std::stable_sort(program.glyphs_by_cid.begin(), program.glyphs_by_cid.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return ids[a] < ids[b]; });
        return program;
    }
    program.glyph_names.reserve(ids.size());
    for (const std::uint32_t sid : ids) program.glyph_names.push_back(strings.get(sid));
    read_encoding(in, *top, strings, program);
    for (std::string& name : program.code_names) {
        if (name == ".notdef") name.clear();
    }
    return program;
}

}  // namespace

std::optional<FontProgram> read_cff_program(ByteView bytes) { return read_cff(BigEndian{bytes}); }

std::optional<FontProgram> read_cff_program_start(ByteView prefix) {
    const BigEndian in{prefix};
    std::optional<FontProgram> program = read_cff(in);
    if (in.reach > prefix.size()) return std::nullopt;
    return program;
}

std::uint32_t glyph_of_cid(const FontProgram& program, std::uint32_t cid) {
    const auto& cids = program.glyph_cids;
    const auto& order = program.glyphs_by_cid;
    const auto it = std::lower_bound(
        order.begin(), order.end(), cid,
        [&](std::uint32_t g, std::uint32_t c) { return g < cids.size() && cids[g] < c; });
    if (it == order.end() || *it >= cids.size() || cids[*it] != cid) return 0;
    return *it;
}

}  // namespace vellox_core
