#include "image.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "filter/chain.h"
#include "pagetree.h"

namespace vellox_core {

std::string_view format_name(ImageFormat format) {
    switch (format) {
        case ImageFormat::Jpeg: return "Jpeg";
        case ImageFormat::Jpeg2000: return "Jpeg2000";
        case ImageFormat::Ccitt: return "Ccitt";
        case ImageFormat::Jbig2: return "Jbig2";
        case ImageFormat::Raw: return "Raw";
    }
    return "Raw";
}

namespace {

// The coarse kind of an image comes from the last filter of its chain: an
// image stored as [/FlateDecode /DCTDecode] is still a JPEG once inflated.
// Inline images abbreviate the names (DCT, CCF).
ImageFormat format_of(const Dictionary& dict) {
    const Object* filter = dict.get("Filter");
    if (filter == nullptr) filter = dict.get("F");
    if (filter == nullptr) return ImageFormat::Raw;
    const Name* name = filter->as_name();
    if (const Array* arr = filter->as_array(); arr != nullptr && !arr->empty()) {
        name = arr->back().as_name();
    }
    if (name == nullptr) return ImageFormat::Raw;
    const std::string_view n = name->text;
    if (n == "DCTDecode" || n == "DCT") return ImageFormat::Jpeg;
    if (n == "JPXDecode") return ImageFormat::Jpeg2000;
    if (n == "CCITTFaxDecode" || n == "CCF") return ImageFormat::Ccitt;
    if (n == "JBIG2Decode") return ImageFormat::Jbig2;
    return ImageFormat::Raw;
}

std::uint32_t u32_entry(const Dictionary& dict, std::string_view key, std::uint32_t fallback) {
    const Object* v = dict.get(key);
    const std::int64_t* i = v != nullptr ? v->as_int() : nullptr;
    if (i == nullptr || *i < 0 || *i > 4294967295LL) return fallback;
    return static_cast<std::uint32_t>(*i);
}

std::string color_space_of(const Resolver& resolver, const Dictionary& dict) {
    const Object* value = fetch_entry(resolver, dict, "ColorSpace");
    if (!value) return "DeviceRGB";
    if (const Name* n = value->as_name()) return n->text;
    if (const Array* arr = value->as_array()) {
        if (!arr->empty()) {
            if (const Name* family = arr->front().as_name()) return family->text;
        }
        return "Unknown";
    }
    return "DeviceRGB";
}

// An image XObject's stream, with the dictionary its filters are read
// from: filter entries may be indirect (contrib-issue-1062-filters.pdf).
struct ImageStream {
    const Stream* stream;
    std::optional<Dictionary> direct;  // the filter entries made direct, if any was not

    const Dictionary& filters() const { return direct ? *direct : stream->dict; }
};

// The image XObject that `value` is or refers to; nothing when it is no
// image.
std::optional<ImageStream> image_stream(const Resolver& resolver, const Object& value) {
    const Object* obj = &value;
    if (const Reference* ref = value.as_ref()) {
        auto got = resolver.lookup(ref->num);
        if (!got) return std::nullopt;
        obj = *got;
    }
    const Stream* stream = obj->as_stream();
    if (stream == nullptr) return std::nullopt;
    const Object* subtype = stream->dict.get("Subtype");
    if (subtype == nullptr || !subtype->is_name("Image")) return std::nullopt;
    return ImageStream{stream, direct_filters(resolver, stream->dict)};
}

// The image XObject `value` of the page's resources under `key`, decoded;
// nothing when it is no image or does not decode.
std::optional<ParsedImage> image_of(const Resolver& resolver, const std::string& key,
                                    const Object& value) {
    const std::optional<ImageStream> found = image_stream(resolver, value);
    if (!found) return std::nullopt;
    const Stream* stream = found->stream;
    const Dictionary& filters = found->filters();
    auto decoded = decode_stream(filters, stream->data, Reading::Strict, resolver.budget);
    if (!decoded) return std::nullopt;
    ParsedImage image;
    image.name = key;
    image.format = format_of(filters);
    image.data = std::move(decoded).value();
    image.width = u32_entry(stream->dict, "Width", 0);
    image.height = u32_entry(stream->dict, "Height", 0);
    image.bits_per_component = u32_entry(stream->dict, "BitsPerComponent", 8);
    image.color_space = color_space_of(resolver, stream->dict);
    return image;
}

// The /XObject dictionary of the resources; nullptr when there is none.
const Dictionary* xobjects_of(const Resolver& resolver, const Dictionary& resources) {
    const Object* xobjects = resources.get("XObject");
    if (xobjects == nullptr) return nullptr;
    auto dict = resolver.resolve_dict(*xobjects);
    return dict ? *dict : nullptr;
}

// The object an XObject entry stands for: the resolver's, through a
// reference, or the entry itself.
const Object* target_of(const Resolver& resolver, const Object& value) {
    const Reference* ref = value.as_ref();
    if (ref == nullptr) return &value;
    auto got = resolver.lookup(ref->num);
    return got ? *got : nullptr;
}

// Calls `xobject` with the name and value of each XObject the page lists,
// in order, then `inline_image` with each of its inline images, until
// either returns false.
template <class XObjectVisit, class InlineVisit>
void each_image(const Resolver& resolver, const Dictionary& resources, const DrawnImages& drawn,
                XObjectVisit xobject, InlineVisit inline_image) {
    std::vector<const Object*> listed;
    if (const Dictionary* xobjects = xobjects_of(resolver, resources)) {
        for (const auto& [key, value] : *xobjects) {
            listed.push_back(target_of(resolver, value));
            if (!xobject(key, value)) return;
        }
    }
    // Sorted for the look-ups below: a resource dictionary can list a
    // million names, and a page can draw thousands of images in its forms.
    const std::less<const Object*> order;
    std::sort(listed.begin(), listed.end(), order);
    for (const DrawnImages::XObject& x : drawn.xobjects) {
        if (std::binary_search(listed.begin(), listed.end(), x.image, order)) continue;
        if (!xobject(x.name, *x.image)) return;
    }
    for (const ParsedImage& image : drawn.inline_images) {
        if (!inline_image(image)) return;
    }
}

// The colour space of an inline image: abbreviations of the device spaces
// and of Indexed expanded, any other name looked up in the resources.
std::string inline_color_space(const Resolver* resolver, const Dictionary& dict,
                               const Dictionary* resources) {
    const Object* value = dict.get("CS");
    if (value == nullptr) value = dict.get("ColorSpace");
    if (value == nullptr) return "DeviceRGB";
    const auto expand = [](std::string_view n) -> std::string {
        if (n == "G") return "DeviceGray";
        if (n == "RGB") return "DeviceRGB";
        if (n == "CMYK") return "DeviceCMYK";
        if (n == "I") return "Indexed";
        return std::string(n);
    };
    if (const Array* arr = value->as_array()) {
        if (!arr->empty()) {
            if (const Name* family = arr->front().as_name()) return expand(family->text);
        }
        return "Unknown";
    }
    const Name* name = value->as_name();
    if (name == nullptr) return "DeviceRGB";
    const std::string expanded = expand(name->text);
    if (expanded == "DeviceGray" || expanded == "DeviceRGB" || expanded == "DeviceCMYK" ||
        expanded == "Indexed" || resolver == nullptr || resources == nullptr) {
        return expanded;
    }
    // A named colour space of the resources, as an XObject's would read.
    const Object* spaces = fetch_entry(*resolver, *resources, "ColorSpace");
    const Dictionary* table = spaces != nullptr ? spaces->as_dict() : nullptr;
    if (table == nullptr || table->get(name->text) == nullptr) return expanded;
    Dictionary probe;
    probe.set("ColorSpace", *table->get(name->text));
    return color_space_of(*resolver, probe);
}

}  // namespace

std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources,
                                        const DrawnImages& drawn) {
    std::vector<ParsedImage> images;
    each_image(
        resolver, resources, drawn,
        [&](const std::string& key, const Object& value) {
            if (auto image = image_of(resolver, key, value)) images.push_back(std::move(*image));
            return true;
        },
        [&images](const ParsedImage& image) {
            images.push_back(image);
            return true;
        });
    return images;
}

bool has_image(const Resolver& resolver, const Dictionary& resources, const DrawnImages& drawn) {
    // Whether an image decodes needs all of its data read, but none of its
    // bytes kept: a page's one scan is often megabytes once decoded.
    bool found = false;
    each_image(
        resolver, resources, drawn,
        [&](const std::string&, const Object& value) {
            const std::optional<ImageStream> image = image_stream(resolver, value);
            found = image && stream_decodes(image->filters(), image->stream->data, resolver.budget);
            return !found;
        },
        [&found](const ParsedImage&) {
            found = true;
            return false;
        });
    return found;
}

ParsedImage inline_image(const Resolver* resolver, const Dictionary& dict, ByteView data,
                         const Dictionary* resources, std::string name) {
    const auto entry = [&dict](std::string_view abbreviated, std::string_view full) {
        const Object* v = dict.get(abbreviated);
        return v != nullptr ? v : dict.get(full);
    };
    const auto u32 = [](const Object* v, std::uint32_t fallback) {
        const std::int64_t* i = v != nullptr ? v->as_int() : nullptr;
        if (i == nullptr || *i < 0 || *i > 4294967295LL) return fallback;
        return static_cast<std::uint32_t>(*i);
    };
    ParsedImage image;
    image.name = std::move(name);
    image.format = format_of(dict);
    image.width = u32(entry("W", "Width"), 0);
    image.height = u32(entry("H", "Height"), 0);
    const Object* mask = entry("IM", "ImageMask");
    const bool is_mask = mask != nullptr && mask->as_bool() != nullptr && *mask->as_bool();
    image.bits_per_component = is_mask ? 1 : u32(entry("BPC", "BitsPerComponent"), 8);
    image.color_space = inline_color_space(resolver, dict, resources);
    image.data.assign(data.begin(), data.end());
    return image;
}

}  // namespace vellox_core
