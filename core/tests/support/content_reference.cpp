#include "support/content_reference.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "bounds.h"
#include "cos.h"
#include "lex.h"

namespace vellox_test {

using namespace vellox_core;

namespace {

// Bytes that begin an operand: strings, hex strings and dictionaries, names,
// arrays and numbers. Every other byte begins a keyword or is a delimiter.
bool starts_operand(std::uint8_t c) {
    return c == '(' || c == '+' || c == '-' || c == '.' || c == '/' || c == '<' || c == '[' ||
           (c >= '0' && c <= '9');
}

}  // namespace

std::vector<ReferenceOp> parse_content_reference(ByteView data) {
    std::vector<ReferenceOp> ops;
    std::vector<Object> operands;  // gathered since the last operation
    std::size_t budget = limits::kMaxContentObjects;
    Lexer lexer(data);
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end()) break;
        if (starts_operand(lexer.peek())) {
            auto operand = cos::parse_object(lexer, budget);
            if (!operand) break;
            operands.push_back(std::move(operand).value());
            continue;
        }
        const auto keyword = lexer.read_keyword();
        if (!keyword) {
            // A delimiter that cannot start an operand: what was gathered
            // is dropped.
            ++lexer.pos;
            operands.clear();
            continue;
        }
        if (keyword->size() == 2 && (*keyword)[0] == 'B' && (*keyword)[1] == 'I') {
            // An inline image runs to the first "EI", whatever its bytes.
            constexpr std::uint8_t kEI[] = {'E', 'I'};
            const auto from = data.begin() + static_cast<std::ptrdiff_t>(lexer.pos);
            const auto it = std::search(from, data.end(), std::begin(kEI), std::end(kEI));
            lexer.pos =
                it == data.end() ? data.size() : static_cast<std::size_t>(it - data.begin()) + 2;
            operands.clear();
            continue;
        }
        if (budget == 0) break;
        --budget;
        ReferenceOp op;
        op.len = static_cast<std::uint8_t>(std::min(keyword->size(), op.bytes.size()));
        std::memcpy(op.bytes.data(), keyword->data(), op.len);
        op.code = operator_of(op.keyword());
        op.operands = std::move(operands);
        operands.clear();
        ops.push_back(std::move(op));
    }
    return ops;
}

}  // namespace vellox_test
