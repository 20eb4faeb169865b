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
    // The document's title (its information dictionary's, else its XMP
    // metadata's), empty when it has none; only the HTML form shows it.
    std::string title{};

    // Every line of every page, the table's text included: the data form.
    std::string to_json() const;
    // The reading forms follow each page's blocks: a block is a paragraph
    // (its lines joined) or a heading, a tabular block keeps its lines, and
    // the ruled table stands in place of the lines it covers.
    std::string to_markdown() const;
    std::string to_html() const;
    // Paragraphs separated by blank lines, a table's rows one a line with
    // their cells separated by tabs, pages separated by form feeds.
    std::string to_text() const;
};

std::string escape_html(std::string_view text);

// JSON pieces, shared with the Python conversion's tests.
void write_json_string(std::string& out, std::string_view text);
void write_json_float(std::string& out, double value);

}  // namespace vellox_core
