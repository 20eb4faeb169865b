// The page tree: intermediate /Pages nodes hand /Resources, /MediaBox and
// /Rotate down to their leaves; the leaves, in order, are the pages.
#include "pagetree.h"

#include <cmath>
#include <unordered_set>

#include "bounds.h"
#include "filter/chain.h"
#include "filter/output.h"

namespace vellox_core {

namespace {

// Exactly four numbers among the array's elements; others are passed over.
std::optional<Rect> media_box_of(const Object& value) {
    const Array* arr = value.as_array();
    if (arr == nullptr) return std::nullopt;
    Rect box{};
    std::size_t n = 0;
    for (const Object& e : *arr) {
        const auto num = e.number();
        if (!num) continue;
        if (n < box.size()) box[n] = *num;
        ++n;
    }
    if (n != box.size()) return std::nullopt;
    return box;
}

// A /Rotate value as a quarter turn: any multiple of 90, negative ones too,
// as 0, 90, 180 or 270. A value that is no multiple of 90 names no
// orientation a page can have and is ignored, as viewers ignore it
// (inheriting the parent's); a real is taken when it is a whole number.
std::optional<std::int64_t> rotation_of(const Object& value) {
    std::int64_t r = 0;
    if (const std::int64_t* i = value.as_int()) {
        r = *i;
    } else if (const double* d = value.as_real();
               d != nullptr && std::fabs(*d) < 1e15 && *d == std::floor(*d)) {
        r = static_cast<std::int64_t>(*d);
    } else {
        return std::nullopt;
    }
    if (r % 90 != 0) return std::nullopt;
    return ((r % 360) + 360) % 360;
}

// What a page-tree node hands down to the nodes below it.
struct Inherited {
    Object resources;  // as stored (may be a Reference); Null at the root
    Rect media_box = kDefaultMediaBox;
    std::int64_t rotate = 0;
};

// Appends the leaves below `node` to `pages`, in order. `visited` holds the
// object numbers of the nodes reached so far; `depth` is that of `node`.
Status walk(const Resolver& resolver, const Dictionary& node, const Inherited& inherited,
            std::vector<Page>& pages, std::unordered_set<std::uint32_t>& visited,
            std::uint32_t depth, std::uint32_t object_num) {
    if (depth > limits::kMaxPageTreeDepth) {
        return Error{ErrorKind::InvalidObject, "page tree too deep"};
    }

    Inherited own;
    own.media_box = inherited.media_box;
    if (const Object* box_value = fetch_entry(resolver, node, "MediaBox")) {
        if (auto box = media_box_of(*box_value)) own.media_box = *box;
    }
    const Object* resources = node.get("Resources");
    own.resources = resources != nullptr ? *resources : inherited.resources;
    own.rotate = inherited.rotate;
    if (const Object* rotate = fetch_entry(resolver, node, "Rotate")) {
        if (const auto r = rotation_of(*rotate)) own.rotate = *r;
    }

    // A node with /Kids is an intermediate node, whatever its /Type says.
    if (const Object* kids_value = node.get("Kids")) {
        const Array* kids = kids_value->as_array();
        if (kids == nullptr) return Error{ErrorKind::InvalidObject, "/Kids not array"};
        for (const Object& kid : *kids) {
            // The visited set is shared by the whole walk: a node listed
            // twice, or a kid pointing back up the tree, is walked once.
            if (const Reference* ref = kid.as_ref()) {
                if (!visited.insert(ref->num).second) continue;
            }
            auto kid_dict = resolver.resolve_dict(kid);
            if (!kid_dict) return std::move(kid_dict).error();
            const Reference* kid_ref = kid.as_ref();
            auto walked = walk(resolver, **kid_dict, own, pages, visited, depth + 1,
                               kid_ref != nullptr ? kid_ref->num : 0);
            if (!walked) return walked;
        }
        return Unit{};
    }

    Page page;
    page.dict = node;
    auto res = resolver.resolve_dict(own.resources);
    if (res) page.resources = **res;
    page.media_box = own.media_box;
    page.rotate = own.rotate;
    page.object_num = object_num;
    pages.push_back(std::move(page));
    return Unit{};
}

}  // namespace

Result<std::vector<Page>> collect_pages(const Resolver& resolver, const Dictionary& catalog) {
    const Object* pages_value = catalog.get("Pages");
    if (pages_value == nullptr) return Error{ErrorKind::InvalidObject, "catalog has no /Pages"};
    auto root = resolver.resolve_dict(*pages_value);
    if (!root) return std::move(root).error();

    std::vector<Page> pages;
    std::unordered_set<std::uint32_t> visited;
    auto walked = walk(resolver, **root, Inherited{}, pages, visited, 0, 0);
    if (!walked) return std::move(walked).error();
    return pages;
}

namespace {

// The value with one reference followed; itself when direct, nullptr when
// the reference does not resolve.
const Object* direct(const Resolver& resolver, const Object& value) {
    const Reference* ref = value.as_ref();
    if (ref == nullptr) return &value;
    auto got = resolver.lookup(ref->num);
    return got ? *got : nullptr;
}

// Whether a /Filter or /DecodeParms value, or an element of it, is indirect.
bool has_reference(const Object* value) {
    if (value == nullptr) return false;
    if (value->as_ref() != nullptr) return true;
    const Array* items = value->as_array();
    if (items == nullptr) return false;
    for (const Object& item : *items) {
        if (item.as_ref() != nullptr) return true;
    }
    return false;
}

}  // namespace

std::optional<Dictionary> direct_filters(const Resolver& resolver, const Dictionary& dict) {
    constexpr std::string_view kKeys[] = {"Filter", "F", "DecodeParms", "DP"};
    bool indirect = false;
    for (const std::string_view key : kKeys) indirect = indirect || has_reference(dict.get(key));
    if (!indirect) return std::nullopt;
    Dictionary out = dict;
    for (const std::string_view key : kKeys) {
        Object* value = out.get(key);
        if (value == nullptr) continue;
        if (value->as_ref() != nullptr) {
            const Object* target = direct(resolver, *value);
            *value = target != nullptr ? *target : Object();
        }
        if (Array* items = value->as_array()) {
            for (Object& item : *items) {
                if (item.as_ref() == nullptr) continue;
                const Object* target = direct(resolver, item);
                item = target != nullptr ? *target : Object();
            }
        }
    }
    return out;
}

Result<Bytes> decode_stream(const Resolver& resolver, const Stream& stream, Reading reading) {
    const std::optional<Dictionary> resolved = direct_filters(resolver, stream.dict);
    return decode_stream(resolved ? *resolved : stream.dict, stream.data, reading, resolver.budget);
}

Result<Bytes> page_content(const Resolver& resolver, const Page& page) {
    const Object* contents = page.dict.get("Contents");
    if (contents == nullptr) return Bytes{};
    const Object* value = contents;
    if (const Reference* ref = contents->as_ref()) {
        auto got = resolver.lookup(ref->num);
        if (!got) return std::move(got).error();
        value = *got;
    }

    if (const Stream* s = value->as_stream()) return decode_stream(resolver, *s, Reading::Lenient);
    const Array* parts = value->as_array();
    if (parts == nullptr) return Bytes{};

    // The streams of a /Contents array form one content stream; a line feed
    // after each keeps an operator at the end of one part from running into
    // the first token of the next.
    Bytes out;
    for (const Object& part : *parts) {
        const Object* element = &part;
        if (const Reference* ref = part.as_ref()) {
            auto got = resolver.lookup(ref->num);
            if (!got) return std::move(got).error();
            element = *got;
        }
        const Stream* s = element->as_stream();
        if (s == nullptr) continue;
        auto decoded = decode_stream(resolver, *s, Reading::Lenient);
        if (!decoded) return std::move(decoded).error();
        // One small stream listed a million times must not multiply into
        // more memory than any single decoder may produce.
        if (decoded->size() >= limits::kMaxDecodedBytes - out.size()) {
            return Error{ErrorKind::BadStream, "page content too large"};
        }
        // A large decoded stream is not copied when that can be helped: the
        // first part is taken as it is, and a later part whose buffer has
        // room (decoders reserve generously once output grows large) gets
        // what came before moved in at its front. Otherwise a page of a
        // short stream and a huge one would hold the huge one twice.
        if (out.empty()) {
            out = std::move(decoded).value();
        } else if (decoded->capacity() - decoded->size() > out.size()) {
            decoded->insert(decoded->begin(), out.begin(), out.end());
            out = std::move(decoded).value();
        } else {
            make_room(out, decoded->size());
            out.insert(out.end(), decoded->begin(), decoded->end());
        }
        make_room(out, 1);
        out.push_back(0x0A);
    }
    return out;
}

}  // namespace vellox_core
