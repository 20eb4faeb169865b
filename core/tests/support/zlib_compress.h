// zlib-wrapped Flate data made by zlib itself, for tests that need
// /FlateDecode streams written by an independent encoder.
#pragma once

#include <zlib.h>
#include <string>
#include <string_view>

namespace vellox_test {

inline std::string zlib_compress(std::string_view raw) {
    uLongf len = compressBound(raw.size());
    std::string out(len, '\0');
    const int rc = compress(reinterpret_cast<Bytef*>(out.data()), &len,
                            reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    if (rc != Z_OK) return {};
    out.resize(len);
    return out;
}

}  // namespace vellox_test
