// The content-stream parser: operators with their operands.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "object.h"
#include "utf8.h"

namespace vellox_core {

struct Op {
    std::vector<Object> operands;
    std::array<char, 4> bytes{};  // the keyword, cut to its first 4 bytes
    std::uint8_t len = 0;

    // The operator as text; empty (matching nothing) when not valid UTF-8.
    std::string_view op() const {
        const std::string_view text(bytes.data(), len);
        // Operators are ASCII; only other bytes need the full check.
        bool ascii = true;
        for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        return ascii || is_valid_utf8(as_bytes(text)) ? text : std::string_view{};
    }
};

// Never fails; stops quietly at the first operand that does not parse.
std::vector<Op> parse_content(ByteView data);

}  // namespace vellox_core
