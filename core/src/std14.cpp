#include "std14.h"

#include <algorithm>
#include <span>

#include "bounds.h"
#include "std14_tables.inc"

namespace vellox_core {

namespace {

using namespace std14_tables;

constexpr std::size_t kFontCount = kFontNames.size();
static_assert(kFontCount == static_cast<std::size_t>(Std14Font::ZapfDingbats) + 1);
static_assert(kFontNames[static_cast<std::size_t>(Std14Font::HelveticaBoldOblique)] ==
              "Helvetica-BoldOblique");
static_assert(kFontNames[static_cast<std::size_t>(Std14Font::TimesRoman)] == "Times-Roman");
static_assert(kLatinWidths.size() == static_cast<std::size_t>(Std14Font::Symbol));

template <std::size_t N>
constexpr bool sorted(const std::array<std::string_view, N>& names) {
    for (std::size_t i = 1; i < N; ++i) {
        if (!(names[i - 1] < names[i])) return false;
    }
    return true;
}
static_assert(sorted(kLatinGlyphs) && sorted(kSymbolGlyphs) && sorted(kDingbatsGlyphs),
              "glyph tables must be sorted for binary search");

// ------------------------------------------------------------ name aliases

enum class Family : std::uint8_t { Courier, Helvetica, Times, Symbol, ZapfDingbats };
enum Style : std::uint8_t { kRegular = 0, kBold = 1, kItalic = 2, kBoldItalic = 3 };

struct FamilyName {
    std::string_view name;
    Family family;
};

// The family part of the names real files give the standard fonts: Adobe's
// own, the forms Windows producers write for the metric-compatible Arial,
// Times New Roman and Courier New (with and without the PS and MT of their
// PostScript names), and Times alone.
constexpr FamilyName kFamilies[] = {
    {"Arial", Family::Helvetica},
    {"ArialMT", Family::Helvetica},
    {"Courier", Family::Courier},
    {"CourierNew", Family::Courier},
    {"CourierNewPS", Family::Courier},
    {"CourierNewPSMT", Family::Courier},
    {"Helvetica", Family::Helvetica},
    {"Symbol", Family::Symbol},
    {"Times", Family::Times},
    {"TimesNewRoman", Family::Times},
    {"TimesNewRomanPS", Family::Times},
    {"TimesNewRomanPSMT", Family::Times},
    {"ZapfDingbats", Family::ZapfDingbats},
};

struct StyleName {
    std::string_view name;
    Style style;
};

// What follows the comma (Arial,BoldItalic: Acrobat's form for a styled
// TrueType font) or the hyphen (Times-Roman, Arial-BoldItalicMT).
constexpr StyleName kStyles[] = {
    {"", kRegular},
    {"Roman", kRegular},
    {"Regular", kRegular},
    {"Bold", kBold},
    {"BoldMT", kBold},
    {"Italic", kItalic},
    {"ItalicMT", kItalic},
    {"Oblique", kItalic},
    {"BoldItalic", kBoldItalic},
    {"BoldItalicMT", kBoldItalic},
    {"BoldOblique", kBoldItalic},
};

// `text` equals `want` once the spaces in `text` are skipped.
constexpr bool equals_without_spaces(std::string_view text, std::string_view want) {
    std::size_t j = 0;
    for (const char c : text) {
        if (c == ' ') continue;
        if (j == want.size() || c != want[j]) return false;
        ++j;
    }
    return j == want.size();
}

constexpr bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

// A font subset is named with a tag of six upper-case letters and '+'.
constexpr std::string_view without_subset_tag(std::string_view name) {
    if (name.size() < 7 || name[6] != '+') return name;
    if (!std::all_of(name.begin(), name.begin() + 6, is_upper)) return name;
    return name.substr(7);
}

// ----------------------------------------------------------------- metrics

struct Metrics {
    std::span<const std::string_view> glyphs;
    std::span<const std::uint16_t> widths;
};

Metrics metrics_of(Std14Font font) {
    switch (font) {
        case Std14Font::Symbol: return {kSymbolGlyphs, kSymbolWidths};
        case Std14Font::ZapfDingbats: return {kDingbatsGlyphs, kDingbatsWidths};
        default: break;
    }
    return {kLatinGlyphs, kLatinWidths[static_cast<std::size_t>(font)]};
}

bool valid(Std14Font font) { return static_cast<std::size_t>(font) < kFontCount; }

}  // namespace

std::optional<Std14Font> std14_font(std::string_view base_font) {
    if (base_font.size() > limits::kMaxFontNameBytes) return std::nullopt;
    const std::string_view name = without_subset_tag(base_font);
    const std::size_t split = name.find_first_of(",-");
    const std::string_view family_part = name.substr(0, split);
    const std::string_view style_part =
        split == std::string_view::npos ? std::string_view{} : name.substr(split + 1);

    const auto* family = std::find_if(
        std::begin(kFamilies), std::end(kFamilies),
        [&](const FamilyName& f) { return equals_without_spaces(family_part, f.name); });
    const auto* style =
        std::find_if(std::begin(kStyles), std::end(kStyles),
                     [&](const StyleName& s) { return equals_without_spaces(style_part, s.name); });
    if (family == std::end(kFamilies) || style == std::end(kStyles)) return std::nullopt;
    const auto styled = [&](Std14Font regular) {
        return static_cast<Std14Font>(static_cast<std::uint8_t>(regular) + style->style);
    };
    switch (family->family) {
        case Family::Courier: return styled(Std14Font::Courier);
        case Family::Helvetica: return styled(Std14Font::Helvetica);
        case Family::Times: return styled(Std14Font::TimesRoman);
        case Family::Symbol: return Std14Font::Symbol;
        case Family::ZapfDingbats: return Std14Font::ZapfDingbats;
    }
    return std::nullopt;
}

std::string_view std14_name(Std14Font font) {
    return valid(font) ? kFontNames[static_cast<std::size_t>(font)] : std::string_view{};
}

BaseEncoding std14_builtin_encoding(Std14Font font) {
    if (font == Std14Font::Symbol) return BaseEncoding::Symbol;
    if (font == Std14Font::ZapfDingbats) return BaseEncoding::ZapfDingbats;
    return BaseEncoding::Standard;
}

std::optional<std::uint16_t> std14_width(Std14Font font, std::string_view glyph) {
    if (!valid(font)) return std::nullopt;
    const Metrics m = metrics_of(font);
    const auto it = std::lower_bound(m.glyphs.begin(), m.glyphs.end(), glyph);
    if (it == m.glyphs.end() || *it != glyph) return std::nullopt;
    return m.widths[static_cast<std::size_t>(it - m.glyphs.begin())];
}

}  // namespace vellox_core
