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
#include "lex.h"
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
    std::span<const Operand> operands;  // held by the reader that read the operation
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
// so that room reserved ahead (a block of operands) costs no writes until
// it is used. Moving it keeps the values where they are.
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

// Operands kept in blocks that never grow once made, so that spans into
// them stay valid while more arrive. Operands are pushed a run at a time; a
// run stays together, moving to a new block when the current one fills.
// The cursor is a pointer into the last block, so that adding an operand
// is a compare and a store.
class OperandBlocks {
public:
    // Operands per block: 4 KB, small enough to come from the allocator's
    // free lists again and again instead of fresh pages.
    static constexpr std::size_t kBlockValues = 256;

    void push(Operand value) { *room() = value; }
    // A new default operand at the end of the run, made where it stays so
    // that it can be filled in place: filling a copy and moving it would
    // read back, a wide load at a time, what was just written in pieces.
    Operand& emplace() { return *new (room()) Operand(); }
    // Removes the operand pushed last.
    void pop() { --next_; }
    // Forgets the run being gathered.
    void drop() { next_ = run_; }
    // The run gathered since the last take; it stays where it is until the
    // next rewind.
    std::span<const Operand> take() {
        const std::span<const Operand> run(run_, static_cast<std::size_t>(next_ - run_));
        run_ = next_;
        return run;
    }
    // Forgets every operand, keeping the last block (the largest one a batch
    // of operations needed) for the next batch, so that reading costs no
    // allocation once the first batch has been read.
    void rewind() {
        if (blocks_.size() > 1) keep_last_block();
        run_ = next_ = first_;
        end_ = first_end_;
    }

private:
    // The place for one more operand, not yet made. A full block is left as
    // it is and the run being gathered moves to a new one.
    Operand* room() {
        if (next_ == end_) next_block();
        return next_++;
    }
    void next_block();
    void keep_last_block();

    std::vector<Slab<Operand>> blocks_;
    Operand* run_ = nullptr;   // the first operand of the run being gathered
    Operand* next_ = nullptr;  // where the next operand goes
    Operand* end_ = nullptr;   // the end of the last block
    // The first block's bounds, where a rewind starts again.
    Operand* first_ = nullptr;
    Operand* first_end_ = nullptr;
};

// Reads a content stream one operation at a time, operands as the text and
// table passes read them: the interpreter acts on the operations as they
// are read, a batch at a time, so that a page's operations are never all
// stored and walked again. An operation and its operands are valid until
// the next call to next(); the
// texts among them are views into the content (which must outlive the
// reader) or into the reader's own buffers. The reader never fails: it
// stops quietly at the first operand that does not parse, and where the
// object budget it was given runs out.
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
class ContentReader {
public:
    // Operations are read this many at a time, so that the reader's loop
    // keeps its state in registers while it runs and the interpreter takes
    // each operation with a compare; the operands of one batch stay in one
    // block of memory, used again by the next.
    static constexpr std::size_t kBatchOps = 64;

    // Takes the objects it makes from `budget` (each number, name, string,
    // array and array item, and each operation, is one): the content of the
    // forms a page draws shares the page's budget. Each token read is a
    // step of work for the time limit of `call`; the content ends where a
    // limit of the call is passed.
    ContentReader(ByteView data, std::size_t& budget, Budget* call = nullptr);
    ContentReader(const ContentReader&) = delete;
    ContentReader& operator=(const ContentReader&) = delete;

    // The next operation; none at the end of the content. Operands read
    // after the last operation belong to none and are dropped.
    const Op* next() {
        if (next_op_ == batch_end_ && !read_batch()) return nullptr;
        return next_op_++;
    }

    // The objects this reader has taken from the budget so far: not those
    // that others sharing the budget took between its batches.
    std::size_t taken() const { return taken_; }

private:
    bool read_batch();
    bool read_inline_image(std::size_t& budget, Op& out);
    void set_op(std::string_view keyword, const char* readable_end, Op& out);

    ByteView data_;
    const std::uint8_t* cursor_;
    Lexer lexer_;
    std::size_t& budget_;
    Budget* call_;
    std::size_t unpaced_;  // tokens left before the call's clock is read
    std::size_t taken_ = 0;
    bool done_ = false;
    std::array<Op, kBatchOps> batch_{};
    const Op* next_op_ = batch_.data();    // the next of the batch read
    const Op* batch_end_ = batch_.data();  // behind the last of them
    OperandBlocks operands_;
    OperandBlocks items_;  // of array operands
    // Texts that are not a plain slice of the content (strings with escapes,
    // hex strings, names with #xx), in a deque so that they never move.
    std::deque<std::string> texts_;
    Bytes scratch_;              // a string being decoded
    std::vector<Object> stack_;  // the object parser's working space
};

}  // namespace vellox_core
