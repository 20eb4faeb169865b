#include "image.h"

namespace vellox_core {

// The names under which an image's encoding appears in the JSON and Python
// forms; every filter outside the four pass-through ones is Raw.
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

}  // namespace vellox_core
