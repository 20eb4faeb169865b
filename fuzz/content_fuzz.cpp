// The content readers and the passes over their operations. The fast
// reader is checked against the general object parser: operations, operands
// or text runs that differ are a crash the fuzzer reports.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "content.h"
#include "layout.h"
#include "tables.h"
#include "text.h"

namespace {

using namespace vellox_core;

bool same_number(std::optional<double> a, std::optional<double> b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || std::memcmp(&*a, &*b, sizeof(double)) == 0;
}

bool same_operand(const Object& general, const Operand& fast, bool nested) {
    if (!same_number(number_of(general), number_of(fast))) return false;
    if (name_of(general) != name_of(fast)) return false;
    const auto sa = string_of(general);
    const auto sb = string_of(fast);
    if (sa.has_value() != sb.has_value()) return false;
    if (sa && !std::equal(sa->begin(), sa->end(), sb->begin(), sb->end())) return false;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    const Content general = parse_content(input);
    const FastContent fast = parse_content_fast(input);
    if (general.size() != fast.size()) __builtin_trap();
    for (std::size_t i = 0; i < general.size(); ++i) {
        const Op& a = general[i];
        const FastOp& b = fast[i];
        if (a.len != b.len || a.bytes != b.bytes || a.code != b.code) __builtin_trap();
        if (a.operands.size() != b.operands.size()) __builtin_trap();
        for (std::size_t k = 0; k < a.operands.size(); ++k) {
            if (!same_operand(a.operands[k], b.operands[k], false)) __builtin_trap();
        }
    }
    // No fonts: every shown string takes the fallback path.
    const auto runs = extract_runs(fast, FontMap{});
    const auto reference_runs = extract_runs(general, FontMap{});
    if (runs.size() != reference_runs.size()) __builtin_trap();
    (void)detect_tables(fast, runs);
    (void)layout_page(runs, Rect{0, 0, 612, 792});
    return 0;
}
