// Whether the library's content operand reads as the reference reader's
// object does, asked the way the text and table passes ask. Shared by the
// differential test and the content fuzz harness.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>

#include "bounds.h"
#include "content.h"
#include "support/content_reference.h"

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
inline bool same_operand(const vellox_core::Object& reference, const vellox_core::Operand& operand,
                         bool nested = false) {
    using vellox_core::array_of;
    using vellox_core::name_of;
    using vellox_core::number_of;
    using vellox_core::string_of;
    using vellox_test::array_of;
    using vellox_test::name_of;
    using vellox_test::number_of;
    using vellox_test::string_of;
    if (!same_number(number_of(reference), number_of(operand))) return false;
    if (name_of(reference) != name_of(operand)) return false;
    if (!same_bytes(string_of(reference), string_of(operand))) return false;
    const auto a = array_of(reference);
    const auto b = array_of(operand);
    if (nested) return !b;
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    if (a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i) {
        if (!same_operand((*a)[i], (*b)[i], true)) return false;
    }
    return true;
}

// The same operations: keywords, operator codes and operands, those of the
// library read one at a time from `content`, as the interpreter reads them.
inline bool same_ops(const std::vector<ReferenceOp>& reference, vellox_core::ByteView content) {
    std::size_t budget = vellox_core::limits::kMaxContentObjects;
    vellox_core::ContentReader reader(content, budget);
    std::size_t i = 0;
    while (const vellox_core::Op* op = reader.next()) {
        if (i == reference.size()) return false;
        const ReferenceOp& a = reference[i++];
        const vellox_core::Op& b = *op;
        if (a.len != b.len || a.bytes != b.bytes || a.code != b.code) return false;
        if (a.operands.size() != b.operands.size()) return false;
        for (std::size_t k = 0; k < a.operands.size(); ++k) {
            if (!same_operand(a.operands[k], b.operands[k])) return false;
        }
    }
    return i == reference.size();
}

}  // namespace vellox_test
