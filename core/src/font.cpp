#include "font.h"

#include <algorithm>

#include "bounds.h"
#include "filter/chain.h"
#include "utf8.h"

namespace vellox_core {

namespace {

// The array stored under `key`, with one indirect reference followed (its
// elements are not resolved); valid as long as `dict` and the resolver.
const Array* array_entry(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
    const Object* value = fetch_entry(resolver, dict, key);
    return value != nullptr ? value->as_array() : nullptr;
}

// A width in thousandths of text space, stored as a fraction of the font
// size; elements that are not numbers and codes past 32 bits store nothing.
void insert_width(WidthMap& widths, std::uint64_t code, const Object& value) {
    const std::optional<double> w = value.number();
    if (!w || code > 0xFFFFFFFFu) return;
    widths[static_cast<std::uint32_t>(code)] = *w / 1000.0;
}

// Stores widths[k] under first + k for every element, non-numeric elements
// included in the count. Codes that overflow or go negative are dropped; the
// work is bounded by the array the file actually contains.
void insert_width_list(WidthMap& widths, std::int64_t first, const Array& list) {
    std::int64_t k = 0;
    for (const Object& w : list) {
        std::int64_t code = 0;
        if (!__builtin_add_overflow(first, k, &code) && code >= 0) {
            insert_width(widths, static_cast<std::uint64_t>(code), w);
        }
        ++k;
    }
}

// /W of a CIDFont: a flat list of groups, either "c [w1 w2 ...]" giving the
// widths of c, c+1, ... or "c_first c_last w" giving one width to a range.
void read_cid_widths(WidthMap& widths, const Array& w) {
    std::size_t i = 0;
    while (i < w.size()) {
        const std::int64_t* c = w[i].as_int();
        if (c == nullptr || i + 1 >= w.size()) return;
        if (const Array* list = w[i + 1].as_array()) {
            insert_width_list(widths, *c, *list);
            i += 2;
            continue;
        }
        if (i + 2 >= w.size()) return;
        const std::int64_t* last = w[i + 1].as_int();
        if (last != nullptr && w[i + 2].number()) {
            // A range may claim billions of codes; shown strings never
            // produce a code above two bytes, so only that part is stored.
            const std::int64_t lo = std::max<std::int64_t>(*c, 0);
            const std::int64_t hi = std::min<std::int64_t>(*last, limits::kMaxWidthCode);
            for (std::int64_t code = lo; code <= hi; ++code) {
                insert_width(widths, static_cast<std::uint64_t>(code), w[i + 2]);
            }
        }
        i += 3;
    }
}

std::optional<CMap> load_to_unicode(const Resolver& resolver, const Dictionary& font) {
    const Object* value = fetch_entry(resolver, font, "ToUnicode");
    if (!value) return std::nullopt;
    const Stream* stream = value->as_stream();
    if (stream == nullptr) return std::nullopt;
    auto decoded = decode_stream(stream->dict, stream->data);
    if (!decoded) return std::nullopt;
    return CMap::parse(decoded.value());
}

// A Type0 font takes its widths from its first descendant CIDFont; its codes
// are always two bytes and map to text only through /ToUnicode.
void load_composite(const Resolver& resolver, const Dictionary& dict, Font& font) {
    font.composite = true;
    font.default_width = 1.0;
    const Array* descendants = array_entry(resolver, dict, "DescendantFonts");
    if (descendants == nullptr || descendants->empty()) return;
    auto cid_font = resolver.resolve_dict(descendants->front());
    if (!cid_font) return;
    if (const Object* dw = (*cid_font)->get("DW")) {
        if (const std::optional<double> v = dw->number()) font.default_width = *v / 1000.0;
    }
    if (const Array* w = array_entry(resolver, **cid_font, "W")) {
        read_cid_widths(font.widths, *w);
    }
}

void load_simple(const Resolver& resolver, const Dictionary& dict, Font& font) {
    font.encoding = build_encoding(resolver, dict);
    std::int64_t first = 0;
    if (const Object* fc = dict.get("FirstChar")) {
        if (const std::int64_t* v = fc->as_int()) first = *v;
    }
    if (const Array* w = array_entry(resolver, dict, "Widths")) {
        insert_width_list(font.widths, first, *w);
    }
    font.byte_widths.assign(256, font.default_width);
    for (const auto& [code, width] : font.widths) {
        if (code < 256) font.byte_widths[code] = width;
    }
}

// /Differences must be a direct array; anything else leaves the base table.
EncodingTable with_differences(const EncodingTable& base, const Dictionary& dict) {
    const Object* diffs = dict.get("Differences");
    const Array* list = diffs != nullptr ? diffs->as_array() : nullptr;
    if (list == nullptr) return base;
    return apply_differences(base, *list);
}

}  // namespace

EncodingTable build_encoding(const Resolver& resolver, const Dictionary& font) {
    const Object* value = fetch_entry(resolver, font, "Encoding");
    if (!value) return win_ansi_encoding();
    if (const Name* name = value->as_name()) return base_encoding(name->text);
    if (const Dictionary* dict = value->as_dict()) {
        const Object* base_name = dict->get("BaseEncoding");
        const Name* name = base_name != nullptr ? base_name->as_name() : nullptr;
        const EncodingTable& base =
            name != nullptr ? base_encoding(name->text) : win_ansi_encoding();
        return with_differences(base, *dict);
    }
    if (const Stream* stream = value->as_stream()) {
        return with_differences(win_ansi_encoding(), stream->dict);
    }
    return win_ansi_encoding();
}

Font load_font(const Resolver& resolver, const Dictionary& dict) {
    Font font;
    font.to_unicode = load_to_unicode(resolver, dict);
    const Object* subtype = dict.get("Subtype");
    if (subtype != nullptr && subtype->is_name("Type0")) {
        load_composite(resolver, dict, font);
    } else {
        load_simple(resolver, dict, font);
    }
    return font;
}

namespace {

FontMap load_font_table(const Resolver& resolver, const Dictionary& resources, FontCache& cache) {
    FontMap fonts;
    const Object* entry = resources.get("Font");
    if (entry == nullptr) return fonts;
    auto table = resolver.resolve_dict(*entry);
    if (!table) return fonts;
    for (const auto& [name, value] : **table) {
        const Reference* ref = value.as_ref();
        if (ref != nullptr) {
            auto found = cache.fonts.find(ref->num);
            if (found != cache.fonts.end()) {
                fonts[name] = found->second;
                continue;
            }
        }
        auto dict = resolver.resolve_dict(value);
        if (!dict) continue;
        auto font = std::make_shared<const Font>(load_font(resolver, **dict));
        if (ref != nullptr) cache.fonts.emplace(ref->num, font);
        fonts[name] = std::move(font);
    }
    return fonts;
}

}  // namespace

const FontMap& load_fonts(const Resolver& resolver, const Dictionary& resources, FontCache& cache) {
    // The table's identity: each name (length first, so that no two lists
    // give the same text) with its font's object number. Equal tables are
    // common even where pages do not share one table object.
    std::string key;
    const Object* entry = resources.get("Font");
    const Dictionary no_fonts;
    auto table =
        entry != nullptr ? resolver.resolve_dict(*entry) : Result<const Dictionary*>(&no_fonts);
    if (table) {
        key.push_back('T');
        for (const auto& [name, value] : **table) {
            const Reference* font_ref = value.as_ref();
            if (font_ref == nullptr) {
                key.clear();  // a direct font dictionary: not shared
                break;
            }
            key += std::to_string(name.size());
            key += ':';
            key += name;
            key += std::to_string(font_ref->num);
            key += ';';
        }
    }
    if (key.empty()) {
        cache.unshared = load_font_table(resolver, resources, cache);
        return cache.unshared;
    }
    auto found = cache.tables.find(key);
    if (found == cache.tables.end()) {
        found =
            cache.tables.emplace(std::move(key), load_font_table(resolver, resources, cache)).first;
    }
    return found->second;
}

double Font::width_of(std::uint32_t code) const {
    if (!composite && code < byte_widths.size()) return byte_widths[code];
    const auto found = widths.find(code);
    return found != widths.end() ? found->second : default_width;
}

namespace {

// The advance of one-byte codes through a full 256-entry width table: one
// dependent addition per glyph. Kept out of line so that the running sum stays
// in a register; inlined into the text loop before it, the compiler kept the
// sum in memory, a store and a load on every glyph. Word spacing is picked by
// index rather than by a branch, since spaces come at no predictable rhythm.
[[gnu::noinline]] double simple_advance(const double* widths, ByteView bytes, double char_spacing,
                                        double word_spacing, double font_size,
                                        double horizontal_scale) {
    const double spacing[2] = {0.0, word_spacing};
    double sum = 0;
    for (const std::uint8_t code : bytes) {
        sum += (widths[code] * font_size + char_spacing + spacing[code == 32]) * horizontal_scale;
    }
    return sum;
}

}  // namespace

double Font::show_into(ByteView bytes, std::string& out, double char_spacing, double word_spacing,
                       double font_size, double horizontal_scale) const {
    double advance = 0;
    if (!composite && !to_unicode) {
        // The common simple font without a CMap: one byte is one code, its
        // text comes from the encoding table alone, mostly one byte of it.
        // The text is written first, straight into place while it is ASCII;
        // the first other character sends the rest through the encoder.
        const std::size_t start = out.size();
        out.resize(start + bytes.size());
        char* text = out.data() + start;
        std::size_t ascii = 0;
        while (ascii < bytes.size()) {
            const std::uint32_t cp = encoding[bytes[ascii]];
            if (cp - 1 >= 0x7F) break;
            text[ascii++] = static_cast<char>(cp);
        }
        if (ascii < bytes.size()) {
            out.resize(start + ascii);
            for (const std::uint8_t code : bytes.subspan(ascii)) {
                const std::uint32_t cp = encoding[code];
                if (cp - 1 < 0x7F)
                    out.push_back(static_cast<char>(cp));
                else if (cp != 0 && is_scalar_value(cp))
                    append_utf8(out, static_cast<char32_t>(cp));
            }
        }
        if (byte_widths.size() >= 256) {
            return simple_advance(byte_widths.data(), bytes, char_spacing, word_spacing, font_size,
                                  horizontal_scale);
        }
        for (const std::uint8_t code : bytes) {
            const double s = code == 32 ? word_spacing : 0.0;
            advance += (width_of(code) * font_size + char_spacing + s) * horizontal_scale;
        }
        return advance;
    }
    const std::size_t n = composite ? 2 : 1;
    for (std::size_t pos = 0; pos < bytes.size(); pos += n) {
        const std::size_t end = std::min(bytes.size(), pos + n);
        std::uint32_t code = 0;
        for (std::size_t k = pos; k < end; ++k) code = (code << 8) | bytes[k];

        std::optional<std::string> mapped;
        if (to_unicode) mapped = to_unicode->lookup(code);
        if (mapped) {
            out += *mapped;
        } else if (!composite && code < 256) {
            const std::uint32_t cp = encoding[code];
            // ASCII, by far the most common, without the general encoder.
            if (cp - 1 < 0x7F)
                out.push_back(static_cast<char>(cp));
            else if (cp != 0 && is_scalar_value(cp))
                append_utf8(out, static_cast<char32_t>(cp));
        }

        const double w = width_of(code);
        // Word spacing belongs to the single-byte code 32 only; a two-byte
        // 0x0020 of a composite font is not a word break for this rule.
        const double s = !composite && code == 32 ? word_spacing : 0.0;
        advance += (w * font_size + char_spacing + s) * horizontal_scale;
    }
    return advance;
}

}  // namespace vellox_core
