// Adobe's cid2code.txt read independently of the generator: for each CID of
// a collection, the Unicode values its UTF-32 and UCS-2 columns list, the
// collection's own UTF-32 column first. Tests compare the generated tables
// and the CMap roads with it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vellox_test {

inline std::filesystem::path cmap_resources() {
    return std::filesystem::path(VELLOX_SOURCE_DIR) / ".." / "shared" / "data" / "cmap-resources";
}

struct Cid2Code {
    // primary[cid]: the values of the first UTF-32 column, in their order.
    std::vector<std::vector<std::uint32_t>> primary;
    // listed[cid]: every value of every UTF-32 and UCS-2 column.
    std::vector<std::vector<std::uint32_t>> listed;
};

// "0000fe35,0000ff08v" -> {0xFE35, 0xFF08}; "*" -> {}.
inline std::vector<std::uint32_t> cell_values(const std::string& cell) {
    std::vector<std::uint32_t> out;
    if (cell == "*" || cell.empty()) return out;
    std::stringstream in(cell);
    std::string item;
    while (std::getline(in, item, ',')) {
        while (!item.empty() && (item.back() == 'v' || item.back() == ' ')) item.pop_back();
        out.push_back(static_cast<std::uint32_t>(std::stoul(item, nullptr, 16)));
    }
    return out;
}

// `dir` is the collection's folder, e.g. "Adobe-Japan1-7".
inline Cid2Code read_cid2code(const std::string& dir) {
    Cid2Code out;
    std::ifstream in(cmap_resources() / dir / "cid2code.txt");
    EXPECT_TRUE(in) << dir;
    std::string line;
    std::vector<std::string> header;
    std::vector<std::size_t> columns;
    std::size_t primary = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream row(line);
        std::string f;
        while (std::getline(row, f, '\t')) fields.push_back(f);
        if (header.empty()) {
            header = fields;
            for (std::size_t i = 0; i < header.size(); ++i) {
                const std::string& h = header[i];
                const bool utf32 = h.find("UTF32") != std::string::npos;
                if (h.rfind("Uni", 0) == 0 && (utf32 || h.find("UCS2") != std::string::npos)) {
                    if (utf32 && primary == 0) primary = i;
                    columns.push_back(i);
                }
            }
            continue;
        }
        out.primary.push_back(primary < fields.size() ? cell_values(fields[primary])
                                                      : std::vector<std::uint32_t>{});
        std::vector<std::uint32_t> all;
        for (const std::size_t c : columns) {
            if (c >= fields.size()) continue;
            for (const std::uint32_t v : cell_values(fields[c])) all.push_back(v);
        }
        out.listed.push_back(std::move(all));
    }
    return out;
}

}  // namespace vellox_test
