// CID CMaps: the embedded-CMap parser over the input, then the code splitter
// over the input's last bytes, through the parsed CMap and a predefined one.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

#include "cidcmap.h"
#include "cidcmap_tables.h"

namespace {

using namespace vellox_core;

// Every byte of a shown string lands in exactly one code, codes are one to
// four bytes, and CIDs fit in sixteen bits.
void check(const CidCMap& cmap, ByteView shown, std::vector<ShownCode>& codes) {
    codes.clear();
    cmap.decode(shown, codes);
    std::size_t total = 0;
    for (const ShownCode& c : codes) {
        if (c.length < 1 || c.length > 4 || c.cid > 0xFFFF || (!c.valid && c.mapped))
            __builtin_trap();
        if (c.valid && cmap.lookup(c.code, c.length) != CidLookup{c.cid, c.mapped})
            __builtin_trap();
        (void)cmap.unicode_of(c, Collection::Japan1);
        (void)cmap.unicode_of(c, std::nullopt);
        total += c.length;
    }
    if (total != shown.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input's length picks the CMap a usecmap-less program uses.
    constexpr std::string_view kUse[] = {"",           "90ms-RKSJ-H",  "UniJIS-UTF16-H", "GBK2K-H",
                                         "Identity-V", "UniGB-UTF8-V", "NoSuchCMap"};
    const ByteView input(data, size);
    const CidCMap cmap = CidCMap::parse(input, kUse[size % std::size(kUse)]);
    for (const auto* list : {&cmap.cids, &cmap.notdefs}) {
        for (std::size_t i = 0; i < list->size(); ++i) {
            const CidRange& r = (*list)[i];
            if (r.lo > r.hi || r.length < 1 || r.length > 4) __builtin_trap();
            if (i > 0) {
                const CidRange& p = (*list)[i - 1];
                if (p.length > r.length || (p.length == r.length && p.hi >= r.lo)) __builtin_trap();
            }
        }
    }
    const ByteView shown = input.subspan(size > 64 ? size - 64 : 0);
    std::vector<ShownCode> codes;
    check(cmap, shown, codes);
    const auto& record = cidcmap_tables::kCMaps[size % cidcmap_tables::kCMapCount];
    if (auto predefined = CidCMap::predefined(record.name)) check(*predefined, shown, codes);
    return 0;
}
