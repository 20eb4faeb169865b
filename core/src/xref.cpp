// The cross-reference chain: classic "xref" tables, cross-reference streams
// (PDF 1.5) and hybrid files, merged newest first into one Xref.
#include "xref.h"

#include <limits>
#include <optional>
#include <set>
#include <string_view>

#include "bounds.h"
#include "cos.h"
#include "filter/chain.h"
#include "framing.h"

namespace vellox_core {

namespace {

Error xref_error(const char* message) { return {ErrorKind::InvalidXref, message}; }

Error too_many_entries() { return xref_error("too many xref entries"); }

// An unsigned 32-bit decimal token: a subsection's first number or count, an
// entry's offset or generation, the startxref offset.
Result<std::uint32_t> read_u32(Lexer& lexer) {
    const UintToken token = lexer.read_uint(std::numeric_limits<std::uint32_t>::max());
    switch (token.status) {
        case UintToken::Status::Ok: return static_cast<std::uint32_t>(token.value);
        case UintToken::Status::Missing: return xref_error("expected integer");
        case UintToken::Status::Bad: break;
    }
    return xref_error("bad integer");
}

Lexer lexer_at(ByteView data, std::uint64_t offset) {
    const std::size_t at = offset < data.size() ? static_cast<std::size_t>(offset) : data.size();
    return Lexer(data, at);
}

// Within one section the first entry read for a number wins, as between
// sections: overlapping subsections do occur in files edited by hand.
Status insert_first(XrefEntries& entries, std::uint32_t num, XrefEntry entry) {
    if (entries.size() >= limits::kMaxXrefEntries && !entries.contains(num)) {
        return too_many_entries();
    }
    // Entries come in ascending order nearly always: placed behind the last
    // one without a search from the root.
    entries.emplace_hint(entries.end(), num, entry);
    return Unit{};
}

// A non-negative Integer trailer entry (Prev, XRefStm); anything else means
// the entry is not there.
std::optional<std::uint64_t> offset_entry(const Dictionary& trailer, std::string_view key) {
    const Object* v = trailer.get(key);
    const std::int64_t* i = v != nullptr ? v->as_int() : nullptr;
    if (i == nullptr || *i < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*i);
}

// An entry as nearly every writer lays it out, "oooooooooo ggggg n": ten
// offset digits, five generation digits and the type, one space apart, the
// cursor at its first byte. Read at once, it gives what the token by token
// reading below gives for the same bytes; anything else (other widths, other
// separators, an offset past 32 bits) is left to that reading, the cursor
// unmoved.
std::optional<XrefEntry> read_standard_entry(Lexer& lx) {
    constexpr std::size_t kOffsetDigits = 10;
    constexpr std::size_t kGenDigits = 5;
    constexpr std::size_t kTypeAt = kOffsetDigits + 1 + kGenDigits + 1;
    const ByteView in = lx.input;
    if (in.size() - lx.pos <= kTypeAt) return std::nullopt;
    const std::uint8_t* const p = in.data() + lx.pos;
    const auto digits = [p](std::size_t from, std::size_t count, std::uint64_t& value) {
        for (std::size_t k = from; k < from + count; ++k) {
            const unsigned digit = static_cast<unsigned>(p[k] - '0');
            if (digit >= 10u) return false;
            value = value * 10 + digit;
        }
        return true;
    };
    std::uint64_t offset = 0;
    std::uint64_t gen = 0;
    const std::uint8_t type = p[kTypeAt];
    const std::size_t after = lx.pos + kTypeAt + 1;
    if (!digits(0, kOffsetDigits, offset) || p[kOffsetDigits] != ' ' ||
        !digits(kOffsetDigits + 1, kGenDigits, gen) || p[kTypeAt - 1] != ' ' ||
        (type != 'n' && type != 'f') || (after < in.size() && is_regular(in[after])) ||
        offset > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    lx.pos = after;
    if (type == 'f') return XrefFree{};
    return XrefInFile{offset, static_cast<std::uint16_t>(gen & 0xFFFFu)};
}

// A classic section, the cursor just behind "xref". The entries are read as
// tokens rather than as fixed 20-byte lines: producers that write one-byte
// line ends, or drop the leading zeros, are common enough.
Result<Xref> parse_classic_section(Lexer& lx) {
    Xref section;
    while (true) {
        lx.skip_whitespace();
        if (lx.eat_keyword("trailer")) break;
        auto first = read_u32(lx);
        if (!first) return std::move(first).error();
        auto count = read_u32(lx);
        if (!count) return std::move(count).error();
        // Every entry consumes at least three tokens, so a hostile count ends
        // at the end of the data with "expected integer".
        for (std::uint32_t i = 0; i < *count; ++i) {
            lx.skip_whitespace();
            if (const auto standard = read_standard_entry(lx)) {
                auto inserted = insert_first(section.entries, *first + i, *standard);
                if (!inserted) return std::move(inserted).error();
                continue;
            }
            auto offset = read_u32(lx);
            if (!offset) return std::move(offset).error();
            auto gen = read_u32(lx);
            if (!gen) return std::move(gen).error();
            lx.skip_whitespace();
            const auto type = lx.read_keyword();
            if (!type || type->size() != 1 || ((*type)[0] != 'n' && (*type)[0] != 'f')) {
                return xref_error("bad xref entry type");
            }
            XrefEntry entry = XrefFree{};
            if ((*type)[0] == 'n') {
                entry = XrefInFile{*offset, static_cast<std::uint16_t>(*gen & 0xFFFFu)};
            }
            auto inserted = insert_first(section.entries, *first + i, entry);
            if (!inserted) return std::move(inserted).error();
        }
    }
    auto trailer = cos::parse_object(lx);
    if (!trailer) return std::move(trailer).error();
    Dictionary* dict = trailer->as_dict();
    if (dict == nullptr) return xref_error("trailer is not a dictionary");
    section.trailer = std::move(*dict);
    return section;
}

// A big-endian field of `width` bytes; wider fields keep their low 64 bits.
std::uint64_t read_field(const std::uint8_t* p, std::uint64_t width) {
    std::uint64_t v = 0;
    for (std::uint64_t k = 0; k < width; ++k) v = (v << 8) | p[k];
    return v;
}

struct Range {
    std::uint32_t first;
    std::uint32_t count;
};

bool as_u32(const Object& o, std::uint32_t& out) {
    const std::int64_t* i = o.as_int();
    if (i == nullptr || *i < 0 || *i > 4294967295LL) return false;
    out = static_cast<std::uint32_t>(*i);
    return true;
}

}  // namespace

void merge_entries(Xref& xref, XrefEntries section_entries) {
    // Most files have one section: its entries become the table as they
    // are. Otherwise the older section's entries count only where the
    // table has none for their number yet. The smaller map's nodes move
    // into the larger: a linearized file's newest section holds the first
    // page's few objects and the one before it all the others, and moving
    // each of thousands of entries into a map of a few, by a search from
    // its root, cost more than reading them.
    if (xref.entries.empty()) {
        xref.entries = std::move(section_entries);
        return;
    }
    if (section_entries.size() <= xref.entries.size()) {
        xref.entries.merge(section_entries);  // leaves alone what the table has
        return;
    }
    // The table's entries are newer: each takes its number's place.
    XrefEntries newer = std::move(xref.entries);
    xref.entries = std::move(section_entries);
    for (auto it = newer.begin(); it != newer.end();) {
        auto node = newer.extract(it++);
        auto [at, inserted, rest] = xref.entries.insert(std::move(node));
        if (!inserted) at->second = rest.mapped();
    }
}

Result<Xref> parse_xref_stream(ByteView data, std::uint64_t offset, Budget* budget) {
    Lexer lx = lexer_at(data, offset);
    auto header = read_header(lx);
    if (!header) return std::move(header).error();
    auto obj = cos::parse_object(lx);
    if (!obj) return std::move(obj).error();

    // No resolver exists yet, so only a direct /Length can be used; an
    // indirect one leaves the body to the "endstream" search.
    std::optional<std::uint64_t> declared;
    if (const Dictionary* d = obj->as_dict()) {
        const Object* len = d->get("Length");
        const std::int64_t* i = len != nullptr ? len->as_int() : nullptr;
        if (i != nullptr && *i >= 0) declared = static_cast<std::uint64_t>(*i);
    }
    Object assembled = assemble_stream(data, lx, std::move(obj).value(), declared);
    Stream* stream = assembled.as_stream();
    if (stream == nullptr) return xref_error("xref stream is not a stream");

    auto decoded = decode_stream(stream->dict, stream->data, Reading::Strict, budget);
    if (!decoded) {
        if (decoded.error().kind == ErrorKind::LimitExceeded) return std::move(decoded).error();
        return xref_error("xref decode");
    }
    const Bytes& records = decoded.value();
    const Dictionary& dict = stream->dict;

    // /W: the byte widths of the three record fields. Elements that are not
    // non-negative integers are passed over.
    const Object* w_obj = dict.get("W");
    const Array* w_arr = w_obj != nullptr ? w_obj->as_array() : nullptr;
    if (w_arr == nullptr) return xref_error("xref /W missing");
    std::uint64_t widths[3] = {0, 0, 0};
    std::size_t n_widths = 0;
    for (const Object& e : *w_arr) {
        const std::int64_t* i = e.as_int();
        if (i == nullptr || *i < 0) continue;
        if (n_widths < 3) widths[n_widths] = static_cast<std::uint64_t>(*i);
        ++n_widths;
    }
    if (n_widths != 3) return xref_error("xref /W must have three widths");

    // /Index: (first, count) pairs; without it, /Size gives the one range
    // starting at object 0. The number of pairs is bounded by the array the
    // parser already built.
    std::vector<Range> ranges;
    const Object* index = dict.get("Index");
    if (const Array* idx = index != nullptr ? index->as_array() : nullptr) {
        for (std::size_t k = 0; k + 1 < idx->size(); k += 2) {
            Range r{};
            if (as_u32((*idx)[k], r.first) && as_u32((*idx)[k + 1], r.count)) {
                ranges.push_back(r);
            }
        }
    } else {
        const Object* size = dict.get("Size");
        const std::int64_t* s = size != nullptr ? size->as_int() : nullptr;
        if (s == nullptr) return xref_error("xref /Size missing");
        if (*s < 0 || *s > 4294967295LL) return xref_error("bad /Size");
        ranges.push_back({0, static_cast<std::uint32_t>(*s)});
    }

    std::uint64_t width = 0;
    bool overflow = __builtin_add_overflow(widths[0], widths[1], &width) ||
                    __builtin_add_overflow(width, widths[2], &width);
    if (!overflow && width == 0) return xref_error("xref stream zero-width records");

    // The counts come from the file: make sure every record claimed exists
    // before reading any, so a huge /Size over a few bytes fails at once.
    std::uint64_t needed = 0;
    for (const Range& r : ranges) {
        std::uint64_t bytes = 0;
        overflow = overflow || __builtin_mul_overflow(width, std::uint64_t{r.count}, &bytes) ||
                   __builtin_add_overflow(needed, bytes, &needed);
    }
    if (overflow || needed > records.size()) return xref_error("xref stream truncated");

    Xref section;
    const std::uint8_t* p = records.data();
    for (const Range& r : ranges) {
        for (std::uint32_t i = 0; i < r.count; ++i) {
            const std::uint64_t type = widths[0] == 0 ? 1 : read_field(p, widths[0]);
            const std::uint64_t f2 = read_field(p + widths[0], widths[1]);
            const std::uint64_t f3 = read_field(p + widths[0] + widths[1], widths[2]);
            p += width;
            XrefEntry entry;
            if (type == 0) {
                entry = XrefFree{};
            } else if (type == 1) {
                entry = XrefInFile{f2, static_cast<std::uint16_t>(f3 & 0xFFFFu)};
            } else if (type == 2) {
                entry = XrefCompressed{static_cast<std::uint32_t>(f2 & 0xFFFFFFFFu),
                                       static_cast<std::uint32_t>(f3 & 0xFFFFFFFFu)};
            } else {
                continue;  // unknown types are reserved; the record is skipped
            }
            auto inserted = insert_first(section.entries, r.first + i, entry);
            if (!inserted) return std::move(inserted).error();
        }
    }
    section.trailer = std::move(stream->dict);
    return section;
}

Result<Xref> read_xref(ByteView data, Budget* budget) {
    constexpr std::string_view kStartxref = "startxref";
    const std::size_t at = as_text(data).rfind(kStartxref);
    if (at == std::string_view::npos) return xref_error("no startxref");
    Lexer start(data, at + kStartxref.size());
    auto first = read_u32(start);
    if (!first) return std::move(first).error();

    Xref xref;
    // Offsets already read: a Prev that points back into the chain ends it.
    // The chain's length is bounded by the sections the file really holds,
    // since every section must parse before its Prev is followed.
    std::set<std::uint64_t> visited;
    std::optional<std::uint64_t> next = *first;
    while (next) {
        const std::uint64_t offset = *next;
        if (!visited.insert(offset).second) break;
        Lexer lx = lexer_at(data, offset);
        lx.skip_whitespace();
        Result<Xref> section = lx.eat_keyword("xref") ? parse_classic_section(lx)
                                                      : parse_xref_stream(data, offset, budget);
        if (!section) return std::move(section).error();

        next = offset_entry(section->trailer, "Prev");
        const auto xref_stm = offset_entry(section->trailer, "XRefStm");
        merge_entries(xref, std::move(section->entries));
        if (xref.trailer.empty()) xref.trailer = std::move(section->trailer);

        // A hybrid file: a classic table for old readers, plus a stream
        // listing the compressed objects. The table's entries win, and a
        // broken stream only leaves the file as an old reader would see it.
        if (xref_stm && visited.insert(*xref_stm).second) {
            auto extra = parse_xref_stream(data, *xref_stm, budget);
            if (extra) merge_entries(xref, std::move(extra->entries));
        }
        if (xref.entries.size() > limits::kMaxXrefEntries) return too_many_entries();
    }
    return xref;
}

}  // namespace vellox_core
