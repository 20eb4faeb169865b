// Hand-built CFF font programs, for the branches no producer at hand
// writes and for fonts whose every byte a test must place.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "object.h"

namespace vellox_test {

using vellox_core::Bytes;

inline void put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
inline void put32(Bytes& out, std::uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A CFF INDEX with 2-byte offsets.
inline Bytes cff_index(const std::vector<Bytes>& items) {
    Bytes out;
    put16(out, static_cast<std::uint32_t>(items.size()));
    if (items.empty()) return out;
    out.push_back(2);
    std::uint32_t offset = 1;
    put16(out, offset);
    for (const Bytes& item : items) put16(out, offset += static_cast<std::uint32_t>(item.size()));
    for (const Bytes& item : items) out.insert(out.end(), item.begin(), item.end());
    return out;
}

// A DICT operand in the five-byte integer form.
inline Bytes cff_int(std::int32_t v) {
    Bytes out{29};
    put32(out, static_cast<std::uint32_t>(v));
    return out;
}

// A one-font CFF program: header, Name, Top DICT, String and Global Subr
// INDEXes, then the charset, the encoding and the CharStrings (one endchar
// per glyph), or the CharStrings first. A charset or encoding given as
// bytes is placed and pointed at; otherwise the Top DICT names the
// predefined one by its id.
struct CffFont {
    std::vector<std::string> strings;  // SIDs 391, 392, ...
    Bytes top_prefix;                  // Top DICT entries before the offsets (ROS)
    std::optional<Bytes> charset;
    std::int32_t charset_id = 0;
    std::optional<Bytes> encoding;
    std::int32_t encoding_id = 0;
    std::uint32_t glyphs = 1;
    bool glyphs_first = false;

    Bytes build() const {
        std::vector<Bytes> string_items;
        for (const std::string& s : strings) string_items.emplace_back(s.begin(), s.end());
        const Bytes names = cff_index({Bytes{'F'}});
        const Bytes string_index = cff_index(string_items);
        // The Top DICT's size does not depend on the offsets in it.
        const std::size_t top_size = top_prefix.size() + 3 * 6;
        const std::size_t top_index_size = 2 + 1 + 4 + top_size;
        const std::size_t body = 4 + names.size() + top_index_size + string_index.size() + 2;
        const Bytes charstrings = cff_index(std::vector<Bytes>(glyphs, Bytes{14}));
        const std::size_t charset_at = body + (glyphs_first ? charstrings.size() : 0);
        const std::size_t encoding_at = charset_at + (charset ? charset->size() : 0);
        const std::size_t charstrings_at =
            glyphs_first ? body : encoding_at + (encoding ? encoding->size() : 0);
        const Bytes top =
            concat({top_prefix,
                    cff_int(charset ? static_cast<std::int32_t>(charset_at) : charset_id),
                    {15},
                    cff_int(encoding ? static_cast<std::int32_t>(encoding_at) : encoding_id),
                    {16},
                    cff_int(static_cast<std::int32_t>(charstrings_at)),
                    {17}});
        return concat({{1, 0, 4, 2},
                       names,
                       cff_index({top}),
                       string_index,
                       {0, 0},
                       glyphs_first ? charstrings : Bytes{},
                       charset.value_or(Bytes{}),
                       encoding.value_or(Bytes{}),
                       glyphs_first ? Bytes{} : charstrings});
    }
};

}  // namespace vellox_test
