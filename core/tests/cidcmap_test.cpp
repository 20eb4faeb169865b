#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cidcmap.h"
#include "cidcmap_tables.h"
#include "support/cidcmap_keys.h"
#include "support/damage.h"
#include "support/read_file.h"
#include "utf8.h"

using namespace vellox_core;
namespace fs = std::filesystem;

namespace {

const fs::path kResources =
    fs::path(VELLOX_SOURCE_DIR) / ".." / "shared" / "data" / "cmap-resources";

std::string hex_bytes(std::string_view hex) {
    std::string out;
    std::string digits;
    for (const char c : hex) {
        if (c != ' ') digits += c;
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

CidCMap predefined(std::string_view name) {
    auto cmap = CidCMap::predefined(name);
    EXPECT_TRUE(cmap.has_value()) << name;
    return cmap ? *cmap : CidCMap{};
}

std::vector<ShownCode> decode(const CidCMap& cmap, std::string_view hex) {
    const std::string bytes = hex_bytes(hex);
    std::vector<ShownCode> out;
    cmap.decode(as_bytes(bytes), out);
    return out;
}

// A code as "8140/2" (valid) or "81!1" (invalid), for compact expectations.
std::string describe(const std::vector<ShownCode>& codes) {
    std::string out;
    for (const ShownCode& c : codes) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%0*X%c%u ", 2 * c.length, c.code, c.valid ? '/' : '!',
                      static_cast<unsigned>(c.length));
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

// The bytes of a Unicode scalar value in a Unicode CMap's form.
std::pair<std::uint32_t, std::uint8_t> encode(UnicodeForm form, std::uint32_t cp) {
    switch (form) {
        case UnicodeForm::Ucs2: return {cp, 2};
        case UnicodeForm::Utf16:
            if (cp < 0x10000) return {cp, 2};
            cp -= 0x10000;
            return {((0xD800 + (cp >> 10)) << 16) | (0xDC00 + (cp & 0x3FF)), 4};
        case UnicodeForm::Utf32: return {cp, 4};
        case UnicodeForm::Utf8: {
            std::string s;
            append_utf8(s, static_cast<char32_t>(cp));
            std::uint32_t v = 0;
            for (const char c : s) v = (v << 8) | static_cast<std::uint8_t>(c);
            return {v, static_cast<std::uint8_t>(s.size())};
        }
        case UnicodeForm::None: break;
    }
    return {cp, 0};
}

}  // namespace

TEST(UnicodeOfCode, DecodesEachForm) {
    struct Case {
        UnicodeForm form;
        std::uint32_t code;
        std::uint8_t length;
        std::optional<char32_t> want;
    };
    const Case cases[] = {
        {UnicodeForm::Ucs2, 0x3042, 2, U'\u3042'},
        {UnicodeForm::Ucs2, 0xD800, 2, std::nullopt},  // a surrogate is no character
        {UnicodeForm::Ucs2, 0x41, 1, std::nullopt},    // UCS-2 codes are two bytes
        {UnicodeForm::Utf16, 0x0041, 2, U'A'},
        {UnicodeForm::Utf16, 0xD842DF9F, 4, U'\U00020B9F'},
        {UnicodeForm::Utf16, 0xDBFFDFFF, 4, U'\U0010FFFF'},
        {UnicodeForm::Utf16, 0xDC00D800, 4, std::nullopt},  // pair in the wrong order
        {UnicodeForm::Utf16, 0x00410042, 4, std::nullopt},  // two units are two codes
        {UnicodeForm::Utf16, 0xDC00, 2, std::nullopt},
        {UnicodeForm::Utf8, 0x41, 1, U'A'},
        {UnicodeForm::Utf8, 0x80, 1, std::nullopt},
        {UnicodeForm::Utf8, 0xC3A9, 2, U'\u00E9'},
        {UnicodeForm::Utf8, 0xC0AF, 2, std::nullopt},  // overlong '/'
        {UnicodeForm::Utf8, 0xE38182, 3, U'\u3042'},
        {UnicodeForm::Utf8, 0xE08080, 3, std::nullopt},  // overlong
        {UnicodeForm::Utf8, 0xEDA080, 3, std::nullopt},  // an encoded surrogate
        {UnicodeForm::Utf8, 0xE341, 2, std::nullopt},    // lead byte of three in two
        {UnicodeForm::Utf8, 0xF0A0AE9F, 4, U'\U00020B9F'},
        {UnicodeForm::Utf8, 0xF4908080, 4, std::nullopt},  // past U+10FFFF
        {UnicodeForm::Utf8, 0xE3C182, 3, std::nullopt},    // bad continuation byte
        {UnicodeForm::Utf32, 0x00020B9F, 4, U'\U00020B9F'},
        {UnicodeForm::Utf32, 0x00110000, 4, std::nullopt},
        {UnicodeForm::Utf32, 0x41, 2, std::nullopt},
        {UnicodeForm::None, 0x41, 1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.form)) + " " + std::to_string(c.code));
        EXPECT_EQ(unicode_of_code(c.form, c.code, c.length), c.want);
    }
}

TEST(CidCMapDecode, SplitsStringsByCodeSpace) {
    struct Case {
        const char* cmap;
        const char* hex;
        const char* codes;
    };
    const Case cases[] = {
        // 90ms-RKSJ-H: one byte 00-80 and A0-DF, two bytes 81-9F or E0-FC
        // followed by 40-FC.
        {"90ms-RKSJ-H", "41 82A0 42 B1 E040", "41/1 82A0/2 42/1 B1/1 E040/2"},
        {"90ms-RKSJ-H", "8120 41", "8120!2 41/1"},  // a broken two-byte code takes two
        {"90ms-RKSJ-H", "FD 41", "FD!1 41/1"},      // no range admits FD: shortest range
        {"90ms-RKSJ-H", "41 81", "41/1 81!1"},      // the string ends inside a code
        {"90ms-RKSJ-H", "", ""},
        // GBK2K-H (GB 18030): one byte 00-7F, two bytes 81-FE 40-FE, four
        // bytes 81-FE 30-39 81-FE 30-39.
        {"GBK2K-H", "41 81308436 B0A1", "41/1 81308436/4 B0A1/2"},
        {"GBK2K-H", "813041", "8130!2 41/1"},
        {"GBK2K-H", "8130", "8130!2"},
        {"GBK2K-H", "FF", "FF!1"},
        // CNS-EUC-H: one byte, two bytes A1-FE A1-FE, four bytes 8EA1-8EA3 ...
        {"CNS-EUC-H", "8EA1A1A1 A4A1 20", "8EA1A1A1/4 A4A1/2 20/1"},
        {"CNS-EUC-H", "8EA4A1A1", "8EA4A1A1!4"},
        // UTF-16: units outside the surrogates, or a high-low pair.
        {"UniJIS-UTF16-H", "3042 D842DF9F 0041", "3042/2 D842DF9F/4 0041/2"},
        {"UniJIS-UTF16-H", "DC00 0041", "DC00!2 0041/2"},  // a lone low surrogate
        {"UniJIS-UTF16-H", "D842 0041", "D8420041!4"},     // a high one eats its follower
        {"UniJIS-UTF16-H", "30", "30!1"},
        // UTF-8: 00-7F, C2-DF 80-BF, E0-EF 80-BF 80-BF, F0-F4 ...
        {"UniGB-UTF8-H", "41 C3A9 E4B8AD F0A0AE9F", "41/1 C3A9/2 E4B8AD/3 F0A0AE9F/4"},
        {"Identity-H", "0041 FFFF 00", "0041/2 FFFF/2 00!1"},
        {"Identity-V", "3042", "3042/2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cmap) + " " + c.hex);
        EXPECT_EQ(describe(decode(predefined(c.cmap), c.hex)), c.codes);
    }
}

TEST(CidCMapPredefined, MapsCodesToCids) {
    struct Case {
        const char* cmap;
        const char* hex;
        CidLookup want;
    };
    const Case cases[] = {
        {"90ms-RKSJ-H", "41", {264, true}},  // <20> <7d> 231
        {"90ms-RKSJ-H", "7E", {631, true}},
        {"90ms-RKSJ-H", "8140", {633, true}},
        {"90ms-RKSJ-H", "8141", {634, true}},
        {"90ms-RKSJ-H", "1F", {231, false}},    // notdefrange <00> <1f> 231
        {"90ms-RKSJ-H", "80", {0, false}},      // in the code space, mapped nowhere
        {"90ms-RKSJ-V", "8141", {7887, true}},  // the vertical comma
        {"90ms-RKSJ-V", "41", {264, true}},     // the rest comes from -H
        {"90ms-RKSJ-V", "1F", {231, false}},
        {"Identity-H", "1234", {0x1234, true}},
        {"Identity-V", "FFFF", {0xFFFF, true}},
        {"UniJIS-UTF16-H", "3042", {843, true}},
        {"UniJIS-UTF8-H", "E38182", {843, true}},
        {"UniJIS-UTF32-H", "00003042", {843, true}},
        {"UniJIS-UCS2-H", "3042", {843, true}},
        {"UniJIS-UTF16-H", "D842DC07", {17319, true}},
        {"UniJIS-UTF16-H", "0010", {1, false}},
        {"GBK2K-H", "81308436", {22354, true}},
        {"CNS-EUC-H", "8EA1A1A1", {99, true}},
        {"Adobe-Japan1-6", "0100", {256, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cmap) + " " + c.hex);
        const auto codes = decode(predefined(c.cmap), c.hex);
        ASSERT_EQ(codes.size(), 1u);
        EXPECT_TRUE(codes[0].valid);
        EXPECT_EQ((CidLookup{codes[0].cid, codes[0].mapped}), c.want);
    }
    EXPECT_FALSE(CidCMap::predefined("UniJIS-UTF16").has_value());
    EXPECT_FALSE(CidCMap::predefined("identity-h").has_value());
    EXPECT_FALSE(CidCMap::predefined("UniManga-UTF16-H").has_value());
    EXPECT_FALSE(CidCMap::predefined("").has_value());
}

TEST(CidCMapPredefined, NamesSayWritingModeFormAndCollection) {
    ASSERT_GT(cidcmap_tables::kCMapCount, 150u);
    for (std::size_t i = 0; i < cidcmap_tables::kCMapCount; ++i) {
        const std::string_view name = cidcmap_tables::kCMaps[i].name;
        SCOPED_TRACE(std::string(name));
        if (i > 0) {
            EXPECT_LT(cidcmap_tables::kCMaps[i - 1].name, name);
        }
        const CidCMap cmap = predefined(name);
        const bool v_name = name == "V" || name.ends_with("-V");
        EXPECT_EQ(cmap.vertical(), v_name);
        EXPECT_EQ(cmap.unicode_form != UnicodeForm::None, name.starts_with("Uni"));
        EXPECT_EQ(cmap.registry, "Adobe");
        const std::optional<Collection> coll = cmap.collection();
        if (name.starts_with("Identity")) {
            EXPECT_EQ(cmap.ordering, "Identity");
            EXPECT_FALSE(coll.has_value());
        } else {
            EXPECT_TRUE(coll.has_value());
        }
        EXPECT_FALSE(cmap.codespace.empty());
    }
}

TEST(CidCMapParse, ReadsEverySection) {
    struct Probe {
        const char* hex;
        CidLookup want;
    };
    struct Case {
        const char* label;
        const char* text;
        std::vector<Probe> probes;
        bool vertical = false;
        const char* ordering = "";
    };
    const Case cases[] = {
        {"ranges and chars",
         "1 begincodespacerange <00> <80> <8140> <9ffc> endcodespacerange "
         "2 begincidrange <20> <7e> 1 <8140> <817e> 633 endcidrange "
         "1 begincidchar <8180> 700 endcidchar",
         {{"41", {34, true}},
          {"8141", {634, true}},
          {"8180", {700, true}},
          {"817f", {0, false}},
          {"10", {0, false}}}},
        {"notdef mappings",
         "begincodespacerange <00> <ff> endcodespacerange begincidrange <41> <5a> 34 endcidrange "
         "beginnotdefrange <00> <1f> 1 endnotdefrange beginnotdefchar <41> 9 endnotdefchar",
         {{"41", {34, true}}, {"05", {1, false}}, {"20", {0, false}}}},
        {"later entries win, across sections",
         "begincodespacerange <00> <ff> endcodespacerange "
         "begincidrange <00> <ff> 100 <40> <4f> 500 endcidrange begincidchar <42> 7 endcidchar "
         "begincidrange <48> <48> 8 endcidrange",
         {{"3f", {163, true}},
          {"40", {500, true}},
          {"42", {7, true}},
          {"43", {503, true}},
          {"48", {8, true}},
          {"4f", {515, true}},
          {"50", {180, true}}}},
        {"WMode and the PostScript CIDSystemInfo",
         "/CIDSystemInfo 3 dict dup begin /Registry (Adobe) def /Ordering (Japan1) def "
         "/Supplement 2 def end def /WMode 1 def "
         "begincodespacerange <0000> <ffff> endcodespacerange begincidchar <0001> 5 endcidchar",
         {{"0001", {5, true}}},
         true,
         "Japan1"},
        {"a dictionary CIDSystemInfo",
         "/CIDSystemInfo << /Registry (Adobe) /Ordering (GB1) /Supplement 4 >> def /WMode 0 def",
         {{"0041", {0, false}}},
         false,
         "GB1"},
        {"usecmap of a predefined CMap",
         "/90ms-RKSJ-H usecmap /WMode 1 def begincidrange <8141> <8142> 7887 endcidrange",
         {{"8141", {7887, true}}, {"8140", {633, true}}, {"41", {264, true}}, {"1f", {231, false}}},
         true,
         "Japan1"},
        {"usecmap of a Unicode CMap keeps its keys",
         "/UniJIS-UTF16-H usecmap begincidchar <3042> 1 endcidchar",
         {{"3042", {1, true}}, {"3044", {845, true}}, {"D842DC07", {17319, true}}},
         false,
         "Japan1"},
        {"no code space: two-byte codes",
         "begincidrange <0000> <00ff> 10 endcidrange",
         {{"0005", {15, true}}}},
        {"CIDs stop at 65535",
         "begincodespacerange <0000> <ffff> endcodespacerange begincidrange <0000> <ffff> 65530 "
         "endcidrange",
         {{"0005", {65535, true}}, {"0006", {0, false}}}},
        {"broken entries are skipped",
         "begincodespacerange <00> <ff> endcodespacerange "
         "begincidrange <41> <42> (x) <43> <4142> 5 <44> <44> 6 <50> <4f> 1 endcidrange "
         "begincidchar <45> -1 <46> 70000 <47> 7 endcidchar",
         {{"41", {0, false}},
          {"43", {0, false}},
          {"44", {6, true}},
          {"50", {0, false}},
          {"45", {0, false}},
          {"46", {0, false}},
          {"47", {7, true}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const CidCMap cmap = CidCMap::parse(as_bytes(c.text));
        for (const Probe& p : c.probes) {
            SCOPED_TRACE(p.hex);
            const auto codes = decode(cmap, p.hex);
            ASSERT_EQ(codes.size(), 1u);
            EXPECT_TRUE(codes[0].valid);
            EXPECT_EQ((CidLookup{codes[0].cid, codes[0].mapped}), p.want);
        }
        EXPECT_EQ(cmap.vertical(), c.vertical);
        EXPECT_EQ(cmap.ordering, c.ordering);
    }
}

TEST(CidCMapParse, UseCMapArgumentAndCodeSpaces) {
    const std::string text =
        "begincodespacerange <a0> <df> endcodespacerange begincidchar <a1> 9 endcidchar";
    const CidCMap alone = CidCMap::parse(as_bytes(text));
    EXPECT_EQ(describe(decode(alone, "A1 41")), "A1/1 41!1");
    EXPECT_EQ(alone.base, nullptr);

    const CidCMap used = CidCMap::parse(as_bytes(text), "90ms-RKSJ-H");
    EXPECT_EQ(describe(decode(used, "A1 41 8140")), "A1/1 41/1 8140/2");
    EXPECT_EQ(used.codespace.size(), predefined("90ms-RKSJ-H").codespace.size() + 1);
    EXPECT_EQ(used.lookup(0xA1, 1), (CidLookup{9, true}));
    EXPECT_EQ(used.lookup(0x41, 1), (CidLookup{264, true}));
    EXPECT_EQ(used.unicode_form, UnicodeForm::None);
    EXPECT_FALSE(used.vertical());

    // The program's own usecmap comes first; an unknown name uses nothing.
    const CidCMap own = CidCMap::parse(as_bytes("/Identity-H usecmap"), "90ms-RKSJ-H");
    EXPECT_EQ(own.lookup(0x8140, 2), (CidLookup{0x8140, true}));
    const CidCMap unknown = CidCMap::parse(as_bytes("/NoSuchCMap usecmap"));
    EXPECT_EQ(unknown.base, nullptr);
}

// Overlapping entries resolve to disjoint ranges in which every code keeps
// the last entry that covers it: checked against the plain rule, a scan of
// the entries from the last, over random programs.
TEST(CidCMapParse, OverlapsResolveLikeALastWinsScan) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 300; ++round) {
        struct Entry {
            std::uint32_t lo, hi, cid;
            std::uint8_t length;
        };
        std::vector<Entry> entries;
        std::string text =
            "begincodespacerange <00> <ff> <0000> <ffff> endcodespacerange begincidrange\n";
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            const std::uint8_t length = 1 + rng() % 2;
            const std::uint32_t max = length == 1 ? 0xFF : 0x1FF;  // two-byte codes near 0
            std::uint32_t lo = rng() % (max + 1);
            std::uint32_t hi = std::min(max, lo + static_cast<std::uint32_t>(rng() % 64));
            const std::uint32_t cid = rng() % 1000;
            entries.push_back({lo, hi, cid, length});
            char buf[64];
            std::snprintf(buf, sizeof buf, "<%0*X> <%0*X> %u\n", 2 * length, lo, 2 * length, hi,
                          cid);
            text += buf;
        }
        text += "endcidrange";
        const CidCMap cmap = CidCMap::parse(as_bytes(text));
        for (std::size_t i = 1; i < cmap.cids.size(); ++i) {
            const CidRange& a = cmap.cids[i - 1];
            const CidRange& b = cmap.cids[i];
            ASSERT_TRUE(a.length < b.length || (a.length == b.length && a.hi < b.lo));
        }
        for (std::uint8_t length = 1; length <= 2; ++length) {
            for (std::uint32_t code = 0; code <= (length == 1 ? 0xFFu : 0x1FFu); ++code) {
                CidLookup want;
                for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
                    if (e->length == length && e->lo <= code && code <= e->hi) {
                        want = {e->cid + (code - e->lo), true};
                        break;
                    }
                }
                ASSERT_EQ(cmap.lookup(code, length), want) << "round " << round << " code " << code;
            }
        }
    }
}

// Damaged CMap programs parse to something sound: mappings disjoint and
// sorted, CIDs within 16 bits, code spaces of one to four bytes, and every
// string decodes into codes that cover it exactly.
TEST(CidCMapParse, DamagedProgramsStaySound) {
    const std::string base =
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap "
        "/CIDSystemInfo 3 dict dup begin /Registry (Adobe) def /Ordering (Japan1) def "
        "/Supplement 2 def end def /CMapName /Test-V def /WMode 1 def /90ms-RKSJ-H usecmap "
        "2 begincodespacerange <00> <80> <8140> <9FFC> endcodespacerange "
        "1 beginnotdefrange <00> <1f> 231 endnotdefrange "
        "3 begincidrange <20> <7d> 231 <8140> <817e> 633 <8141> <8142> 7887 endcidrange "
        "1 begincidchar <8143> 8268 endcidchar endcmap CMapName currentdict /CMap defineresource "
        "pop end end";
    std::mt19937 rng(7);
    const std::string alphabet = "<>[]()/ 0123456789abcdefABCDEF\n%{}begindcmapusrWMode-";
    for (int i = 0; i < 3000; ++i) {
        const std::string text = vellox_test::damaged(base, rng, alphabet, 6);
        const CidCMap cmap = CidCMap::parse(as_bytes(text));
        for (const auto* list : {&cmap.cids, &cmap.notdefs}) {
            for (std::size_t k = 0; k < list->size(); ++k) {
                const CidRange& r = (*list)[k];
                ASSERT_LE(r.lo, r.hi);
                ASSERT_LE(r.cid + (r.hi - r.lo), 0xFFFFu);
                ASSERT_TRUE(r.length >= 1 && r.length <= 4);
                if (k > 0) {
                    const CidRange& p = (*list)[k - 1];
                    ASSERT_TRUE(p.length < r.length || (p.length == r.length && p.hi < r.lo))
                        << text;
                }
            }
        }
        for (const CodespaceRange& r : cmap.codespace) ASSERT_TRUE(r.length >= 1 && r.length <= 4);
        const std::string shown = text.substr(0, 40);
        std::vector<ShownCode> codes;
        cmap.decode(as_bytes(shown), codes);
        std::size_t total = 0;
        for (const ShownCode& c : codes) {
            ASSERT_TRUE(c.length >= 1 && c.length <= 4);
            ASSERT_LE(c.cid, 0xFFFFu);
            total += c.length;
        }
        ASSERT_EQ(total, shown.size());
    }
}

TEST(CidCMapParse, EveryCutEndsCleanly) {
    // A CMap cut anywhere, in a buffer of exactly its bytes (so that
    // AddressSanitizer sees a read past them): an entry cut after its low
    // code once stepped past the end and skipped white space from there.
    const std::string text =
        "begincmap 2 begincodespacerange <00> <80> <8140> <9FFC> endcodespacerange "
        "1 begincidrange <20> <7d> 231 endcidrange endcmap";
    const std::size_t second = text.find("<8140>");
    for (std::size_t n = 0; n <= text.size(); ++n) {
        SCOPED_TRACE(text.substr(0, n));
        const Bytes cut(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        const CidCMap cmap = CidCMap::parse(cut);
        // The first range is whole once its high code is; the second needs
        // both of its codes. Without one, the CMap gets the default two-byte
        // range.
        const std::size_t ranges = n >= second + 13 ? 2 : n >= second - 1 ? 1 : 0;
        ASSERT_EQ(cmap.codespace.size(), std::max<std::size_t>(ranges, 1));
        EXPECT_EQ(cmap.codespace[0].length, ranges > 0 ? 1 : 2);
    }
}

// Every shipped CMap file, read by the parser, maps every code exactly as
// the generated tables do: the codes of the file's own entries and every
// key the tables hold are compared both ways, notdef mappings included.
TEST(ShippedCMaps, ParserAgreesWithGeneratedTables) {
    if (!fs::is_directory(kResources)) GTEST_SKIP() << "CMap resources not found: " << kResources;
    std::size_t files = 0, codes_checked = 0;
    for (std::size_t i = 0; i < cidcmap_tables::kCMapCount; ++i) {
        const cidcmap_tables::PredefinedCMap& rec = cidcmap_tables::kCMaps[i];
        SCOPED_TRACE(std::string(rec.name));
        fs::path path;
        for (const auto& dir : fs::directory_iterator(kResources)) {
            if (fs::exists(dir.path() / "CMap" / rec.name)) path = dir.path() / "CMap" / rec.name;
        }
        ASSERT_FALSE(path.empty());
        const std::string text = vellox_test::read_file(path);
        const CidCMap parsed = CidCMap::parse(as_bytes(text));
        const CidCMap table = predefined(rec.name);
        ++files;
        EXPECT_EQ(parsed.codespace, table.codespace);
        EXPECT_EQ(parsed.wmode, table.wmode);
        EXPECT_EQ(parsed.registry, table.registry);
        EXPECT_EQ(parsed.ordering, table.ordering);
        EXPECT_EQ(parsed.supplement, table.supplement);

        // Codes to compare: the file's own entries and the tables' keys.
        std::size_t bad = 0, codes = 0;
        auto compare = [&](std::uint32_t code, std::uint8_t length) {
            ++codes;
            const CidLookup a = parsed.lookup(code, length);
            const CidLookup b = table.lookup(code, length);
            if (a != b && ++bad <= 5) {
                ADD_FAILURE() << "code " << std::hex << code << "/" << int(length) << std::dec
                              << ": file " << a.cid << (a.mapped ? "" : " (notdef)") << ", tables "
                              << b.cid << (b.mapped ? "" : " (notdef)");
            }
        };
        for (const auto* list : {&parsed.cids, &parsed.notdefs}) {
            for (const CidRange& r : *list) {
                for (std::uint64_t c = r.lo; c <= r.hi; ++c)
                    compare(static_cast<std::uint32_t>(c), r.length);
            }
        }
        for (const std::int16_t start : {rec.cids, rec.notdefs}) {
            vellox_test::for_each_table_key(start, [&](std::uint8_t length, std::uint32_t key) {
                if (length != 0) {
                    compare(key, length);
                } else if (rec.form != UnicodeForm::Ucs2 || key <= 0xFFFF) {
                    const auto [code, code_length] = encode(rec.form, key);
                    compare(code, code_length);
                }
            });
        }
        codes_checked += codes;
    }
    EXPECT_EQ(files, cidcmap_tables::kCMapCount);
    EXPECT_GT(codes_checked, 1000000u);
}
