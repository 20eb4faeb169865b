// A font and a content stream shown with it, with the objects the font
// points at: embedded programs, ToUnicode and CID CMap streams, widths.
//
// The input is cut at each "#%%#" into parts: the first is the font
// dictionary, the last the content stream shown with it as /F1, and those
// between are the bodies of objects 1, 2, ... ("<< /Length 5 >> stream
// ... endstream" for a stream), which references in the font resolve to.
// Without a separator the input is the font alone. Checks, beyond not
// crashing, that the text is valid UTF-8 and that loading the font again
// through the same program cache gives the same texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "content.h"
#include "cos.h"
#include "font.h"
#include "page.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view kSeparator = "#%%#";
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (true) {
        const std::size_t next = input.find(kSeparator, at);
        if (next == std::string_view::npos) {
            parts.push_back(input.substr(at));
            break;
        }
        parts.push_back(input.substr(at, next - at));
        at = next + kSeparator.size();
    }

    // The objects between font and content, as the body of a file.
    std::string body = "%PDF-1.7\n";
    Xref xref;
    for (std::size_t i = 1; i + 1 < parts.size(); ++i) {
        xref.entries[static_cast<std::uint32_t>(i)] = XrefInFile{body.size(), 0};
        body += std::to_string(i) + " 0 obj\n";
        body += parts[i];
        body += "\nendobj\n";
    }
    const Resolver resolver(std::move(xref), as_bytes(body));

    Lexer lexer(as_bytes(parts.front()));
    auto obj = cos::parse_object(lexer);
    if (!obj || obj->as_dict() == nullptr) return 0;
    ProgramCache programs;
    const Font font = load_font(resolver, *obj->as_dict(), programs);
    // Loaded again, its embedded program now taken from the cache, the
    // font gives the same texts.
    if (!(load_font(resolver, *obj->as_dict(), programs).texts == font.texts)) std::abort();

    // show_into directly, on the content's bytes, and through the text
    // machine on the content's operations.
    const std::string_view content = parts.size() > 1 ? parts.back() : std::string_view();
    std::string text;
    (void)font.show_into(as_bytes(content), text, 0.5, 1, 12, 1);
    if (!is_valid_utf8(as_bytes(text))) std::abort();
    FontMap fonts;
    fonts["F1"] = std::make_shared<const Font>(font);
    for (const TextRun& run : interpret_content(as_bytes(content), fonts).runs) {
        if (!is_valid_utf8(as_bytes(run.text))) std::abort();
    }
    return 0;
}
