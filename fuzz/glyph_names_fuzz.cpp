// A glyph name or a /BaseFont name from a hostile file: the input is the
// name. Checks, beyond not crashing, that a name giving no text appends
// nothing, that the text is valid UTF-8 of bounded size, and that the
// single-character lookup agrees with it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agl.h"
#include "bounds.h"
#include "std14.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    for (const GlyphList list : {GlyphList::Adobe, GlyphList::ZapfDingbats}) {
        std::string text;
        const bool any = glyph_text(name, text, list);
        if (any == text.empty()) std::abort();
        if (!is_valid_utf8(as_bytes(text))) std::abort();
        // At most four bytes per character and, per component, four
        // characters from the list or one per four hex digits.
        if (text.size() > 4 * 4 * limits::kMaxGlyphNameBytes) std::abort();
        const auto single = glyph_to_unicode(name, list);
        if (single) {
            std::string one;
            append_utf8(one, static_cast<char32_t>(*single));
            if (one != text) std::abort();
        }
    }
    if (const auto font = std14_font(name)) {
        if (std14_name(*font).empty()) std::abort();
    }
    for (std::uint8_t f = 0; f <= static_cast<std::uint8_t>(Std14Font::ZapfDingbats); ++f) {
        (void)std14_width(static_cast<Std14Font>(f), name);
    }
    return 0;
}
