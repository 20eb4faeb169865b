// The 14 standard fonts every PDF reader knows without a font program:
// Courier, Helvetica and Times in four styles each, Symbol and ZapfDingbats.
// Files often name them without embedding them and, before PDF 1.5 allowed
// otherwise only for these fonts, without /Widths; their metrics then come
// from Adobe's AFM files, whose widths and built-in encodings are kept here.
//
// How a font loader uses this module for a simple font:
//
//   std::optional<Std14Font> std14 = std14_font(base_font_name);
//   - Base encoding when /Encoding names none: std14_builtin_encoding(*std14)
//     (StandardEncoding for the Latin fonts; Symbol and ZapfDingbats have
//     their own, and their glyph names are not Latin letters).
//   - Glyph names per code as agl.h describes; for ZapfDingbats read them
//     with GlyphList::ZapfDingbats.
//   - Widths when the font has no /Widths (or a code outside /FirstChar..
//     /LastChar): std14_width(*std14, names[code]) / 1000.0 in text space
//     units. A code without a glyph name, or whose glyph the font lacks, has
//     no width here: use /MissingWidth of the font descriptor, 0 without one.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "agl.h"

namespace vellox_core {

enum class Std14Font : std::uint8_t {
    Courier,
    CourierBold,
    CourierOblique,
    CourierBoldOblique,
    Helvetica,
    HelveticaBold,
    HelveticaOblique,
    HelveticaBoldOblique,
    TimesRoman,
    TimesBold,
    TimesItalic,
    TimesBoldItalic,
    Symbol,
    ZapfDingbats,
};

// The standard font a /BaseFont name stands for, or nullopt. A subset tag
// (six upper-case letters and '+', as in ABCDEF+Helvetica) is dropped and
// spaces are ignored (Word writes "Times New Roman" as a name with #20).
// The name is then read as family[,-]style:
//   families  Helvetica, Arial, ArialMT -> Helvetica (Arial was drawn to
//             Helvetica's widths); Times, TimesNewRoman, TimesNewRomanPS,
//             TimesNewRomanPSMT -> Times; Courier, CourierNew, CourierNewPS,
//             CourierNewPSMT -> Courier; Symbol; ZapfDingbats.
//   styles    none, Roman, Regular -> regular; Bold, BoldMT -> bold;
//             Italic, ItalicMT, Oblique -> italic (Helvetica's and
//             Courier's italics are their obliques); BoldItalic,
//             BoldItalicMT, BoldOblique -> bold italic. Symbol and
//             ZapfDingbats take any of these and stay themselves.
// So "Times" alone is Times-Roman, and "Arial,Bold", "Arial-BoldMT" and
// "Helvetica,Bold" are Helvetica-Bold. Anything else (Arial-Black,
// ArialNarrow, Helvetica-Condensed, names longer than
// limits::kMaxFontNameBytes) is no standard font: their widths differ.
std::optional<Std14Font> std14_font(std::string_view base_font);

// The PostScript name: "Courier-BoldOblique", "Times-Roman", "Symbol"...
std::string_view std14_name(Std14Font font);

// The encoding a standard font uses when the file names none.
BaseEncoding std14_builtin_encoding(Std14Font font);

// The advance width of a glyph of a standard font, by exact glyph name, in
// thousandths of the text size (Helvetica's "A" is 667); nullopt when the
// font has no such glyph. Every glyph of the font's AFM file is there, the
// many outside its built-in encoding too (the Latin fonts' Euro, Scaron,
// lcaron..., reached through WinAnsiEncoding or /Differences).
std::optional<std::uint16_t> std14_width(Std14Font font, std::string_view glyph);

}  // namespace vellox_core
