// The content readers and the passes over their operations. The fast
// reader is checked against the general object parser: operations, operands
// or text runs that differ are a crash the fuzzer reports.
#include <cstddef>
#include <cstdint>

#include "content.h"
#include "layout.h"
#include "support/same_operand.h"
#include "tables.h"
#include "text.h"

using namespace vellox_core;
using vellox_test::same_operand;

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
            if (!same_operand(a.operands[k], b.operands[k])) __builtin_trap();
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
