// The content reader and the passes over its operations. The reader is
// checked against the reference reader of the tests, which builds every
// operand as an object: operations or operands that differ are a crash the
// fuzzer reports.
#include <cstddef>
#include <cstdint>

#include "content.h"
#include "layout.h"
#include "page.h"
#include "support/content_reference.h"
#include "support/same_operand.h"
#include "tables.h"
#include "text.h"

using namespace vellox_core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    if (!vellox_test::same_ops(vellox_test::parse_content_reference(input), input)) {
        __builtin_trap();
    }
    // No fonts: every shown string takes the fallback path.
    const PageDrawing drawing = interpret_content(input, FontMap{});
    (void)detect_tables(drawing.rules, drawing.runs);
    (void)layout_page(drawing.runs, Rect{0, 0, 612, 792});
    return 0;
}
