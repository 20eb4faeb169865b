// The content-stream reader: a page's operators with their operands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "budget.h"
#include "object.h"
#include "utf8.h"

namespace vellox_core {

// The operators the text and table passes act on, named once while parsing
// so that those passes switch on a number instead of comparing keywords.
// Every other keyword is Other.
enum class Operator : std::uint8_t {
    Other,
    Save,                    // q
    Restore,                 // Q
    Concat,                  // cm
    BeginText,               // BT
    SetFont,                 // Tf
    CharSpacing,             // Tc
    WordSpacing,             // Tw
    HorizontalScale,         // Tz
    Leading,                 // TL
    Rise,                    // Ts
    MoveText,                // Td
    MoveTextSetLeading,      // TD
    TextMatrix,              // Tm
    NextLine,                // T*
    Show,                    // Tj
    NextLineShow,            // '
    SpacingNextLineShow,     // "
    ShowArray,               // TJ
    MoveTo,                  // m
    LineTo,                  // l
    Rectangle,               // re
    Stroke,                  // S
    CloseStroke,             // s
    Fill,                    // f
    FillOld,                 // F
    FillEvenOdd,             // f*
    FillStroke,              // B
    FillStrokeEvenOdd,       // B*
    CloseFillStroke,         // b
    CloseFillStrokeEvenOdd,  // b*
    EndPath,                 // n
    ClosePath,               // h
    CurveTo,                 // c, v and y: only their end point matters here
    PaintXObject,            // Do
    // BI ... ID ... EI, read as one operation with two string operands:
    // the dictionary as it stands between BI and ID, and the image data.
    InlineImage,
};

// The operator a keyword names; Other for every keyword not listed above.
Operator operator_of(std::string_view keyword);

// An operand as the text and table passes read it, with nothing built that
// they do not look at: a number as a double, a name's text and a string's
// bytes as views (into the content itself where they appear there
// verbatim), an array's items. Every other operand (references, booleans,
// dictionaries, arrays within arrays) is Other. Sixteen bytes: a page has
// hundreds of thousands of them, written once and read by two passes.
struct Operand {
    enum class Kind : std::uint8_t { Other, Number, Name, String, Array };
    Kind kind = Kind::Other;
    // Of the text or the items. Content is capped at 1 GiB and its operands
    // by count, so every length fits.
    std::uint32_t length = 0;
    union {
        double number = 0;          // Number
        const char* chars;          // Name, String
        const Operand* first_item;  // Array
    };

    static Operand of_number(double value) {
        Operand o;
        o.kind = Kind::Number;
        o.number = value;
        return o;
    }
    void set_text(Kind text_kind, std::string_view text) {
        kind = text_kind;
        chars = text.data();
        length = static_cast<std::uint32_t>(text.size());
    }
    void set_items(std::span<const Operand> items) {
        kind = Kind::Array;
        first_item = items.data();
        length = static_cast<std::uint32_t>(items.size());
    }
    std::string_view text() const { return {chars, length}; }
    std::span<const Operand> items() const { return {first_item, length}; }
};

// What the text and table passes ask of an operand: each answer is
// nothing when the operand is of another kind.
inline std::optional<double> number_of(const Operand& o) {
    if (o.kind != Operand::Kind::Number) return std::nullopt;
    return o.number;
}
inline std::optional<std::string_view> name_of(const Operand& o) {
    if (o.kind != Operand::Kind::Name) return std::nullopt;
    return o.text();
}
inline std::optional<ByteView> string_of(const Operand& o) {
    if (o.kind != Operand::Kind::String) return std::nullopt;
    return as_bytes(o.text());
}
inline std::optional<std::span<const Operand>> array_of(const Operand& o) {
    if (o.kind != Operand::Kind::Array) return std::nullopt;
    return o.items();
}

// Operand k as a number; `fallback` when it is missing or not a number.
inline double number_at(std::span<const Operand> operands, std::size_t k, double fallback) {
    if (k >= operands.size()) return fallback;
    return number_of(operands[k]).value_or(fallback);
}

// One operation: its keyword and the operands written before it.
struct Op {
    std::span<const Operand> operands;  // held by the Content this operation is in
    std::array<char, 4> bytes{};        // the keyword, cut to its first 4 bytes
    std::uint8_t len = 0;
    Operator code = Operator::Other;  // of the keyword as stored

    // The operator as text; empty (matching nothing) when not valid UTF-8.
    std::string_view op() const {
        const std::string_view text(bytes.data(), len);
        // Operators are ASCII; only other bytes need the full check.
        bool ascii = true;
        for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        return ascii || is_valid_utf8(as_bytes(text)) ? text : std::string_view{};
    }
};

// Room for `capacity` values of a type that needs no destruction, none of
// them made yet: the content reader constructs each value as it reads it,
// so that room reserved ahead (for the page's operations, a block of
// operands) costs no writes until it is used. Moving it keeps the values
// where they are.
template <class T>
class Slab {
    static_assert(std::is_trivially_destructible_v<T> && std::is_trivially_copyable_v<T>);

public:
    Slab() = default;
    explicit Slab(std::size_t capacity)
        : items_(std::allocator<T>{}.allocate(capacity)), capacity_(capacity) {}
    Slab(Slab&& other) noexcept
        : items_(std::exchange(other.items_, nullptr)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Slab& operator=(Slab&& other) noexcept {
        if (this != &other) {
            release();
            items_ = std::exchange(other.items_, nullptr);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    Slab(const Slab&) = delete;
    Slab& operator=(const Slab&) = delete;
    ~Slab() { release(); }

    T* data() const { return items_; }
    std::size_t capacity() const { return capacity_; }

private:
    void release() {
        if (items_ != nullptr) std::allocator<T>{}.deallocate(items_, capacity_);
    }

    T* items_ = nullptr;
    std::size_t capacity_ = 0;
};

// A page's operations. Their operands, and the items of array operands,
// are kept in blocks that never grow once made, so that the operations'
// spans into them stay valid while the page is read: a page costs a few
// allocations rather than one per operation, and a page can have millions.
// Moving a Content keeps the spans valid, copying would not, so it cannot be
// copied. Besides its own blocks it borrows the content bytes it was read
// from (names and strings that stand in the content verbatim are views into
// them), which must outlive it.
struct Content {
    std::vector<Slab<Operand>> blocks;
    // Texts that are not a plain slice of the content (strings with escapes,
    // hex strings, names with #xx), in a deque so that they never move.
    std::deque<std::string> texts;
    Slab<Op> op_storage;
    std::span<const Op> ops;  // the first ops.size() places of op_storage

    Content() = default;
    Content(Content&& other) noexcept
        : blocks(std::move(other.blocks)),
          texts(std::move(other.texts)),
          op_storage(std::move(other.op_storage)),
          ops(std::exchange(other.ops, {})) {}
    Content& operator=(Content&& other) noexcept {
        blocks = std::move(other.blocks);
        texts = std::move(other.texts);
        op_storage = std::move(other.op_storage);
        ops = std::exchange(other.ops, {});
        return *this;
    }
    Content(const Content&) = delete;
    Content& operator=(const Content&) = delete;

    // Read as the list of its operations.
    const Op* data() const { return ops.data(); }
    std::size_t size() const { return ops.size(); }
    auto begin() const { return ops.begin(); }
    auto end() const { return ops.end(); }
    const Op& operator[](std::size_t i) const { return ops[i]; }
};

// Reads a page's content stream into its operations, operands as the text
// and table passes read them. Never fails; stops quietly at the first
// operand that does not parse, and where the page's object budget runs out.
// The result borrows `data`.
//
// An inline image (BI, its dictionary, ID, the data, EI) becomes one
// operation, keyword "BI", whose operands are two strings: the dictionary's
// bytes between BI and ID, and the image data. The data may hold any bytes,
// "EI" among them, so its end is found in this order:
// - where the dictionary gives the data's length (/L or /Length; or, with
//   no filter, from /W, /H, /BPC and the colour components), or the first
//   filter ends it with a marker (ASCIIHexDecode at ">", ASCII85Decode at
//   "~>"): there, when EI follows after optional white space;
// - else the first EI preceded by white space and followed by white space,
//   a delimiter or the end, searched from the data's start (from behind
//   the marker when a marker was found).
// One white-space byte after ID belongs to the syntax, not the data. A
// dictionary that does not parse ends the content, as any operand that
// does not parse, and so does data with no EI after it.
Content parse_content(ByteView data);
// The same, taking the objects it makes from `budget` instead of a fresh
// kMaxContentObjects: the content of form XObjects drawn on one page shares
// the page's budget. Each token read is a step of work for the time limit
// of `call`; the content ends where a limit of the call is passed.
Content parse_content(ByteView data, std::size_t& budget, Budget* call = nullptr);

}  // namespace vellox_core
