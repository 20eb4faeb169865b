// The reference content reader: every operand built as an object by the
// general object parser, the operations found by a plain reading loop. The
// library's reader (content.cpp) takes the common operands without building
// objects and must produce the same operations with operands that answer
// number_of, name_of, string_of and array_of alike; the differential test
// and the content fuzz harness hold it to that.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "content.h"
#include "object.h"

namespace vellox_test {

struct ReferenceOp {
    std::vector<vellox_core::Object> operands;
    std::array<char, 4> bytes{};  // the keyword, cut to its first 4 bytes
    std::uint8_t len = 0;
    vellox_core::Operator code = vellox_core::Operator::Other;

    std::string_view keyword() const { return {bytes.data(), len}; }
};

// Never fails; stops at the first operand that does not parse, and where the
// page's object budget runs out, as the library's reader does.
std::vector<ReferenceOp> parse_content_reference(vellox_core::ByteView data);

// The questions the text and table passes ask, of an object operand.
inline std::optional<double> number_of(const vellox_core::Object& o) { return o.number(); }
inline std::optional<std::string_view> name_of(const vellox_core::Object& o) {
    const vellox_core::Name* n = o.as_name();
    if (n == nullptr) return std::nullopt;
    return std::string_view(n->text);
}
inline std::optional<vellox_core::ByteView> string_of(const vellox_core::Object& o) {
    const vellox_core::String* s = o.as_string();
    if (s == nullptr) return std::nullopt;
    return vellox_core::ByteView(s->bytes);
}
inline std::optional<std::span<const vellox_core::Object>> array_of(const vellox_core::Object& o) {
    const vellox_core::Array* a = o.as_array();
    if (a == nullptr) return std::nullopt;
    return std::span<const vellox_core::Object>(*a);
}

}  // namespace vellox_test
