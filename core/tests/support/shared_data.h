// The published tables in ../shared/data that the generated glyph and font
// tables come from, read back independently of the generator so that tests
// can compare every entry. Tests using them skip when the folder is absent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/read_file.h"

namespace vellox_test {

inline std::filesystem::path shared_data_dir() {
    return std::filesystem::path(VELLOX_SOURCE_DIR) / ".." / "shared" / "data";
}

// One glyph of an AFM file's character metrics: "C code ; WX width ; N name ; ...".
struct AfmGlyph {
    int code = 0;
    int width = 0;
    std::string name;
};

inline std::vector<AfmGlyph> read_afm(const std::string& font) {
    std::istringstream in(read_file(shared_data_dir() / "std14-afm" / (font + ".afm")));
    std::vector<AfmGlyph> glyphs;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("C ", 0) != 0) continue;
        AfmGlyph g;
        std::istringstream fields(line);
        std::string key;
        while (fields >> key) {
            if (key == "C")
                fields >> g.code;
            else if (key == "WX")
                fields >> g.width;
            else if (key == "N")
                fields >> g.name;
        }
        glyphs.push_back(g);
    }
    return glyphs;
}

// One record of glyphlist.txt or zapfdingbats.txt: "name;XXXX[ XXXX...]".
struct GlyphListEntry {
    std::string name;
    std::vector<std::uint32_t> code_points;
};

inline std::vector<GlyphListEntry> read_glyph_list(const std::string& file) {
    std::istringstream in(read_file(shared_data_dir() / "agl" / file));
    std::vector<GlyphListEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t semi = line.find(';');
        if (semi == std::string::npos) continue;
        GlyphListEntry e{line.substr(0, semi), {}};
        std::istringstream values(line.substr(semi + 1));
        std::uint32_t v = 0;
        while (values >> std::hex >> v) e.code_points.push_back(v);
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace vellox_test
