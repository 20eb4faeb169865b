#include "font.h"

#include <algorithm>

#include "bounds.h"
#include "filter/chain.h"
#include "fontprog.h"
#include "std14.h"
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

// Calls store(code, element) with first + k for every element, non-numeric
// elements included in the count. Codes that overflow or go negative are
// dropped; the work is bounded by the array the file actually contains.
template <typename Store>
void for_each_listed_width(std::int64_t first, const Array& list, Store&& store) {
    std::int64_t k = 0;
    for (const Object& w : list) {
        std::int64_t code = 0;
        if (!__builtin_add_overflow(first, k, &code) && code >= 0) {
            store(static_cast<std::uint64_t>(code), w);
        }
        ++k;
    }
}

void insert_width_list(WidthMap& widths, std::int64_t first, const Array& list) {
    for_each_listed_width(first, list, [&widths](std::uint64_t code, const Object& w) {
        insert_width(widths, code, w);
    });
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

// /W2 of a vertical CIDFont, laid out like /W with three numbers per CID,
// (w1y vx vy): "c [w1y vx vy ...]" or "c_first c_last w1y vx vy". Only w1y,
// the vertical advance (negative: down the page), is kept, negated.
void read_vertical_advances(WidthMap& advances, const Array& w2) {
    const auto store = [&advances](std::int64_t cid, const Object& w1y) {
        const std::optional<double> v = w1y.number();
        if (!v || cid < 0 || cid > limits::kMaxWidthCode) return;
        advances[static_cast<std::uint32_t>(cid)] = -*v / 1000.0;
    };
    std::size_t i = 0;
    while (i < w2.size()) {
        const std::int64_t* c = w2[i].as_int();
        if (c == nullptr || i + 1 >= w2.size()) return;
        if (const Array* list = w2[i + 1].as_array()) {
            // The triples run on from c; a cut-off last triple still counts.
            std::int64_t cid = *c;
            for (std::size_t k = 0; k < list->size(); k += 3) {
                store(cid, (*list)[k]);
                if (__builtin_add_overflow(cid, 1, &cid)) break;
            }
            i += 2;
            continue;
        }
        if (i + 4 >= w2.size()) return;
        const std::int64_t* last = w2[i + 1].as_int();
        if (last != nullptr) {
            const std::int64_t lo = std::max<std::int64_t>(*c, 0);
            const std::int64_t hi = std::min<std::int64_t>(*last, limits::kMaxWidthCode);
            for (std::int64_t cid = lo; cid <= hi; ++cid) store(cid, w2[i + 2]);
        }
        i += 5;
    }
}

std::optional<CMap> load_to_unicode(const Resolver& resolver, const Dictionary& font) {
    const Object* value = fetch_entry(resolver, font, "ToUnicode");
    if (!value) return std::nullopt;
    const Stream* stream = value->as_stream();
    if (stream == nullptr) return std::nullopt;
    auto decoded = decode_stream(stream->dict, stream->data, Reading::Strict, resolver.budget);
    if (!decoded) return std::nullopt;
    return CMap::parse(decoded.value());
}

const Dictionary* dict_entry(const Resolver& resolver, const Dictionary& dict,
                             std::string_view key) {
    const Object* value = fetch_entry(resolver, dict, key);
    if (value == nullptr) return nullptr;
    if (const Stream* stream = value->as_stream()) return &stream->dict;
    return value->as_dict();
}

std::string_view name_entry(const Resolver& resolver, const Dictionary& dict,
                            std::string_view key) {
    const Object* value = fetch_entry(resolver, dict, key);
    const Name* name = value != nullptr ? value->as_name() : nullptr;
    return name != nullptr ? std::string_view(name->text) : std::string_view();
}

std::string_view string_entry(const Resolver& resolver, const Dictionary& dict,
                              std::string_view key) {
    const Object* value = fetch_entry(resolver, dict, key);
    const String* text = value != nullptr ? value->as_string() : nullptr;
    return text != nullptr ? as_text(text->bytes) : std::string_view();
}

// The embedded program of a font descriptor, read once when the loader
// first needs it, or taken from `programs` when another descriptor's font
// has read the same stream. A program that is missing, does not decode, is
// larger than limits::kMaxFontProgramBytes or that no reader accepts gives
// nothing, and the font keeps what its dictionaries say.
class ProgramSource {
public:
    ProgramSource(const Resolver& resolver, const Dictionary* descriptor, ProgramCache& programs)
        : resolver_(resolver), descriptor_(descriptor), programs_(programs) {}

    bool embedded() const { return find().stream != nullptr; }

    const FontProgram* get() {
        if (!read_) {
            read_ = true;
            program_ = lookup();
        }
        return program_;
    }

private:
    struct Found {
        const Stream* stream = nullptr;
        FontFileKey key = FontFileKey::FontFile;
        std::optional<std::uint32_t> num;  // the stream's object, when referenced
    };

    Found find() const {
        if (descriptor_ == nullptr) return {};
        const std::pair<std::string_view, FontFileKey> keys[] = {
            {"FontFile", FontFileKey::FontFile},
            {"FontFile2", FontFileKey::FontFile2},
            {"FontFile3", FontFileKey::FontFile3},
        };
        for (const auto& [name, file] : keys) {
            const Object* value = fetch_entry(resolver_, *descriptor_, name);
            if (const Stream* stream = value != nullptr ? value->as_stream() : nullptr) {
                const Reference* ref = descriptor_->get(name)->as_ref();
                return {stream, file,
                        ref != nullptr ? std::optional<std::uint32_t>(ref->num) : std::nullopt};
            }
        }
        return {};
    }

    const FontProgram* lookup() {
        const Found found = find();
        if (found.stream == nullptr) return nullptr;
        if (!found.num) {
            own_ = read(found);
            return own_ ? &*own_ : nullptr;
        }
        const std::uint64_t key =
            std::uint64_t{*found.num} << 2 | static_cast<std::uint64_t>(found.key);
        if (auto cached = programs_.programs.find(key); cached != programs_.programs.end()) {
            return cached->second ? &*cached->second : nullptr;
        }
        std::optional<FontProgram> program = read(found);
        const std::size_t weight = program ? entries_of(*program) : 1;
        if (weight > limits::kMaxCachedProgramEntries - programs_.entries) {
            own_ = std::move(program);
            return own_ ? &*own_ : nullptr;
        }
        programs_.entries += weight;
        const auto kept = programs_.programs.emplace(key, std::move(program)).first;
        return kept->second ? &*kept->second : nullptr;
    }

    static std::size_t entries_of(const FontProgram& program) {
        std::size_t entries = program.code_names.size() + program.glyph_names.size() +
                              program.glyph_unicode.size() + program.glyph_cids.size() +
                              program.glyphs_by_cid.size();
        for (const CmapSubtable& cmap : program.cmaps) entries += cmap.ranges.size();
        return entries;
    }

    std::optional<FontProgram> read(const Found& found) const {
        const Stream& stream = *found.stream;
        const Object* subtype = stream.dict.get("Subtype");
        const Name* name = subtype != nullptr ? subtype->as_name() : nullptr;
        const std::string_view subtype_name = name != nullptr ? std::string_view(name->text) : "";
        if (found.key == FontFileKey::FontFile) {
            // What a Type 1 program gives is read from its clear-text part,
            // the first /Length1 bytes or so; the encrypted glyph outlines
            // behind it, most of the stream, are not decoded. /Length1 is
            // often wrong, so the start decoded is checked to hold the whole
            // clear text, else the whole stream is decoded as for any other
            // program.
            std::size_t wanted = kType1ClearTextGuess;
            if (const Object* length1 = stream.dict.get("Length1")) {
                if (const std::int64_t* v = length1->as_int(); v != nullptr && *v > 0) {
                    wanted = static_cast<std::size_t>(
                        std::min<std::int64_t>(*v, limits::kMaxType1ClearText));
                }
            }
            wanted += kType1ClearTextSlack;
            auto start =
                decode_stream(stream.dict, stream.data, Reading::Strict, resolver_.budget, wanted);
            if (start && holds_type1_clear_text(start.value())) {
                return read_font_program(found.key, subtype_name, start.value());
            }
        } else if (found.key == FontFileKey::FontFile3 &&
                   (subtype_name == "Type1C" || subtype_name == "CIDFontType0C")) {
            // A CFF program's charset and encoding nearly always come before
            // its glyph programs, within the first few hundred bytes, and
            // are all that is read from it. Its start is decoded first; the
            // whole stream only when the reading needs more of it.
            auto start = decode_stream(stream.dict, stream.data, Reading::Strict, resolver_.budget,
                                       kCffStartGuess);
            if (start) {
                if (auto program = read_cff_program_start(start.value())) return program;
            }
        }
        auto decoded = decode_stream(stream.dict, stream.data, Reading::Strict, resolver_.budget);
        if (!decoded || decoded->size() > limits::kMaxFontProgramBytes) return std::nullopt;
        return read_font_program(found.key, subtype_name, decoded.value());
    }

    // The clear text decoded when a Type 1 program has no usable /Length1
    // (TeX's fonts, with their encodings written out, have 2 to 6 KB), and
    // the bytes decoded past /Length1, which may stop just short of
    // "eexec".
    static constexpr std::size_t kType1ClearTextGuess = std::size_t{16} << 10;
    static constexpr std::size_t kType1ClearTextSlack = 64;
    // What a CFF program's start is guessed to take: the reading of most
    // programs ends within 600 bytes.
    static constexpr std::size_t kCffStartGuess = 1024;

    const Resolver& resolver_;
    const Dictionary* descriptor_;
    ProgramCache& programs_;
    bool read_ = false;
    const FontProgram* program_ = nullptr;
    // A program not kept in `programs_`: its stream is no indirect object
    // (no key to keep it under), or the cache is full.
    std::optional<FontProgram> own_;
};

// Glyph names as text, with the standard Symbol font's exceptions. The
// glyph list maps Omega, Delta and mu to the ohm, increment and micro signs
// (U+2126, U+2206, U+00B5), which is what those names mean in a Latin font
// next to Ω-shaped unit symbols; in the Symbol font they are the Greek
// capitals and small letter of its Greek alphabet, beside Alpha...omega,
// and a reader searching the text expects Ω, Δ and μ there.
struct GlyphReader {
    GlyphList list = GlyphList::Adobe;
    bool symbol_font = false;

    bool text(std::string_view name, std::string& out) const {
        if (symbol_font) {
            const std::pair<std::string_view, char32_t> greek[] = {
                {"Omega", U'\u03A9'}, {"Delta", U'\u0394'}, {"mu", U'\u03BC'}};
            for (const auto& [glyph, cp] : greek) {
                if (name == glyph) {
                    append_utf8(out, cp);
                    return true;
                }
            }
        }
        return glyph_text(name, out, list);
    }
};

void append_scalar(std::string& out, std::uint32_t cp) {
    if (cp != 0 && is_scalar_value(cp)) append_utf8(out, static_cast<char32_t>(cp));
}

// The /Encoding of a simple font as the loader reads it: the base encoding
// it names (nothing when it names none, or one that is not StandardEncoding,
// MacRomanEncoding or WinAnsiEncoding) and its /Differences.
struct SimpleEncoding {
    bool present = false;  // a name, a dictionary or a stream
    std::optional<BaseEncoding> base;
    const Array* differences = nullptr;
};

SimpleEncoding read_simple_encoding(const Resolver& resolver, const Dictionary& font) {
    SimpleEncoding enc;
    const Object* value = fetch_entry(resolver, font, "Encoding");
    if (value == nullptr) return enc;
    if (const Name* name = value->as_name()) {
        enc.present = true;
        enc.base = base_encoding_named(name->text);
        return enc;
    }
    const Dictionary* dict = value->as_dict();
    if (const Stream* stream = value->as_stream()) dict = &stream->dict;
    if (dict == nullptr) return enc;
    enc.present = true;
    // /BaseEncoding and /Differences must be direct.
    if (const Object* base = dict->get("BaseEncoding")) {
        if (const Name* name = base->as_name()) enc.base = base_encoding_named(name->text);
    }
    if (const Object* diffs = dict->get("Differences")) enc.differences = diffs->as_array();
    return enc;
}

// A simple font's codes, per code: the glyph name the encoding or program
// gives (for standard-font widths), the text, and whether that text is only
// the Windows code page guess of a font that states no encoding.
struct SimpleCodes {
    GlyphNameTable names{};
    std::array<std::string, 256> text;
    std::array<bool, 256> guessed{};

    void set_base(BaseEncoding base, const GlyphReader& reader, bool guess) {
        names = encoding_glyph_names(base);
        const EncodingTable& chars = encoding_unicode(base);
        for (std::size_t code = 0; code < 256; ++code) {
            text[code].clear();
            guessed[code] = guess;
            // The Symbol font's Greek names, as GlyphReader reads them.
            if (reader.symbol_font && !names[code].empty() && reader.text(names[code], text[code]))
                continue;
            // The control codes of WinAnsi and MacRoman name no glyph: a
            // font that shows them (reportlab's TrueType subsets number
            // their glyphs from 1) draws something else, and the control
            // character is no text for it.
            if (chars[code] >= 0x20 && chars[code] != 0x7F) append_scalar(text[code], chars[code]);
        }
    }
};

// The codes of a simple font the program is asked about: those the
// ToUnicode map leaves out and the encoding leaves without text (or only
// guessed), among the codes the font can show. /Widths lists the codes a
// producer used, /FirstChar to /LastChar; without it every code counts.
std::array<bool, 256> codes_needing_program(const Font& font, const Dictionary& dict,
                                            const SimpleCodes& codes) {
    std::array<bool, 256> need{};
    std::int64_t first = 0;
    std::int64_t last = 255;
    if (dict.get("Widths") != nullptr) {
        const Object* fc = dict.get("FirstChar");
        const Object* lc = dict.get("LastChar");
        if (fc != nullptr && fc->as_int() != nullptr) first = *fc->as_int();
        if (lc != nullptr && lc->as_int() != nullptr) last = *lc->as_int();
    }
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, 255);
    for (std::int64_t code = first; code <= last; ++code) {
        const auto c = static_cast<std::size_t>(code);
        if (!codes.text[c].empty() && !codes.guessed[c]) continue;
        if (font.to_unicode && font.to_unicode->lookup(static_cast<std::uint32_t>(c))) continue;
        need[c] = true;
    }
    return need;
}

// Fills the codes the program is asked about from it: a Type 1 or CFF
// program's built-in encoding, or a TrueType program's cmaps and glyph
// names. Codes the program gives nothing for keep their text.
void read_codes_from_program(const FontProgram& program, const SimpleEncoding& enc, bool symbolic,
                             const GlyphReader& reader, const std::array<bool, 256>& need,
                             SimpleCodes& codes) {
    const auto take = [&](std::size_t code, std::string_view name, std::uint32_t unicode) {
        std::string text;
        if (unicode != 0) {
            append_scalar(text, unicode);
        } else if (!name.empty()) {
            reader.text(name, text);
        }
        if (text.empty()) return;
        codes.text[code] = std::move(text);
        codes.guessed[code] = false;
    };
    if (program.encoding != BuiltinEncoding::None) {
        for (std::size_t code = 0; code < 256; ++code) {
            if (need[code]) take(code, program.code_names[code], 0);
        }
        return;
    }
    if (program.cmaps.empty()) return;
    // The glyph names the PDF /Encoding gives; none when it has none.
    GlyphNameTable encoding_names{};
    if (enc.present) {
        for (std::size_t code = 0; code < 256; ++code) {
            if (!codes.guessed[code]) encoding_names[code] = codes.names[code];
        }
    }
    const std::array<CodeReading, 256> readings =
        simple_truetype_codes(program, symbolic, encoding_names);
    for (std::size_t code = 0; code < 256; ++code) {
        if (need[code]) take(code, readings[code].name, readings[code].unicode);
    }
}

void load_simple(const Resolver& resolver, const Dictionary& dict, ProgramCache& programs,
                 Font& font) {
    const std::optional<Std14Font> std14 = std14_font(name_entry(resolver, dict, "BaseFont"));
    const Dictionary* descriptor = dict_entry(resolver, dict, "FontDescriptor");
    ProgramSource source(resolver, descriptor, programs);
    GlyphReader reader;
    reader.list = std14 == Std14Font::ZapfDingbats ? GlyphList::ZapfDingbats : GlyphList::Adobe;
    reader.symbol_font = std14 == Std14Font::Symbol;
    const SimpleEncoding enc = read_simple_encoding(resolver, dict);
    bool symbolic = false;
    if (descriptor != nullptr) {
        if (const Object* flags = descriptor->get("Flags")) {
            if (const std::int64_t* v = flags->as_int()) symbolic = (*v & 4) != 0;
        }
    }

    // The base encoding: the one /Encoding names, else the font's built-in
    // one, which only an embedded Type 1 or CFF program or a standard font
    // has. A TrueType program has none: its codes select glyphs through
    // its cmaps, read below.
    SimpleCodes codes;
    if (enc.base) {
        codes.set_base(*enc.base, reader, false);
    } else if (std14 && !source.embedded()) {
        codes.set_base(std14_builtin_encoding(*std14), reader, false);
    } else {
        const FontProgram* program = nullptr;
        if (source.embedded()) {
            // Whether any code needs the program: the ToUnicode map may
            // cover every code the font shows (most producers but TeX). No
            // code has text yet, as none would have but a guess.
            const std::array<bool, 256> need = codes_needing_program(font, dict, codes);
            if (std::find(need.begin(), need.end(), true) != need.end()) program = source.get();
        }
        // Each of the three sets every code's name, text and guess afresh.
        // The code page's guess is made only when nothing better comes: TeX's
        // fonts all have a built-in encoding.
        if (program != nullptr && program->encoding != BuiltinEncoding::None) {
            for (std::size_t code = 0; code < 256; ++code) {
                codes.names[code] = program->code_names[code];
                if (!codes.names[code].empty()) reader.text(codes.names[code], codes.text[code]);
            }
        } else if (std14 && program == nullptr) {
            codes.set_base(std14_builtin_encoding(*std14), reader, false);
        } else {
            codes.set_base(BaseEncoding::WinAnsi, reader, true);
        }
    }
    if (enc.differences != nullptr) {
        for_each_difference(*enc.differences, [&](std::uint8_t code, std::string_view name) {
            codes.names[code] = name;
            // A name that gives no text (g42, a producer's glyph index)
            // keeps the base encoding's character.
            std::string text;
            if (reader.text(name, text)) {
                codes.text[code] = std::move(text);
                codes.guessed[code] = false;
            }
        });
    }
    if (source.embedded()) {
        const std::array<bool, 256> need = codes_needing_program(font, dict, codes);
        if (std::find(need.begin(), need.end(), true) != need.end()) {
            if (const FontProgram* program = source.get()) {
                read_codes_from_program(*program, enc, symbolic, reader, need, codes);
            }
        }
    }

    for (std::size_t code = 0; code < 256; ++code) {
        const std::string& text = codes.text[code];
        font.texts.push_back(text);
        if (text.size() == 1 && static_cast<unsigned char>(text[0]) - 1u < 0x7Fu)
            font.ascii[code] = text[0];
    }

    font.byte_widths.assign(256, font.default_width);
    if (std14) {
        // A standard font's codes without a /Widths entry (all of them in
        // the many files that name Helvetica or Times without widths) take
        // the standard metrics; a code whose glyph the font lacks takes
        // /MissingWidth, 0 by default.
        double missing = 0;
        if (descriptor != nullptr) {
            if (const Object* mw = descriptor->get("MissingWidth")) {
                missing = mw->number().value_or(0.0) / 1000.0;
            }
        }
        for (std::size_t code = 0; code < 256; ++code) {
            const std::optional<std::uint16_t> w = std14_width(*std14, codes.names[code]);
            font.byte_widths[code] = w ? *w / 1000.0 : missing;
        }
    }
    // /Widths over the standard metrics. A simple font's codes are single
    // bytes, so widths listed past 255 name no code it can show and are not
    // kept: the 256-entry table is all the font's widths.
    std::int64_t first = 0;
    if (const Object* fc = dict.get("FirstChar")) {
        if (const std::int64_t* v = fc->as_int()) first = *v;
    }
    if (const Array* w = array_entry(resolver, dict, "Widths")) {
        for_each_listed_width(first, *w, [&font](std::uint64_t code, const Object& value) {
            const std::optional<double> width = value.number();
            if (width && code < 256) font.byte_widths[code] = *width / 1000.0;
        });
    }

    if (font.to_unicode) {
        for (std::uint32_t code = 0; code < 256; ++code) {
            if (const std::optional<std::string> mapped = font.to_unicode->lookup(code)) {
                font.mapped_texts.push_back(*mapped);
            } else if (font.ascii[code] != 0) {
                font.mapped_texts.push_back(std::string_view(&font.ascii[code], 1));
            } else {
                font.mapped_texts.push_back(font.texts[code]);
            }
        }
    }
}

// The text a composite font's embedded program gives each CID when the
// font has no other source of text: TrueType glyphs (CID to glyph id through
// /CIDToGIDMap) through the program's Unicode cmap or 'post' names, CFF
// glyphs through the charset (CID-keyed: the glyph of each CID; name-keyed:
// the CID is the glyph id).
void read_cid_texts(const Resolver& resolver, const Dictionary& cid_font, ProgramCache& programs,
                    Font& font) {
    ProgramSource source(resolver, dict_entry(resolver, cid_font, "FontDescriptor"), programs);
    const FontProgram* program = source.get();
    if (program == nullptr) return;
    const GlyphReader reader;
    const auto glyph_text_of = [&](std::uint32_t gid, std::string& out) {
        if (gid < program->glyph_unicode.size() && program->glyph_unicode[gid] != 0) {
            append_scalar(out, program->glyph_unicode[gid]);
        } else if (gid < program->glyph_names.size() && !program->glyph_names[gid].empty()) {
            reader.text(program->glyph_names[gid], out);
        }
    };
    // Each CID's text goes straight into the font's pool, CID after CID;
    // a program that gives no CID any text leaves the font as it was.
    KeyedTexts& texts = font.texts;
    const std::size_t pool_before = texts.pool.size();
    const std::size_t keys_before = texts.size();
    if (program->cid_system) {
        // A CID-keyed CFF program whose ROS names a collection gives text
        // through it, as the descendant's /CIDSystemInfo would have.
        if (!font.collection) {
            font.collection =
                collection_named(program->cid_system->registry, program->cid_system->ordering);
        }
        std::vector<std::string> by_cid;
        for (std::uint32_t gid = 0; gid < program->glyph_cids.size(); ++gid) {
            const std::uint32_t cid = program->glyph_cids[gid];
            if (cid > limits::kMaxWidthCode) continue;
            std::string text;
            glyph_text_of(gid, text);
            if (text.empty()) continue;
            if (by_cid.size() <= cid) by_cid.resize(cid + 1);
            by_cid[cid] = std::move(text);
        }
        for (const std::string& text : by_cid) texts.push_back(text);
    } else {
        // CIDToGIDMap: /Identity (also the default) or a stream of
        // two-byte glyph ids by CID. It belongs to TrueType descendants; a
        // CFF descendant's CIDs are its glyph ids.
        const Object* map = fetch_entry(resolver, cid_font, "CIDToGIDMap");
        const Stream* stream = map != nullptr ? map->as_stream() : nullptr;
        std::optional<Bytes> gids;
        if (stream != nullptr && program->format != FontProgramFormat::Cff) {
            auto decoded =
                decode_stream(stream->dict, stream->data, Reading::Strict, resolver.budget);
            if (decoded) gids = std::move(decoded.value());
        }
        const std::size_t count =
            gids ? std::min(gids->size() / 2, limits::kMaxCidToGidEntries)
                 : std::max(program->glyph_unicode.size(), program->glyph_names.size());
        const std::size_t cids = std::min(count, limits::kMaxCidToGidEntries);
        // A map often sends many CIDs to one glyph (contrib-issue-625-
        // identity-cmap.pdf: 65,536 CIDs, nearly all to .notdef), whose text
        // is read once: a CID whose glyph an earlier CID showed takes that
        // CID's text.
        constexpr std::uint32_t kUnseen = 0xFFFFFFFFu;
        const std::size_t glyphs =
            std::max(program->glyph_unicode.size(), program->glyph_names.size());
        std::vector<std::uint32_t> first_cid(gids ? glyphs : 0, kUnseen);
        for (std::uint32_t cid = 0; cid < cids; ++cid) {
            const std::uint32_t gid =
                gids ? static_cast<std::uint32_t>(((*gids)[2 * cid] << 8) | (*gids)[2 * cid + 1])
                     : cid;
            if (gid < first_cid.size()) {
                if (first_cid[gid] != kUnseen) {
                    texts.push_back_again(static_cast<std::uint32_t>(keys_before) + first_cid[gid]);
                    continue;
                }
                first_cid[gid] = cid;
            }
            glyph_text_of(gid, texts.pool);
            texts.ends.push_back(static_cast<std::uint32_t>(texts.pool.size()));
        }
    }
    if (texts.pool.size() == pool_before) texts.ends.resize(keys_before);
}

// A Type0 font: its CMap splits the shown bytes into codes and gives their
// CIDs; widths and text come by CID from its first descendant CIDFont.
void load_composite(const Resolver& resolver, const Dictionary& dict, ProgramCache& programs,
                    Font& font) {
    font.composite = true;
    font.default_width = 1.0;
    if (const Object* enc = fetch_entry(resolver, dict, "Encoding")) {
        if (const Name* name = enc->as_name()) {
            font.cmap = CidCMap::predefined(name->text);
        } else if (const Stream* stream = enc->as_stream()) {
            if (auto decoded =
                    decode_stream(stream->dict, stream->data, Reading::Strict, resolver.budget)) {
                const Object* use = stream->dict.get("UseCMap");
                const Name* use_name = use != nullptr ? use->as_name() : nullptr;
                font.cmap = CidCMap::parse(decoded.value(), use_name != nullptr
                                                                ? std::string_view(use_name->text)
                                                                : std::string_view());
                const Object* wmode = stream->dict.get("WMode");
                if (wmode != nullptr && wmode->as_int() != nullptr && *wmode->as_int() == 1) {
                    font.cmap->wmode = WritingMode::Vertical;
                }
            }
        }
    }
    font.vertical = font.cmap && font.cmap->vertical();
    if (font.cmap) font.collection = font.cmap->collection();

    const Array* descendants = array_entry(resolver, dict, "DescendantFonts");
    if (descendants == nullptr || descendants->empty()) return;
    auto cid_font = resolver.resolve_dict(descendants->front());
    if (!cid_font) return;
    const Dictionary& cid = **cid_font;
    if (!font.collection) {
        // The CMap names no collection (Identity-H/V): the descendant's
        // /CIDSystemInfo does (jo.pdf pairs Identity-V with Adobe-Japan1).
        if (const Dictionary* info = dict_entry(resolver, cid, "CIDSystemInfo")) {
            font.collection = collection_named(string_entry(resolver, *info, "Registry"),
                                               string_entry(resolver, *info, "Ordering"));
        }
    }
    if (const Object* dw = cid.get("DW")) {
        if (const std::optional<double> v = dw->number()) font.default_width = *v / 1000.0;
    }
    if (const Array* w = array_entry(resolver, cid, "W")) {
        read_cid_widths(font.widths, *w);
    }
    if (font.vertical) {
        // /DW2 is [vy w1y]: the vertical origin and the advance, by default
        // [880 -1000], 1000 units down.
        if (const Array* dw2 = array_entry(resolver, cid, "DW2")) {
            if (dw2->size() == 2) {
                if (const std::optional<double> v = (*dw2)[1].number()) {
                    font.default_vertical_advance = -*v / 1000.0;
                }
            }
        }
        if (const Array* w2 = array_entry(resolver, cid, "W2")) {
            read_vertical_advances(font.vertical_advances, *w2);
        }
    }
    // The program is read only when nothing else can give text: a font
    // with a ToUnicode map, a Unicode CMap or a known collection has its
    // text without it.
    const bool unicode_cmap = font.cmap && font.cmap->unicode_form != UnicodeForm::None;
    if (!font.to_unicode && !unicode_cmap && !font.collection) {
        read_cid_texts(resolver, cid, programs, font);
    }
}

}  // namespace

Font load_font(const Resolver& resolver, const Dictionary& dict, ProgramCache& programs) {
    Font font;
    font.to_unicode = load_to_unicode(resolver, dict);
    const Object* subtype = dict.get("Subtype");
    if (subtype != nullptr && subtype->is_name("Type0")) {
        load_composite(resolver, dict, programs, font);
    } else {
        load_simple(resolver, dict, programs, font);
    }
    return font;
}

Font load_font(const Resolver& resolver, const Dictionary& dict) {
    ProgramCache programs;
    return load_font(resolver, dict, programs);
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
        auto font = std::make_shared<const Font>(load_font(resolver, **dict, cache.programs));
        if (ref != nullptr) cache.fonts.emplace(ref->num, font);
        fonts[name] = std::move(font);
    }
    return fonts;
}

}  // namespace

std::shared_ptr<const FontMap> load_fonts(const Resolver& resolver, const Dictionary& resources,
                                          FontCache& cache) {
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
        return std::make_shared<const FontMap>(load_font_table(resolver, resources, cache));
    }
    auto found = cache.tables.find(key);
    if (found == cache.tables.end()) {
        auto table = std::make_shared<const FontMap>(load_font_table(resolver, resources, cache));
        found = cache.tables.emplace(std::move(key), std::move(table)).first;
    }
    return found->second;
}

double Font::width_of(std::uint32_t code) const {
    if (!composite && code < byte_widths.size()) return byte_widths[code];
    const auto found = widths.find(code);
    return found != widths.end() ? found->second : default_width;
}

double Font::vertical_advance_of(std::uint32_t cid) const {
    const auto found = vertical_advances.find(cid);
    return found != vertical_advances.end() ? found->second : default_vertical_advance;
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

// The next code of a composite font without a CMap: two bytes, or an odd
// last byte that is no whole code (CID 0).
ShownCode two_byte_code(ByteView rest) {
    ShownCode shown;
    if (rest.size() >= 2) {
        shown.code = (static_cast<std::uint32_t>(rest[0]) << 8) | rest[1];
        shown.length = 2;
        shown.valid = true;
        shown.mapped = true;
        shown.cid = shown.code;
    } else if (!rest.empty()) {
        shown.code = rest[0];
        shown.length = 1;
    }
    return shown;
}

}  // namespace

double Font::show_into(ByteView bytes, std::string& out, double char_spacing, double word_spacing,
                       double font_size, double horizontal_scale) const {
    double advance = 0;
    if (!composite) {
        if (!to_unicode) {
            // The common simple font without a CMap: one byte is one code,
            // its text comes from the code table alone, mostly one ASCII
            // byte. The text is written first, straight into place while it
            // is ASCII; the first other code sends the rest through the
            // table of texts.
            const std::size_t start = out.size();
            out.resize(start + bytes.size());
            char* text = out.data() + start;
            std::size_t ascii_run = 0;
            while (ascii_run < bytes.size()) {
                const char c = ascii[bytes[ascii_run]];
                if (c == 0) break;
                text[ascii_run++] = c;
            }
            if (ascii_run < bytes.size()) {
                out.resize(start + ascii_run);
                for (const std::uint8_t code : bytes.subspan(ascii_run)) {
                    const char c = ascii[code];
                    if (c != 0)
                        out.push_back(c);
                    else
                        out += texts[code];
                }
            }
        } else if (mapped_texts.size() >= 256) {
            for (const std::uint8_t code : bytes) out += mapped_texts[code];
        } else {
            for (const std::uint8_t code : bytes) {
                if (std::optional<std::string> mapped = to_unicode->lookup(code)) {
                    out += *mapped;
                } else if (const char c = ascii[code]; c != 0) {
                    out.push_back(c);
                } else {
                    out += texts[code];
                }
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

    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const ByteView rest = bytes.subspan(pos);
        const ShownCode shown = cmap ? cmap->next_code(rest) : two_byte_code(rest);
        pos += shown.length;

        std::optional<std::string> mapped;
        if (to_unicode) mapped = to_unicode->lookup(shown.code);
        if (mapped) {
            out += *mapped;
        } else if (std::optional<char32_t> cp =
                       cmap
                           ? cmap->unicode_of(shown, collection)
                           : (shown.valid && collection ? collection_unicode(*collection, shown.cid)
                                                        : std::nullopt)) {
            append_utf8(out, *cp);
        } else if (shown.mapped) {
            out += texts[shown.cid];
        }

        // Word spacing belongs to the single-byte code 32 only (a CMap with
        // one-byte codes, 90ms-RKSJ-H's ASCII); a two-byte 0x0020, or a
        // stray last byte 0x20, is not a word break for this rule.
        const double s = shown.valid && shown.length == 1 && shown.code == 32 ? word_spacing : 0.0;
        if (vertical) {
            advance += vertical_advance_of(shown.cid) * font_size + char_spacing + s;
        } else {
            advance += (width_of(shown.cid) * font_size + char_spacing + s) * horizontal_scale;
        }
    }
    return advance;
}

}  // namespace vellox_core
