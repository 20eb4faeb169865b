// UTF-8 helpers shared by every module that turns file bytes into text.
#pragma once

#include <string>

#include "object.h"

namespace vellox_core {

// Appends the UTF-8 encoding of a Unicode scalar value. Callers pass only
// scalar values (at most 0x10FFFF, not a surrogate).
void append_utf8(std::string& out, char32_t cp);

// True for a Unicode scalar value: at most 0x10FFFF and not a surrogate.
inline bool is_scalar_value(std::uint32_t cp) {
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

bool is_valid_utf8(ByteView bytes);

// Converts bytes to UTF-8 text, replacing every invalid sequence with U+FFFD
// (one replacement per maximal invalid subpart, as the Unicode standard
// recommends and as common lossy decoders do).
std::string lossy_utf8(ByteView bytes);

// A PDF text string (form field values, annotation contents): UTF-16BE
// after a byte-order mark, UTF-8 after its mark, else PDFDocEncoding.
// Bytes and units with no character become U+FFFD.
std::string text_string(ByteView bytes);

}  // namespace vellox_core
