// Every operation of a content stream, read with the library's reader and
// kept, for the tests that look at a page's operations after reading them
// all. The reader reuses its buffers for each operation, so each one's
// operands, array items and texts are copied out of it here.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "bounds.h"
#include "content.h"

namespace vellox_test {

class StoredContent {
public:
    // Moving keeps every operation's operands where they are.
    StoredContent() = default;
    StoredContent(StoredContent&&) = default;
    StoredContent& operator=(StoredContent&&) = default;
    StoredContent(const StoredContent&) = delete;
    StoredContent& operator=(const StoredContent&) = delete;

    void add(const vellox_core::Op& op) {
        std::vector<vellox_core::Operand>& operands = lists_.emplace_back();
        for (const vellox_core::Operand& operand : op.operands) operands.push_back(copy(operand));
        ops_.push_back(op);
        ops_.back().operands = operands;
    }

    std::size_t size() const { return ops_.size(); }
    const vellox_core::Op& operator[](std::size_t i) const { return ops_[i]; }
    auto begin() const { return ops_.begin(); }
    auto end() const { return ops_.end(); }

private:
    vellox_core::Operand copy(const vellox_core::Operand& operand) {
        using Kind = vellox_core::Operand::Kind;
        vellox_core::Operand out = operand;
        if (operand.kind == Kind::Name || operand.kind == Kind::String) {
            out.set_text(operand.kind, texts_.emplace_back(operand.text()));
        } else if (operand.kind == Kind::Array) {
            std::vector<vellox_core::Operand>& items = lists_.emplace_back();
            for (const vellox_core::Operand& item : operand.items()) items.push_back(copy(item));
            out.set_items(items);
        }
        return out;
    }

    // Deques, so that the lists and texts never move once made.
    std::deque<std::vector<vellox_core::Operand>> lists_;
    std::deque<std::string> texts_;
    std::vector<vellox_core::Op> ops_;
};

inline StoredContent read_content(vellox_core::ByteView data, std::size_t& budget) {
    StoredContent out;
    vellox_core::ContentReader reader(data, budget);
    while (const vellox_core::Op* op = reader.next()) out.add(*op);
    return out;
}

inline StoredContent read_content(vellox_core::ByteView data) {
    std::size_t budget = vellox_core::limits::kMaxContentObjects;
    return read_content(data, budget);
}

}  // namespace vellox_test
