// Small helpers for tests that parse objects from text.
#pragma once

#include <string>
#include <string_view>

#include "cos.h"
#include "lex.h"

namespace vellox_test {

inline vellox_core::Result<vellox_core::Object> parse(std::string_view text) {
    vellox_core::Lexer lx(vellox_core::as_bytes(text));
    return vellox_core::cos::parse_object(lx);
}

inline vellox_core::Bytes bytes(std::string_view text) {
    return vellox_core::Bytes(text.begin(), text.end());
}

}  // namespace vellox_test
