#include "cmap.h"

#include "cos.h"
#include "utf8.h"

namespace vellox_core {

namespace {

// Bytes that can begin an object: strings, hex strings and dictionaries,
// names, arrays and numbers.
bool starts_object(std::uint8_t c) {
    return c == '(' || c == '+' || c == '-' || c == '.' || c == '/' || c == '<' || c == '[' ||
           (c >= '0' && c <= '9');
}

// A source code is the big-endian value of the string's first bytes. Codes
// are at most four bytes in any CMap; longer strings keep their first four.
std::uint32_t code_of(ByteView bytes) {
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) code = (code << 8) | bytes[i];
    return code;
}
std::uint32_t code_of(const String& s) { return code_of(ByteView(s.bytes)); }

// The next string of an entry, read into `out`; false for anything else (a
// name destination, a parse error). A hex string, which nearly every entry
// is, is read without building an object for it; anything else goes through
// the object parser, which moves past it the same way.
bool entry_string(Lexer& lexer, Bytes& out) {
    out.clear();
    lexer.skip_whitespace();
    const ByteView in = lexer.input;
    if (!lexer.at_end() && in[lexer.pos] == '<' &&
        (lexer.pos + 1 >= in.size() || in[lexer.pos + 1] != '<')) {
        ++lexer.pos;
        return cos::read_hex_string(lexer, out) == cos::HexString::Ok;
    }
    auto object = cos::parse_object(lexer);
    const String* s = object ? object->as_string() : nullptr;
    if (s == nullptr) return false;
    out = s->bytes;
    return true;
}

// Calls emit(code point) for each character of big-endian UTF-16 text.
// ToUnicode destinations come from many producers and some write lone
// surrogates or an odd number of bytes; both decode to something rather than
// dropping the entry: an odd last byte is a unit of its own, an unpaired
// surrogate becomes U+FFFD.
template <class Emit>
void decode_utf16_be(ByteView bytes, Emit&& emit) {
    const std::size_t n = bytes.size();
    auto unit_at = [&](std::size_t i) -> std::uint32_t {
        return i + 1 < n ? (std::uint32_t{bytes[i]} << 8) | bytes[i + 1] : bytes[i];
    };
    std::size_t i = 0;
    while (i < n) {
        const std::uint32_t u = unit_at(i);
        i += 2;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i < n) {
                const std::uint32_t low = unit_at(i);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    i += 2;
                    emit(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                    continue;
                }
            }
            emit(0xFFFD);  // the next unit is decoded on its own
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            emit(0xFFFD);
        } else {
            emit(u);
        }
    }
}

// Ends a section: the keyword after the entries, normally its end keyword.
void end_section(Lexer& lexer) {
    lexer.skip_whitespace();
    (void)lexer.read_keyword();
}

// At the next entry of a section (a '<'), or false when the section is over;
// in that case its closing keyword has been consumed. Entries start at a '<',
// which the object parser always consumes, so each pass through a section
// loop moves the cursor on; a parse error inside an entry counts like a
// value of the wrong type.
bool next_entry(Lexer& lexer) {
    lexer.skip_whitespace();
    if (lexer.at_end()) return false;
    if (lexer.peek() != '<') {
        end_section(lexer);
        return false;
    }
    return true;
}

}  // namespace

std::string utf16_be(ByteView bytes) {
    std::string out;
    decode_utf16_be(bytes, [&](std::uint32_t cp) { append_utf8(out, cp); });
    return out;
}

void read_codespace(Lexer& lexer, CMap&) {
    // The code space ranges say how many bytes each code has; the font
    // decides that here, so the bounds are read only to pass over them.
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end() || lexer.peek() != '<') break;
        (void)cos::parse_object(lexer);
        (void)cos::parse_object(lexer);
    }
    end_section(lexer);
}

void read_bfchar(Lexer& lexer, CMap& cmap) {
    Bytes src;
    Bytes dst;
    while (next_entry(lexer)) {
        const bool source = entry_string(lexer, src);
        const bool destination = entry_string(lexer, dst);
        // A name destination (/space) is the older glyph-name form; it
        // gives no Unicode text and is ignored.
        if (!source || !destination) continue;
        cmap.map.insert_or_assign(code_of(src), utf16_be(dst));
    }
}

void read_bfrange(Lexer& lexer, CMap& cmap) {
    while (next_entry(lexer)) {
        auto lo = cos::parse_object(lexer);
        auto hi = cos::parse_object(lexer);
        const String* lo_s = lo ? lo->as_string() : nullptr;
        const String* hi_s = hi ? hi->as_string() : nullptr;

        lexer.skip_whitespace();
        if (!lexer.at_end() && lexer.peek() == '[') {
            // Without a low bound the array cannot be placed; leaving it
            // unread ends the section at the '['.
            if (lo_s == nullptr) continue;
            auto dst = cos::parse_object(lexer);
            if (!dst) continue;
            const Array* items = dst->as_array();
            if (items == nullptr) continue;
            // The array alone says how many codes are mapped; the high bound
            // is not consulted. Codes past 32 bits cannot be looked up.
            std::uint64_t code = code_of(*lo_s);
            for (const Object& item : *items) {
                if (code > 0xFFFFFFFFu) break;
                if (const String* s = item.as_string()) {
                    cmap.map.insert_or_assign(static_cast<std::uint32_t>(code), utf16_be(s->bytes));
                }
                ++code;
            }
            continue;
        }

        auto dst = cos::parse_object(lexer);
        if (!dst || lo_s == nullptr || hi_s == nullptr) continue;
        const String* d = dst->as_string();
        if (d == nullptr) continue;
        // Only the first character of the destination counts: the range maps
        // to single characters counting up from it.
        std::uint32_t first = 0;
        bool have = false;
        decode_utf16_be(d->bytes, [&](std::uint32_t cp) {
            if (!have) first = cp;
            have = true;
        });
        cmap.ranges.push_back({code_of(*lo_s), code_of(*hi_s), first});
    }
}

CMap CMap::parse(ByteView bytes) {
    CMap cmap;
    Lexer lexer(bytes);
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end()) break;
        if (starts_object(lexer.peek())) {
            // Operands of keywords we do not act on (the CIDSystemInfo
            // dictionary, the counts before each begin keyword, CID ranges).
            // A failed object resumes where the parser stopped, one byte on
            // at least so that the loop always progresses.
            const std::size_t before = lexer.pos;
            if (!cos::parse_object(lexer) && lexer.pos == before) ++lexer.pos;
            continue;
        }
        const auto keyword = lexer.read_keyword();
        if (!keyword) {
            ++lexer.pos;  // a stray delimiter such as ']' or '>'
            continue;
        }
        const std::string_view k = as_text(*keyword);
        if (k == "begincodespacerange") {
            read_codespace(lexer, cmap);
        } else if (k == "beginbfchar") {
            read_bfchar(lexer, cmap);
        } else if (k == "beginbfrange") {
            read_bfrange(lexer, cmap);
        }
        // Every other keyword (begincidrange, usecmap, def...) has no effect.
    }
    return cmap;
}

std::optional<std::string> CMap::lookup(std::uint32_t code) const {
    if (auto it = map.find(code); it != map.end()) return it->second;
    for (const CMapRange& r : ranges) {
        if (code < r.lo || code > r.hi) continue;
        // Wrapping unsigned arithmetic, then the scalar check: a range whose
        // start runs past U+10FFFF or into the surrogates maps nothing there
        // and the search goes on with the next range.
        const std::uint32_t cp = r.start + (code - r.lo);
        if (!is_scalar_value(cp)) continue;
        std::string out;
        append_utf8(out, cp);
        return out;
    }
    return std::nullopt;
}

}  // namespace vellox_core
