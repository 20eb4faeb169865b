// Opening a document: the header, the cross-reference chain, the security
// handler; and the catalog and page list of an opened document.
#include "doc.h"

#include <algorithm>
#include <string_view>

#include "content.h"
#include "font.h"
#include "image.h"
#include "layout.h"
#include "tables.h"
#include "text.h"
#include "utf8.h"
#include "xref.h"

namespace vellox_core {

namespace {

// Readers accept the header anywhere in the first kilobyte: some producers
// and mail gateways put a byte-order mark or other garbage in front of it.
constexpr std::size_t kHeaderWindow = 1024;
// The version text kept from the header line ("1.7", "2.0"), at most.
constexpr std::size_t kMaxVersionBytes = 8;

Error missing_root() { return {ErrorKind::MissingTrailer, "trailer has no /Root"}; }

}  // namespace

Result<Document> Document::parse_with_password(ByteView data, ByteView password) {
    constexpr std::string_view kHeader = "%PDF-";
    const std::string_view window = as_text(data.first(std::min(data.size(), kHeaderWindow)));
    const std::size_t p = window.find(kHeader);
    if (p == std::string_view::npos) {
        return Error{ErrorKind::InvalidHeader, "no %PDF- header"};
    }
    std::size_t end = p + kHeader.size();
    while (end < data.size() && data[end] != 0x09 && data[end] != 0x0A && data[end] != 0x0D &&
           data[end] != 0x20) {
        ++end;
    }
    const std::size_t start = p + kHeader.size();
    std::string version = lossy_utf8(data.subspan(start, std::min(end - start, kMaxVersionBytes)));

    auto xref = read_xref(data);
    if (!xref) return std::move(xref).error();
    if (!xref->trailer.contains("Root")) return missing_root();

    Document doc{Resolver(std::move(xref).value(), data), std::move(version)};
    Resolver& resolver = doc.resolver;

    const Object* encrypt_value = resolver.xref.trailer.get("Encrypt");
    if (encrypt_value != nullptr) {
        std::optional<std::uint32_t> encrypt_num;
        if (const Reference* ref = encrypt_value->as_ref()) encrypt_num = ref->num;
        // Fetched before any decryptor exists, so it is read in the clear.
        auto encrypt_dict = resolver.resolve_dict(*encrypt_value);
        if (!encrypt_dict) return std::move(encrypt_dict).error();

        // The first string of /ID takes part in the key; only it is used.
        Bytes id;
        if (const Object* id_obj = resolver.xref.trailer.get("ID")) {
            if (const Array* arr = id_obj->as_array(); arr != nullptr && !arr->empty()) {
                if (const String* s = arr->front().as_string()) id = s->bytes;
            }
        }
        auto decryptor = Decryptor::from_encrypt(**encrypt_dict, id, password);
        if (decryptor) {
            resolver.decryptor = std::move(decryptor);
            resolver.encrypt_ref = encrypt_num;
        }
    }
    return doc;
}

Result<Dictionary> Document::catalog() const {
    const Object* root = resolver.xref.trailer.get("Root");
    if (root == nullptr) return missing_root();
    auto dict = resolver.resolve_dict(*root);
    if (!dict) return std::move(dict).error();
    return **dict;
}

Result<std::vector<Page>> Document::pages() const {
    auto cat = catalog();
    if (!cat) return std::move(cat).error();
    return collect_pages(resolver, *cat);
}

Result<ExtractedDoc> Document::extract(ImageDetail images) const {
    auto pages = this->pages();
    if (!pages) return std::move(pages).error();
    ExtractedDoc doc;
    doc.pages.reserve(pages->size());
    FontCache font_cache;
    for (const Page& page : *pages) {
        auto content = page_content(resolver, page);
        if (!content) return std::move(content).error();
        // Every stage below degrades instead of failing: a font that does not
        // load decodes less text, an image that does not decode is left out.
        // The operations borrow the content bytes, which outlive them here.
        const Content page_ops = parse_content(*content);
        const FontMap& fonts = load_fonts(resolver, page.resources, font_cache);
        std::vector<TextRun> runs = extract_runs(page_ops.ops, fonts);
        PageText text = layout_page(runs, page.media_box, page.rotate);
        text.tables = detect_tables(page_ops.ops, runs);
        // A page with images but no text is most likely a scan.
        if (images == ImageDetail::Full) {
            text.images = extract_images(resolver, page.resources);
            text.needs_ocr = text.lines.empty() && !text.images.empty();
        } else {
            text.needs_ocr = text.lines.empty() && has_image(resolver, page.resources);
        }
        doc.pages.push_back(std::move(text));
    }
    doc.version = version;
    return doc;
}

}  // namespace vellox_core
