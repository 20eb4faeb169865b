// Glyph names and the built-in single-byte encodings of simple fonts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "object.h"

namespace vellox_core {

// Unicode scalar value per single-byte code; 0 means no character.
using EncodingTable = std::array<std::uint32_t, 256>;

const EncodingTable& standard_encoding();
const EncodingTable& mac_roman_encoding();
const EncodingTable& win_ansi_encoding();
// MacRomanEncoding, StandardEncoding, or the Windows table for any other name.
const EncodingTable& base_encoding(std::string_view name);

// One entry of the glyph-name table.
struct AglEntry {
    std::string_view name;
    std::uint32_t code;
};

// The 149-entry glyph-name table, sorted by the bytes of the names.
std::span<const AglEntry> agl_table();

// Exact lookup in the 149-entry glyph-name table.
std::optional<std::uint32_t> agl_lookup(std::string_view name);
// The full rule: suffix after '.' cut, table lookup, uniXXXX, uXXXX[XX].
std::optional<std::uint32_t> glyph_to_unicode(std::string_view name);

// Applies a font encoding's /Differences array to a base table: an Integer
// sets the current code, each Name replaces the entry at the current code
// (when it converts) and moves to the next code; other elements are skipped.
EncodingTable apply_differences(EncodingTable base, const Array& differences);

}  // namespace vellox_core
