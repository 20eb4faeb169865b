// A file body of numbered objects with an Xref pointing at them, for tests
// that need a Resolver without a whole PDF file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "resolver.h"

namespace vellox_test {

struct TinyPdf {
    std::string data = "%PDF-1.7\n";
    vellox_core::Xref xref;

    // Appends "num 0 obj body endobj" and records its offset.
    void add(std::uint32_t num, std::string_view body) {
        xref.entries[num] = vellox_core::XrefInFile{data.size(), 0};
        data += std::to_string(num) + " 0 obj\n";
        data += body;
        data += "\nendobj\n";
    }

    // The resolver borrows `data`: keep this TinyPdf alive and unchanged.
    vellox_core::Resolver resolver() const {
        return vellox_core::Resolver(xref, vellox_core::as_bytes(data));
    }
};

}  // namespace vellox_test
