#include "image.h"

#include <optional>

#include "filter/chain.h"

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
ImageFormat format_of(const Dictionary& dict) {
    const Object* filter = dict.get("Filter");
    if (filter == nullptr) filter = dict.get("F");
    if (filter == nullptr) return ImageFormat::Raw;
    const Name* name = filter->as_name();
    if (const Array* arr = filter->as_array(); arr != nullptr && !arr->empty()) {
        name = arr->back().as_name();
    }
    if (name == nullptr) return ImageFormat::Raw;
    if (name->text == "DCTDecode") return ImageFormat::Jpeg;
    if (name->text == "JPXDecode") return ImageFormat::Jpeg2000;
    if (name->text == "CCITTFaxDecode") return ImageFormat::Ccitt;
    if (name->text == "JBIG2Decode") return ImageFormat::Jbig2;
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

}  // namespace

namespace {

// The image XObject `value` of the page's resources under `key`, decoded;
// nothing when it is no image or does not decode.
std::optional<ParsedImage> image_of(const Resolver& resolver, const std::string& key,
                                    const Object& value) {
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
    auto decoded = decode_stream(stream->dict, stream->data);
    if (!decoded) return std::nullopt;
    ParsedImage image;
    image.name = key;
    image.format = format_of(stream->dict);
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

}  // namespace

std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources) {
    std::vector<ParsedImage> images;
    const Dictionary* xobjects = xobjects_of(resolver, resources);
    if (xobjects == nullptr) return images;
    for (const auto& [key, value] : *xobjects) {
        if (auto image = image_of(resolver, key, value)) images.push_back(std::move(*image));
    }
    return images;
}

bool has_image(const Resolver& resolver, const Dictionary& resources) {
    const Dictionary* xobjects = xobjects_of(resolver, resources);
    if (xobjects == nullptr) return false;
    for (const auto& [key, value] : *xobjects) {
        if (image_of(resolver, key, value)) return true;
    }
    return false;
}

}  // namespace vellox_core
