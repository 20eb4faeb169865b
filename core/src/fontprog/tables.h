// The fixed name tables of the font formats (generated into tables.cpp by
// make_tables.py, which names the published source of each).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vellox_core::fontprog {

// The CFF standard strings: string ids 0..390 (0 is ".notdef").
std::span<const std::string_view> cff_standard_strings();
// The Standard and Expert encodings as the string id of each code (0 for
// no glyph). The Standard encoding is also Type 1's StandardEncoding.
std::span<const std::uint16_t, 256> standard_encoding_sids();
std::span<const std::uint16_t, 256> expert_encoding_sids();
// The predefined Expert and ExpertSubset charsets: the string ids of glyphs
// 1, 2, ... (ISOAdobe needs no table: glyph i has string id i up to 228).
std::span<const std::uint16_t> expert_charset_sids();
std::span<const std::uint16_t> expert_subset_charset_sids();
// The 258 standard Macintosh glyph names, in the order that 'post' table
// formats 1, 2 and 2.5 index.
std::span<const std::string_view> mac_glyph_names();

}  // namespace vellox_core::fontprog
