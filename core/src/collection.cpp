#include "collection.h"

#include <algorithm>
#include <array>

#include "collection_tables.h"

namespace vellox_core {

namespace {

constexpr std::array<std::string_view, 5> kOrderings = {"GB1", "CNS1", "Japan1", "Korea1", "KR"};

}  // namespace

std::optional<Collection> collection_named(std::string_view registry, std::string_view ordering) {
    if (registry != "Adobe") return std::nullopt;
    for (std::size_t i = 0; i < kOrderings.size(); ++i) {
        if (ordering == kOrderings[i]) return static_cast<Collection>(i);
    }
    return std::nullopt;
}

std::optional<char32_t> collection_unicode(Collection collection, std::uint32_t cid) {
    const auto index = static_cast<std::size_t>(collection);
    if (index >= kOrderings.size()) return std::nullopt;
    const collection_tables::CollectionData& data = collection_tables::kCollections[index];
    if (cid >= data.cid_count) return std::nullopt;
    const std::uint16_t value = data.bmp[cid];
    if (value == 0) return std::nullopt;
    if (value != collection_tables::kWideMarker) return static_cast<char32_t>(value);
    const auto* end = data.wide + data.wide_count;
    const auto* it = std::lower_bound(
        data.wide, end, cid,
        [](const collection_tables::WideEntry& e, std::uint32_t c) { return e.cid < c; });
    if (it == end || it->cid != cid) return std::nullopt;
    return static_cast<char32_t>(it->code_point);
}

}  // namespace vellox_core
