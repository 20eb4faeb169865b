// The content-stream parser: operators with their operands.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
        double number = 0;           // Number
        const char* chars;           // Name, String
        const Operand* first_item;   // Array
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

// The same four questions of either form of operand.
inline std::optional<double> number_of(const Object& o) { return o.number(); }
inline std::optional<double> number_of(const Operand& o) {
    if (o.kind != Operand::Kind::Number) return std::nullopt;
    return o.number;
}
inline std::optional<std::string_view> name_of(const Object& o) {
    const Name* n = o.as_name();
    if (n == nullptr) return std::nullopt;
    return std::string_view(n->text);
}
inline std::optional<std::string_view> name_of(const Operand& o) {
    if (o.kind != Operand::Kind::Name) return std::nullopt;
    return o.text();
}
inline std::optional<ByteView> string_of(const Object& o) {
    const String* s = o.as_string();
    if (s == nullptr) return std::nullopt;
    return ByteView(s->bytes);
}
inline std::optional<ByteView> string_of(const Operand& o) {
    if (o.kind != Operand::Kind::String) return std::nullopt;
    return as_bytes(o.text());
}
inline std::optional<std::span<const Object>> array_of(const Object& o) {
    const Array* a = o.as_array();
    if (a == nullptr) return std::nullopt;
    return std::span<const Object>(*a);
}
inline std::optional<std::span<const Operand>> array_of(const Operand& o) {
    if (o.kind != Operand::Kind::Array) return std::nullopt;
    return o.items();
}

// Operand k as a number; `fallback` when it is missing or not a number.
template <class T>
double number_at(std::span<const T> operands, std::size_t k, double fallback) {
    if (k >= operands.size()) return fallback;
    return number_of(operands[k]).value_or(fallback);
}

template <class T>
struct BasicOp {
    std::span<const T> operands;  // held by the page this operation is in
    std::array<char, 4> bytes{};  // the keyword, cut to its first 4 bytes
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

using Op = BasicOp<Object>;
using FastOp = BasicOp<Operand>;

// Values kept in blocks that never grow once made, so that spans into them
// stay valid while more values arrive: a page's operands (and the items of
// its arrays) cost a few allocations rather than one per operation, and a
// page can have millions. Values are pushed a run at a time; a run stays
// together, moving to a new block when the current one fills.
template <class T>
class BlockList {
public:
    // Values per block: about 14 KB of objects, small enough to come from
    // the allocator's free lists again and again instead of fresh pages.
    static constexpr std::size_t kBlockValues = 256;

    void push(T&& value) { block_with_room().push_back(std::move(value)); }
    // A new default value at the end of the run, made where it stays so
    // that it can be filled in place: filling a copy and moving it would
    // read back, a wide load at a time, what was just written in pieces.
    T& emplace() { return block_with_room().emplace_back(); }
    // Removes the value pushed last.
    void pop() { blocks_.back().pop_back(); }
    // Forgets the run being gathered.
    void drop() {
        if (!blocks_.empty()) blocks_.back().resize(taken_);
    }
    // The run gathered since the last take; it stays where it is.
    std::span<const T> take() {
        if (blocks_.empty()) return {};
        const std::vector<T>& block = blocks_.back();
        const std::span<const T> run(block.data() + taken_, block.size() - taken_);
        taken_ = block.size();
        return run;
    }
    std::vector<std::vector<T>> release() && {
        drop();
        return std::move(blocks_);
    }

private:
    // The last block, with room for one more value. A full block is left
    // as it is and the run being gathered moves to a new one.
    std::vector<T>& block_with_room() {
        std::vector<T>* block = blocks_.empty() ? nullptr : &blocks_.back();
        if (block == nullptr || block->size() == block->capacity()) {
            const std::size_t waiting = block == nullptr ? 0 : block->size() - taken_;
            std::vector<T> next;
            next.reserve(std::max(kBlockValues, 2 * (waiting + 1)));
            if (waiting > 0) {
                const auto first = block->begin() + static_cast<std::ptrdiff_t>(taken_);
                next.insert(next.end(), std::make_move_iterator(first),
                            std::make_move_iterator(block->end()));
                block->erase(first, block->end());
            }
            blocks_.push_back(std::move(next));
            block = &blocks_.back();
            taken_ = 0;
        }
        return *block;
    }

    std::vector<std::vector<T>> blocks_;
    std::size_t taken_ = 0;  // values of the last block already taken
};

// A page's operations, their operands in blocks. The operations point into
// the blocks: moving a page keeps them valid, copying would not, so it
// cannot be copied.
template <class T>
struct BasicContent {
    std::vector<std::vector<T>> blocks;
    std::vector<BasicOp<T>> ops;

    BasicContent() = default;
    BasicContent(BasicContent&&) noexcept = default;
    BasicContent& operator=(BasicContent&&) noexcept = default;
    BasicContent(const BasicContent&) = delete;
    BasicContent& operator=(const BasicContent&) = delete;

    // Read as the list of its operations.
    const BasicOp<T>* data() const { return ops.data(); }
    std::size_t size() const { return ops.size(); }
    auto begin() const { return ops.begin(); }
    auto end() const { return ops.end(); }
    const BasicOp<T>& operator[](std::size_t i) const { return ops[i]; }
};

// Content as objects: every operand as the general object parser reads it.
using Content = BasicContent<Object>;

// Content as the text and table passes read it. Besides its own blocks it
// borrows the content bytes it was read from, which must outlive it.
struct FastContent : BasicContent<Operand> {
    std::vector<std::vector<Operand>> item_blocks;
    // Texts that are not a plain slice of the content (strings with escapes,
    // hex strings, names with #xx), in a deque so that they never move.
    std::deque<std::string> texts;
};

// Builds a page one operation at a time: operands are pushed as they are
// read, and each operation takes every operand pushed since the previous one.
template <class T>
class BasicContentBuilder {
public:
    void push_operand(T&& operand) { operands_.push(std::move(operand)); }
    // Room for `n` operations before the first arrives.
    void reserve_ops(std::size_t n) { ops_.reserve(n); }
    // An operand to fill in place, and its removal.
    T& emplace_operand() { return operands_.emplace(); }
    void pop_operand() { operands_.pop(); }
    // Forgets the operands pushed since the last operation.
    void drop_operands() { operands_.drop(); }
    // Keywords of more than four bytes are stored cut short.
    void add_op(std::string_view keyword) {
        // Built in place: a copy assembled on the stack would be read back
        // across the narrow stores of the keyword.
        BasicOp<T>& op = ops_.emplace_back();
        op.len = static_cast<std::uint8_t>(std::min(keyword.size(), op.bytes.size()));
        std::memcpy(op.bytes.data(), keyword.data(), op.len);
        op.code = operator_of(keyword.substr(0, op.len));
        op.operands = operands_.take();
    }
    // Operands pushed after the last operation belong to none: dropped.
    BasicContent<T> finish() && {
        BasicContent<T> content;
        content.blocks = std::move(operands_).release();
        content.ops = std::move(ops_);
        return content;
    }

private:
    BlockList<T> operands_;
    std::vector<BasicOp<T>> ops_;
};

using ContentBuilder = BasicContentBuilder<Object>;

// Never fails; stops quietly at the first operand that does not parse.
Content parse_content(ByteView data);

// The same operations read straight into the form the text and table passes
// use: the same operators, and operands that answer number_of, name_of,
// string_of and array_of exactly as parse_content's do. The result borrows
// `data`.
FastContent parse_content_fast(ByteView data);

}  // namespace vellox_core
