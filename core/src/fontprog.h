// Embedded font programs (the streams under /FontFile, /FontFile2 and
// /FontFile3 of a font descriptor), read for what text extraction needs:
// the encoding built into the program, and the names, CIDs and Unicode
// values the program gives its glyphs. Outlines, hints and metrics are not
// read.
//
// How the font loader is meant to use this, once per font descriptor (a
// document's pages share their fonts, so once per document):
//
//   1. Decode the stream and call read_font_program with the key it was
//      found under and its /Subtype (FontFile3 only). Nothing back means the
//      bytes are no program this module reads; keep today's behaviour.
//   2. Simple Type 1 or CFF font (Type1, MMType1, or Type1C/OpenType
//      programs of a simple font): when `encoding` is not None, it is the
//      base encoding that /Encoding's /BaseEncoding would otherwise default
//      to. Build the code table from `code_names` (each name through the
//      glyph list), then apply /Differences and an explicit /BaseEncoding as
//      usual; a ToUnicode map still wins over all of it. This is what turns
//      code 0x0C of a Computer Modern font into "fi".
//   3. Simple TrueType font (FontFile2, or an OpenType program with
//      TrueType outlines): call simple_truetype_codes with the program, the
//      Symbolic flag of /FontDescriptor /Flags and the glyph names that the
//      PDF /Encoding assigns (base encoding plus /Differences; all empty
//      when the font has no /Encoding). Each code gets a glyph name or a
//      Unicode value, or nothing, in which case the loader's own reading of
//      the code stands.
//   4. Composite font without a ToUnicode map:
//      - CIDFontType2 (TrueType): code -> CID through the CMap, CID -> glyph
//        id through /CIDToGIDMap (Identity: the same number), then
//        `glyph_unicode[gid]` when the vector reaches gid and the value is
//        non-zero, else `glyph_names[gid]` through the glyph list.
//      - CIDFontType0 with a CID-keyed CFF program (`cid_system` set): CID ->
//        glyph id with glyph_of_cid; the Unicode value then comes from
//        `glyph_unicode` when the program was OpenType with a Unicode cmap,
//        else only from a CID-to-Unicode table for `cid_system` (registry
//        and ordering), which this module does not have.
//      - CIDFontType0 with a name-keyed CFF program: the CID is the glyph
//        id; `glyph_names[gid]` through the glyph list.
//
// Glyph names are returned as the program spells them; turning them into
// Unicode is the glyph list's job (agl). Unicode values are returned only
// where the program states them: in the 'cmap' subtables of TrueType and
// OpenType programs.
//
// Every reader takes the bytes as they are, from a hostile file: it checks
// every offset against the buffer, never allocates for a count the data
// does not back, bounds its work (bounds.h), and returns nothing rather
// than fail loudly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "object.h"

namespace vellox_core {

// The font descriptor key the program was found under.
enum class FontFileKey : std::uint8_t { FontFile, FontFile2, FontFile3 };

enum class FontProgramFormat : std::uint8_t {
    Type1,        // FontFile: a Type 1 program (clear-text part read)
    Cff,          // FontFile3 Type1C or CIDFontType0C: a bare CFF font
    TrueType,     // FontFile2, or OpenType with 'glyf' outlines
    OpenTypeCff,  // OpenType with a 'CFF ' table
};

// The encoding built into a Type 1 or name-keyed CFF program.
enum class BuiltinEncoding : std::uint8_t {
    None,      // TrueType and CID-keyed programs, or none found
    Standard,  // StandardEncoding; code_names holds its names
    Custom,    // an encoding of the program's own (CFF's Expert included)
};

// One run of a cmap subtable: codes first..last select glyphs glyph,
// glyph + 1, ... Codes that select glyph 0 (missing) are not listed.
struct CmapRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint32_t glyph = 0;
    bool operator==(const CmapRange&) const = default;
};

// A 'cmap' subtable of a TrueType or OpenType program, as sorted disjoint
// runs whatever its format.
struct CmapSubtable {
    std::uint16_t platform = 0;
    std::uint16_t encoding = 0;
    std::uint16_t format = 0;
    std::vector<CmapRange> ranges;  // ascending, disjoint

    // The glyph id `code` selects; 0 when none.
    std::uint32_t glyph(std::uint32_t code) const;
};

// Registry, ordering and supplement of a CID-keyed CFF font (its ROS).
struct CidSystem {
    std::string registry;
    std::string ordering;
    std::int64_t supplement = 0;
    bool operator==(const CidSystem&) const = default;
};

struct FontProgram {
    FontProgramFormat format = FontProgramFormat::Type1;

    // Built-in encoding, one glyph name per code (always 256 of them);
    // empty where the encoding names no glyph (and ".notdef" is dropped as
    // no glyph). A vector, not an array: a program is handed from its
    // reader to the document's cache through several returns, and moving
    // an array moves each of its 256 strings, copying their bytes.
    BuiltinEncoding encoding = BuiltinEncoding::None;
    std::vector<std::string> code_names = std::vector<std::string>(256);

    // Number of glyphs the program declares (CFF CharStrings count, the
    // 'maxp' table's); 0 for Type 1, whose glyphs are not read.
    std::uint32_t glyph_count = 0;
    // By glyph id: the CFF charset's names (name-keyed CFF), else the
    // 'post' table's (formats 1, 2 and 2.5). Shorter than glyph_count when
    // the program names fewer glyphs; an empty name is no name.
    std::vector<std::string> glyph_names;

    // CID-keyed CFF fonts only: the ROS, and the CID of each glyph id from
    // the charset, with the glyph ids ordered by CID for glyph_of_cid.
    std::optional<CidSystem> cid_system;
    std::vector<std::uint32_t> glyph_cids;
    std::vector<std::uint32_t> glyphs_by_cid;

    // TrueType and OpenType: the cmap subtables read ((3,0), (3,1), (3,10),
    // (1,0) and (0,*) in formats 0, 4, 6 and 12), in the order the table
    // lists them, and by glyph id the Unicode value a Unicode subtable
    // gives it (see unicode_subtable; 0 for none; the lowest code point
    // when several select the same glyph). Shorter than glyph_count when
    // the last glyphs have none.
    std::vector<CmapSubtable> cmaps;
    std::vector<std::uint32_t> glyph_unicode;

    // The subtable for (platform, encoding); nullptr when absent.
    const CmapSubtable* cmap(std::uint16_t platform, std::uint16_t encoding) const;
};

// The one entry point: the program in `bytes` (decoded stream data) found
// under `key`, with the stream's /Subtype for FontFile3 (Type1C,
// CIDFontType0C or OpenType; empty otherwise). The key decides which
// reader runs first; a program whose bytes plainly say another format (a
// FontFile3 holding a bare TrueType program, a FontFile with a CFF one) is
// read as what it is. Nothing when no reader accepts the bytes.
std::optional<FontProgram> read_font_program(FontFileKey key, std::string_view subtype,
                                             ByteView bytes);

// Whether `prefix`, the first bytes of a Type 1 program (or all of them),
// holds its whole clear-text part: read_type1_program then reads from it
// exactly what it reads from the whole program. False when it cannot tell,
// including for bytes that are no Type 1 program.
bool holds_type1_clear_text(ByteView prefix);

// The CFF program of which `prefix` is the first bytes (or all of them), as
// read_cff_program reads it from the whole program, when all it reads lies
// in `prefix`: the header, the first INDEXes, the charset and the encoding,
// which producers put before the glyph programs, most of the font. Nothing
// when the reading needs bytes past the prefix or they are no CFF program.
std::optional<FontProgram> read_cff_program_start(ByteView prefix);

// The readers by format, for tests and the fuzz harness.
std::optional<FontProgram> read_type1_program(ByteView bytes);
std::optional<FontProgram> read_cff_program(ByteView bytes);
std::optional<FontProgram> read_sfnt_program(ByteView bytes);

// The glyph id of CID `cid` in a CID-keyed CFF program; 0 when no glyph has it.
std::uint32_t glyph_of_cid(const FontProgram& program, std::uint32_t cid);

// The subtable whose code points are Unicode, preferred in this order:
// (3,10) (all of Unicode), (0,6), (0,4), (3,1), then any other (0,*);
// nullptr when the program has none.
const CmapSubtable* unicode_subtable(const FontProgram& program);

// What one code of a simple TrueType font shows: a glyph name for the glyph
// list, or a Unicode value the program states; neither when nothing is known.
struct CodeReading {
    std::string name;
    std::uint32_t unicode = 0;
    bool operator==(const CodeReading&) const = default;
};

// Codes 0..255 of a simple TrueType font (see the rule in fontprog.cpp).
// `symbolic` is the Symbolic flag of /FontDescriptor /Flags (bit 3, value
// 4); `encoding_names` holds the glyph name the PDF /Encoding gives each
// code, empty where it gives none.
std::array<CodeReading, 256> simple_truetype_codes(
    const FontProgram& program, bool symbolic,
    const std::array<std::string_view, 256>& encoding_names);

}  // namespace vellox_core
