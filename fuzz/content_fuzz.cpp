#include <cstddef>
#include <cstdint>

#include "content.h"
#include "tables.h"
#include "layout.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    auto ops = parse_content(ByteView(data, size));
    // No fonts: every shown string takes the fallback path.
    auto runs = extract_runs(ops, FontMap{});
    (void)detect_tables(ops, runs);
    (void)layout_page(runs, Rect{0, 0, 612, 792});
    return 0;
}
