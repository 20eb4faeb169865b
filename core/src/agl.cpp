#include "agl.h"

#include <algorithm>
#include <array>
#include <bit>
#include <span>

#include "agl_tables.inc"
#include "bounds.h"
#include "utf8.h"

namespace vellox_core {

namespace {

using agl_tables::GlyphRecord;

// Upper half (0x80..0xFF) of the Mac OS Roman character set, as Apple
// publishes it for conversion to Unicode (the table revised for the euro
// sign at 0xDB; 0xF0 is the Apple logo in the private use area).
constexpr std::uint32_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // 0xA0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // 0xA8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // 0xB0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // 0xB8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // 0xC0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // 0xC8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // 0xD0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xD8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // 0xE0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // 0xE8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // 0xF0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // 0xF8
};

// 0x80..0x9F of Windows code page 1252; 0 marks the five codes the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D).
constexpr std::uint32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 0x98
};

constexpr EncodingTable make_mac_roman() {
    EncodingTable t{};
    for (std::uint32_t c = 0; c < 0x80; ++c) t[c] = c;
    for (std::uint32_t c = 0; c < 0x80; ++c) t[0x80 + c] = kMacRomanHigh[c];
    return t;
}

constexpr EncodingTable make_cp1252() {
    EncodingTable t{};
    for (std::uint32_t c = 0; c < 256; ++c) t[c] = c;
    for (std::uint32_t c = 0; c < 0x20; ++c) t[0x80 + c] = kCp1252High[c];
    return t;
}

// One of the generated glyph lists: entry i's name and text are the slices
// of the pools between the ends of entry i-1 and entry i. A name is found
// through a hash table made at compile time, open addressing over `Slots`
// places (a power of two, at least half as many again as the entries): one
// hash of the name and a comparison or two, where a binary search compared
// a dozen names.
template <std::size_t Slots>
struct GlyphListData {
    static_assert(std::has_single_bit(Slots));

    std::string_view names;
    std::span<const GlyphRecord> records;
    std::u16string_view text;
    std::array<std::uint16_t, Slots> slots{};  // entry + 1; 0 for an empty place
    bool fits = true;                          // every entry has its place

    constexpr GlyphListData(std::string_view name_pool, std::span<const GlyphRecord> entries,
                            std::u16string_view text_pool)
        : names(name_pool), records(entries), text(text_pool) {
        fits = records.size() + records.size() / 2 <= Slots && records.size() < 0xFFFF;
        if (!fits) return;
        for (std::size_t i = 0; i < records.size(); ++i) {
            std::size_t s = hash(name(i)) & (Slots - 1);
            while (slots[s] != 0) s = (s + 1) & (Slots - 1);
            slots[s] = static_cast<std::uint16_t>(i + 1);
        }
    }

    // FNV-1a: glyph names are short, and a few steps a byte spread them.
    static constexpr std::size_t hash(std::string_view key) {
        std::uint32_t h = 2166136261u;
        for (const char c : key) {
            h ^= static_cast<unsigned char>(c);
            h *= 16777619u;
        }
        return h;
    }

    constexpr std::string_view name(std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : records[i - 1].name_end;
        return names.substr(begin, records[i].name_end - begin);
    }
    constexpr std::u16string_view text_of(std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : records[i - 1].text_end;
        return text.substr(begin, records[i].text_end - begin);
    }
    constexpr std::optional<std::u16string_view> find(std::string_view key) const {
        if (key.empty()) return std::nullopt;
        for (std::size_t s = hash(key) & (Slots - 1);; s = (s + 1) & (Slots - 1)) {
            const std::uint16_t entry = slots[s];
            if (entry == 0) return std::nullopt;
            if (name(entry - 1) == key) return text_of(entry - 1);
        }
    }
    // The names strictly in byte order (so none is listed twice), none
    // empty, every entry placed, and the pools ending where the last
    // record says.
    constexpr bool well_formed() const {
        if (!fits || records.empty() || records.back().name_end != names.size() ||
            records.back().text_end != text.size() || name(0).empty()) {
            return false;
        }
        for (std::size_t i = 1; i < records.size(); ++i) {
            if (!(name(i - 1) < name(i))) return false;
        }
        return true;
    }
};

// sizeof - 1: the string literal's terminating NUL is not part of the pool.
constexpr GlyphListData<8192> kAdobe{{agl_tables::kAdobeNames, sizeof(agl_tables::kAdobeNames) - 1},
                                     agl_tables::kAdobeRecords,
                                     {agl_tables::kAdobeText, std::size(agl_tables::kAdobeText)}};
constexpr GlyphListData<512> kDingbats{
    {agl_tables::kDingbatsNames, sizeof(agl_tables::kDingbatsNames) - 1},
    agl_tables::kDingbatsRecords,
    {agl_tables::kDingbatsText, std::size(agl_tables::kDingbatsText)}};
static_assert(kAdobe.well_formed(), "the Adobe Glyph List table is out of order");
static_assert(kDingbats.well_formed(), "the Zapf Dingbats table is out of order");

constexpr int upper_hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of a run of upper-case hexadecimal digits; nullopt for any
// other byte. Callers pass at most six digits, so it cannot overflow.
constexpr std::optional<std::uint32_t> parse_upper_hex(std::string_view digits) {
    std::uint32_t v = 0;
    for (const char c : digits) {
        const int d = upper_hex_digit(c);
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return v;
}

constexpr bool is_surrogate(std::uint32_t v) { return v >= 0xD800 && v <= 0xDFFF; }

// Calls emit(cp) for each character of one component of a glyph name.
template <class Emit>
constexpr void component_chars(std::string_view component, GlyphList list, Emit& emit) {
    std::optional<std::u16string_view> listed;
    if (list == GlyphList::ZapfDingbats) listed = kDingbats.find(component);
    if (!listed) listed = kAdobe.find(component);
    if (listed) {
        for (const char16_t unit : *listed) emit(static_cast<std::uint32_t>(unit));
        return;
    }
    if (component.starts_with("uni")) {
        // uniXXXX, uniXXXXYYYY...: every group must be valid before any is
        // emitted, since one bad group voids the whole component.
        const std::string_view digits = component.substr(3);
        if (digits.empty() || digits.size() % 4 != 0) return;
        for (std::size_t i = 0; i < digits.size(); i += 4) {
            const auto v = parse_upper_hex(digits.substr(i, 4));
            if (!v || is_surrogate(*v)) return;
        }
        for (std::size_t i = 0; i < digits.size(); i += 4) {
            emit(*parse_upper_hex(digits.substr(i, 4)));
        }
        return;
    }
    if (component.starts_with('u')) {
        // uXXXX to uXXXXXX: one scalar value, the supplementary planes too.
        const std::string_view digits = component.substr(1);
        if (digits.size() < 4 || digits.size() > 6) return;
        const auto v = parse_upper_hex(digits);
        if (v && *v <= 0x10FFFF && !is_surrogate(*v)) emit(*v);
    }
}

// Calls emit(cp) for each character of a glyph name; false, having emitted
// nothing, when the name gives no character.
template <class Emit>
constexpr bool for_each_char(std::string_view name, GlyphList list, Emit&& emit) {
    if (name.size() > limits::kMaxGlyphNameBytes) return false;
    // A suffix after the first period names a variant of the same glyph
    // (a.sc, space.alt, one.oldstyle); ".notdef" leaves nothing.
    name = name.substr(0, name.find('.'));
    if (name.empty()) return false;
    const auto underscores = static_cast<std::size_t>(std::count(name.begin(), name.end(), '_'));
    if (underscores >= limits::kMaxGlyphNameComponents) return false;
    bool any = false;
    auto counted = [&](std::uint32_t cp) {
        any = true;
        emit(cp);
    };
    for (;;) {
        const std::size_t end = name.find('_');
        component_chars(name.substr(0, end), list, counted);
        if (end == std::string_view::npos) break;
        name.remove_prefix(end + 1);
    }
    return any;
}

constexpr std::optional<std::uint32_t> single_char(std::string_view name, GlyphList list) {
    std::uint32_t first = 0;
    std::size_t count = 0;
    for_each_char(name, list, [&](std::uint32_t cp) {
        if (count++ == 0) first = cp;
    });
    if (count != 1) return std::nullopt;
    return first;
}

// The character of each code of an encoding given by glyph names.
constexpr EncodingTable unicode_of(const GlyphNameTable& names, GlyphList list) {
    EncodingTable t{};
    for (std::size_t code = 0; code < names.size(); ++code) {
        if (const auto cp = single_char(names[code], list)) t[code] = *cp;
    }
    return t;
}

constexpr EncodingTable kStandard = unicode_of(agl_tables::kStandardNames, GlyphList::Adobe);
constexpr EncodingTable kSymbol = unicode_of(agl_tables::kSymbolNames, GlyphList::Adobe);
constexpr EncodingTable kZapfDingbats =
    unicode_of(agl_tables::kZapfDingbatsNames, GlyphList::ZapfDingbats);
constexpr EncodingTable kMacRoman = make_mac_roman();
constexpr EncodingTable kCp1252 = make_cp1252();

}  // namespace

bool glyph_text(std::string_view name, std::string& out, GlyphList list) {
    return for_each_char(name, list, [&](std::uint32_t cp) { append_utf8(out, cp); });
}

std::optional<std::uint32_t> glyph_to_unicode(std::string_view name, GlyphList list) {
    return single_char(name, list);
}

std::optional<BaseEncoding> base_encoding_named(std::string_view name) {
    if (name == "StandardEncoding") return BaseEncoding::Standard;
    if (name == "MacRomanEncoding") return BaseEncoding::MacRoman;
    if (name == "WinAnsiEncoding") return BaseEncoding::WinAnsi;
    return std::nullopt;
}

const GlyphNameTable& encoding_glyph_names(BaseEncoding encoding) {
    switch (encoding) {
        case BaseEncoding::Standard: return agl_tables::kStandardNames;
        case BaseEncoding::MacRoman: return agl_tables::kMacRomanNames;
        case BaseEncoding::Symbol: return agl_tables::kSymbolNames;
        case BaseEncoding::ZapfDingbats: return agl_tables::kZapfDingbatsNames;
        case BaseEncoding::WinAnsi: break;
    }
    return agl_tables::kWinAnsiNames;
}

const EncodingTable& encoding_unicode(BaseEncoding encoding) {
    switch (encoding) {
        case BaseEncoding::Standard: return kStandard;
        case BaseEncoding::MacRoman: return kMacRoman;
        case BaseEncoding::Symbol: return kSymbol;
        case BaseEncoding::ZapfDingbats: return kZapfDingbats;
        case BaseEncoding::WinAnsi: break;
    }
    return kCp1252;
}

const EncodingTable& win_ansi_encoding() { return kCp1252; }

const EncodingTable& base_encoding(std::string_view name) {
    return encoding_unicode(base_encoding_named(name).value_or(BaseEncoding::WinAnsi));
}

EncodingTable apply_differences(EncodingTable table, const Array& differences, GlyphList list) {
    for_each_difference(differences, [&](std::uint8_t code, std::string_view name) {
        if (const auto cp = single_char(name, list)) table[code] = *cp;
    });
    return table;
}

}  // namespace vellox_core
