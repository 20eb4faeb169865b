// The image XObjects a page's resources make available.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "object.h"
#include "resolver.h"

namespace vellox_core {

enum class ImageFormat : std::uint8_t { Jpeg, Jpeg2000, Ccitt, Jbig2, Raw };

std::string_view format_name(ImageFormat format);

struct ParsedImage {
    std::string name;
    ImageFormat format = ImageFormat::Raw;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bits_per_component = 8;
    std::string color_space;
    // Decoded through the filter chain; rendered by no output. An inline
    // image keeps its data as it stands in the content, still encoded: it is
    // listed because it is drawn, whatever its data.
    Bytes data;
};

// Images a page draws that its resources do not list: image XObjects drawn
// inside form XObjects and annotation appearances, each stream once, under
// its name in the resources of the form that draws it; and inline images.
struct DrawnImages {
    struct XObject {
        std::string name;
        const Object* image;  // the image's stream object, held by the resolver
    };
    std::vector<XObject> xobjects;
    std::vector<ParsedImage> inline_images;  // named "inline-1", "inline-2"... in drawing order
};

// The image XObjects of the page's resources (whether drawn or not), then
// the images of `drawn` not among them; an image XObject that does not
// decode is left out.
std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources,
                                        const DrawnImages& drawn = {});
// Whether extract_images would list any image, decoding no more of them
// than it takes to find one, and keeping none of their bytes.
bool has_image(const Resolver& resolver, const Dictionary& resources,
               const DrawnImages& drawn = {});

// The entry of an inline image: `dict` its dictionary as written (keys and
// filter names may be abbreviated), `resources` those of the content that
// draws it (a colour space may be named there).
ParsedImage inline_image(const Resolver* resolver, const Dictionary& dict, ByteView data,
                         const Dictionary* resources, std::string name);

}  // namespace vellox_core
