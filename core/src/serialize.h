// The extraction result and its JSON, Markdown and HTML forms.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "layout.h"

namespace vellox_core {

struct ExtractedDoc {
    std::string version;
    std::vector<PageText> pages;

    std::string to_json() const;
    std::string to_markdown() const;
    std::string to_html() const;
    // Each page's lines joined by line feeds, pages separated by form feeds.
    std::string to_text() const;
};

std::string escape_html(std::string_view text);

// JSON pieces, shared with the Python conversion's tests.
void write_json_string(std::string& out, std::string_view text);
void write_json_float(std::string& out, double value);

}  // namespace vellox_core
