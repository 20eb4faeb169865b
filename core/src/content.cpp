#include "content.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <optional>
#include <string>

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

bool starts_number(std::uint8_t c) {
    return c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9');
}

// The fast content reader keeps what the general parser would make of the
// common operands, without making it: a number, or the reference it begins;
// a name without #xx escapes or other bytes; a literal string without
// escapes, which is its bytes as they stand. False, with the cursor moved,
// for anything else: the caller then goes back and asks the general parser.
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

// One operand the fast way, taking from the budget what the general parser
// would: one unit for each object, the array and its items included. False
// (cursor and budget to be restored by the caller) where the general parser
// is needed, including wherever it would fail.
bool read_fast(Lexer& lx, std::size_t& budget, BlockList<Operand>& items, Operand& out) {
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

// An operand the general parser made, as the passes read it. Texts that are
// not slices of the content are kept in `texts`.
Operand operand_of(const Object& o, BlockList<Operand>& items, std::deque<std::string>& texts,
                   bool nested) {
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

namespace {

// The reading both forms of a page share. `read_operand(lexer, budget, out)`
// reads the operand at the cursor into `out`, taking from the page's budget,
// and is false when it does not parse.
template <class T, class ReadOperand>
BasicContent<T> read_content(ByteView data, ReadOperand read_operand) {
    BasicContentBuilder<T> out;
    // About one operation per dozen bytes of content is typical (an operator
    // with two or three short operands), so the list rarely grows by copying;
    // the cap keeps a huge page from reserving more than a megabyte or two up
    // front, past which the list grows as it needs.
    out.reserve_ops(std::min<std::size_t>(data.size() / 12, std::size_t{1} << 16));
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
            if (!read_operand(lexer, budget, out)) break;
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

}  // namespace

Content parse_content(ByteView data) {
    std::vector<Object> array_items;  // the parser's working space
    return read_content<Object>(
        data, [&](Lexer& lexer, std::size_t& budget, ContentBuilder& out) {
            auto operand = cos::parse_object(lexer, budget, array_items);
            if (!operand) return false;
            out.push_operand(std::move(operand).value());
            return true;
        });
}

FastContent parse_content_fast(ByteView data) {
    FastContent out;
    BlockList<Operand> items;
    std::vector<Object> array_items;  // the general parser's working space
    BasicContent<Operand> read = read_content<Operand>(
        data, [&](Lexer& lexer, std::size_t& budget, BasicContentBuilder<Operand>& ops) {
            const std::size_t start = lexer.pos;
            const std::size_t budget_before = budget;
            if (read_fast(lexer, budget, items, ops.emplace_operand())) return true;
            // Back to where it started, for the general parser.
            ops.pop_operand();
            lexer.pos = start;
            budget = budget_before;
            items.drop();
            auto object = cos::parse_object(lexer, budget, array_items);
            if (!object) return false;
            ops.push_operand(operand_of(*object, items, out.texts, false));
            return true;
        });
    // Moving the blocks keeps the operations' spans into them valid.
    out.blocks = std::move(read.blocks);
    out.ops = std::move(read.ops);
    out.item_blocks = std::move(items).release();
    return out;
}

}  // namespace vellox_core
