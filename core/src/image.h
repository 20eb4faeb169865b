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
    Bytes data;  // decoded through the filter chain; rendered by no output
};

std::vector<ParsedImage> extract_images(const Resolver& resolver, const Dictionary& resources);
// Whether extract_images would list any image, decoding no more of them
// than it takes to find one.
bool has_image(const Resolver& resolver, const Dictionary& resources);

}  // namespace vellox_core
