// Document information: the text-string, date and XMP readers on the raw
// input, then the whole reader (Info, XMP, outline, named destinations,
// encryption method) on the input opened as a PDF.
#include <cstddef>
#include <cstdint>

#include "doc.h"
#include "docinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const ByteView bytes(data, size);
    (void)decode_text_string(bytes);
    (void)pdf_date_to_iso(as_text(bytes));
    (void)scan_xmp(as_text(bytes));
    auto doc = Document::parse_with_password(bytes, {});
    if (!doc) return 0;
    (void)read_doc_info(*doc);
    return 0;
}
