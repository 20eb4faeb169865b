// Whether the fast content reader's operand reads as the general parser's
// object does, asked the way the text and table passes ask. Shared by the
// differential test and the content fuzz harness.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>

#include "content.h"

namespace vellox_test {

// Bit for bit: a NaN ("-nan" reads as one) equals itself, -0 is not 0.
inline bool same_number(std::optional<double> a, std::optional<double> b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || std::memcmp(&*a, &*b, sizeof(double)) == 0;
}

inline bool same_bytes(std::optional<vellox_core::ByteView> a,
                       std::optional<vellox_core::ByteView> b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || std::equal(a->begin(), a->end(), b->begin(), b->end());
}

// Array items are compared one level down, the depth the passes read;
// arrays within arrays read as nothing.
inline bool same_operand(const vellox_core::Object& general, const vellox_core::Operand& fast,
                         bool nested = false) {
    using namespace vellox_core;
    if (!same_number(number_of(general), number_of(fast))) return false;
    if (name_of(general) != name_of(fast)) return false;
    if (!same_bytes(string_of(general), string_of(fast))) return false;
    const auto a = array_of(general);
    const auto b = array_of(fast);
    if (nested) return !b;
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    if (a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i) {
        if (!same_operand((*a)[i], (*b)[i], true)) return false;
    }
    return true;
}

}  // namespace vellox_test
