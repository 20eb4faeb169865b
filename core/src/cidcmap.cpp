#include "cidcmap.h"

#include <algorithm>
#include <map>

#include "bounds.h"
#include "cos.h"
#include "lex.h"
#include "utf8.h"

namespace vellox_core {

namespace {

namespace tables = cidcmap_tables;

// How the CID of a code follows from its entry: a cidrange counts up from
// its CID, a notdefrange gives every code the same one.
enum class Step : std::uint8_t { Counting, Constant };

constexpr std::array<std::string_view, 6> kOrderingNames = {"GB1",    "CNS1", "Japan1",
                                                            "Korea1", "KR",   "Identity"};

// ---------------------------------------------------------------- the tables

const tables::PredefinedCMap* find_predefined(std::string_view name) {
    const tables::PredefinedCMap* first = tables::kCMaps;
    const tables::PredefinedCMap* last = tables::kCMaps + tables::kCMapCount;
    const auto* it = std::lower_bound(
        first, last, name,
        [](const tables::PredefinedCMap& c, std::string_view n) { return c.name < n; });
    return it != last && it->name == name ? it : nullptr;
}

// The key a predefined CMap's tables use for a code: the code itself, or
// for a Unicode CMap the scalar value it encodes (length 0).
struct Key {
    std::uint32_t value;
    std::uint8_t length;
};

std::optional<Key> key_of(const tables::PredefinedCMap& cmap, std::uint32_t code,
                          std::uint8_t length) {
    if (cmap.form == UnicodeForm::None) return Key{code, length};
    const auto scalar = unicode_of_code(cmap.form, code, length);
    if (!scalar) return std::nullopt;
    return Key{static_cast<std::uint32_t>(*scalar), 0};
}

// Looks `key` up in table `index` and the tables under it.
std::optional<std::uint32_t> table_lookup(std::int16_t index, Key key) {
    for (int depth = 0; depth < tables::kMaxChain && index >= 0; ++depth) {
        const tables::Table& table = tables::kTables[index];
        const tables::Segment* first = tables::kSegments + table.first;
        const tables::Segment* last = first + table.count;
        // The last segment that starts at or before the key.
        const auto* it = std::upper_bound(first, last, key, [](Key k, const tables::Segment& s) {
            return k.length != s.length() ? k.length < s.length() : k.value < s.lo;
        });
        if (it != first) {
            const tables::Segment& s = *(it - 1);
            if (s.length() == key.length && key.value - s.lo <= s.span()) {
                const std::uint32_t offset = key.value - s.lo;
                switch (s.kind()) {
                    case tables::SegmentKind::Range: return s.value + offset;
                    case tables::SegmentKind::Unmapped: return std::nullopt;
                    case tables::SegmentKind::Array:
                        if (const std::uint16_t cid =
                                tables::kCidPool[table.pool_first + s.value + offset]) {
                            return cid;
                        }
                        break;  // a hole in the array: the base decides
                }
            }
        }
        index = table.base;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> own_lookup(const std::vector<CidRange>& ranges, std::uint32_t code,
                                        std::uint8_t length, Step step) {
    const auto it =
        std::upper_bound(ranges.begin(), ranges.end(), std::pair{length, code},
                         [](const std::pair<std::uint8_t, std::uint32_t>& k, const CidRange& r) {
                             return k.first != r.length ? k.first < r.length : k.second < r.lo;
                         });
    if (it == ranges.begin()) return std::nullopt;
    const CidRange& r = *(it - 1);
    if (r.length != length || code > r.hi) return std::nullopt;
    return step == Step::Counting ? r.cid + (code - r.lo) : r.cid;
}

// ---------------------------------------------------------------- code space

bool matches(const CodespaceRange& range, ByteView bytes) {
    for (std::size_t i = 0; i < range.length; ++i) {
        if (bytes[i] < range.lo[i] || bytes[i] > range.hi[i]) return false;
    }
    return true;
}

std::uint32_t big_endian(ByteView bytes) {
    std::uint32_t v = 0;
    for (const std::uint8_t b : bytes) v = (v << 8) | b;
    return v;
}

// ---------------------------------------------------------------- the parser

// An entry as read, before overlaps are resolved: codes [lo, hi] of one
// length, as 64-bit keys with the length above the code so that the codes
// of each length form their own interval.
struct RawEntry {
    std::uint64_t lo;
    std::uint64_t hi;
    std::uint32_t cid;
};

std::uint64_t wide_key(std::uint8_t length, std::uint32_t code) {
    return (std::uint64_t{length} << 32) | code;
}

// Disjoint ranges in which each code keeps the mapping of the last entry
// that covers it. Entries are placed from the last to the first; a map of
// the stretches already covered (merged as they grow) gives each entry's
// uncovered gaps, and every stretch it visits is merged away, so the work
// stays proportional to the number of entries however they overlap.
std::vector<CidRange> resolve(const std::vector<RawEntry>& entries, Step step) {
    std::vector<CidRange> out;
    std::map<std::uint64_t, std::uint64_t> covered;  // lo -> hi
    auto emit = [&](const RawEntry& e, std::uint64_t lo, std::uint64_t hi) {
        const std::uint32_t offset =
            step == Step::Counting ? static_cast<std::uint32_t>(lo - e.lo) : 0;
        out.push_back({static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi),
                       e.cid + offset, static_cast<std::uint8_t>(lo >> 32)});
    };
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        std::uint64_t next = e->lo;  // first code not yet placed
        std::uint64_t merged_lo = e->lo;
        std::uint64_t merged_hi = e->hi;
        auto it = covered.upper_bound(e->lo);
        if (it != covered.begin() && std::prev(it)->second + 1 >= e->lo) --it;
        while (it != covered.end() && it->first <= e->hi + 1) {
            if (it->first > next) emit(*e, next, std::min(it->first - 1, e->hi));
            next = std::max(next, it->second + 1);
            merged_lo = std::min(merged_lo, it->first);
            merged_hi = std::max(merged_hi, it->second);
            it = covered.erase(it);
        }
        if (next <= e->hi) emit(*e, next, e->hi);
        covered.emplace(merged_lo, merged_hi);
    }
    std::sort(out.begin(), out.end(), [](const CidRange& a, const CidRange& b) {
        return a.length != b.length ? a.length < b.length : a.lo < b.lo;
    });
    return out;
}

// A code of 1-4 bytes as a hex string, or nothing.
std::optional<String> code_string(const std::optional<Object>& obj) {
    if (!obj) return std::nullopt;
    const String* s = obj->as_string();
    if (s == nullptr || s->bytes.empty() || s->bytes.size() > 4) return std::nullopt;
    return *s;
}

std::optional<std::uint32_t> cid_value(const std::optional<Object>& obj) {
    if (!obj) return std::nullopt;
    const std::int64_t* i = obj->as_int();
    if (i == nullptr || *i < 0 || *i > 0xFFFF) return std::nullopt;
    return static_cast<std::uint32_t>(*i);
}

struct Parser {
    explicit Parser(ByteView bytes) : lexer(bytes) {}

    Lexer lexer;
    std::vector<RawEntry> cids;
    std::vector<RawEntry> notdefs;
    std::vector<CodespaceRange> codespace;
    std::optional<std::string> use_cmap;
    std::optional<std::int64_t> wmode;
    std::string registry, ordering;
    std::optional<std::int64_t> supplement;
    // The operands since the last keyword, the last two kept.
    std::optional<Object> operands[2];

    std::optional<Object> next_object() {
        std::size_t budget = limits::kMaxCMapOperandObjects;
        const std::size_t before = lexer.pos;
        auto obj = cos::parse_object(lexer, budget);
        // A failed object resumes where the parser stopped, one byte on at
        // least so that every pass moves forward; never past the end, which
        // the next step would read from.
        if (!obj) {
            if (lexer.pos == before && !lexer.at_end()) ++lexer.pos;
            return std::nullopt;
        }
        return std::move(obj).value();
    }

    // At the next entry of a section (a '<'), or false when the section is
    // over; its closing keyword is then consumed.
    bool next_entry() {
        lexer.skip_whitespace();
        if (lexer.at_end()) return false;
        if (lexer.peek() != '<') {
            (void)lexer.read_keyword();
            return false;
        }
        return true;
    }

    void read_codespace() {
        while (next_entry()) {
            const auto lo = code_string(next_object());
            const auto hi = code_string(next_object());
            if (!lo || !hi || lo->bytes.size() != hi->bytes.size()) continue;
            if (codespace.size() >= limits::kMaxCodespaceRanges) continue;
            CodespaceRange r;
            r.length = static_cast<std::uint8_t>(lo->bytes.size());
            for (std::size_t i = 0; i < r.length; ++i) {
                r.lo[i] = lo->bytes[i];
                r.hi[i] = hi->bytes[i];
            }
            codespace.push_back(r);
        }
    }

    void add(std::vector<RawEntry>& to, const String& lo, const String& hi, std::uint32_t cid,
             Step step) {
        if (lo.bytes.size() != hi.bytes.size() || to.size() >= limits::kMaxCidMappings) return;
        const auto length = static_cast<std::uint8_t>(lo.bytes.size());
        const std::uint32_t a = big_endian(lo.bytes);
        std::uint32_t b = big_endian(hi.bytes);
        if (b < a) return;
        // CIDs stop at 65535: the rest of a counting range maps nothing.
        if (step == Step::Counting && b - a > 0xFFFF - cid) b = a + (0xFFFF - cid);
        to.push_back({wide_key(length, a), wide_key(length, b), cid});
    }

    void read_ranges(std::vector<RawEntry>& to, Step step) {
        while (next_entry()) {
            const auto lo = code_string(next_object());
            const auto hi = code_string(next_object());
            const auto cid = cid_value(next_object());
            if (lo && hi && cid) add(to, *lo, *hi, *cid, step);
        }
    }

    void read_chars(std::vector<RawEntry>& to) {
        while (next_entry()) {
            const auto code = code_string(next_object());
            const auto cid = cid_value(next_object());
            if (code && cid) add(to, *code, *code, *cid, Step::Constant);
        }
    }

    void read_system_info(const Dictionary& dict) {
        if (const Object* o = dict.get("Registry"); o && o->as_string()) {
            registry = std::string(as_text(o->as_string()->bytes));
        }
        if (const Object* o = dict.get("Ordering"); o && o->as_string()) {
            ordering = std::string(as_text(o->as_string()->bytes));
        }
        if (const Object* o = dict.get("Supplement"); o && o->as_int()) supplement = *o->as_int();
    }

    // "key value def": the entries of the CMap dictionary we use, and those
    // of a /CIDSystemInfo built with "3 dict dup begin ... end", as Adobe's
    // files do; "/CIDSystemInfo << ... >> def" is read too.
    void on_def() {
        if (!operands[0] || !operands[1]) return;
        const Name* key = operands[0]->as_name();
        if (key == nullptr) return;
        const Object& value = *operands[1];
        if (key->text == "WMode" && value.as_int()) {
            wmode = *value.as_int();
        } else if (key->text == "Registry" && value.as_string()) {
            registry = std::string(as_text(value.as_string()->bytes));
        } else if (key->text == "Ordering" && value.as_string()) {
            ordering = std::string(as_text(value.as_string()->bytes));
        } else if (key->text == "Supplement" && value.as_int()) {
            supplement = *value.as_int();
        } else if (key->text == "CIDSystemInfo") {
            if (const Dictionary* d = value.as_dict()) {
                read_system_info(*d);
            } else if (const Array* a = value.as_array(); a && !a->empty() && (*a)[0].as_dict()) {
                read_system_info(*(*a)[0].as_dict());
            }
        }
    }

    void run() {
        while (true) {
            lexer.skip_whitespace();
            if (lexer.at_end()) break;
            const std::uint8_t c = lexer.peek();
            if (!is_regular(c) || c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9')) {
                if (c == ')' || c == '>' || c == ']' || c == '}' || c == '{') {
                    ++lexer.pos;  // a stray delimiter, or a procedure brace
                    continue;
                }
                auto obj = next_object();
                operands[0] = std::move(operands[1]);
                operands[1] = std::move(obj);
                continue;
            }
            const auto keyword = lexer.read_keyword();
            if (!keyword) {
                ++lexer.pos;
                continue;
            }
            const std::string_view k = as_text(*keyword);
            if (k == "begincodespacerange") {
                read_codespace();
            } else if (k == "begincidrange") {
                read_ranges(cids, Step::Counting);
            } else if (k == "begincidchar") {
                read_chars(cids);
            } else if (k == "beginnotdefrange") {
                read_ranges(notdefs, Step::Constant);
            } else if (k == "beginnotdefchar") {
                read_chars(notdefs);
            } else if (k == "usecmap") {
                if (operands[1] && operands[1]->as_name()) use_cmap = operands[1]->as_name()->text;
            } else if (k == "def") {
                on_def();
            }
            // Every keyword ends the operands before it.
            operands[0].reset();
            operands[1].reset();
        }
    }
};

CidCMap from_predefined(const tables::PredefinedCMap& p) {
    CidCMap cmap;
    cmap.base = &p;
    cmap.codespace.reserve(p.codespace_count);
    for (std::size_t i = 0; i < p.codespace_count; ++i) {
        const tables::CodespaceEntry& e = tables::kCodespace[p.codespace_first + i];
        CodespaceRange r;
        r.length = e.length;
        std::copy(e.lo, e.lo + 4, r.lo.begin());
        std::copy(e.hi, e.hi + 4, r.hi.begin());
        cmap.codespace.push_back(r);
    }
    cmap.wmode = p.wmode == 1 ? WritingMode::Vertical : WritingMode::Horizontal;
    cmap.unicode_form = p.form;
    cmap.registry = "Adobe";
    cmap.ordering = std::string(kOrderingNames[p.collection]);
    cmap.supplement = p.supplement;
    return cmap;
}

}  // namespace

std::optional<CidCMap> CidCMap::predefined(std::string_view name) {
    const tables::PredefinedCMap* p = find_predefined(name);
    if (p == nullptr) return std::nullopt;
    return from_predefined(*p);
}

CidCMap CidCMap::parse(ByteView bytes, std::string_view use_cmap) {
    Parser parser(bytes);
    parser.run();
    const std::string_view parent_name =
        parser.use_cmap ? std::string_view(*parser.use_cmap) : use_cmap;
    const tables::PredefinedCMap* parent =
        parent_name.empty() ? nullptr : find_predefined(parent_name);

    CidCMap cmap;
    if (parent != nullptr) {
        cmap = from_predefined(*parent);
        // A CMap that uses a Unicode CMap may map codes of its own, which
        // are no longer Unicode text: only the CID road stays sound.
        cmap.unicode_form = UnicodeForm::None;
        // The writing mode is the program's own, not the used CMap's.
        cmap.wmode = WritingMode::Horizontal;
    }
    for (const CodespaceRange& r : parser.codespace) {
        if (cmap.codespace.size() >= limits::kMaxCodespaceRanges) break;
        cmap.codespace.push_back(r);
    }
    if (cmap.codespace.empty()) {
        CodespaceRange two_bytes;
        two_bytes.length = 2;
        two_bytes.hi = {0xFF, 0xFF, 0, 0};
        cmap.codespace.push_back(two_bytes);
    }
    cmap.cids = resolve(parser.cids, Step::Counting);
    cmap.notdefs = resolve(parser.notdefs, Step::Constant);
    if (parser.wmode) {
        cmap.wmode = *parser.wmode == 1 ? WritingMode::Vertical : WritingMode::Horizontal;
    }
    if (!parser.registry.empty() || !parser.ordering.empty()) {
        cmap.registry = std::move(parser.registry);
        cmap.ordering = std::move(parser.ordering);
        cmap.supplement = parser.supplement.value_or(0);
    }
    return cmap;
}

CidLookup CidCMap::lookup(std::uint32_t code, std::uint8_t length) const {
    if (length < 1 || length > 4 || (length < 4 && code >> (8 * length) != 0)) return {0, false};
    if (auto cid = own_lookup(cids, code, length, Step::Counting)) return {*cid, true};
    const std::optional<Key> key = base != nullptr ? key_of(*base, code, length) : std::nullopt;
    if (key) {
        if (auto cid = table_lookup(base->cids, *key)) return {*cid, true};
    }
    if (auto cid = own_lookup(notdefs, code, length, Step::Constant)) return {*cid, false};
    if (key) {
        if (auto cid = table_lookup(base->notdefs, *key)) return {*cid, false};
    }
    return {0, false};
}

ShownCode CidCMap::next_code(ByteView rest) const {
    ShownCode shown;
    if (rest.empty()) return shown;
    std::size_t length = 0;
    for (std::size_t n = 1; n <= 4 && n <= rest.size() && length == 0; ++n) {
        for (const CodespaceRange& r : codespace) {
            if (r.length == n && matches(r, rest)) {
                length = n;
                break;
            }
        }
    }
    if (length != 0) {
        shown.valid = true;
    } else {
        // No range matches: the bytes make one invalid code. Its length
        // is that of the shortest range whose first byte admits ours,
        // else of the shortest range, so that one bad code does not
        // shift every later one (a lone low surrogate in UTF-16 still
        // takes two bytes).
        std::size_t any = 4;
        std::size_t admitting = 0;
        for (const CodespaceRange& r : codespace) {
            any = std::min<std::size_t>(any, r.length);
            if (rest[0] >= r.lo[0] && rest[0] <= r.hi[0] &&
                (admitting == 0 || r.length < admitting)) {
                admitting = r.length;
            }
        }
        length = std::min(admitting != 0 ? admitting : any, rest.size());
    }
    shown.length = static_cast<std::uint8_t>(length);
    shown.code = big_endian(rest.first(length));
    if (shown.valid) {
        const CidLookup found = lookup(shown.code, shown.length);
        shown.cid = found.cid;
        shown.mapped = found.mapped;
    }
    return shown;
}

void CidCMap::decode(ByteView bytes, std::vector<ShownCode>& out) const {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const ShownCode shown = next_code(bytes.subspan(pos));
        out.push_back(shown);
        pos += shown.length;
    }
}

std::optional<char32_t> CidCMap::unicode_of(const ShownCode& shown,
                                            std::optional<Collection> coll) const {
    if (!shown.valid) return std::nullopt;
    if (unicode_form != UnicodeForm::None)
        return unicode_of_code(unicode_form, shown.code, shown.length);
    if (!shown.mapped || !coll) return std::nullopt;
    return collection_unicode(*coll, shown.cid);
}

std::optional<Collection> CidCMap::collection() const {
    return collection_named(registry, ordering);
}

std::optional<char32_t> unicode_of_code(UnicodeForm form, std::uint32_t code, std::uint8_t length) {
    auto scalar = [](std::uint32_t v) -> std::optional<char32_t> {
        if (!is_scalar_value(v)) return std::nullopt;
        return static_cast<char32_t>(v);
    };
    switch (form) {
        case UnicodeForm::None: return std::nullopt;
        case UnicodeForm::Ucs2: return length == 2 ? scalar(code) : std::nullopt;
        case UnicodeForm::Utf16: {
            if (length == 2) return scalar(code);
            if (length != 4) return std::nullopt;
            const std::uint32_t high = code >> 16;
            const std::uint32_t low = code & 0xFFFF;
            if (high < 0xD800 || high > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            return static_cast<char32_t>(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
        }
        case UnicodeForm::Utf32: return length == 4 ? scalar(code) : std::nullopt;
        case UnicodeForm::Utf8: {
            if (length < 1 || length > 4) return std::nullopt;
            std::uint8_t b[4];
            for (std::size_t i = 0; i < length; ++i)
                b[i] = static_cast<std::uint8_t>(code >> (8 * (length - 1 - i)));
            if (length == 1) return b[0] < 0x80 ? std::optional<char32_t>(b[0]) : std::nullopt;
            // Lead byte: 110xxxxx, 1110xxxx or 11110xxx for two, three or
            // four bytes; each further byte 10xxxxxx.
            const std::uint8_t lead_mask = length == 2 ? 0xE0 : length == 3 ? 0xF0 : 0xF8;
            const std::uint8_t lead_bits = static_cast<std::uint8_t>(lead_mask << 1);
            if ((b[0] & lead_mask) != lead_bits) return std::nullopt;
            std::uint32_t v = b[0] & static_cast<std::uint8_t>(~lead_mask);
            for (std::size_t i = 1; i < length; ++i) {
                if ((b[i] & 0xC0) != 0x80) return std::nullopt;
                v = (v << 6) | (b[i] & 0x3F);
            }
            // The shortest form only: overlong encodings are not text.
            constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (v < kMin[length]) return std::nullopt;
            return scalar(v);
        }
    }
    return std::nullopt;
}

}  // namespace vellox_core
