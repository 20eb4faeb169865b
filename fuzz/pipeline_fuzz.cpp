// The whole job: open, extract, render every form. A file that extracts is
// extracted again under a maximum of decoded bytes below what the first call
// decoded, which must fail with LimitExceeded: no stage may swallow the
// limit. And once more with images only checked for decoding, as Markdown
// is made, which must flag the same pages for OCR.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "budget.h"
#include "doc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const ByteView bytes(data, size);
    Budget counting;  // no limits: only counts
    auto doc = Document::parse_with_password(bytes, {}, &counting);
    if (!doc) return 0;
    auto extracted = doc->extract();
    if (!extracted) return 0;
    (void)extracted->to_json();
    (void)extracted->to_markdown();
    (void)extracted->to_html();
    (void)extracted->to_text();

    const std::uint64_t total = counting.decoded();
    if (total <= 1) return 0;  // a maximum of 0 would be none
    Budget below(0, total - 1);
    auto again = Document::parse_with_password(bytes, {}, &below);
    if (again) {
        auto limited = again->extract();
        if (limited || limited.error().kind != ErrorKind::LimitExceeded) std::abort();
    } else if (again.error().kind != ErrorKind::LimitExceeded) {
        std::abort();
    }

    Budget unlimited;
    auto light = Document::parse_with_password(bytes, {}, &unlimited);
    if (!light) std::abort();
    auto presence = light->extract({.images = ImageDetail::PresenceOnly});
    if (!presence || presence->pages.size() != extracted->pages.size()) std::abort();
    for (std::size_t i = 0; i < presence->pages.size(); ++i) {
        if (presence->pages[i].needs_ocr != extracted->pages[i].needs_ocr) std::abort();
    }
    return 0;
}
