#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "collection.h"
#include "support/cid2code.h"

using namespace vellox_core;

TEST(Collection, NamedByRegistryAndOrdering) {
    struct Case {
        const char* registry;
        const char* ordering;
        std::optional<Collection> want;
    };
    const Case cases[] = {
        {"Adobe", "GB1", Collection::GB1},
        {"Adobe", "CNS1", Collection::CNS1},
        {"Adobe", "Japan1", Collection::Japan1},
        {"Adobe", "Korea1", Collection::Korea1},
        {"Adobe", "KR", Collection::KR},
        {"Adobe", "Identity", std::nullopt},
        {"Adobe", "Japan2", std::nullopt},
        {"Adobe", "japan1", std::nullopt},
        {"adobe", "Japan1", std::nullopt},
        {"", "", std::nullopt},
        {"PDFAUTOCAD", "Indentity0", std::nullopt},  // contrib-issue_495_pdfobjref.pdf
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.registry) + "-" + c.ordering);
        EXPECT_EQ(collection_named(c.registry, c.ordering), c.want);
    }
}

TEST(Collection, CharactersOfKnownCids) {
    struct Case {
        Collection collection;
        std::uint32_t cid;
        std::optional<char32_t> want;
    };
    const Case cases[] = {
        {Collection::Japan1, 0, std::nullopt},  // .notdef
        {Collection::Japan1, 34, U'A'},         // proportional Latin
        {Collection::Japan1, 1, U' '},          // listed as U+00A0, U+0020
        {Collection::Japan1, 14, U'-'},         // listed as U+2011, U+002D
        {Collection::Japan1, 231, U' '},        // half-width space, U+2002 in the table
        {Collection::Japan1, 264, U'A'},        // half-width Latin: no UTF-32 value
        {Collection::Japan1, 291, U'\u00A5'},   // JIS-Roman 0x5C is the yen sign
        {Collection::Japan1, 61, U'\u00A5'},
        {Collection::Japan1, 631, U'~'},          // 90ms-RKSJ-H 0x7E, no Unicode value
        {Collection::Japan1, 327, U'\uFF61'},     // half-width katakana
        {Collection::Japan1, 516, std::nullopt},  // half-width hiragana: not in Unicode
        {Collection::Japan1, 843, U'\u3042'},
        {Collection::Japan1, 1189, U'\u8863'},  // listed as Kangxi U+2F90, then U+8863
        {Collection::Japan1, 633, U'\u3000'},   // listed as U+2003, then U+3000
        {Collection::Korea1, 101, U'\u3000'},   // listed as the Hangul filler first
        {Collection::KR, 14257, U'\u4E39'},     // compatibility U+F95E, then U+4E39
        {Collection::GB1, 576, U'\uFE13'},      // private use first, then the vertical colon
        {Collection::Japan1, 7887, U'\uFE11'},  // vertical forms come first
        {Collection::Japan1, 7899, U'\uFE35'},
        {Collection::Japan1, 17319, U'\U00020807'},  // beyond the BMP
        {Collection::Japan1, 23060, std::nullopt},   // past Adobe-Japan1-7
        {Collection::Japan1, 0xFFFFFFFF, std::nullopt},
        {Collection::GB1, 34, U'A'},
        {Collection::GB1, 846, U'A'},  // GB-EUC-H one-byte 0x41
        {Collection::GB1, 7716, U' '},
        {Collection::CNS1, 13648, U' '},
        {Collection::CNS1, 13681, U'A'},
        {Collection::Korea1, 1, U' '},
        {Collection::Korea1, 8127, U'A'},
        {Collection::KR, 14, U'-'},  // listed as U+00AD first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.collection)) + " CID " +
                     std::to_string(c.cid));
        EXPECT_EQ(collection_unicode(c.collection, c.cid), c.want);
    }
    EXPECT_EQ(collection_unicode(static_cast<Collection>(9), 34), std::nullopt);
}

// The values that give way to another one the same CID lists: radicals,
// compatibility ideographs, the deprecated angle brackets, typographic
// spaces and the Hangul filler, tricolon and two-dot punctuation (rank 1),
// and, after them, private use (rank 2).
int rank(std::uint32_t cp) {
    if ((cp >= 0xE000 && cp <= 0xF8FF) || cp >= 0xF0000) return 2;
    return (cp >= 0x2E80 && cp <= 0x2FDF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                   (cp >= 0x2F800 && cp <= 0x2FA1F) || cp == 0x2329 || cp == 0x232A ||
                   cp == 0x3164 || cp == 0x205A || cp == 0x205D || (cp >= 0x2000 && cp <= 0x200A)
               ? 1
               : 0;
}

// Every CID against cid2code.txt: a value of the collection's own UTF-32
// column, the first unless a listed value has a better rank; else a value another
// Unicode column lists (or none); and the Latin forms, which read as the
// ASCII character of their one-byte code (their number is a fact of the
// data: the proportional and half-width spaces and the half-width Latin
// blocks that have no Unicode value).
TEST(Collection, TablesFollowCid2Code) {
    if (!std::filesystem::is_directory(vellox_test::cmap_resources())) {
        GTEST_SKIP() << "CMap resources not found: " << vellox_test::cmap_resources();
    }
    struct Case {
        Collection collection;
        const char* dir;
        std::size_t latin_forms;
    };
    const Case cases[] = {
        {Collection::GB1, "Adobe-GB1-6", 96},      {Collection::CNS1, "Adobe-CNS1-7", 96},
        {Collection::Japan1, "Adobe-Japan1-7", 9}, {Collection::Korea1, "Adobe-Korea1-2", 96},
        {Collection::KR, "Adobe-KR-9", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        const vellox_test::Cid2Code data = vellox_test::read_cid2code(c.dir);
        ASSERT_GT(data.primary.size(), 18000u);
        EXPECT_EQ(collection_unicode(c.collection, static_cast<std::uint32_t>(data.primary.size())),
                  std::nullopt);
        std::size_t first = 0, latin = 0, fallback = 0, none = 0;
        for (std::uint32_t cid = 0; cid < data.primary.size(); ++cid) {
            const auto got = collection_unicode(c.collection, cid);
            const auto& primary = data.primary[cid];
            const auto& listed = data.listed[cid];
            const bool is_listed =
                got && std::find(listed.begin(), listed.end(), *got) != listed.end();
            const bool in_primary =
                got && std::find(primary.begin(), primary.end(), *got) != primary.end();
            if (in_primary && (*got == primary[0] || rank(*got) < rank(primary[0]))) {
                ++first;
            } else if (primary.empty() && is_listed) {
                ++fallback;
            } else if (got && *got >= 0x20 && *got <= 0x7E &&
                       (primary.empty() || is_listed ||
                        (*got == 0x20 && (primary[0] == 0xA0 || primary[0] == 0x2002)))) {
                ++latin;
            } else if (primary.empty() && listed.empty() && !got) {
                ++none;
            } else {
                ADD_FAILURE() << "CID " << cid << " gives "
                              << (got ? std::to_string(static_cast<std::uint32_t>(*got))
                                      : "nothing");
            }
        }
        EXPECT_EQ(latin, c.latin_forms);
        EXPECT_EQ(first + latin + fallback + none, data.primary.size());
    }
}
