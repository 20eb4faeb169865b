// Opening a document: the header, the cross-reference chain (or, for a
// damaged file, a table rebuilt from the body), the security handler; and
// the catalog and page list of an opened document.
#include "doc.h"

#include <algorithm>
#include <string_view>

#include "docinfo.h"
#include "font.h"
#include "headings.h"
#include "image.h"
#include "layout.h"
#include "page.h"
#include "reading_order.h"
#include "repair.h"
#include "tables.h"
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

// Failures that concern what the document asks of its reader (a password, a
// security handler) rather than its structure: no other cross-reference
// table can change them.
// A limit of the call passed is final too: the next try would start over
// on work the caller has refused to pay for.
bool is_final(const Error& error) {
    return error.kind == ErrorKind::InvalidPassword || error.kind == ErrorKind::Unsupported ||
           error.kind == ErrorKind::LimitExceeded;
}

// A failure, or the limit passed if one was: the work that gave up may
// have taken the limit's error for damage (a cross-reference stream that
// "does not decode", a font left out) and reported something else.
template <class T>
Result<T> limit_first(Result<T> result, const Budget* budget) {
    if (budget != nullptr && budget->exceeded()) return budget->error();
    return result;
}

// Lends the call's budget to the resolver while the call runs.
class LentBudget {
public:
    LentBudget(const Resolver& resolver, Budget* budget)
        : resolver_(resolver), before_(resolver.budget) {
        resolver.budget = budget;
    }
    ~LentBudget() { resolver_.budget = before_; }
    LentBudget(const LentBudget&) = delete;
    LentBudget& operator=(const LentBudget&) = delete;

private:
    const Resolver& resolver_;
    Budget* before_;
};

// Installs the decryptor that the trailer's /Encrypt asks for, if any.
Status set_up_decryption(Resolver& resolver, ByteView password) {
    const Object* encrypt_value = resolver.xref.trailer.get("Encrypt");
    if (encrypt_value == nullptr) return Unit{};
    const Object encrypt = *encrypt_value;
    std::optional<std::uint32_t> encrypt_num;
    if (const Reference* ref = encrypt.as_ref()) encrypt_num = ref->num;
    // Fetched before any decryptor exists, so it is read in the clear.
    auto encrypt_dict = resolver.resolve_dict(encrypt);
    if (!encrypt_dict) return std::move(encrypt_dict).error();

    // The first string of /ID takes part in the key; only it is used.
    Bytes id;
    if (const Object* id_obj = resolver.xref.trailer.get("ID")) {
        if (const Array* arr = id_obj->as_array(); arr != nullptr && !arr->empty()) {
            if (const String* s = arr->front().as_string()) id = s->bytes;
        }
    }
    auto decryptor = Decryptor::from_encrypt(**encrypt_dict, id, password);
    if (!decryptor) return std::move(decryptor).error();
    if (*decryptor) {
        resolver.decryptor = std::move(*decryptor).value();
        resolver.encrypt_ref = encrypt_num;
    }
    return Unit{};
}

// `root` is a catalog with a page tree: the errors are those that catalog()
// and pages() would give later.
Status check_catalog(const Resolver& resolver, const Object& root) {
    auto catalog = resolver.resolve_dict(root);
    if (!catalog) return std::move(catalog).error();
    const Object* pages = (*catalog)->get("Pages");
    if (pages == nullptr) return Error{ErrorKind::InvalidObject, "catalog has no /Pages"};
    auto tree = resolver.resolve_dict(*pages);
    if (!tree) return std::move(tree).error();
    return Unit{};
}

// Through the file's own cross-reference chain, with `data` the file or the
// part of it from the header on.
Result<Document> open_as_written(ByteView data, const std::string& version, ByteView password,
                                 Budget* budget) {
    auto xref = read_xref(data, budget);
    if (!xref) return std::move(xref).error();
    if (!xref->trailer.contains("Root")) return missing_root();
    Document doc{Resolver(std::move(xref).value(), data), version};
    doc.resolver.budget = budget;
    auto decrypting = set_up_decryption(doc.resolver, password);
    if (!decrypting) return std::move(decrypting).error();
    auto usable = check_catalog(doc.resolver, *doc.resolver.xref.trailer.get("Root"));
    if (!usable) return std::move(usable).error();
    return doc;
}

// A direct catalog: `catalog` with a page tree whose leaves are `pages`.
Object catalog_over(Dictionary catalog, const std::vector<std::uint32_t>& pages) {
    Array kids;
    kids.reserve(pages.size());
    for (const std::uint32_t num : pages) kids.emplace_back(Reference{num, 0});
    Dictionary tree;
    tree.set("Type", Object(Name{"Pages"}));
    tree.set("Kids", Object(std::move(kids)));
    catalog.set("Pages", Object(std::move(tree)));
    return Object(std::move(catalog));
}

// Through a table rebuilt from the file body (repair.h). The object streams
// are read once the decryptor is in place, since they are encrypted as
// wholes; the catalog is the trailer's if it has a page tree, else the last
// object that calls itself one.
Result<Document> open_rebuilt(ByteView data, const std::string& version, ByteView password,
                              Budget* budget) {
    auto scan = scan_objects(data);
    if (!scan) return std::move(scan).error();
    Document doc{Resolver(std::move(scan->xref), data), version};
    Resolver& resolver = doc.resolver;
    resolver.budget = budget;
    resolver.xref_rebuilt = true;
    auto decrypting = set_up_decryption(resolver, password);
    if (!decrypting) return std::move(decrypting).error();
    add_object_stream_entries(resolver.xref, scan->object_streams, resolver);

    std::vector<Object> roots;
    if (const Object* root = resolver.xref.trailer.get("Root")) roots.push_back(*root);
    for (const std::uint32_t num : scan->catalogs) roots.emplace_back(Reference{num, 0});
    const auto usable = [&resolver](const Object& root) {
        return check_catalog(resolver, root).ok();
    };
    auto found = std::find_if(roots.begin(), roots.end(), usable);
    if (found == roots.end()) {
        for (const std::uint32_t num : catalogs_in_object_streams(resolver)) {
            roots.emplace_back(Reference{num, 0});
        }
        found = std::find_if(roots.begin(), roots.end(), usable);
    }
    if (found != roots.end()) {
        resolver.xref.trailer.set("Root", *found);
        return doc;
    }
    // A catalog whose page tree is lost: the pages are then the objects that
    // say they are one, in file order. unreadablemetadata.pdf (sample-files)
    // is zeroed from the middle on, page tree root included, while three of
    // its page objects and their contents stand before that.
    if (!scan->pages.empty()) {
        for (const Object& root : roots) {
            auto catalog = resolver.resolve_dict(root);
            if (!catalog) continue;
            resolver.xref.trailer.set("Root", catalog_over(**catalog, scan->pages));
            return doc;
        }
    }
    return missing_root();
}

}  // namespace

Result<Document> Document::parse_with_password(ByteView data, ByteView password, Budget* budget) {
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
    const std::string version =
        lossy_utf8(data.subspan(start, std::min(end - start, kMaxVersionBytes)));

    // A well-formed file opens here, without the scan below.
    auto doc = limit_first(open_as_written(data, version, password, budget), budget);
    if (doc || is_final(doc.error())) return doc;
    // Bytes in front of the header (a mail gateway's, a byte-order mark) are
    // usually not counted by the offsets, which are then all short by as
    // many bytes.
    if (p > 0) {
        auto shifted =
            limit_first(open_as_written(data.subspan(p), version, password, budget), budget);
        if (shifted || is_final(shifted.error())) return shifted;
    }
    auto rebuilt = limit_first(open_rebuilt(data, version, password, budget), budget);
    if (rebuilt || is_final(rebuilt.error())) return rebuilt;
    // Nothing usable in the body either: the file's own failure says most.
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
    if (!cat)
        return limit_first(Result<std::vector<Page>>(std::move(cat).error()), resolver.budget);
    return limit_first(collect_pages(resolver, *cat), resolver.budget);
}

Result<ExtractedDoc> Document::extract(const ExtractOptions& options) const {
    auto pages = this->pages();
    if (!pages) return std::move(pages).error();
    std::vector<std::size_t> all(pages->size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return extract_pages(*pages, all, options);
}

Result<ExtractedDoc> Document::extract_pages(const std::vector<Page>& pages,
                                             std::span<const std::size_t> chosen,
                                             const ExtractOptions& options) const {
    Budget own(options.time_limit, options.max_decoded_bytes);
    Budget* budget = resolver.budget != nullptr ? resolver.budget : &own;
    const LentBudget lent(resolver, budget);
    ExtractedDoc doc;
    doc.pages.reserve(chosen.size());
    FontCache font_cache;
    LayoutScratch layout_scratch;
    for (const std::size_t index : chosen) {
        if (index >= pages.size()) return Error{ErrorKind::InvalidObject, "no such page"};
        if (!budget->check_time()) return budget->error();
        const Page& page = pages[index];
        // Only the page's own content can fail the page; every stage below
        // degrades instead: a font that does not load decodes less text, a
        // form that cannot be read is not drawn, an image that does not
        // decode is left out. A limit of the call passed on the way fails
        // it all the same: the budget remembers it.
        auto drawing = interpret_page(resolver, page, font_cache);
        if (!drawing) return limit_first(Result<ExtractedDoc>(std::move(drawing).error()), budget);
        if (budget->exceeded()) return budget->error();
        std::vector<LinePiece> pieces;
        PageText text = layout_page(drawing->runs, page.media_box, page.rotate,
                                    options.order == ReadingOrder::Columns ? &pieces : nullptr,
                                    &layout_scratch);
        text.number = index + 1;
        text.tables = detect_tables(drawing->rules, drawing->runs, page.rotate);
        std::vector<Rect> table_boxes;
        for (const Table& table : text.tables) table_boxes.push_back(table.box);
        order_page(text, pieces, table_boxes, options.order);
        // A page with images but no text is most likely a scan.
        if (options.images == ImageDetail::Full) {
            text.images = extract_images(resolver, page.resources, drawing->images);
            text.needs_ocr = text.lines.empty() && !text.images.empty();
        } else {
            text.needs_ocr =
                text.lines.empty() && has_image(resolver, page.resources, drawing->images);
        }
        if (budget->exceeded()) return budget->error();
        doc.pages.push_back(std::move(text));
    }
    mark_headings(doc.pages);
    doc.version = version;
    // The title may decode the XMP packet, which counts against the limits.
    doc.title = read_title(*this);
    if (budget->exceeded()) return budget->error();
    return doc;
}

}  // namespace vellox_core
