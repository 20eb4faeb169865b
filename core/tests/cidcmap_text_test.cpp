// Text through the two CJK roads: code -> CID -> collection -> Unicode, and a
// Unicode CMap's codes decoded directly. Checked against Python's codecs,
// against reportlab's CID fonts, against pdftotext on the corpus, and the
// two roads against each other over every Unicode CMap.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cidcmap.h"
#include "cidcmap_tables.h"
#include "collection.h"
#include "content.h"
#include "cos.h"
#include "doc.h"
#include "support/cid2code.h"
#include "support/cidcmap_keys.h"
#include "support/read_file.h"
#include "support/stored_content.h"
#include "utf8.h"

using namespace vellox_core;
namespace fs = std::filesystem;

namespace {

const fs::path kFixtures = fs::path(VELLOX_SOURCE_DIR) / "core" / "tests" / "fixtures" / "cidcmap";
const fs::path kPdfminer =
    fs::path(VELLOX_SOURCE_DIR) / ".." / "shared" / "corpus" / "pdfminer-samples";

std::string utf8_of(char32_t cp) {
    std::string s;
    append_utf8(s, cp);
    return s;
}

std::string hex_of(std::uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, v);
    return buf;
}

// A Type0 font as the text machine will see it: its CMap and the
// collection that gives its CIDs a meaning (the CMap's own, else the
// descendant font's /CIDSystemInfo: Identity-V in jo.pdf names none).
struct CjkFont {
    CidCMap cmap;
    std::optional<Collection> collection;
};

using Resolve = std::function<std::optional<Dictionary>(const Object&)>;

std::optional<CjkFont> cjk_font(const Dictionary& font, const Resolve& resolve) {
    const Object* encoding = font.get("Encoding");
    if (encoding == nullptr || encoding->as_name() == nullptr) return std::nullopt;
    auto cmap = CidCMap::predefined(encoding->as_name()->text);
    if (!cmap) return std::nullopt;
    std::optional<Collection> collection = cmap->collection();
    const Object* descendants = font.get("DescendantFonts");
    if (!collection && descendants && descendants->as_array() &&
        !descendants->as_array()->empty()) {
        if (auto cid_font = resolve((*descendants->as_array())[0])) {
            if (const Object* info = cid_font->get("CIDSystemInfo")) {
                if (auto d = resolve(*info)) {
                    const Object* reg = d->get("Registry");
                    const Object* ord = d->get("Ordering");
                    if (reg && ord && reg->as_string() && ord->as_string()) {
                        collection = collection_named(as_text(reg->as_string()->bytes),
                                                      as_text(ord->as_string()->bytes));
                    }
                }
            }
        }
    }
    return CjkFont{std::move(*cmap), collection};
}

enum class Road { Direct, Cid };

// The text of one shown string: `Direct` is what the text machine does
// (CidCMap::unicode_of: a Unicode CMap's codes as text, else via the CID);
// `Cid` always goes through the CID and the collection.
std::string text_of(const CjkFont& font, ByteView bytes, Road road) {
    std::vector<ShownCode> codes;
    font.cmap.decode(bytes, codes);
    std::string out;
    for (const ShownCode& c : codes) {
        std::optional<char32_t> cp;
        if (road == Road::Direct) {
            cp = font.cmap.unicode_of(c, font.collection);
        } else if (c.mapped && font.collection) {
            cp = collection_unicode(*font.collection, c.cid);
        }
        if (cp) append_utf8(out, *cp);
    }
    return out;
}

// The text each CJK font shows on a page, fonts in order of first use.
std::vector<std::pair<std::string, std::string>> page_texts(
    ByteView content, const std::map<std::string, CjkFont>& fonts, Road road) {
    std::vector<std::pair<std::string, std::string>> out;
    const CjkFont* font = nullptr;
    std::string* text = nullptr;
    const vellox_test::StoredContent ops = vellox_test::read_content(content);
    auto show = [&](const Operand& operand) {
        if (const auto s = string_of(operand); s && text) *text += text_of(*font, *s, road);
    };
    for (const Op& op : ops) {
        if (op.code == Operator::SetFont && !op.operands.empty()) {
            const auto name = name_of(op.operands[0]);
            const auto it = name ? fonts.find(std::string(*name)) : fonts.end();
            font = it == fonts.end() ? nullptr : &it->second;
            text = nullptr;
            if (font) {
                auto pos = std::find_if(out.begin(), out.end(),
                                        [&](const auto& p) { return p.first == *name; });
                if (pos == out.end()) {
                    out.emplace_back(std::string(*name), "");
                    pos = out.end() - 1;
                }
                text = &pos->second;
            }
        } else if (op.code == Operator::Show || op.code == Operator::NextLineShow ||
                   op.code == Operator::SpacingNextLineShow) {
            if (!op.operands.empty()) show(op.operands.back());
        } else if (op.code == Operator::ShowArray && !op.operands.empty()) {
            if (const auto items = array_of(op.operands[0])) {
                for (const Operand& item : *items) show(item);
            }
        }
    }
    return out;
}

struct PageOfFile {
    Bytes content;
    std::map<std::string, CjkFont> fonts;
};

// The pages of a file vellox opens, with their CJK fonts.
std::vector<PageOfFile> pages_of(const std::string& data) {
    std::vector<PageOfFile> out;
    auto doc = Document::parse_with_password(as_bytes(data), {});
    EXPECT_TRUE(doc.ok());
    if (!doc) return out;
    auto pages = doc->pages();
    EXPECT_TRUE(pages.ok());
    if (!pages) return out;
    const Resolve resolve = [&](const Object& o) -> std::optional<Dictionary> {
        auto d = doc->resolver.resolve_dict(o);
        return d ? std::optional<Dictionary>(**d) : std::nullopt;
    };
    for (const Page& page : *pages) {
        PageOfFile p;
        auto content = page_content(doc->resolver, page);
        EXPECT_TRUE(content.ok());
        if (content) p.content = std::move(content).value();
        if (const Object* fonts = page.resources.get("Font")) {
            if (auto table = resolve(*fonts)) {
                for (const auto& [name, ref] : *table) {
                    if (auto font = resolve(ref)) {
                        if (auto cjk = cjk_font(*font, resolve))
                            p.fonts.emplace(name, std::move(*cjk));
                    }
                }
            }
        }
        out.push_back(std::move(p));
    }
    return out;
}

// Vertical CMaps select vertical glyphs, whose characters in the
// collections are the vertical presentation forms. Traditional Chinese
// centres its full stop, so Adobe-CNS1's vertical CMaps keep it as it is.
std::string vertical_forms(std::string text, bool full_stop) {
    const std::pair<const char*, const char*> forms[] = {
        {"\u3001", "\uFE11"}, {"\u3002", full_stop ? "\uFE12" : "\u3002"}, {"\uFF0C", "\uFE10"}};
    for (const auto& [from, to] : forms) {
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
            text.replace(at, std::string_view(from).size(), to);
            at += std::string_view(to).size();
        }
    }
    return text;
}

std::string without_spaces(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ' || text[i] == '\n' || text[i] == '\r' || text[i] == '\f' ||
            text[i] == '\t')
            continue;
        if (text.substr(i, 3) == "\u3000") {
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

// Characters encoded by Python's codecs (core/tests/fixtures/cidcmap/
// make_codec_oracle.py) come back through CMap -> CID -> collection. Every
// difference is accounted for below: codes that Adobe's CMaps and
// collections deliberately map to another character than the codec's
// table, not faults of the roads.
TEST(CodecOracle, CharactersComeBackThroughCmapAndCollection) {
    std::ifstream in(kFixtures / "codec_oracle.txt");
    ASSERT_TRUE(in);
    // Single codes, as "CMAP code: codec's character -> ours".
    const std::set<std::string> listed = {
        // JIS-Roman: the one-byte 0x5C of Adobe's 90ms-RKSJ-H and EUC-H
        // shows the yen sign, where the codecs read ASCII backslash.
        "90ms-RKSJ-H 5C: 005C -> 00A5",
        "EUC-H 5C: 005C -> 00A5",
        // Adobe-Japan1 gives the JIS X 0208 cent sign its full-width form.
        "EUC-H A1F1: 00A2 -> FFE0",
        // KS X 1001 0xA2C1 is the fisheye in Adobe-Korea1, the circled dot
        // operator in Microsoft's code page.
        "KSCms-UHC-H A2C1: 2299 -> 25C9",
        // Adobe-CNS1 lists the circled plus first for Big Five 0xA1F2, the
        // codec the earth symbol; and the half-width ideographic comma first
        // for 0xA14E, the codec the small form.
        "B5pc-H A1F2: 2641 -> 2295",
        "ETen-B5-H A14E: FE51 -> FF64",
        // The glyph of Big Five 0xA1FE (CID 255) has no Unicode value in
        // Adobe-CNS1.
        "ETen-B5-H A1FE: FF0F -> none",
    };
    // Classes of codes, with the number of sampled codes each covers.
    struct Class {
        const char* why;
        bool (*matches)(const std::string& cmap, std::uint32_t code, char32_t want,
                        std::optional<char32_t> ours);
        std::size_t expected;
        std::size_t seen = 0;
    };
    Class classes[] = {
        {"compatibility ideographs: the codecs give KS X 1001's duplicate hanja (and a few Big "
         "Five and "
         "GBK codes) the compatibility code points U+F900-U+FAFF, Adobe's collections the unified "
         "ideographs they are canonically equivalent to (the same text after NFC)",
         [](const std::string&, std::uint32_t, char32_t want, std::optional<char32_t> ours) {
             return want >= 0xF900 && want <= 0xFAFF && ours && *ours >= 0x4E00 && *ours <= 0x9FFF;
         },
         37},
        {"the ETEN extension rows 0xC6A1-0xC7FE of Big Five: Python's tables place kana and "
         "Cyrillic "
         "there shifted from ETEN's own layout, which Adobe's ETen-B5-H follows (circled numbers "
         "and "
         "radicals first); Apple's Big Five (B5pc-H) has no such rows",
         [](const std::string& cmap, std::uint32_t code, char32_t, std::optional<char32_t>) {
             return (cmap == "B5pc-H" || cmap == "ETen-B5-H") && code >= 0xC6A1 && code <= 0xC7FE;
         },
         84},
    };
    std::set<std::string> unexpected, seen_listed;
    std::map<std::string, std::pair<int, int>> per_cmap;  // agreeing, total
    std::optional<CjkFont> font;
    std::string cmap_name, line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (line[0] == '=') {
            std::istringstream head(line.substr(2));
            head >> cmap_name;
            auto cmap = CidCMap::predefined(cmap_name);
            ASSERT_TRUE(cmap.has_value()) << cmap_name;
            font = CjkFont{*cmap, cmap->collection()};
            continue;
        }
        ASSERT_TRUE(font.has_value());
        std::istringstream row(line);
        std::string code_hex, cp_hex;
        row >> code_hex >> cp_hex;
        std::string bytes;
        for (std::size_t i = 0; i + 1 < code_hex.size(); i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(code_hex.substr(i, 2), nullptr, 16)));
        }
        const char32_t want = static_cast<char32_t>(std::stoul(cp_hex, nullptr, 16));
        std::vector<ShownCode> codes;
        font->cmap.decode(as_bytes(bytes), codes);
        ASSERT_EQ(codes.size(), 1u) << cmap_name << " " << code_hex;
        ASSERT_TRUE(codes[0].valid) << cmap_name << " " << code_hex;
        const std::string got = text_of(*font, as_bytes(bytes), Road::Cid);
        auto& [agree, total] = per_cmap[cmap_name];
        ++total;
        if (got == utf8_of(want)) {
            ++agree;
            continue;
        }
        const std::optional<char32_t> ours = font->cmap.unicode_of(codes[0], font->collection);
        const std::string text = cmap_name + " " + hex_of(codes[0].code, 2 * codes[0].length) +
                                 ": " + hex_of(want, 4) + " -> " +
                                 (ours ? hex_of(*ours, 4) : std::string("none"));
        if (listed.count(text) != 0) {
            seen_listed.insert(text);
            continue;
        }
        bool classified = false;
        for (Class& c : classes) {
            if (!classified && c.matches(cmap_name, codes[0].code, want, ours)) {
                ++c.seen;
                classified = true;
            }
        }
        if (!classified) unexpected.insert(text);
    }
    int agree_all = 0, total_all = 0;
    for (const auto& [name, counts] : per_cmap) {
        std::cout << "[ codec    ] " << name << ": " << counts.first << " of " << counts.second
                  << " agree\n";
        agree_all += counts.first;
        total_all += counts.second;
    }
    std::cout << "[ codec    ] all: " << agree_all << " of " << total_all << " agree\n";
    for (const std::string& d : unexpected) ADD_FAILURE() << "unexpected difference: " << d;
    for (const std::string& d : listed) {
        if (seen_listed.count(d) == 0) ADD_FAILURE() << "listed difference not seen: " << d;
    }
    for (const Class& c : classes) EXPECT_EQ(c.seen, c.expected) << c.why;
    EXPECT_EQ(per_cmap.size(), 8u);
}

// Over every mapped code of every predefined Unicode CMap: the code decoded as
// text is the character it encodes, and the CID road gives the same
// character, or another that cid2code.txt lists for the same CID (the CID
// stands for several characters, and the collection gives its first).
TEST(UnicodeCMaps, DirectRoadAndCidRoadAgree) {
    if (!fs::is_directory(vellox_test::cmap_resources())) {
        GTEST_SKIP() << "CMap resources not found: " << vellox_test::cmap_resources();
    }
    const std::pair<Collection, const char*> dirs[] = {{Collection::GB1, "Adobe-GB1-6"},
                                                       {Collection::CNS1, "Adobe-CNS1-7"},
                                                       {Collection::Japan1, "Adobe-Japan1-7"},
                                                       {Collection::Korea1, "Adobe-Korea1-2"},
                                                       {Collection::KR, "Adobe-KR-9"}};
    std::map<Collection, vellox_test::Cid2Code> data;
    for (const auto& [c, dir] : dirs) data[c] = vellox_test::read_cid2code(dir);

    std::size_t cmaps = 0, codes_total = 0, agree_total = 0, pro_quotes = 0;
    for (std::size_t i = 0; i < cidcmap_tables::kCMapCount; ++i) {
        const cidcmap_tables::PredefinedCMap& rec = cidcmap_tables::kCMaps[i];
        if (rec.form == UnicodeForm::None) continue;
        SCOPED_TRACE(std::string(rec.name));
        const CidCMap cmap = *CidCMap::predefined(rec.name);
        const Collection coll = *cmap.collection();
        const CjkFont font{cmap, coll};
        const auto& listed = data[coll].listed;
        ++cmaps;
        std::size_t codes = 0, agree = 0, bad = 0;
        std::vector<std::uint32_t> keys;
        std::string bytes;             // kept between codes: a million of them
        std::vector<ShownCode> shown;  // pass through here
        vellox_test::for_each_table_key(rec.cids, [&](std::uint8_t length, std::uint32_t key) {
            EXPECT_EQ(length, 0u);
            keys.push_back(key);
        });
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (const std::uint32_t cp : keys) {
            if (rec.form == UnicodeForm::Ucs2 && cp > 0xFFFF) continue;  // a base's key
            bytes.clear();
            if (rec.form == UnicodeForm::Utf8) {
                append_utf8(bytes, cp);
            } else {
                std::uint32_t units[2];
                int n = 0;
                if (rec.form == UnicodeForm::Utf32 || cp < 0x10000) {
                    units[n++] = cp;
                } else {
                    units[n++] = 0xD800 + ((cp - 0x10000) >> 10);
                    units[n++] = 0xDC00 + ((cp - 0x10000) & 0x3FF);
                }
                const int width = rec.form == UnicodeForm::Utf32 ? 4 : 2;
                for (int u = 0; u < n; ++u) {
                    for (int b = width - 1; b >= 0; --b)
                        bytes.push_back(static_cast<char>(units[u] >> (8 * b)));
                }
            }
            shown.clear();
            cmap.decode(as_bytes(bytes), shown);
            ASSERT_EQ(shown.size(), 1u);
            ASSERT_TRUE(shown[0].valid);
            if (!shown[0].mapped) continue;
            ++codes;
            ASSERT_EQ(cmap.unicode_of(shown[0], coll), std::optional<char32_t>(cp));
            const auto via = collection_unicode(coll, shown[0].cid);
            if (via == std::optional<char32_t>(cp)) {
                ++agree;
                continue;
            }
            const auto& l = listed[shown[0].cid];
            // The UniJISPro vertical CMaps (which cid2code.txt has no column
            // for) show the quotation marks with the glyphs of vertical
            // quotes: U+2018/U+2019 with CIDs 12173/12174, which have no
            // Unicode value, U+201C/U+201D with the CIDs of U+301D/U+301F.
            const bool pro_quote = rec.name.starts_with("UniJISPro") &&
                                   (cp == 0x2018 || cp == 0x2019 || cp == 0x201C || cp == 0x201D);
            if (pro_quote) {
                ++pro_quotes;
                continue;
            }
            if (std::find(l.begin(), l.end(), cp) == l.end() && ++bad <= 5) {
                ADD_FAILURE() << "U+" << hex_of(cp, 4) << " -> CID " << shown[0].cid << " -> "
                              << (via ? hex_of(*via, 4) : std::string("nothing"));
            }
        }
        EXPECT_GT(codes, 90u);
        codes_total += codes;
        agree_total += agree;
        std::cout << "[ roads    ] " << rec.name << ": " << agree << " of " << codes << " agree\n";
    }
    EXPECT_EQ(cmaps, 50u);
    EXPECT_EQ(pro_quotes, 12u);  // four quotes in each of the three UniJISPro CMaps
    std::cout << "[ roads    ] all Unicode CMaps: " << agree_total << " of " << codes_total
              << " agree\n";
}

// reportlab's non-embedded CID fonts (core/tests/fixtures/cidcmap/
// make_fixtures.py): both roads give back the text each font was asked to
// show, except that vertical CMaps select the vertical punctuation.
TEST(ReportlabFixtures, FontsShowTheirSourceText) {
    std::ifstream in(kFixtures / "reportlab-cjk.txt");
    ASSERT_TRUE(in);
    std::map<std::string, std::vector<std::string>> expected;  // file -> texts in order
    std::string line;
    while (std::getline(in, line)) {
        const auto a = line.find('\t');
        const auto b = line.find('\t', a + 1);
        expected[line.substr(0, a)].push_back(line.substr(b + 1));
    }
    ASSERT_EQ(expected.size(), 2u);
    for (const auto& [file, texts] : expected) {
        SCOPED_TRACE(file);
        const bool vertical = file.find("vertical") != std::string::npos;
        const std::string data = vellox_test::read_file(kFixtures / file);
        const auto pages = pages_of(data);
        ASSERT_EQ(pages.size(), 1u);
        ASSERT_EQ(pages[0].fonts.size(), 8u);
        for (const auto& [name, font] : pages[0].fonts)
            EXPECT_EQ(font.cmap.vertical(), vertical) << name;
        for (const Road road : {Road::Direct, Road::Cid}) {
            const auto shown = page_texts(pages[0].content, pages[0].fonts, road);
            ASSERT_EQ(shown.size(), texts.size());
            for (std::size_t i = 0; i < texts.size(); ++i) {
                SCOPED_TRACE(shown[i].first + (road == Road::Direct ? " direct" : " via CIDs"));
                const CjkFont& font = pages[0].fonts.at(shown[i].first);
                const bool direct =
                    road == Road::Direct && font.cmap.unicode_form != UnicodeForm::None;
                const bool cns = font.collection == Collection::CNS1;
                EXPECT_EQ(shown[i].second,
                          vertical && !direct ? vertical_forms(texts[i], !cns) : texts[i]);
            }
        }
    }
}

// The corpus files whose CJK text has no ToUnicode map: jo.pdf (Identity-V
// over Adobe-Japan1, Ryumin-Light not embedded) and simple3.pdf (the
// predefined V CMap). Their text matches pdftotext's
// (core/tests/fixtures/cidcmap/make_corpus_oracle.sh), white space aside.
TEST(CorpusCjk, TextMatchesPdftotext) {
    if (!fs::is_directory(kPdfminer)) GTEST_SKIP() << "corpus not found: " << kPdfminer;

    // jo.pdf opens normally.
    const auto jo = pages_of(vellox_test::read_file(kPdfminer / "jo.pdf"));
    ASSERT_EQ(jo.size(), 1u);
    ASSERT_EQ(jo[0].fonts.size(), 1u);
    EXPECT_TRUE(jo[0].fonts.begin()->second.cmap.vertical());
    std::string jo_text;
    for (const auto& [name, text] : page_texts(jo[0].content, jo[0].fonts, Road::Direct))
        jo_text += text;
    const std::string jo_want = without_spaces(vellox_test::read_file(kFixtures / "corpus-jo.txt"));
    EXPECT_EQ(without_spaces(jo_text), jo_want);
    std::cout << "[ corpus   ] jo.pdf: " << without_spaces(jo_text).size() << " bytes of text, "
              << (without_spaces(jo_text) == jo_want ? "identical" : "different")
              << " to pdftotext's\n";

    // simple3.pdf has no cross-reference table, which vellox does not
    // rebuild: its content stream and its font are read straight from the
    // file with the object parser.
    const std::string data = vellox_test::read_file(kPdfminer / "simple3.pdf");
    const std::size_t font_at = data.find("8 0 obj");
    const std::size_t stream_at = data.find("stream", data.find("5 0 obj"));
    ASSERT_NE(font_at, std::string::npos);
    ASSERT_NE(stream_at, std::string::npos);
    Lexer lexer(as_bytes(data), font_at + 7);
    auto font_obj = cos::parse_object(lexer);
    ASSERT_TRUE(font_obj.ok());
    const Resolve direct = [](const Object& o) -> std::optional<Dictionary> {
        if (const Dictionary* d = o.as_dict()) return *d;
        return std::nullopt;
    };
    auto font = cjk_font(*font_obj->as_dict(), direct);
    ASSERT_TRUE(font.has_value());
    EXPECT_TRUE(font->cmap.vertical());
    const std::size_t begin = data.find('\n', stream_at) + 1;
    const std::string content = data.substr(begin, data.find("endstream", begin) - begin);
    std::map<std::string, CjkFont> fonts;
    fonts.emplace("F2", std::move(*font));
    const auto shown = page_texts(as_bytes(content), fonts, Road::Direct);
    ASSERT_EQ(shown.size(), 1u);
    // pdftotext also prints the Helvetica lines; the CJK font's are these.
    const std::string want =
        without_spaces(vellox_test::read_file(kFixtures / "corpus-simple3.txt"));
    EXPECT_EQ(shown[0].second, "あいうえおあいうえお");
    EXPECT_NE(want.find(shown[0].second), std::string::npos);
}
