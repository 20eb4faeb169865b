// Font programs: the first byte picks the /FontFile key and /Subtype the
// bytes are handed over under (so that every reader sees every input, the
// sniffing fallback included), the rest is the program. Whatever is read is
// then queried as the font loader would.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fontprog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
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
