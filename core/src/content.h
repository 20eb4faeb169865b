// The content-stream parser: operators with their operands.
#pragma once

#include <array>
#include <cstdint>
#include <span>
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

struct Op {
    std::span<const Object> operands;  // held by the Content this Op is in
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

// A page's operations. Their operands are kept in a few large blocks rather
// than one list per operation, so a page costs a few allocations instead of
// one per operation (a page can have millions). A block never grows once
// made, so the operations can point into it: moving a Content keeps them
// valid, copying would not, so it cannot be copied.
struct Content {
    std::vector<std::vector<Object>> blocks;
    std::vector<Op> ops;

    Content() = default;
    Content(Content&&) noexcept = default;
    Content& operator=(Content&&) noexcept = default;
    Content(const Content&) = delete;
    Content& operator=(const Content&) = delete;

    // Read as the list of its operations.
    const Op* data() const { return ops.data(); }
    std::size_t size() const { return ops.size(); }
    auto begin() const { return ops.begin(); }
    auto end() const { return ops.end(); }
    const Op& operator[](std::size_t i) const { return ops[i]; }
};

// Builds a Content one operation at a time: operands are pushed as they are
// read, and each operation takes every operand pushed since the previous one.
class ContentBuilder {
public:
    void push_operand(Object&& operand);
    // Forgets the operands pushed since the last operation.
    void drop_operands();
    // Keywords of more than four bytes are stored cut short.
    void add_op(std::string_view keyword);
    // Operands pushed after the last operation belong to none: dropped.
    Content finish() && {
        drop_operands();
        return std::move(content_);
    }

private:
    Content content_;
    std::size_t taken_ = 0;  // objects of the last block owned by an operation
};

// Never fails; stops quietly at the first operand that does not parse.
Content parse_content(ByteView data);

}  // namespace vellox_core
