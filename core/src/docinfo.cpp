// Document information: the trailer's /Info dictionary, the catalog's XMP
// /Metadata stream, the outline tree and the /Encrypt dictionary, read
// without touching page content.
#include "docinfo.h"

#include <array>
#include <cmath>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "bounds.h"
#include "filter/chain.h"
#include "pagetree.h"
#include "resolver.h"
#include "utf8.h"

namespace vellox_core {

namespace {

// ---------------------------------------------------------------- text strings

constexpr char32_t kUndefined = 0xFFFD;

// PDFDocEncoding, bytes 0x80 to 0xFF, from ISO 32000-1:2008 Annex D, Table
// D.2 ("Latin Character Set and Encodings", PDF column). Below 0x80 it is
// ASCII, except that 0x18 to 0x1F are the spacing accents of kLowAccents and
// 0x7F is undefined; from 0xA1 up it is ISO Latin-1, except the undefined
// 0xAD. Undefined codes become U+FFFD.
constexpr std::array<char32_t, 128> kHighHalf = {
    // 0x80
    0x2022,
    0x2020,
    0x2021,
    0x2026,
    0x2014,
    0x2013,
    0x0192,
    0x2044,
    0x2039,
    0x203A,
    0x2212,
    0x2030,
    0x201E,
    0x201C,
    0x201D,
    0x2018,
    // 0x90
    0x2019,
    0x201A,
    0x2122,
    0xFB01,
    0xFB02,
    0x0141,
    0x0152,
    0x0160,
    0x0178,
    0x017D,
    0x0131,
    0x0142,
    0x0153,
    0x0161,
    0x017E,
    kUndefined,
    // 0xA0
    0x20AC,
    0x00A1,
    0x00A2,
    0x00A3,
    0x00A4,
    0x00A5,
    0x00A6,
    0x00A7,
    0x00A8,
    0x00A9,
    0x00AA,
    0x00AB,
    0x00AC,
    kUndefined,
    0x00AE,
    0x00AF,
    // 0xB0
    0x00B0,
    0x00B1,
    0x00B2,
    0x00B3,
    0x00B4,
    0x00B5,
    0x00B6,
    0x00B7,
    0x00B8,
    0x00B9,
    0x00BA,
    0x00BB,
    0x00BC,
    0x00BD,
    0x00BE,
    0x00BF,
    // 0xC0
    0x00C0,
    0x00C1,
    0x00C2,
    0x00C3,
    0x00C4,
    0x00C5,
    0x00C6,
    0x00C7,
    0x00C8,
    0x00C9,
    0x00CA,
    0x00CB,
    0x00CC,
    0x00CD,
    0x00CE,
    0x00CF,
    // 0xD0
    0x00D0,
    0x00D1,
    0x00D2,
    0x00D3,
    0x00D4,
    0x00D5,
    0x00D6,
    0x00D7,
    0x00D8,
    0x00D9,
    0x00DA,
    0x00DB,
    0x00DC,
    0x00DD,
    0x00DE,
    0x00DF,
    // 0xE0
    0x00E0,
    0x00E1,
    0x00E2,
    0x00E3,
    0x00E4,
    0x00E5,
    0x00E6,
    0x00E7,
    0x00E8,
    0x00E9,
    0x00EA,
    0x00EB,
    0x00EC,
    0x00ED,
    0x00EE,
    0x00EF,
    // 0xF0
    0x00F0,
    0x00F1,
    0x00F2,
    0x00F3,
    0x00F4,
    0x00F5,
    0x00F6,
    0x00F7,
    0x00F8,
    0x00F9,
    0x00FA,
    0x00FB,
    0x00FC,
    0x00FD,
    0x00FE,
    0x00FF,
};

// 0x18 to 0x1F: breve, caron, circumflex, dot accent, double acute, ogonek,
// ring, small tilde.
constexpr std::array<char32_t, 8> kLowAccents = {0x02D8, 0x02C7, 0x02C6, 0x02D9,
                                                 0x02DD, 0x02DB, 0x02DA, 0x02DC};

char32_t pdfdoc_char(std::uint8_t b) {
    if (b >= 0x80) return kHighHalf[b - 0x80];
    if (b >= 0x18 && b <= 0x1F) return kLowAccents[b - 0x18];
    if (b == 0x7F) return kUndefined;
    return b;
}

std::string decode_utf16(ByteView bytes, bool big_endian) {
    std::string out;
    out.reserve(bytes.size());
    bool in_language_tag = false;
    std::uint32_t high = 0;  // a pending high surrogate
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const std::uint32_t unit =
            big_endian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i + 1] << 8 | bytes[i]);
        // ISO 32000-1 7.9.2.2: ESC, a language code, ESC.
        if (unit == 0x1B) {
            in_language_tag = !in_language_tag;
            continue;
        }
        if (in_language_tag) continue;
        if (high != 0) {
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                append_utf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
                high = 0;
                continue;
            }
            append_utf8(out, kUndefined);
            high = 0;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            high = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            append_utf8(out, kUndefined);
        } else {
            append_utf8(out, unit);
        }
    }
    if (high != 0) append_utf8(out, kUndefined);
    return out;
}

// ---------------------------------------------------------------- dates

bool digits(std::string_view text, std::size_t at, std::size_t n, int& value) {
    if (at + n > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int days_in_month(int year, int month) {
    constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

void append_two(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + value / 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

// ---------------------------------------------------------------- XMP

bool is_xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_xml_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_xml_space(s.back())) s.remove_suffix(1);
    return s;
}

// Character data with the five predefined entities and character references
// replaced; anything else after '&' is kept as written.
std::string xml_text(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    std::size_t i = 0;
    while (i < raw.size()) {
        if (raw[i] != '&') {
            out.push_back(raw[i++]);
            continue;
        }
        const std::size_t semi = raw.find(';', i);
        // Entity names are short; a distant ';' belongs to other text.
        if (semi == std::string_view::npos || semi - i > 10) {
            out.push_back(raw[i++]);
            continue;
        }
        const std::string_view name = raw.substr(i + 1, semi - i - 1);
        std::optional<char32_t> cp;
        if (name == "amp")
            cp = '&';
        else if (name == "lt")
            cp = '<';
        else if (name == "gt")
            cp = '>';
        else if (name == "quot")
            cp = '"';
        else if (name == "apos")
            cp = '\'';
        else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            std::uint32_t value = 0;
            bool ok = name.size() > (hex ? 2u : 1u);
            for (std::size_t k = hex ? 2 : 1; ok && k < name.size(); ++k) {
                const char c = name[k];
                std::uint32_t d = 0;
                if (c >= '0' && c <= '9')
                    d = static_cast<std::uint32_t>(c - '0');
                else if (hex && c >= 'a' && c <= 'f')
                    d = static_cast<std::uint32_t>(c - 'a' + 10);
                else if (hex && c >= 'A' && c <= 'F')
                    d = static_cast<std::uint32_t>(c - 'A' + 10);
                else
                    ok = false;
                value = value * (hex ? 16 : 10) + d;
                if (value > 0x10FFFF) ok = false;
            }
            if (ok && is_scalar_value(value)) cp = value;
        }
        if (!cp) {
            out.push_back(raw[i++]);
            continue;
        }
        append_utf8(out, *cp);
        i = semi + 1;
    }
    return out;
}

// The body of the first element `<tag ...>...</tag>` of `packet`; nothing
// when it is absent, empty (`<tag/>`) or not closed.
std::optional<std::string_view> element_body(std::string_view packet, std::string_view tag) {
    std::size_t from = 0;
    while (true) {
        const std::size_t open = packet.find(tag, from);
        if (open == std::string_view::npos) return std::nullopt;
        from = open + tag.size();
        // "<dc:title" must not match "<dc:titles", an end tag or plain text.
        if (open == 0 || packet[open - 1] != '<' || from >= packet.size()) continue;
        const char next = packet[from];
        if (next != '>' && next != '/' && !is_xml_space(next)) continue;
        const std::size_t end_of_start = packet.find('>', from);
        if (end_of_start == std::string_view::npos) return std::nullopt;
        if (packet[end_of_start - 1] == '/') return std::nullopt;
        const std::size_t body = end_of_start + 1;
        std::string closing = "</";
        closing += tag;
        const std::size_t close = packet.find(closing, body);
        if (close == std::string_view::npos) return std::nullopt;
        return packet.substr(body, close - body);
    }
}

struct ListItem {
    std::string_view attributes;
    std::string_view text;
};

// The rdf:li items of a container body, at most limits::kMaxXmpItems.
std::vector<ListItem> list_items(std::string_view body) {
    constexpr std::string_view kOpen = "<rdf:li";
    constexpr std::string_view kClose = "</rdf:li>";
    std::vector<ListItem> items;
    std::size_t from = 0;
    while (items.size() < limits::kMaxXmpItems) {
        const std::size_t open = body.find(kOpen, from);
        if (open == std::string_view::npos) break;
        const std::size_t end_of_start = body.find('>', open + kOpen.size());
        if (end_of_start == std::string_view::npos) break;
        const std::string_view attributes =
            body.substr(open + kOpen.size(), end_of_start - open - kOpen.size());
        if (!attributes.empty() && attributes.back() == '/') {  // <rdf:li/>
            from = end_of_start + 1;
            continue;
        }
        const std::size_t close = body.find(kClose, end_of_start + 1);
        if (close == std::string_view::npos) break;
        items.push_back({attributes, body.substr(end_of_start + 1, close - end_of_start - 1)});
        from = close + kClose.size();
    }
    return items;
}

std::optional<std::string> nonempty(std::string text) {
    if (text.empty()) return std::nullopt;
    return text;
}

// ---------------------------------------------------------------- destinations

// Named destinations: the catalog's /Names /Dests name tree (string keys)
// and the older /Dests dictionary (name keys), read once, on first need.
class NamedDests {
public:
    NamedDests(const Resolver& resolver, const Dictionary& catalog)
        : resolver_(resolver), catalog_(catalog) {}

    const Object* find(std::string_view name) {
        if (!loaded_) load();
        const auto it = map_.find(std::string(name));
        return it == map_.end() ? nullptr : it->second;
    }

private:
    void add(std::string key, const Object* value) {
        if (map_.size() < limits::kMaxNamedDests) map_.emplace(std::move(key), value);
    }

    void load() {
        loaded_ = true;
        // The name tree first: where both forms name a key, the newer one wins.
        if (const Dictionary* names = resolved_dict(fetch_entry(resolver_, catalog_, "Names"))) {
            if (const Dictionary* root = resolved_dict(fetch_entry(resolver_, *names, "Dests"))) {
                load_tree(*root);
            }
        }
        if (const Dictionary* dests = resolved_dict(fetch_entry(resolver_, catalog_, "Dests"))) {
            for (const auto& [key, value] : dests->entries) {
                if (map_.size() >= limits::kMaxNamedDests) break;
                map_.try_emplace(key, &value);
            }
        }
    }

    const Dictionary* resolved_dict(const Object* value) const {
        if (value == nullptr) return nullptr;
        auto dict = resolver_.resolve_dict(*value);
        return dict ? *dict : nullptr;
    }

    // Walked with an explicit stack: /Kids nodes as deep and as many as the
    // file has, each visited once, the entries bounded in number.
    void load_tree(const Dictionary& root) {
        std::vector<std::pair<const Dictionary*, std::uint32_t>> stack{{&root, 0}};
        std::unordered_set<std::uint32_t> visited;
        while (!stack.empty() && map_.size() < limits::kMaxNamedDests) {
            const auto [node, depth] = stack.back();
            stack.pop_back();
            if (const Object* names = fetch_entry(resolver_, *node, "Names")) {
                if (const Array* pairs = names->as_array()) {
                    for (std::size_t i = 0; i + 1 < pairs->size(); i += 2) {
                        const String* key = (*pairs)[i].as_string();
                        if (key != nullptr) add(std::string(as_text(key->bytes)), &(*pairs)[i + 1]);
                    }
                }
            }
            if (depth >= limits::kMaxNameTreeDepth) continue;
            const Object* kids_value = fetch_entry(resolver_, *node, "Kids");
            const Array* kids = kids_value != nullptr ? kids_value->as_array() : nullptr;
            if (kids == nullptr) continue;
            // Pushed in reverse so the kids are read in order.
            for (auto it = kids->rbegin(); it != kids->rend(); ++it) {
                if (const Reference* ref = it->as_ref()) {
                    if (!visited.insert(ref->num).second) continue;
                }
                if (const Dictionary* kid = resolved_dict(&*it)) stack.emplace_back(kid, depth + 1);
            }
        }
    }

    const Resolver& resolver_;
    const Dictionary& catalog_;
    bool loaded_ = false;
    // Values point into the catalog or the resolver's own objects, which
    // outlive this map.
    std::unordered_map<std::string, const Object*> map_;
};

struct Pages {
    std::unordered_map<std::uint32_t, std::size_t> by_object;
    std::size_t count = 0;
};

// A destination (an explicit array, a name or string naming one, or a
// dictionary whose /D is one) to the 0-based index of the page it shows.
std::optional<std::size_t> destination_page(const Resolver& resolver, const Object& dest,
                                            const Pages& pages, NamedDests& named) {
    const Object* value = &dest;
    // Two steps at most: a name to its value, that value (or its /D) to an array.
    for (int step = 0; step < 3; ++step) {
        if (const Reference* ref = value->as_ref()) {
            auto got = resolver.lookup(ref->num);
            if (!got) return std::nullopt;
            value = *got;
        }
        if (const Array* array = value->as_array()) {
            if (array->empty()) return std::nullopt;
            const Object& target = array->front();
            if (const Reference* page = target.as_ref()) {
                const auto it = pages.by_object.find(page->num);
                if (it == pages.by_object.end()) return std::nullopt;
                return it->second;
            }
            // Some producers write the page index itself, as in remote
            // go-to actions.
            if (const std::int64_t* index = target.as_int()) {
                if (*index < 0 || static_cast<std::uint64_t>(*index) >= pages.count)
                    return std::nullopt;
                return static_cast<std::size_t>(*index);
            }
            return std::nullopt;
        }
        if (const Dictionary* dict = value->as_dict()) {
            value = dict->get("D");
        } else if (const Name* name = value->as_name()) {
            value = named.find(name->text);
        } else if (const String* text = value->as_string()) {
            value = named.find(as_text(text->bytes));
        } else {
            return std::nullopt;
        }
        if (value == nullptr) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::size_t> item_page(const Resolver& resolver, const Dictionary& item,
                                     const Pages& pages, NamedDests& named) {
    if (const Object* dest = fetch_entry(resolver, item, "Dest")) {
        return destination_page(resolver, *dest, pages, named);
    }
    const Object* action_value = fetch_entry(resolver, item, "A");
    if (action_value == nullptr) return std::nullopt;
    auto action = resolver.resolve_dict(*action_value);
    if (!action) return std::nullopt;
    const Object* kind = (*action)->get("S");
    if (kind == nullptr || !kind->is_name("GoTo")) return std::nullopt;
    const Object* dest = fetch_entry(resolver, **action, "D");
    if (dest == nullptr) return std::nullopt;
    return destination_page(resolver, *dest, pages, named);
}

std::string text_entry(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
    const Object* value = fetch_entry(resolver, dict, key);
    const String* s = value != nullptr ? value->as_string() : nullptr;
    return s != nullptr ? decode_text_string(s->bytes) : std::string();
}

// The title and creator of the catalog's XMP /Metadata stream, where it has
// one that decodes.
XmpText read_xmp(const Resolver& resolver, const Dictionary& catalog) {
    const Object* metadata = fetch_entry(resolver, catalog, "Metadata");
    const Stream* stream = metadata != nullptr ? metadata->as_stream() : nullptr;
    if (stream == nullptr) return {};
    auto packet = decode_stream(stream->dict, stream->data, Reading::Strict, resolver.budget);
    if (!packet) return {};
    return scan_xmp(lossy_utf8(*packet));
}

// The outline in reading order: each item, then its children (/First), then
// its next sibling (/Next). An explicit stack, a set of visited objects
// against cycles, and bounds on depth and count keep a hostile tree small.
std::vector<OutlineEntry> read_outline(const Resolver& resolver, const Dictionary& catalog,
                                       const Pages& pages) {
    std::vector<OutlineEntry> out;
    const Object* root_value = fetch_entry(resolver, catalog, "Outlines");
    if (root_value == nullptr) return out;
    auto root = resolver.resolve_dict(*root_value);
    if (!root) return out;
    NamedDests named(resolver, catalog);
    std::vector<std::pair<const Object*, std::uint32_t>> stack;
    if (const Object* first = (*root)->get("First")) stack.emplace_back(first, 1);
    std::unordered_set<std::uint32_t> visited;
    while (!stack.empty() && out.size() < limits::kMaxOutlineItems) {
        const auto [value, level] = stack.back();
        stack.pop_back();
        if (const Reference* ref = value->as_ref()) {
            if (!visited.insert(ref->num).second) continue;
        }
        auto item = resolver.resolve_dict(*value);
        if (!item) continue;
        const Dictionary& dict = **item;
        out.push_back(
            {level, text_entry(resolver, dict, "Title"), item_page(resolver, dict, pages, named)});
        if (const Object* next = dict.get("Next")) stack.emplace_back(next, level);
        if (level < limits::kMaxOutlineDepth) {
            if (const Object* first = dict.get("First")) stack.emplace_back(first, level + 1);
        }
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------- public

std::string decode_text_string(ByteView bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        return decode_utf16(bytes.subspan(2), true);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return decode_utf16(bytes.subspan(2), false);
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return lossy_utf8(bytes.subspan(3));
    }
    std::string out;
    out.reserve(bytes.size());
    for (const std::uint8_t b : bytes) append_utf8(out, pdfdoc_char(b));
    return out;
}

std::optional<std::string> pdf_date_to_iso(std::string_view text) {
    text = trim(text);
    if (text.substr(0, 2) == "D:") text.remove_prefix(2);
    int year = 0;
    if (!digits(text, 0, 4, year)) return std::nullopt;
    std::string out;
    append_two(out, year / 100);
    append_two(out, year % 100);
    // Month, day, hour, minute, second: each two digits, each optional once
    // the ones before it are there.
    std::array<int, 5> parts{};
    std::size_t have = 0;
    std::size_t at = 4;
    while (have < parts.size() && digits(text, at, 2, parts[have])) {
        ++have;
        at += 2;
    }
    const int month = parts[0], day = parts[1], hour = parts[2], minute = parts[3],
              second = parts[4];
    if (have >= 1 && (month < 1 || month > 12)) return std::nullopt;
    if (have >= 2 && (day < 1 || day > days_in_month(year, month))) return std::nullopt;
    if (have >= 3 && (hour > 23 || minute > 59 || second > 59)) return std::nullopt;
    if (have >= 1) {
        out.push_back('-');
        append_two(out, month);
    }
    if (have >= 2) {
        out.push_back('-');
        append_two(out, day);
    }
    if (have < 3) return out;  // no time of day, so no offset either
    out.push_back('T');
    append_two(out, hour);
    out.push_back(':');
    append_two(out, minute);
    out.push_back(':');
    append_two(out, second);
    // The offset: Z, or + or - with hours and, after an apostrophe, minutes
    // (producers drop the final apostrophe, or both, or write "Z00'00'").
    if (at >= text.size()) return out;
    const char sign = text[at];
    if (sign == 'Z' || sign == 'z') {
        out.push_back('Z');
        return out;
    }
    if (sign != '+' && sign != '-') return out;
    int offset_hours = 0;
    int offset_minutes = 0;
    if (!digits(text, at + 1, 2, offset_hours) || offset_hours > 23) return out;
    std::size_t m = at + 3;
    if (m < text.size() && text[m] == '\'') ++m;
    if (digits(text, m, 2, offset_minutes) && offset_minutes > 59) return out;
    out.push_back(sign);
    append_two(out, offset_hours);
    out.push_back(':');
    append_two(out, offset_minutes);
    return out;
}

XmpText scan_xmp(std::string_view packet) {
    XmpText out;
    if (const auto body = element_body(packet, "dc:title")) {
        const std::vector<ListItem> items = list_items(*body);
        std::string_view chosen = items.empty() ? *body : items.front().text;
        for (const ListItem& item : items) {
            if (item.attributes.find("x-default") != std::string_view::npos) {
                chosen = item.text;
                break;
            }
        }
        // A bare value without rdf:Alt is tolerated; other markup is not text.
        if (chosen.find('<') == std::string_view::npos)
            out.title = nonempty(xml_text(trim(chosen)));
    }
    if (const auto body = element_body(packet, "dc:creator")) {
        std::string names;
        for (const ListItem& item : list_items(*body)) {
            const std::string_view name = trim(item.text);
            if (name.empty() || name.find('<') != std::string_view::npos) continue;
            if (!names.empty()) names += ", ";
            names += xml_text(name);
        }
        out.creator = nonempty(std::move(names));
    }
    return out;
}

std::optional<std::string> encryption_method(const Dictionary& encrypt) {
    auto int_of = [](const Dictionary& d, std::string_view key, std::int64_t fallback) {
        const Object* o = d.get(key);
        const std::int64_t* i = o != nullptr ? o->as_int() : nullptr;
        return i != nullptr ? *i : fallback;
    };
    const std::int64_t v = int_of(encrypt, "V", 0);
    if (v >= 5) return "AES-256";
    if (v == 4) {
        // /StmF names the crypt filter of streams (StdCF in practice), /StrF
        // that of strings; an Identity filter leaves its kind in the clear.
        const Object* filters_value = encrypt.get("CF");
        const Dictionary* filters = filters_value != nullptr ? filters_value->as_dict() : nullptr;
        for (const std::string_view which : {"StmF", "StrF"}) {
            const Object* name = encrypt.get(which);
            if (name == nullptr || name->as_name() == nullptr || name->is_name("Identity"))
                continue;
            const Object* filter =
                filters != nullptr ? filters->get(name->as_name()->text) : nullptr;
            const Dictionary* fd = filter != nullptr ? filter->as_dict() : nullptr;
            const Object* cfm = fd != nullptr ? fd->get("CFM") : nullptr;
            if (cfm == nullptr || cfm->is_name("None")) continue;
            if (cfm->is_name("AESV3")) return "AES-256";
            if (cfm->is_name("AESV2")) return "AES-128";
            return "RC4-128";
        }
        return std::nullopt;
    }
    // /V 1 is 40-bit RC4; /V 2 and 3 say their key length in bits.
    const std::int64_t bits = v >= 2 ? int_of(encrypt, "Length", 40) : 40;
    return "RC4-" + std::to_string(bits);
}

Result<DocInfo> read_doc_info(const Document& doc) {
    const Resolver& resolver = doc.resolver;
    auto catalog = doc.catalog();
    if (!catalog) return std::move(catalog).error();
    auto pages = collect_pages(resolver, *catalog);
    if (!pages) return std::move(pages).error();

    DocInfo info;
    info.version = doc.version;
    Pages index;
    index.count = pages->size();
    info.pages.reserve(pages->size());
    for (std::size_t i = 0; i < pages->size(); ++i) {
        const Page& page = (*pages)[i];
        info.pages.push_back({std::fabs(page.media_box[2] - page.media_box[0]),
                              std::fabs(page.media_box[3] - page.media_box[1]), page.rotate});
        if (page.object_num != 0) index.by_object.try_emplace(page.object_num, i);
    }

    const Dictionary& trailer = resolver.xref.trailer;
    if (const Object* encrypt = trailer.get("Encrypt")) {
        if (auto dict = resolver.resolve_dict(*encrypt))
            info.encryption = encryption_method(**dict);
    }

    if (const Object* info_value = trailer.get("Info")) {
        if (auto dict = resolver.resolve_dict(*info_value)) {
            const Dictionary& d = **dict;
            auto field = [&](std::string_view key) {
                return nonempty(text_entry(resolver, d, key));
            };
            info.title = field("Title");
            info.author = field("Author");
            info.subject = field("Subject");
            info.keywords = field("Keywords");
            info.creator = field("Creator");
            info.producer = field("Producer");
            if (auto created = field("CreationDate")) info.created = pdf_date_to_iso(*created);
            if (auto modified = field("ModDate")) info.modified = pdf_date_to_iso(*modified);
        }
    }

    if (!info.title || !info.author) {
        XmpText xmp = read_xmp(resolver, *catalog);
        if (!info.title) info.title = std::move(xmp.title);
        if (!info.author) info.author = std::move(xmp.creator);
    }

    info.outline = read_outline(resolver, *catalog, index);
    return info;
}

std::string read_title(const Document& doc) {
    const Resolver& resolver = doc.resolver;
    if (const Object* info_value = resolver.xref.trailer.get("Info")) {
        if (auto dict = resolver.resolve_dict(*info_value)) {
            std::string title = text_entry(resolver, **dict, "Title");
            if (!title.empty()) return title;
        }
    }
    auto catalog = doc.catalog();
    if (!catalog) return {};
    return read_xmp(resolver, *catalog).title.value_or(std::string());
}

}  // namespace vellox_core
