// Fonts as text extraction needs them: code to Unicode, and glyph widths.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "agl.h"
#include "cmap.h"
#include "object.h"
#include "resolver.h"

namespace vellox_core {

using WidthMap = std::unordered_map<std::uint32_t, double>;

struct Font {
    std::optional<CMap> to_unicode;
    WidthMap widths;  // divided by 1000
    EncodingTable encoding{};
    double default_width = 0.5;
    bool composite = false;
    // Vertical writing (a composite font whose CMap has /WMode 1): glyphs
    // advance down the page, and show_into's advance is measured downwards.
    bool vertical = false;
    // A simple font's width for every one-byte code (default included),
    // filled by load_font from `widths` so that showing text needs no hash
    // lookup per character. Empty for composite fonts and for a Font built
    // field by field, whose widths come from the map.
    std::vector<double> byte_widths;

    // The width of one code, divided by 1000.
    double width_of(std::uint32_t code) const;
    // Appends the text of `bytes` to `out`; returns the advance in unscaled
    // text space (before the text matrix).
    double show_into(ByteView bytes, std::string& out, double char_spacing, double word_spacing,
                     double font_size, double horizontal_scale) const;
};

// Fonts by resource name. A font is immutable once loaded and shared: the
// pages of a document name the same font objects through many different
// /Font tables, and a font's widths can run to thousands of entries.
using FontMap = std::unordered_map<std::string, std::shared_ptr<const Font>>;

// Fonts already loaded in one document, by the object number of the font
// dictionary, and whole /Font resource tables by their (name, object number)
// pairs when every entry is a reference. Pages of one document mostly share
// fonts, often through equal or identical tables, and a font's result
// depends only on its dictionary and the file, so loading it once per
// document gives the same fonts as loading it on every page. Sharing whole
// tables also saves building their maps again.
struct FontCache {
    std::unordered_map<std::uint32_t, std::shared_ptr<const Font>> fonts;
    std::unordered_map<std::string, FontMap> tables;
    // The last table that could not be shared (it holds a direct font
    // dictionary), kept here only until the next call.
    FontMap unshared;
};

// The fonts of a page's /Font resources, loaded through `cache` (one per
// document). The result lives in `cache` and stays valid until the next call
// with it.
const FontMap& load_fonts(const Resolver& resolver, const Dictionary& resources, FontCache& cache);
Font load_font(const Resolver& resolver, const Dictionary& font);
// The 256-entry table of a simple font from its /Encoding.
EncodingTable build_encoding(const Resolver& resolver, const Dictionary& font);

}  // namespace vellox_core
