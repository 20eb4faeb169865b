#include "agl.h"

#include <algorithm>

#include "utf8.h"

namespace vellox_core {

namespace {

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

// Only the printable ASCII part of the Type 1 StandardEncoding is kept: its
// two quote positions are the typographic quotes, not the ASCII ones. The
// upper half (accented letters and symbols at Adobe's own positions) is left
// out, so those codes yield no text.
constexpr EncodingTable make_standard() {
    EncodingTable t{};
    for (std::uint32_t c = 0x20; c <= 0x7E; ++c) t[c] = c;
    t[0x27] = 0x2019;
    t[0x60] = 0x2018;
    return t;
}

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

constexpr EncodingTable kStandard = make_standard();
constexpr EncodingTable kMacRoman = make_mac_roman();
constexpr EncodingTable kCp1252 = make_cp1252();

// Glyph names seen in simple fonts' /Differences arrays, with the character
// the Adobe Glyph List gives each. Sorted by name bytes for binary search;
// laid out as a table, by hand.
// clang-format off
constexpr AglEntry kAgl[] = {
    {"A", 0x0041}, {"AE", 0x00C6}, {"B", 0x0042}, {"C", 0x0043}, {"D", 0x0044}, {"E", 0x0045},
    {"F", 0x0046}, {"G", 0x0047}, {"H", 0x0048}, {"I", 0x0049}, {"J", 0x004A}, {"K", 0x004B},
    {"L", 0x004C}, {"M", 0x004D}, {"N", 0x004E}, {"O", 0x004F}, {"Oslash", 0x00D8},
    {"P", 0x0050}, {"Q", 0x0051}, {"R", 0x0052}, {"S", 0x0053}, {"T", 0x0054}, {"U", 0x0055},
    {"V", 0x0056}, {"W", 0x0057}, {"X", 0x0058}, {"Y", 0x0059}, {"Z", 0x005A}, {"a", 0x0061},
    {"aacute", 0x00E1}, {"adieresis", 0x00E4}, {"ae", 0x00E6}, {"agrave", 0x00E0},
    {"ampersand", 0x0026}, {"asciicircum", 0x005E}, {"asciitilde", 0x007E},
    {"asterisk", 0x002A}, {"at", 0x0040}, {"b", 0x0062}, {"backslash", 0x005C},
    {"bar", 0x007C}, {"braceleft", 0x007B}, {"braceright", 0x007D}, {"bracketleft", 0x005B},
    {"bracketright", 0x005D}, {"bullet", 0x2022}, {"c", 0x0063}, {"ccedilla", 0x00E7},
    {"cent", 0x00A2}, {"colon", 0x003A}, {"comma", 0x002C}, {"copyright", 0x00A9},
    {"d", 0x0064}, {"dagger", 0x2020}, {"daggerdbl", 0x2021}, {"degree", 0x00B0},
    {"divide", 0x00F7}, {"dollar", 0x0024}, {"e", 0x0065}, {"eacute", 0x00E9},
    {"edieresis", 0x00EB}, {"egrave", 0x00E8}, {"eight", 0x0038}, {"ellipsis", 0x2026},
    {"emdash", 0x2014}, {"endash", 0x2013}, {"equal", 0x003D}, {"euro", 0x20AC},
    {"exclam", 0x0021}, {"f", 0x0066}, {"ff", 0xFB00}, {"ffi", 0xFB03}, {"ffl", 0xFB04},
    {"fi", 0xFB01}, {"five", 0x0035}, {"fl", 0xFB02}, {"florin", 0x0192}, {"four", 0x0034},
    {"g", 0x0067}, {"germandbls", 0x00DF}, {"grave", 0x0060}, {"greater", 0x003E},
    {"guilsinglleft", 0x2039}, {"guilsinglright", 0x203A}, {"h", 0x0068}, {"hyphen", 0x002D},
    {"i", 0x0069}, {"iacute", 0x00ED}, {"j", 0x006A}, {"k", 0x006B}, {"l", 0x006C},
    {"less", 0x003C}, {"m", 0x006D}, {"minus", 0x2212}, {"multiply", 0x00D7}, {"n", 0x006E},
    {"nbspace", 0x00A0}, {"nine", 0x0039}, {"ntilde", 0x00F1}, {"numbersign", 0x0023},
    {"o", 0x006F}, {"oacute", 0x00F3}, {"odieresis", 0x00F6}, {"one", 0x0031},
    {"oslash", 0x00F8}, {"p", 0x0070}, {"paragraph", 0x00B6}, {"parenleft", 0x0028},
    {"parenright", 0x0029}, {"percent", 0x0025}, {"period", 0x002E},
    {"periodcentered", 0x00B7}, {"perthousand", 0x2030}, {"plus", 0x002B}, {"q", 0x0071},
    {"question", 0x003F}, {"quotedbl", 0x0022}, {"quotedblbase", 0x201E},
    {"quotedblleft", 0x201C}, {"quotedblright", 0x201D}, {"quoteleft", 0x2018},
    {"quoteright", 0x2019}, {"quotesinglbase", 0x201A}, {"quotesingle", 0x0027}, {"r", 0x0072},
    {"registered", 0x00AE}, {"s", 0x0073}, {"section", 0x00A7}, {"semicolon", 0x003B},
    {"seven", 0x0037}, {"six", 0x0036}, {"slash", 0x002F}, {"space", 0x0020},
    {"sterling", 0x00A3}, {"t", 0x0074}, {"three", 0x0033}, {"trademark", 0x2122},
    {"two", 0x0032}, {"u", 0x0075}, {"uacute", 0x00FA}, {"udieresis", 0x00FC},
    {"underscore", 0x005F}, {"v", 0x0076}, {"w", 0x0077}, {"x", 0x0078}, {"y", 0x0079},
    {"yen", 0x00A5}, {"z", 0x007A}, {"zero", 0x0030},
};
// clang-format on

constexpr bool agl_sorted() {
    for (std::size_t i = 1; i < std::size(kAgl); ++i) {
        if (!(kAgl[i - 1].name < kAgl[i].name)) return false;
    }
    return true;
}
static_assert(std::size(kAgl) == 149);
static_assert(agl_sorted(), "the glyph-name table must stay sorted for binary search");

constexpr int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a short run of hexadecimal digits as an unsigned number, accepting
// one leading '+' as a sign (so "+041" is 0x41). At most six digits arrive
// here, so the value cannot overflow.
std::optional<std::uint32_t> parse_hex(std::string_view digits) {
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::uint32_t v = 0;
    for (const char c : digits) {
        const int d = hex_digit(c);
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return v;
}

}  // namespace

const EncodingTable& standard_encoding() { return kStandard; }
const EncodingTable& mac_roman_encoding() { return kMacRoman; }
const EncodingTable& win_ansi_encoding() { return kCp1252; }

const EncodingTable& base_encoding(std::string_view name) {
    if (name == "MacRomanEncoding") return kMacRoman;
    if (name == "StandardEncoding") return kStandard;
    // WinAnsiEncoding, MacExpertEncoding and anything unknown.
    return kCp1252;
}

std::span<const AglEntry> agl_table() { return kAgl; }

std::optional<std::uint32_t> agl_lookup(std::string_view name) {
    const auto* end = std::end(kAgl);
    const auto* it =
        std::lower_bound(std::begin(kAgl), end, name,
                         [](const AglEntry& e, std::string_view n) { return e.name < n; });
    if (it == end || it->name != name) return std::nullopt;
    return it->code;
}

std::optional<std::uint32_t> glyph_to_unicode(std::string_view name) {
    // A suffix after the first period names a variant of the same glyph
    // (a.sc, space.alt); ".notdef" leaves nothing.
    const std::string_view base = name.substr(0, name.find('.'));
    if (auto hit = agl_lookup(base)) return hit;
    if (base.size() < 3) return std::nullopt;

    std::optional<std::uint32_t> value;
    if (base.substr(0, 3) == "uni") {
        // uniXXXX: only the first four digits count; producers append more
        // groups for ligatures (uni00410042), of which we keep the first.
        if (base.size() < 7) return std::nullopt;
        value = parse_hex(base.substr(3, 4));
    } else if (base.front() == 'u' && base.size() >= 5 && base.size() <= 7) {
        // uXXXX to uXXXXXX reach the supplementary planes.
        value = parse_hex(base.substr(1));
    }
    if (!value || !is_scalar_value(*value)) return std::nullopt;
    return value;
}

EncodingTable apply_differences(EncodingTable table, const Array& differences) {
    // Names past code 255 change nothing, so the code stops counting there
    // and a long run of names after a huge Integer cannot overflow it.
    std::uint64_t code = 0;
    for (const Object& element : differences) {
        if (const std::int64_t* n = element.as_int()) {
            code = *n <= 0 ? 0 : static_cast<std::uint64_t>(*n);
        } else if (const Name* glyph = element.as_name()) {
            if (code <= 255) {
                if (auto cp = glyph_to_unicode(glyph->text)) table[code] = *cp;
                ++code;
            }
        }
    }
    return table;
}

}  // namespace vellox_core
