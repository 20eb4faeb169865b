// The text a document extracts, as one string to compare: each page's lines
// followed by line feeds, pages separated by form feeds.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "doc.h"

namespace vellox_test {

// A document that does not extract fails the calling test and reads as
// empty.
inline std::string page_text(const vellox_core::Document& doc) {
    auto extracted = doc.extract();
    EXPECT_TRUE(extracted.ok()) << extracted.error().to_string();
    if (!extracted) return {};
    std::string out;
    for (const vellox_core::PageText& page : extracted->pages) {
        if (&page != &extracted->pages.front()) out += '\f';
        for (const vellox_core::Line& line : page.lines) out += line.text + '\n';
    }
    return out;
}

}  // namespace vellox_test
