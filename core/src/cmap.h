// ToUnicode CMaps: character codes to Unicode text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lex.h"
#include "object.h"

namespace vellox_core {

struct CMapRange {
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    std::uint32_t start = 0;  // the character for code lo
};

struct CMap {
    std::vector<CMapRange> ranges;                       // bfrange, file order
    std::unordered_map<std::uint32_t, std::string> map;  // bfchar, bfrange arrays

    static CMap parse(ByteView bytes);  // never fails
    std::optional<std::string> lookup(std::uint32_t code) const;
};

void read_bfchar(Lexer& lexer, CMap& cmap);
void read_bfrange(Lexer& lexer, CMap& cmap);
void read_codespace(Lexer& lexer, CMap& cmap);

// Big-endian UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_be(ByteView bytes);

}  // namespace vellox_core
