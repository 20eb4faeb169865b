// Fonts as text extraction needs them: code to Unicode, and glyph widths.
//
// How a code becomes text, in order of precedence (load_font, show_into):
//
// Simple fonts (Type1, MMType1, TrueType, Type3): one byte is one code.
//   1. The /ToUnicode map's entry for the code.
//   2. The glyph name the /Encoding gives the code: /Differences over the
//      base encoding, read by the Adobe Glyph List's rules (agl.h), or the
//      character the base encoding itself defines. The base encoding is the
//      one /Encoding or its /BaseEncoding names; without one, the font's
//      built-in encoding: the embedded Type 1 or CFF program's, else that of
//      a standard font (std14.h), else, for any other font, Windows code
//      page 1252 as before.
//   3. The embedded program, for a code the first two leave without text
//      (or when the font has no /Encoding at all and the program decides
//      what every code draws): a Type 1 or CFF program's built-in encoding,
//      or a TrueType program's cmap and 'post' names
//      (simple_truetype_codes).
//   Widths: /Widths; a standard font's metrics by glyph name for codes it
//   leaves out; else 0.5 em.
//
// Composite fonts (Type0): the /Encoding CMap (cidcmap.h) splits the bytes
// into codes of one to four bytes and gives each its CID.
//   1. The /ToUnicode map's entry for the code, as the CMap splits it.
//   2. A Unicode CMap's code read as the UTF-16 (or UCS-2...) text it is.
//   3. The character collection's character for the CID (Adobe-GB1, -CNS1,
//      -Japan1, -Korea1, -KR), from the CMap's or the descendant's
//      /CIDSystemInfo.
//   4. The embedded program: a TrueType descendant's glyph (CID through
//      /CIDToGIDMap) read back through its Unicode cmap or 'post' name, a
//      CFF descendant's glyph (through the charset) likewise.
//   Widths by CID: /W and /DW; vertical fonts advance by /W2 and /DW2.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "agl.h"
#include "cidcmap.h"
#include "cmap.h"
#include "collection.h"
#include "fontprog.h"
#include "object.h"
#include "resolver.h"

namespace vellox_core {

using WidthMap = std::unordered_map<std::uint32_t, double>;

// Short UTF-8 texts by a small dense key (a simple font's code, a composite
// font's CID), packed into one buffer so that showing a code copies its
// text without allocating and loading a font allocates twice.
struct KeyedTexts {
    std::string pool;
    // ends[k] is where the text of key k ends in `pool`; it starts where
    // the text of key k - 1 ends.
    std::vector<std::uint32_t> ends;

    // Empty for keys past the end.
    std::string_view operator[](std::uint32_t key) const {
        if (key >= ends.size()) return {};
        const std::uint32_t begin = key == 0 ? 0 : ends[key - 1];
        return std::string_view(pool).substr(begin, ends[key] - begin);
    }
    std::size_t size() const { return ends.size(); }
    // Appends the text of the next key.
    void push_back(std::string_view text) {
        pool += text;
        ends.push_back(static_cast<std::uint32_t>(pool.size()));
    }
    // Appends the text of key `earlier` (one already there) again, as the
    // next key's.
    void push_back_again(std::uint32_t earlier) {
        const std::size_t begin = earlier == 0 ? 0 : ends[earlier - 1];
        const std::size_t length = ends[earlier] - begin;
        if (length != 0) {
            const std::size_t at = pool.size();
            // By offsets: the copy's source moves with the pool when it grows.
            pool.resize(at + length);
            std::copy_n(pool.begin() + static_cast<std::ptrdiff_t>(begin), length,
                        pool.begin() + static_cast<std::ptrdiff_t>(at));
        }
        ends.push_back(static_cast<std::uint32_t>(pool.size()));
    }
    bool operator==(const KeyedTexts&) const = default;
};

struct Font {
    std::optional<CMap> to_unicode;
    // Divided by 1000, by CID in a composite font. A loaded simple font
    // keeps its widths in `byte_widths` alone; this map serves one
    // assembled field by field.
    WidthMap widths;
    double default_width = 0.5;
    bool composite = false;
    // Vertical writing (a composite font whose CMap is vertical: a -V name,
    // Identity-V, or /WMode 1): glyphs advance down the page, and
    // show_into's advance is measured downwards.
    bool vertical = false;
    // A simple font's width for every one-byte code (default included),
    // from /Widths and the standard metrics: showing text needs no hash
    // lookup per character. Empty for composite fonts and for a Font built
    // field by field, whose widths come from the map.
    std::vector<double> byte_widths;

    // The text of each code of a simple font (256 entries) from its
    // encoding and program, and of each CID of a composite font from its
    // program (empty when the font has none or needs none). Below the
    // ToUnicode map in precedence.
    KeyedTexts texts;
    // A simple font's code whose text in `texts` is one ASCII character
    // holds that character here, every other code 0: the common case shown
    // without looking at `texts`.
    std::array<char, 256> ascii{};
    // A simple font with a ToUnicode map: the text show_into gives each
    // one-byte code, the map's entry over `ascii` and `texts`, filled by
    // load_font so that showing text looks nothing up in the map (a hash
    // probe and a string made per character). Empty for other fonts and for
    // a Font built field by field, whose codes are looked up as shown.
    KeyedTexts mapped_texts;

    // Composite fonts: the CMap of /Encoding (none: two-byte codes, each
    // its own CID, as Identity-H), and the collection whose CIDs the font
    // shows (none: CIDs give no text of themselves).
    std::optional<CidCMap> cmap;
    std::optional<Collection> collection;
    // Vertical fonts: the advance down the page by CID (/W2's w1y, negated
    // and divided by 1000) and for other CIDs (/DW2's).
    WidthMap vertical_advances;
    double default_vertical_advance = 1.0;

    // The width of one code of a simple font, or one CID of a composite
    // font, divided by 1000.
    double width_of(std::uint32_t code) const;
    // The advance of one CID of a vertical font, downwards, divided by 1000.
    double vertical_advance_of(std::uint32_t cid) const;
    // Appends the text of `bytes` to `out`; returns the advance in unscaled
    // text space (before the text matrix) along the writing direction: to
    // the right, or downwards for a vertical font (whose advances the
    // horizontal scale does not touch).
    double show_into(ByteView bytes, std::string& out, double char_spacing, double word_spacing,
                     double font_size, double horizontal_scale) const;
};

// The hash of FontMap's names. Every Tf looks its name up, and TeX's output
// selects a font again for almost every word: the name is hashed as the
// operand's view, without a std::string made for it, and in a few steps
// (names are short: "F8", "TT2"). The standard library searches tables of
// up to 20 std::string keys by comparing the name with each in turn, which
// a page with a dozen fonts paid on every Tf.
struct FontNameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
        // FNV-1a, 64 bits.
        std::uint64_t hash = 14695981039346656037u;
        for (const char c : name) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211u;
        }
        return static_cast<std::size_t>(hash);
    }
};

// Fonts by resource name. A font is immutable once loaded and shared: the
// pages of a document name the same font objects through many different
// /Font tables, and a font's widths can run to thousands of entries.
using FontMap =
    std::unordered_map<std::string, std::shared_ptr<const Font>, FontNameHash, std::equal_to<>>;

// Fonts already loaded in one document, by the object number of the font
// dictionary, and whole /Font resource tables by their (name, object number)
// pairs when every entry is a reference. Pages of one document mostly share
// fonts, often through equal or identical tables, and a font's result
// depends only on its dictionary and the file, so loading it once per
// document gives the same fonts as loading it on every page (and reads each
// embedded font program at most once). Sharing whole tables also saves
// building their maps again.
//
// Embedded programs are kept by stream: TeX subsets one program per face,
// and a document that uses a face at several encodings or through several
// descriptors has one font dictionary per use, all naming the same
// /FontFile3 stream (GeoTopo-komprimiert.pdf: 53 descriptors, 45 programs).
// The key is the stream's object number with the descriptor key it was
// found under, which decides the reader; the value is what reading gave,
// nothing included, since reading the same stream again gives the same.
// Programs are kept up to limits::kMaxCachedProgramEntries in all.
struct ProgramCache {
    std::unordered_map<std::uint64_t, std::optional<FontProgram>> programs;
    std::size_t entries = 0;  // what the programs kept weigh, see bounds.h
};

struct FontCache {
    std::unordered_map<std::uint32_t, std::shared_ptr<const Font>> fonts;
    ProgramCache programs;
    std::unordered_map<std::string, std::shared_ptr<const FontMap>> tables;
};

// The fonts of a page's /Font resources, loaded through `cache` (one per
// document). A table that can be shared (every entry a reference) is kept
// in `cache` and handed out again; one holding a direct font dictionary is
// made afresh on every call. Shared, not copied: a page and each form it
// draws hold their table while loading others.
std::shared_ptr<const FontMap> load_fonts(const Resolver& resolver, const Dictionary& resources,
                                          FontCache& cache);
// One font, its embedded program read through `programs` (see FontCache).
Font load_font(const Resolver& resolver, const Dictionary& font, ProgramCache& programs);
Font load_font(const Resolver& resolver, const Dictionary& font);

}  // namespace vellox_core
