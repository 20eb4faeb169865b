// Glyph names and the base encodings of simple fonts.
//
// A simple font (Type1, TrueType, Type3) maps each one-byte code to a glyph
// name: the base encoding gives a name per code, and the /Differences array
// of an /Encoding dictionary replaces some of them. The text of a code is
// then read from its glyph name by the rules of the Adobe Glyph List, and
// the width of a non-embedded standard font is looked up by the same name
// (std14.h).
//
// How a font loader uses this module for a simple font without /ToUnicode:
//
//   1. Pick the base encoding: the /Encoding name, or the dictionary's
//      /BaseEncoding, through base_encoding_named(); without one, the
//      font's built-in encoding (std14_builtin_encoding() for a standard
//      font).
//   2. Copy its names, GlyphNameTable names = encoding_glyph_names(base), and
//      its characters, EncodingTable chars = encoding_unicode(base).
//   3. Walk /Differences with for_each_difference(): for each (code, name),
//      set names[code] = name (the view stays valid while the Array does)
//      and take the code's text from glyph_text(name, out, list), which may
//      be several characters (f_f_i is "ffi"); a name that gives nothing
//      keeps chars[code], as apply_differences() does. Codes /Differences
//      leaves alone keep chars[code] too: the Unicode tables say what the
//      encoding means even where no glyph name does (WinAnsi's control
//      codes, its no-break space drawn with the space glyph).
//   4. `list` is GlyphList::ZapfDingbats only for the ZapfDingbats font
//      (std14_font() of its /BaseFont), whose glyphs are named a1...a191.
//   5. Widths of a non-embedded standard font without /Widths:
//      std14_width(font, names[code]).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "object.h"

namespace vellox_core {

// ------------------------------------------------------------- glyph names

// The list a glyph name is looked up in before the uniXXXX and uXXXX forms.
// The ITC Zapf Dingbats list names the glyphs of the ZapfDingbats font
// (a1...a191, U+2701 and up) and applies to that font only; a name it does
// not hold falls back to the Adobe Glyph List.
enum class GlyphList : std::uint8_t { Adobe, ZapfDingbats };

// Appends the text of a glyph name to `out` as UTF-8, by the Adobe Glyph
// List's rules: everything from the first '.' is dropped (a.sc, space.alt,
// .notdef), the rest is split on '_' into components (f_f_i), and each
// component gives
//   - its text in the list (several characters for a few AGL entries),
//   - else, for uni followed by one or more groups of exactly four
//     upper-case hex digits, one character per group (uni00410042 is "AB");
//     any group that is a surrogate, and lower-case digits, void the
//     component,
//   - else, for u followed by four to six upper-case hex digits, that
//     Unicode scalar value (u1F600),
//   - else nothing.
// Names outside these rules give nothing: producers' glyph indices (g42,
// G42, glyph42), CID names (cid00042, Identity-H fonts), and the Dingbats
// names a1...a191 in fonts other than ZapfDingbats. A name longer than
// limits::kMaxGlyphNameBytes or with more than limits::kMaxGlyphNameComponents
// components gives nothing as a whole.
// Returns true when at least one character was appended; nothing is
// appended when it returns false.
bool glyph_text(std::string_view name, std::string& out, GlyphList list = GlyphList::Adobe);

// The character of a glyph name whose text (as glyph_text gives it) is
// exactly one character; nullopt for no character or several (f_f_i).
std::optional<std::uint32_t> glyph_to_unicode(std::string_view name,
                                              GlyphList list = GlyphList::Adobe);

// ---------------------------------------------------------- base encodings

// Unicode scalar value per single-byte code; 0 means no character.
using EncodingTable = std::array<std::uint32_t, 256>;
// Glyph name per single-byte code; empty means no glyph.
using GlyphNameTable = std::array<std::string_view, 256>;

// The encodings a simple font's codes start from.
//   Standard      StandardEncoding, the built-in encoding of the 12 Latin
//                 standard fonts (from their AFM files).
//   MacRoman      MacRomanEncoding: characters of the Mac OS Roman character
//                 set (Apple's table, euro sign at 0xDB).
//   WinAnsi       WinAnsiEncoding: Windows code page 1252.
//   Symbol        the built-in encoding of the Symbol font (its AFM).
//   ZapfDingbats  the built-in encoding of the ZapfDingbats font (its AFM);
//                 its names are read with GlyphList::ZapfDingbats.
// The glyph names of WinAnsi and MacRoman are those of the standard Latin
// glyph set that draw each code's character, with the space and hyphen
// glyphs drawing the no-break space and the soft hyphen (WinAnsi 0xA0 and
// 0xAD, MacRoman 0xCA). Codes whose character the Latin glyph set lacks have
// a character but no name: control codes, and MacRoman's infinity, product,
// pi, integral, Omega, approxequal and Apple logo.
enum class BaseEncoding : std::uint8_t { Standard, MacRoman, WinAnsi, Symbol, ZapfDingbats };

// StandardEncoding, MacRomanEncoding and WinAnsiEncoding by their exact
// names, the only values /Encoding and /BaseEncoding name. MacExpertEncoding
// (expert glyphs: small capitals, old-style figures) and anything else give
// nullopt.
std::optional<BaseEncoding> base_encoding_named(std::string_view name);

const GlyphNameTable& encoding_glyph_names(BaseEncoding encoding);
// The character of each code. For Standard, Symbol and ZapfDingbats it is
// glyph_to_unicode() of the code's name (Symbol's names through the Adobe
// list: its Omega is U+2126 OHM SIGN, its Delta U+2206 INCREMENT, its
// Euro U+20AC).
const EncodingTable& encoding_unicode(BaseEncoding encoding);

// encoding_unicode(WinAnsi), the loader's table for fonts without /Encoding.
const EncodingTable& win_ansi_encoding();
// encoding_unicode of base_encoding_named(name), WinAnsi when that is nullopt.
const EncodingTable& base_encoding(std::string_view name);

// ------------------------------------------------------------- /Differences

// Walks a font encoding's /Differences array, calling visit(code, name)
// with code a std::uint8_t and name a std::string_view into the Array, for
// each glyph name in order: an Integer sets the current code, each Name
// applies at the current code and moves to the next. Codes below 0 count as
// 0; names past code 255 are skipped; elements of other types are ignored
// and do not advance the code.
template <class Visit>
void for_each_difference(const Array& differences, Visit&& visit) {
    // The code stops counting past 255, so a long run of names after a huge
    // Integer cannot overflow it.
    std::uint64_t code = 0;
    for (const Object& element : differences) {
        if (const std::int64_t* n = element.as_int()) {
            code = *n <= 0 ? 0 : static_cast<std::uint64_t>(*n);
        } else if (const Name* glyph = element.as_name()) {
            if (code <= 255) {
                visit(static_cast<std::uint8_t>(code), std::string_view(glyph->text));
                ++code;
            }
        }
    }
}

// `table` with each /Differences name that gives exactly one character
// (glyph_to_unicode) stored at its code; names giving none or several keep
// the base entry.
EncodingTable apply_differences(EncodingTable table, const Array& differences,
                                GlyphList list = GlyphList::Adobe);

}  // namespace vellox_core
