#include "content.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "bounds.h"
#include "cos.h"
#include "lex.h"

namespace vellox_core {

namespace {

// Operands per block: about 14 KB, small enough to come from the allocator's
// free lists again and again instead of fresh pages.
constexpr std::size_t kBlockObjects = 256;

// Bytes that begin an operand: strings, hex strings and dictionaries, names,
// arrays and numbers. Every other byte begins a keyword or is a delimiter.
bool starts_operand(std::uint8_t c) {
    return c == '(' || c == '+' || c == '-' || c == '.' || c == '/' || c == '<' || c == '[' ||
           (c >= '0' && c <= '9');
}

// Position just behind the first "EI" at or after `from`, or the end.
std::size_t skip_inline_image(ByteView data, std::size_t from) {
    constexpr std::uint8_t kEI[] = {'E', 'I'};
    const auto it = std::search(data.begin() + static_cast<std::ptrdiff_t>(from), data.end(),
                                std::begin(kEI), std::end(kEI));
    if (it == data.end()) return data.size();
    return static_cast<std::size_t>(it - data.begin()) + 2;
}

}  // namespace

void ContentBuilder::push_operand(Object&& operand) {
    std::vector<Object>* block = content_.blocks.empty() ? nullptr : &content_.blocks.back();
    if (block == nullptr || block->size() == block->capacity()) {
        // A full block is never grown (operations point into it): a new one
        // takes the operands still waiting for their operator, which must
        // stay together, and room for as many again.
        const std::size_t waiting = block == nullptr ? 0 : block->size() - taken_;
        std::vector<Object> next;
        next.reserve(std::max(kBlockObjects, 2 * (waiting + 1)));
        if (waiting > 0) {
            const auto first = block->begin() + static_cast<std::ptrdiff_t>(taken_);
            next.insert(next.end(), std::make_move_iterator(first),
                        std::make_move_iterator(block->end()));
            block->erase(first, block->end());
        }
        content_.blocks.push_back(std::move(next));
        block = &content_.blocks.back();
        taken_ = 0;
    }
    block->push_back(std::move(operand));
}

void ContentBuilder::drop_operands() {
    if (!content_.blocks.empty()) content_.blocks.back().resize(taken_);
}

Operator operator_of(std::string_view keyword) {
    if (keyword.size() == 1) {
        switch (keyword[0]) {
            case 'q': return Operator::Save;
            case 'Q': return Operator::Restore;
            case '\'': return Operator::NextLineShow;
            case '"': return Operator::SpacingNextLineShow;
            case 'm': return Operator::MoveTo;
            case 'l': return Operator::LineTo;
            case 'S': return Operator::Stroke;
            case 's': return Operator::CloseStroke;
            case 'f': return Operator::Fill;
            case 'F': return Operator::FillOld;
            case 'B': return Operator::FillStroke;
            case 'b': return Operator::CloseFillStroke;
            case 'n': return Operator::EndPath;
            default: return Operator::Other;
        }
    }
    if (keyword.size() != 2) return Operator::Other;
    const char a = keyword[0];
    const char b = keyword[1];
    if (a == 'T') {
        switch (b) {
            case 'f': return Operator::SetFont;
            case 'c': return Operator::CharSpacing;
            case 'w': return Operator::WordSpacing;
            case 'z': return Operator::HorizontalScale;
            case 'L': return Operator::Leading;
            case 's': return Operator::Rise;
            case 'd': return Operator::MoveText;
            case 'D': return Operator::MoveTextSetLeading;
            case 'm': return Operator::TextMatrix;
            case '*': return Operator::NextLine;
            case 'j': return Operator::Show;
            case 'J': return Operator::ShowArray;
            default: return Operator::Other;
        }
    }
    if (b == '*') {
        switch (a) {
            case 'f': return Operator::FillEvenOdd;
            case 'B': return Operator::FillStrokeEvenOdd;
            case 'b': return Operator::CloseFillStrokeEvenOdd;
            default: return Operator::Other;
        }
    }
    if (a == 'c' && b == 'm') return Operator::Concat;
    if (a == 'B' && b == 'T') return Operator::BeginText;
    if (a == 'r' && b == 'e') return Operator::Rectangle;
    return Operator::Other;
}

void ContentBuilder::add_op(std::string_view keyword) {
    // Built in place: a copy assembled on the stack would be read back
    // across the narrow stores of the keyword.
    Op& op = content_.ops.emplace_back();
    op.len = static_cast<std::uint8_t>(std::min(keyword.size(), op.bytes.size()));
    std::memcpy(op.bytes.data(), keyword.data(), op.len);
    op.code = operator_of(keyword.substr(0, op.len));
    if (!content_.blocks.empty()) {
        const std::vector<Object>& block = content_.blocks.back();
        op.operands = std::span<const Object>(block.data() + taken_, block.size() - taken_);
        taken_ = block.size();
    }
}

Content parse_content(ByteView data) {
    ContentBuilder out;
    std::vector<Object> array_items;  // the parser's working space
    // Operations and operand objects still allowed on this page.
    std::size_t budget = limits::kMaxContentObjects;
    Lexer lexer(data);
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end()) break;

        if (starts_operand(lexer.peek())) {
            auto operand = cos::parse_object(lexer, budget, array_items);
            // An operand that does not parse ends the content: guessing where
            // the next operator starts would invent operations. Running out
            // of the page's object budget ends it the same way.
            if (!operand) break;
            out.push_operand(std::move(operand).value());
            continue;
        }

        const auto keyword = lexer.read_keyword();
        if (!keyword) {
            // A delimiter that cannot start an operand (']', '>', ')', '{',
            // '}'): drop what was gathered and go on behind it.
            ++lexer.pos;
            out.drop_operands();
            continue;
        }

        if (keyword->size() == 2 && (*keyword)[0] == 'B' && (*keyword)[1] == 'I') {
            // An inline image: its dictionary, ID and binary data up to the
            // first EI are passed over unread. The data may contain any
            // bytes, so it is not tokenized; a plain search is what keeps
            // the binary from being read as operators.
            lexer.pos = skip_inline_image(data, lexer.pos);
            out.drop_operands();
            continue;
        }

        // Every keyword becomes an operation; consumers pick the operators
        // they know.
        if (budget == 0) break;
        --budget;
        out.add_op(as_text(*keyword));
    }
    return std::move(out).finish();
}

}  // namespace vellox_core
