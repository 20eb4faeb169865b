#include "content.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "bounds.h"
#include "cos.h"
#include "lex.h"

namespace vellox_core {

namespace {

// Room for the operands of the common operators (cm and Tm take six, a
// curve seven) without growing the scratch list.
constexpr std::size_t kOperandReserve = 8;

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

// The operands of one operation, moved out of the scratch list into a list
// of exactly their size: most operators take none or few, and a page can
// have millions of them, so eight reserved slots per operation would cost
// far more than the content itself (two bytes of "q " would hold 450).
std::vector<Object> take_operands(std::vector<Object>& pending) {
    std::vector<Object> out;
    if (pending.empty()) return out;
    out.reserve(pending.size());
    std::move(pending.begin(), pending.end(), std::back_inserter(out));
    pending.clear();
    return out;
}

}  // namespace

std::vector<Op> parse_content(ByteView data) {
    std::vector<Op> ops;
    std::vector<Object> operands;
    operands.reserve(kOperandReserve);
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
            operands.push_back(std::move(operand).value());
            continue;
        }

        const auto keyword = lexer.read_keyword();
        if (!keyword) {
            // A delimiter that cannot start an operand (']', '>', ')', '{',
            // '}'): drop what was gathered and go on behind it.
            ++lexer.pos;
            operands.clear();
            continue;
        }

        if (keyword->size() == 2 && (*keyword)[0] == 'B' && (*keyword)[1] == 'I') {
            // An inline image: its dictionary, ID and binary data up to the
            // first EI are passed over unread. The data may contain any
            // bytes, so it is not tokenized; a plain search is what keeps
            // the binary from being read as operators.
            lexer.pos = skip_inline_image(data, lexer.pos);
            operands.clear();
            continue;
        }

        // Every keyword becomes an operation; consumers pick the operators
        // they know. Keywords of more than four bytes are stored cut short.
        if (budget == 0) break;
        --budget;
        Op op;
        op.operands = take_operands(operands);
        op.len = static_cast<std::uint8_t>(std::min<std::size_t>(keyword->size(), op.bytes.size()));
        std::memcpy(op.bytes.data(), keyword->data(), op.len);
        ops.push_back(std::move(op));
    }
    return ops;
}

}  // namespace vellox_core
