// The whole job: open, extract, render every form.
#include <cstddef>
#include <cstdint>

#include "doc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const ByteView bytes(data, size);
    auto doc = Document::parse_with_password(bytes, {});
    if (!doc) return 0;
    auto extracted = doc->extract();
    if (!extracted) return 0;
    (void)extracted->to_json();
    (void)extracted->to_markdown();
    (void)extracted->to_html();
    (void)extracted->to_text();
    return 0;
}
