#include "serialize.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "image.h"
#include "layout.h"
#include "tables.h"

namespace vellox_core {

// ---------------------------------------------------------------------------
// JSON
// ---------------------------------------------------------------------------

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_indent(std::string& out, std::size_t depth) {
    out.push_back('\n');
    out.append(2 * depth, ' ');
}

void append_uint(std::string& out, std::uint64_t value) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;  // 20 digits always fit
    out.append(buf, end);
}

// The writer is a small state machine over one string: an object or array is
// opened, each entry is introduced by `next` (comma after the previous value,
// newline, indentation) and the container is closed at its own depth. Empty
// containers are written as "{}" / "[]" with nothing between the brackets.
struct JsonWriter {
    std::string& out;

    void key(std::size_t depth, bool first, std::string_view name) {
        if (!first) out.push_back(',');
        append_indent(out, depth);
        write_json_string(out, name);
        out.append(": ");
    }

    void item(std::size_t depth, bool first) {
        if (!first) out.push_back(',');
        append_indent(out, depth);
    }

    void close(std::size_t depth, char bracket) {
        append_indent(out, depth);
        out.push_back(bracket);
    }
};

void write_line(JsonWriter& w, std::size_t depth, const Line& line) {
    std::string& out = w.out;
    out.push_back('{');
    w.key(depth + 1, true, "text");
    write_json_string(out, line.text);
    w.key(depth + 1, false, "x");
    write_json_float(out, line.x);
    w.key(depth + 1, false, "y");
    write_json_float(out, line.y);
    w.close(depth, '}');
}

void write_table(JsonWriter& w, std::size_t depth, const Table& table) {
    std::string& out = w.out;
    out.push_back('{');
    w.key(depth + 1, true, "rows");
    append_uint(out, table.rows);
    w.key(depth + 1, false, "cols");
    append_uint(out, table.cols);
    w.key(depth + 1, false, "cells");
    if (table.cells.empty()) {
        out.append("[]");
    } else {
        out.push_back('[');
        bool first_row = true;
        for (const auto& row : table.cells) {
            w.item(depth + 2, first_row);
            first_row = false;
            if (row.empty()) {
                out.append("[]");
                continue;
            }
            out.push_back('[');
            bool first_cell = true;
            for (const auto& cell : row) {
                w.item(depth + 3, first_cell);
                first_cell = false;
                write_json_string(out, cell);
            }
            w.close(depth + 2, ']');
        }
        w.close(depth + 1, ']');
    }
    w.close(depth, '}');
}

void write_image(JsonWriter& w, std::size_t depth, const ParsedImage& image) {
    std::string& out = w.out;
    out.push_back('{');
    w.key(depth + 1, true, "name");
    write_json_string(out, image.name);
    w.key(depth + 1, false, "format");
    write_json_string(out, format_name(image.format));
    w.key(depth + 1, false, "width");
    append_uint(out, image.width);
    w.key(depth + 1, false, "height");
    append_uint(out, image.height);
    w.key(depth + 1, false, "bits_per_component");
    append_uint(out, image.bits_per_component);
    w.key(depth + 1, false, "color_space");
    write_json_string(out, image.color_space);
    w.close(depth, '}');
}

// An array of objects written by `write_one` at the element depth.
template <class T, class F>
void write_array(JsonWriter& w, std::size_t depth, const std::vector<T>& items, F write_one) {
    if (items.empty()) {
        w.out.append("[]");
        return;
    }
    w.out.push_back('[');
    bool first = true;
    for (const T& item : items) {
        w.item(depth + 1, first);
        first = false;
        write_one(w, depth + 1, item);
    }
    w.close(depth, ']');
}

void write_page(JsonWriter& w, std::size_t depth, const PageText& page) {
    std::string& out = w.out;
    out.push_back('{');
    w.key(depth + 1, true, "page");
    append_uint(out, page.number);
    w.key(depth + 1, false, "width");
    write_json_float(out, page.width);
    w.key(depth + 1, false, "height");
    write_json_float(out, page.height);
    w.key(depth + 1, false, "rotation");
    append_uint(out, static_cast<std::uint64_t>(page.rotation));
    w.key(depth + 1, false, "lines");
    write_array(w, depth + 1, page.lines, write_line);
    w.key(depth + 1, false, "needs_ocr");
    out.append(page.needs_ocr ? "true" : "false");
    w.key(depth + 1, false, "tables");
    write_array(w, depth + 1, page.tables, write_table);
    w.key(depth + 1, false, "images");
    write_array(w, depth + 1, page.images, write_image);
    w.close(depth, '}');
}

}  // namespace

void write_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    // Copy runs of bytes that need no escape in one append. Bytes of 0x80 and
    // above are parts of UTF-8 sequences and pass through unchanged.
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case 0x08: out.append("\\b"); break;
            case 0x09: out.append("\\t"); break;
            case 0x0A: out.append("\\n"); break;
            case 0x0C: out.append("\\f"); break;
            case 0x0D: out.append("\\r"); break;
            default: {
                const char escape[6] = {
                    '\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
                out.append(escape, sizeof escape);
            }
        }
    }
    out.append(text.data() + run, text.size() - run);
    out.push_back('"');
}

// Shortest round-trip digits come from std::to_chars in scientific form
// ("d.ddde±XX"); only their placement is ours: plain decimal notation for
// decimal exponents -5..15, scientific with an always-signed exponent beyond.
void write_json_float(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    if (value == 0) {
        out.append(std::signbit(value) ? "-0.0" : "0.0");
        return;
    }

    char sci[32];
    const auto [sci_end, ec] =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    (void)ec;  // the longest double, "-d.dddddddddddddddde-308", is 24 bytes

    bool negative = false;
    char digits[20];
    std::size_t n = 0;
    int exponent = 0;
    const char* p = sci;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    for (; p < sci_end && *p != 'e'; ++p) {
        if (*p != '.' && n < sizeof digits) digits[n++] = *p;
    }
    if (p < sci_end) {
        ++p;  // 'e'
        bool exponent_negative = false;
        if (p < sci_end && (*p == '-' || *p == '+')) {
            exponent_negative = *p == '-';
            ++p;
        }
        for (; p < sci_end; ++p) exponent = exponent * 10 + (*p - '0');
        if (exponent_negative) exponent = -exponent;
    }

    // At most: sign, "0.0000" and 17 digits; or sign, 16 integer digits and
    // ".0"; or sign, 17 digits, ".", "e-324".
    char buf[32];
    std::size_t len = 0;
    auto put = [&](char c) { buf[len++] = c; };
    auto put_digits = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) put(digits[i]);
    };

    if (negative) put('-');
    if (exponent >= 0 && exponent <= 15) {
        const auto int_digits = static_cast<std::size_t>(exponent) + 1;
        if (n <= int_digits) {
            put_digits(0, n);
            for (std::size_t i = n; i < int_digits; ++i) put('0');
            put('.');
            put('0');
        } else {
            put_digits(0, int_digits);
            put('.');
            put_digits(int_digits, n);
        }
    } else if (exponent >= -5 && exponent <= -1) {
        put('0');
        put('.');
        for (int i = 0; i < -exponent - 1; ++i) put('0');
        put_digits(0, n);
    } else {
        put(digits[0]);
        if (n > 1) {
            put('.');
            put_digits(1, n);
        }
        put('e');
        put(exponent < 0 ? '-' : '+');
        const auto [exp_end, exp_ec] =
            std::to_chars(buf + len, buf + sizeof buf, exponent < 0 ? -exponent : exponent);
        (void)exp_ec;
        len = static_cast<std::size_t>(exp_end - buf);
    }
    out.append(buf, len);
}

std::string ExtractedDoc::to_json() const {
    std::string out;
    out.reserve(128);
    JsonWriter w{out};
    out.push_back('{');
    w.key(1, true, "version");
    write_json_string(out, version);
    w.key(1, false, "pages");
    write_array(w, 1, pages, write_page);
    w.close(0, '}');
    return out;
}

// ---------------------------------------------------------------------------
// Markdown
// ---------------------------------------------------------------------------

namespace {

// "_[scanned page — text extraction requires OCR]_", the dash being U+2014.
constexpr std::string_view kOcrNotice =
    "_[scanned page \xE2\x80\x94 text extraction requires OCR]_";
constexpr std::string_view kPageSeparator = "\n\n---\n\n";
constexpr std::size_t kPageCommentSize = 24;  // "<!-- page 12345 -->\n\n"

// "| a | b |": a bar inside a cell would end the cell early, so it is escaped;
// nothing else is touched (a newline in a cell breaks the row, as written).
void append_table_row(std::string& out, const std::vector<std::string>& row) {
    out.append("| ");
    bool first = true;
    for (const std::string& cell : row) {
        if (!first) out.append(" | ");
        first = false;
        for (const char c : cell) {
            if (c == '|') out.push_back('\\');
            out.push_back(c);
        }
    }
    out.append(" |");
}

void append_separator_row(std::string& out, std::uint64_t cols) {
    out.append("| ");
    for (std::uint64_t i = 0; i < cols; ++i) {
        if (i != 0) out.append(" | ");
        out.append("---");
    }
    out.append(" |");
}

// The table's lines joined by "\n": the first row, then the separator (its
// width taken from `cols`, so a ragged first row does not change it), then
// the remaining rows. Returns false when the table has nothing to show.
bool append_table_block(std::string& out, const Table& table, bool blank_line_before) {
    const bool separator = table.rows != 0 && table.cols != 0;
    if (table.cells.empty() && !separator) return false;
    if (blank_line_before) out.append("\n\n");
    if (table.cells.empty()) {
        append_separator_row(out, table.cols);
        return true;
    }
    append_table_row(out, table.cells.front());
    if (separator) {
        out.push_back('\n');
        append_separator_row(out, table.cols);
    }
    for (std::size_t i = 1; i < table.cells.size(); ++i) {
        out.push_back('\n');
        append_table_row(out, table.cells[i]);
    }
    return true;
}

// Each page opens with "<!-- page N -->", a comment that renders as nothing
// but tells a reader (or a program splitting the text) which page follows,
// also when only some pages were extracted.
void append_page_markdown(std::string& out, const PageText& page) {
    out.append("<!-- page ");
    append_uint(out, page.number);
    out.append(" -->");
    if (page.needs_ocr) {
        out.append("\n\n");
        out.append(kOcrNotice);
        return;
    }
    // The page's text, its lines joined by newlines, written in place.
    if (!page.lines.empty()) out.append("\n\n");
    for (std::size_t i = 0; i < page.lines.size(); ++i) {
        if (i > 0) out.push_back('\n');
        out.append(page.lines[i].text);
    }
    // The comment counts as a block: a table follows it after a blank line.
    bool any_block = true;
    for (const Table& table : page.tables) {
        if (append_table_block(out, table, any_block)) any_block = true;
    }
}

}  // namespace

std::string ExtractedDoc::to_markdown() const {
    // Room for the text and the page breaks up front; tables, rarely large,
    // may still grow it.
    std::size_t size = 0;
    for (const PageText& page : pages) {
        size += kPageSeparator.size() + kPageCommentSize;
        for (const Line& line : page.lines) size += line.text.size() + 1;
    }
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i != 0) out.append(kPageSeparator);
        append_page_markdown(out, pages[i]);
    }
    return out;
}

std::string ExtractedDoc::to_text() const {
    std::string out;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i != 0) out.push_back('\f');
        out.append(pages[i].text());
    }
    return out;
}

// ---------------------------------------------------------------------------
// HTML
// ---------------------------------------------------------------------------

namespace {

constexpr std::string_view kHtmlHead =
    "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>vellox</title></head>\n<body>\n";
constexpr std::string_view kHtmlTail = "</body>\n</html>\n";

void append_escaped_html(std::string& out, std::string_view text) {
    // Runs of ordinary characters are copied whole.
    std::size_t plain = 0;  // the first character not yet written
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string_view entity;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&#39;"; break;
            default: continue;
        }
        out.append(text.substr(plain, i - plain));
        out.append(entity);
        plain = i + 1;
    }
    out.append(text.substr(plain));
}

// A page dimension in whole CSS pixels, an exact half going to the even
// neighbour (612.5 -> 612, 613.5 -> 614). Widths are differences of media box
// numbers, which a hostile file can make huge or infinite: the integral value
// is written with all its digits, and a non-finite one as "inf" or "nan".
void append_rounded(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("nan");
        return;
    }
    double rounded = value;
    if (std::isfinite(value)) {
        rounded = std::round(value);  // halves away from zero
        if (std::fabs(value - std::trunc(value)) == 0.5 && std::fmod(rounded, 2.0) != 0) {
            rounded -= std::copysign(1.0, value);
        }
        if (rounded == 0) rounded = 0;  // no "-0" for a value in (-0.5, 0]
    }
    // The largest double has 309 integral digits.
    char buf[320];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, 0);
    (void)ec;
    out.append(buf, end);
}

}  // namespace

std::string escape_html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_escaped_html(out, text);
    return out;
}

std::string ExtractedDoc::to_html() const {
    // Room for the page and line markup and the text up front; escapes and
    // tables may still grow it.
    constexpr std::size_t kPageMarkup = 80;
    constexpr std::size_t kLineMarkup = 8;  // "<p>", "</p>\n"
    std::size_t size = kHtmlHead.size() + kHtmlTail.size();
    for (const PageText& page : pages) {
        size += kPageMarkup;
        for (const Line& line : page.lines) size += line.text.size() + kLineMarkup;
    }
    std::string out;
    out.reserve(size);
    out.append(kHtmlHead);
    for (const PageText& page : pages) {
        out.append("<section class=\"page\" data-page=\"");
        append_uint(out, page.number);
        out.append("\" style=\"width:");
        append_rounded(out, page.width);
        out.append("px;height:");
        append_rounded(out, page.height);
        out.append("px\" data-rotation=\"");
        append_uint(out, static_cast<std::uint64_t>(page.rotation));
        out.append("\"");
        if (page.needs_ocr) out.append(" data-needs-ocr=\"true\"");
        out.append(">\n");
        for (const Line& line : page.lines) {
            out.append("<p>");
            append_escaped_html(out, line.text);
            out.append("</p>\n");
        }
        for (const Table& table : page.tables) {
            out.append("<table>\n");
            for (const auto& row : table.cells) {
                out.append("<tr>");
                for (const std::string& cell : row) {
                    out.append("<td>");
                    append_escaped_html(out, cell);
                    out.append("</td>");
                }
                out.append("</tr>\n");
            }
            out.append("</table>\n");
        }
        out.append("</section>\n");
    }
    out.append(kHtmlTail);
    return out;
}

}  // namespace vellox_core
