// Font programs: the first byte picks the /FontFile key and /Subtype the
// bytes are handed over under (so that every reader sees every input, the
// sniffing fallback included), the rest is the program. Whatever is read is
// then queried as the font loader would. A CFF program is also read from
// starts of it, which must give nothing or what the whole gives (a trap
// otherwise).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fontprog.h"

namespace {

using namespace vellox_core;

bool same(const FontProgram& a, const FontProgram& b) {
    return a.format == b.format && a.encoding == b.encoding && a.code_names == b.code_names &&
           a.glyph_count == b.glyph_count && a.glyph_names == b.glyph_names &&
           a.cid_system == b.cid_system && a.glyph_cids == b.glyph_cids &&
           a.glyphs_by_cid == b.glyphs_by_cid;
}

void check_cff_starts(ByteView bytes) {
    const auto whole = read_cff_program(bytes);
    for (const std::size_t n :
         {bytes.size() / 4, bytes.size() / 2, bytes.size() - bytes.size() / 8, bytes.size()}) {
        const auto start = read_cff_program_start(bytes.first(n));
        if (start && !(whole && same(*start, *whole))) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    struct Origin {
        FontFileKey key;
        std::string_view subtype;
    };
    constexpr Origin kOrigins[] = {
        {FontFileKey::FontFile, ""},          {FontFileKey::FontFile2, ""},
        {FontFileKey::FontFile3, "Type1C"},   {FontFileKey::FontFile3, "CIDFontType0C"},
        {FontFileKey::FontFile3, "OpenType"},
    };
    const Origin& origin = kOrigins[data[0] % std::size(kOrigins)];
    if (origin.subtype == "Type1C" || origin.subtype == "CIDFontType0C") {
        check_cff_starts(ByteView(data + 1, size - 1));
    }
    const auto program =
        read_font_program(origin.key, origin.subtype, ByteView(data + 1, size - 1));
    if (!program) return 0;
    std::array<std::string_view, 256> names{};
    names[0x41] = "A";
    (void)simple_truetype_codes(*program, (data[0] & 0x80) != 0, names);
    for (const std::uint32_t cid : {0u, 1u, 0xFFFFu}) (void)glyph_of_cid(*program, cid);
    for (const CmapSubtable& sub : program->cmaps) {
        for (const std::uint32_t code : {0u, 0x41u, 0xF041u, 0x10FFFFu, 0xFFFFFFFFu})
            (void)sub.glyph(code);
    }
    return 0;
}
