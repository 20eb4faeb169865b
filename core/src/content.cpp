#include "content.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bounds.h"
#include "cos.h"
#include "lex.h"

namespace vellox_core {

namespace {

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

namespace {

// Operands kept in blocks that never grow once made, so that spans into
// them stay valid while more arrive. Operands are pushed a run at a time; a
// run stays together, moving to a new block when the current one fills.
class BlockList {
public:
    // Operands per block: 4 KB, small enough to come from the allocator's
    // free lists again and again instead of fresh pages.
    static constexpr std::size_t kBlockValues = 256;

    void push(Operand value) { block_with_room().push_back(value); }
    // A new default operand at the end of the run, made where it stays so
    // that it can be filled in place: filling a copy and moving it would
    // read back, a wide load at a time, what was just written in pieces.
    Operand& emplace() { return block_with_room().emplace_back(); }
    // Removes the operand pushed last.
    void pop() { blocks_.back().pop_back(); }
    // Forgets the run being gathered.
    void drop() {
        if (!blocks_.empty()) blocks_.back().resize(taken_);
    }
    // The run gathered since the last take; it stays where it is.
    std::span<const Operand> take() {
        if (blocks_.empty()) return {};
        const std::vector<Operand>& block = blocks_.back();
        const std::span<const Operand> run(block.data() + taken_, block.size() - taken_);
        taken_ = block.size();
        return run;
    }
    std::vector<std::vector<Operand>> release() && {
        drop();
        return std::move(blocks_);
    }

private:
    // The last block, with room for one more operand. A full block is left
    // as it is and the run being gathered moves to a new one.
    std::vector<Operand>& block_with_room() {
        std::vector<Operand>* block = blocks_.empty() ? nullptr : &blocks_.back();
        if (block == nullptr || block->size() == block->capacity()) {
            const std::size_t waiting = block == nullptr ? 0 : block->size() - taken_;
            std::vector<Operand> next;
            next.reserve(std::max(kBlockValues, 2 * (waiting + 1)));
            if (waiting > 0) {
                const auto first = block->begin() + static_cast<std::ptrdiff_t>(taken_);
                next.insert(next.end(), first, block->end());
                block->erase(first, block->end());
            }
            blocks_.push_back(std::move(next));
            block = &blocks_.back();
            taken_ = 0;
        }
        return *block;
    }

    std::vector<std::vector<Operand>> blocks_;
    std::size_t taken_ = 0;  // operands of the last block already taken
};

// Builds a page one operation at a time: operands are pushed as they are
// read, and each operation takes every operand pushed since the previous one.
class ContentBuilder {
public:
    void push_operand(Operand operand) { operands_.push(operand); }
    // Room for `n` operations before the first arrives.
    void reserve_ops(std::size_t n) { ops_.reserve(n); }
    // An operand to fill in place, and its removal.
    Operand& emplace_operand() { return operands_.emplace(); }
    void pop_operand() { operands_.pop(); }
    // Forgets the operands pushed since the last operation.
    void drop_operands() { operands_.drop(); }
    // Keywords of more than four bytes are stored cut short.
    void add_op(std::string_view keyword) {
        // Built in place: a copy assembled on the stack would be read back
        // across the narrow stores of the keyword.
        Op& op = ops_.emplace_back();
        op.len = static_cast<std::uint8_t>(std::min(keyword.size(), op.bytes.size()));
        std::memcpy(op.bytes.data(), keyword.data(), op.len);
        op.code = operator_of(keyword.substr(0, op.len));
        op.operands = operands_.take();
    }
    // Operands pushed after the last operation belong to none: dropped.
    void finish_into(Content& content) && {
        content.blocks = std::move(operands_).release();
        content.ops = std::move(ops_);
    }

private:
    BlockList operands_;
    std::vector<Op> ops_;
};

bool starts_number(std::uint8_t c) {
    return c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9');
}

// The common operands, read without building an object for them: a number,
// or the reference it begins; a name without #xx escapes or other bytes; a
// literal string without escapes, which is its bytes as they stand. False,
// with the cursor moved, for anything else: the caller then goes back and
// asks the object parser.
bool read_scalar(Lexer& lx, Operand& out) {
    const ByteView in = lx.input;
    const std::uint8_t c = lx.peek();
    if (starts_number(c)) {
        const auto token = lx.read_keyword();
        if (!token) return false;
        const cos::Number number = cos::parse_number_fast(as_text(*token));
        if (number.kind == cos::Number::None) return false;
        if (cos::reference_after(lx, number)) {
            out = Operand{};  // a reference: nothing the passes read
            return true;
        }
        out = Operand::of_number(number.kind == cos::Number::Integer
                                     ? static_cast<double>(number.integer)
                                     : number.real);
        return true;
    }
    if (c == '/') {
        ++lx.pos;
        const auto name = cos::take_plain_name(lx);
        if (!name) return false;
        out.set_text(Operand::Kind::Name, *name);
        return true;
    }
    if (c == '(') {
        // Balanced parentheses stand for themselves; only a backslash
        // changes bytes.
        const std::size_t start = lx.pos + 1;
        int depth = 1;
        for (std::size_t i = start; i < in.size(); ++i) {
            const std::uint8_t b = in[i];
            if (b == '\\') return false;
            if (b == '(') {
                ++depth;
            } else if (b == ')' && --depth == 0) {
                out.set_text(Operand::Kind::String, as_text(in.subspan(start, i - start)));
                lx.pos = i + 1;
                return true;
            }
        }
        return false;  // unterminated
    }
    return false;
}

// One operand read directly, taking from the budget what the object parser
// would: one unit for each object, the array and its items included. False
// (cursor and budget to be restored by the caller) where the object parser
// is needed, including wherever it would fail.
bool read_direct(Lexer& lx, std::size_t& budget, BlockList& items, Operand& out) {
    if (budget == 0) return false;
    if (lx.peek() != '[') {
        if (!read_scalar(lx, out)) return false;
        --budget;
        return true;
    }
    --budget;  // the array itself
    ++lx.pos;
    while (true) {
        lx.skip_whitespace();
        if (lx.at_end()) return false;
        if (lx.peek() == ']') {
            ++lx.pos;
            out.set_items(items.take());
            return true;
        }
        if (budget == 0) return false;
        // A failure leaves the item to the caller's drop of the whole run.
        if (!read_scalar(lx, items.emplace())) return false;
        --budget;
    }
}

// An operand the object parser made, as the passes read it. Texts that are
// not slices of the content are kept in `texts`.
Operand operand_of(const Object& o, BlockList& items, std::deque<std::string>& texts, bool nested) {
    Operand out;
    if (const auto n = o.number()) {
        out = Operand::of_number(*n);
    } else if (const Name* name = o.as_name()) {
        out.set_text(Operand::Kind::Name, texts.emplace_back(name->text));
    } else if (const String* str = o.as_string()) {
        out.set_text(Operand::Kind::String, texts.emplace_back(as_text(str->bytes)));
    } else if (const Array* array = o.as_array(); array != nullptr && !nested) {
        for (const Object& item : *array) items.push(operand_of(item, items, texts, true));
        out.set_items(items.take());
    }
    return out;
}

}  // namespace

Content parse_content(ByteView data) {
    Content content;
    ContentBuilder out;
    BlockList items;
    std::vector<Object> array_items;  // the object parser's working space
    // About one operation per dozen bytes of content is typical (an operator
    // with two or three short operands), so the list rarely grows by copying;
    // the cap keeps a huge page from reserving more than a megabyte or two up
    // front, past which the list grows as it needs.
    out.reserve_ops(std::min<std::size_t>(data.size() / 12, limits::kMaxInitialContentOps));
    // Operations and operand objects still allowed on this page.
    std::size_t budget = limits::kMaxContentObjects;
    Lexer lexer(data);
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end()) break;

        if (starts_operand(lexer.peek())) {
            // An operand that does not parse ends the content: guessing where
            // the next operator starts would invent operations. Running out
            // of the page's object budget ends it the same way.
            const std::size_t start = lexer.pos;
            const std::size_t budget_before = budget;
            if (read_direct(lexer, budget, items, out.emplace_operand())) continue;
            // Back to where it started, for the object parser.
            out.pop_operand();
            lexer.pos = start;
            budget = budget_before;
            items.drop();
            auto object = cos::parse_object(lexer, budget, array_items);
            if (!object) break;
            out.push_operand(operand_of(*object, items, content.texts, false));
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
    // Moving the blocks keeps the operations' spans into them valid.
    std::move(out).finish_into(content);
    content.item_blocks = std::move(items).release();
    return content;
}

}  // namespace vellox_core
