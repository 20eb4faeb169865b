#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "cos.h"

namespace {

// A name the dictionary peek gives must be the one the parsed dictionary
// holds under the key, unless the parse fails. The key is the input's
// first name when it has one, so that the fuzzer can reach any key.
void check_peek(vellox_core::ByteView input) {
    using namespace vellox_core;
    std::string_view key = "Subtype";
    Lexer key_lx(input);
    key_lx.skip_whitespace();
    std::size_t start = 0;
    if (!key_lx.at_end() && key_lx.peek() == '/') {
        ++key_lx.pos;
        if (const auto name = cos::take_plain_name(key_lx)) {
            key = *name;
            start = key_lx.pos;
        }
    }
    Lexer peek_lx(input, start);
    peek_lx.skip_whitespace();
    const std::size_t dict_at = peek_lx.pos;
    const std::optional<std::string_view> peeked = cos::peek_name_entry(peek_lx, key);
    if (peek_lx.pos > input.size()) __builtin_trap();
    if (!peeked) return;
    Lexer lx(input, dict_at);
    const auto dict = cos::parse_dictionary(lx);
    if (!dict) return;
    const Object* value = dict->get(key);
    if (value == nullptr || value->as_name() == nullptr || value->as_name()->text != *peeked) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    Lexer lx(ByteView(data, size));
    // Read objects until the input is used up or one fails, as callers do.
    while (!lx.at_end()) {
        const std::size_t before = lx.pos;
        auto obj = cos::parse_object(lx);
        if (!obj || lx.pos == before) break;
    }
    check_peek(ByteView(data, size));
    return 0;
}
