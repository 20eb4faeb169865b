// The entry point over the format readers, and the code reading of simple
// TrueType fonts.
#include "fontprog.h"

namespace vellox_core {

namespace {

enum class Sniffed : std::uint8_t { Unknown, Type1, Cff, Sfnt };

// What the first bytes say the program is.
Sniffed sniff(ByteView bytes) {
    if (bytes.size() < 4) return Sniffed::Unknown;
    const std::string_view head = as_text(bytes.first(4));
    if (head == std::string_view("\0\1\0\0", 4) || head == "true" || head == "OTTO") {
        return Sniffed::Sfnt;
    }
    if ((bytes[0] == 0x80 && bytes[1] == 0x01) || head.substr(0, 2) == "%!") return Sniffed::Type1;
    // CFF: major version 1, a header of at least 4 bytes, offsets of 1 to 4.
    if (bytes[0] == 1 && bytes[2] >= 4 && bytes[3] >= 1 && bytes[3] <= 4) return Sniffed::Cff;
    return Sniffed::Unknown;
}

std::optional<FontProgram> read_as(Sniffed format, ByteView bytes) {
    switch (format) {
        case Sniffed::Type1: return read_type1_program(bytes);
        case Sniffed::Cff: return read_cff_program(bytes);
        case Sniffed::Sfnt: return read_sfnt_program(bytes);
        case Sniffed::Unknown: break;
    }
    return std::nullopt;
}

}  // namespace

std::optional<FontProgram> read_font_program(FontFileKey key, std::string_view subtype,
                                             ByteView bytes) {
    Sniffed declared = Sniffed::Unknown;
    switch (key) {
        case FontFileKey::FontFile: declared = Sniffed::Type1; break;
        case FontFileKey::FontFile2: declared = Sniffed::Sfnt; break;
        case FontFileKey::FontFile3:
            if (subtype == "Type1C" || subtype == "CIDFontType0C") declared = Sniffed::Cff;
            if (subtype == "OpenType") declared = Sniffed::Sfnt;
            break;
    }
    if (auto program = read_as(declared, bytes)) return program;
    const Sniffed actual = sniff(bytes);
    if (actual == declared) return std::nullopt;
    return read_as(actual, bytes);
}

// Codes of a simple TrueType font, as PDF readers select glyphs, turned
// into what the text of each code is.
//
// A TrueType program has no encoding of its own, only 'cmap' subtables
// from some character set to glyphs, and readers pick the glyph of a code
// as follows:
//
//   - When the PDF /Encoding names a glyph for the code (a base encoding or
//     /Differences), readers look that name up: name -> Unicode -> the
//     (3,1) subtable, or name -> Mac Roman code -> the (1,0) subtable. The
//     name is then also the text, whatever glyph it selects; it is
//     returned as it is, for the glyph list.
//   - Otherwise (no /Encoding, or a code it leaves unnamed) the code itself
//     selects the glyph: through (3,0), the Symbol subtable, as the code,
//     then 0xF000 + code (Symbol fonts place their glyphs in that private
//     area), else through (1,0) as the code. For a symbolic
//     font with neither, a Unicode subtable is read with the code as the
//     character, and the text is then that character.
//   - The text of a glyph selected by code is the Unicode value a Unicode
//     subtable gives the glyph (glyph_unicode), else the glyph's 'post'
//     name. A glyph with neither, or no glyph at all, gives nothing: the
//     loader's own reading of the code stays.
//
// The codes of a (3,0) subtable (0xF000 + code) are never returned as
// text: they are positions in the Symbol font's private area, not
// characters.
std::array<CodeReading, 256> simple_truetype_codes(
    const FontProgram& program, bool symbolic,
    const std::array<std::string_view, 256>& encoding_names) {
    std::array<CodeReading, 256> out;
    const CmapSubtable* symbol = program.cmap(3, 0);
    const CmapSubtable* mac = program.cmap(1, 0);
    const CmapSubtable* unicode = unicode_subtable(program);
    for (std::uint32_t code = 0; code < 256; ++code) {
        CodeReading& reading = out[code];
        if (!encoding_names[code].empty()) {
            reading.name = std::string(encoding_names[code]);
            continue;
        }
        std::uint32_t glyph = 0;
        if (symbol != nullptr) {
            for (const std::uint32_t base : {0u, 0xF000u}) {
                glyph = symbol->glyph(base + code);
                if (glyph != 0) break;
            }
        } else if (mac != nullptr) {
            glyph = mac->glyph(code);
        } else if (symbolic && unicode != nullptr) {
            if (code != 0 && unicode->glyph(code) != 0) reading.unicode = code;
            continue;
        }
        if (glyph == 0) continue;
        if (glyph < program.glyph_unicode.size() && program.glyph_unicode[glyph] != 0) {
            reading.unicode = program.glyph_unicode[glyph];
        } else if (glyph < program.glyph_names.size() && program.glyph_names[glyph] != ".notdef") {
            reading.name = program.glyph_names[glyph];
        }
    }
    return out;
}

}  // namespace vellox_core
