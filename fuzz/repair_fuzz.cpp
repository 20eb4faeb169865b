// Rebuilding a damaged file: the scan of the body with its object streams,
// then the open path that falls back to it (offsets from the header, the
// rebuilt table, the catalog and page search), walking the pages and
// decoding their content. Encrypted inputs that refuse the empty password
// are tried with "user", the user password of the seeds.
#include <cstddef>
#include <cstdint>

#include "doc.h"
#include "repair.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    const ByteView bytes(data, size);
    if (auto scan = scan_objects(bytes)) {
        Resolver resolver(scan->xref, bytes);
        resolver.xref_rebuilt = true;
        add_object_stream_entries(resolver.xref, scan->object_streams, resolver);
        (void)catalogs_in_object_streams(resolver);
    }
    auto doc = Document::parse_with_password(bytes, {});
    if (!doc && doc.error().kind == ErrorKind::InvalidPassword) {
        doc = Document::parse_with_password(bytes, as_bytes("user"));
    }
    if (!doc) return 0;
    auto pages = doc->pages();
    if (!pages) return 0;
    for (const Page& page : *pages) (void)page_content(doc->resolver, page);
    return 0;
}
