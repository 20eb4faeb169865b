// A font dictionary and a content stream from one input: the bytes before
// the first NUL are parsed as the font, the rest is shown with it as /F1.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "content.h"
#include "cos.h"
#include "font.h"
#include "page.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const ByteView bytes(data, size);
    const auto split = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const auto font_len = static_cast<std::size_t>(split - bytes.begin());
    Lexer lexer(bytes.first(font_len));
    auto obj = cos::parse_object(lexer);
    if (!obj || obj->as_dict() == nullptr) return 0;
    // The font may point at objects in the same bytes; none are listed, so
    // every reference fails to resolve, as in a file with a broken xref.
    const Resolver resolver(Xref{}, bytes);
    FontMap fonts;
    fonts["F1"] = std::make_shared<const Font>(load_font(resolver, *obj->as_dict()));
    const ByteView content = font_len < size ? bytes.subspan(font_len + 1) : ByteView{};
    (void)interpret_ops(parse_content(content).ops, fonts);
    return 0;
}
