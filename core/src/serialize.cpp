#include "serialize.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
// The reading forms' page plan
// ---------------------------------------------------------------------------

namespace {

// What the Markdown, HTML and text forms write for a page, in order: its
// blocks as paragraphs (or headings), the lines of a tabular block one by
// one, and its ruled table once, where its first line was. The table's
// cells hold the text of the lines it covers, which are left out.
struct Piece {
    enum class Kind { Paragraph, Rows, Table };
    Kind kind = Kind::Paragraph;
    std::size_t begin = 0;  // lines of a paragraph or rows; the table's index
    std::size_t end = 0;
    int heading = 0;
};

// The table covering the line, or tables.size().
std::size_t covering_table(const PageText& page, const Line& line) {
    for (std::size_t t = 0; t < page.tables.size(); ++t) {
        if (table_covers(page.tables[t], line.x, line.y)) return t;
    }
    return page.tables.size();
}

std::vector<Piece> plan_page(const PageText& page) {
    std::vector<Piece> pieces;
    std::vector<bool> placed(page.tables.size(), false);
    auto add_lines = [&](const Block& block, std::size_t begin, std::size_t end) {
        if (begin == end) return;
        const Piece::Kind kind = block.table ? Piece::Kind::Rows : Piece::Kind::Paragraph;
        pieces.push_back({kind, begin, end, block.table ? 0 : block.heading});
    };
    auto visit = [&](const Block& block) {
        // Runs of lines outside the ruled table, cut where a table line is.
        std::size_t run = block.begin;
        for (std::size_t i = block.begin; i < block.end; ++i) {
            const std::size_t t = covering_table(page, page.lines[i]);
            if (t == page.tables.size()) continue;
            add_lines(block, run, i);
            run = i + 1;
            if (!placed[t]) {
                placed[t] = true;
                pieces.push_back({Piece::Kind::Table, t, t + 1, 0});
            }
        }
        add_lines(block, run, block.end);
    };
    if (page.blocks.empty()) {
        // A page made without blocks: each line is one.
        for (std::size_t i = 0; i < page.lines.size(); ++i) visit(Block{i, i + 1});
    } else {
        for (const Block& block : page.blocks) {
            if (block.begin < block.end && block.end <= page.lines.size()) visit(block);
        }
    }
    // A table that covers no line (its cells are empty, or its text lies
    // outside the page's lines) comes after them.
    for (std::size_t t = 0; t < page.tables.size(); ++t) {
        if (!placed[t]) pieces.push_back({Piece::Kind::Table, t, t + 1, 0});
    }
    return pieces;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// The code point that ends (or starts) UTF-8 text; 0 when there is none.
char32_t last_code_point(std::string_view text) {
    std::size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
    if (start == 0) return 0;
    --start;
    const auto b0 = static_cast<unsigned char>(text[start]);
    const std::size_t n = text.size() - start;
    if (b0 < 0x80) return n == 1 ? b0 : 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0 && n == 2)
        cp = b0 & 0x1F;
    else if ((b0 & 0xF0) == 0xE0 && n == 3)
        cp = b0 & 0x0F;
    else if ((b0 & 0xF8) == 0xF0 && n == 4)
        cp = b0 & 0x07;
    else
        return 0;
    for (std::size_t k = start + 1; k < text.size(); ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
    }
    return cp;
}

char32_t first_code_point(std::string_view text) {
    if (text.empty()) return 0;
    std::size_t n = 1;
    while (n < text.size() && n < 4 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
    return last_code_point(text.substr(0, n));
}

// Chinese and Japanese are written without spaces between words, so a line
// break between two of their characters is no space.
bool is_cjk(char32_t cp) {
    return (cp >= 0x2E80 && cp <= 0x30FF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
           (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFF00 && cp <= 0xFFEF) || (cp >= 0x20000 && cp <= 0x3FFFF);
}

// The lines of a paragraph as one text: trimmed, joined by a space, except
// after a line that ends in a hyphen (a word broken over the lines, or a
// compound: the hyphen is kept, since which it is cannot be told) and
// between two CJK characters.
std::string join_lines(const PageText& page, std::size_t begin, std::size_t end) {
    std::string out;
    for (std::size_t i = begin; i < end; ++i) {
        const std::string_view text = trim(page.lines[i].text);
        if (text.empty()) continue;
        if (!out.empty()) {
            const char32_t last = last_code_point(out);
            // The hyphen (ASCII or U+2010, three bytes) after a character,
            // not a dash after a space.
            const std::size_t before = out.size() - (last == '-' ? 1 : 3);
            const bool hyphen =
                (last == '-' || last == 0x2010) && before > 0 && !is_blank(out[before - 1]);
            const bool cjk = is_cjk(last) && is_cjk(first_code_point(text));
            if (!hyphen && !cjk) out.push_back(' ');
        }
        out.append(text);
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Markdown
// ---------------------------------------------------------------------------

namespace {

// "_[scanned page — text extraction requires OCR]_", the dash being U+2014.
constexpr std::string_view kOcrNotice =
    "_[scanned page \xE2\x80\x94 text extraction requires OCR]_";
constexpr std::string_view kPageSeparator = "\n\n---\n\n";
constexpr std::size_t kPageCommentSize = 24;  // "<!-- page 12345 -->\n\n"

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

// An entity or numeric character reference starts at text[i] ('&'):
// "&amp;", "&#38;", "&#x26;". CommonMark decodes those, so their '&' is
// escaped; any other '&' is text.
bool starts_reference(std::string_view text, std::size_t i) {
    std::size_t j = i + 1;
    if (j < text.size() && text[j] == '#') {
        ++j;
        const bool hex = j < text.size() && (text[j] | 0x20) == 'x';
        if (hex) ++j;
        const std::size_t digits = j;
        while (j < text.size() && (hex ? is_alnum(text[j]) : is_digit(text[j]))) ++j;
        return j > digits && j < text.size() && text[j] == ';';
    }
    const std::size_t name = j;
    while (j < text.size() && is_alnum(text[j])) ++j;
    return j > name && j < text.size() && text[j] == ';';
}

// The bytes append_inline must look at: those that may need a backslash
// and the line breaks. Every other byte, UTF-8 sequences included, is
// copied as it is.
constexpr std::array<std::uint8_t, 256> kInlineSpecial = [] {
    std::array<std::uint8_t, 256> special{};
    for (const char c : std::string_view("\\`*_[]<&|\n\r")) {
        special[static_cast<unsigned char>(c)] = 1;
    }
    return special;
}();

std::uint8_t inline_special(char c) { return kInlineSpecial[static_cast<unsigned char>(c)]; }

// Text in a paragraph, heading or cell, written so that a CommonMark
// renderer shows it as it is: the characters that open emphasis, code,
// links, raw HTML and escapes are backslash-escaped, and so is '|' where a
// table's cell or row could end (`bars`). Line breaks inside the text
// become spaces, which is how a renderer would show them.
void append_inline(std::string& out, std::string_view text, bool bars) {
    // What needs nothing is appended a stretch at a time, not a character;
    // the stretch is found four bytes a step, most text having no byte to
    // look at.
    std::size_t plain = 0;  // where the stretch not yet written starts
    const std::size_t n = text.size();
    for (std::size_t i = 0;; ++i) {
        while (n - i >= 4 && (inline_special(text[i]) | inline_special(text[i + 1]) |
                              inline_special(text[i + 2]) | inline_special(text[i + 3])) == 0) {
            i += 4;
        }
        while (i < n && inline_special(text[i]) == 0) ++i;
        if (i == n) break;
        const char c = text[i];
        bool escape = false;
        switch (c) {
            case '&': escape = starts_reference(text, i); break;
            case '|': escape = bars; break;
            case '\n':
            case '\r':
                out.append(text.substr(plain, i - plain));
                out.push_back(' ');
                plain = i + 1;
                continue;
            default: escape = true; break;  // \\ ` * _ [ ] <
        }
        if (!escape) continue;
        // The backslash, then the character itself with the next stretch.
        out.append(text.substr(plain, i - plain));
        out.push_back('\\');
        plain = i;
    }
    out.append(text.substr(plain));
}

// The same at the start of a line of Markdown source, where more is block
// syntax: an ATX heading ("# 3 Results"), a block quote, a bullet ("- x",
// "+ x", "* x") or ordered ("1. Introduction", "2) b") list item, a
// thematic break or setext underline ("---", "==="), a tilde fence. `text`
// is trimmed, so it never starts with the indent of a code block.
void append_line_start(std::string& out, std::string_view text, bool bars) {
    if (text.empty()) return;
    const auto only = [&](char mark) {
        return text.find_first_not_of(std::string{mark, ' ', '\t'}) == std::string_view::npos;
    };
    const auto ends_marker = [&](std::size_t i) { return i == text.size() || is_blank(text[i]); };
    const char c = text[0];
    std::size_t escape_at = text.size();  // the character to escape, if any
    if (c == '#') {
        std::size_t n = 1;
        while (n < text.size() && text[n] == '#') ++n;
        if (n <= 6 && ends_marker(n)) escape_at = 0;
    } else if (c == '>') {
        escape_at = 0;
    } else if (c == '-' || c == '+') {
        if (ends_marker(1) || (c == '-' && only('-'))) escape_at = 0;
    } else if (c == '=') {
        if (only('=')) escape_at = 0;
    } else if (c == '~') {
        if (text.starts_with("~~~")) escape_at = 0;
    } else if (is_digit(c)) {
        std::size_t n = 1;
        while (n < text.size() && is_digit(text[n])) ++n;
        if (n <= 9 && n < text.size() && (text[n] == '.' || text[n] == ')') && ends_marker(n + 1)) {
            escape_at = n;
        }
    }
    if (escape_at == text.size()) {
        append_inline(out, text, bars);
        return;
    }
    append_inline(out, text.substr(0, escape_at), bars);
    out.push_back('\\');
    append_inline(out, text.substr(escape_at), bars);
}

// "## Heading": inline text, except that a closing run of '#' (one after a
// space, which CommonMark takes for the optional closing sequence) is kept
// by escaping its first '#'.
void append_heading_markdown(std::string& out, int level, std::string_view text) {
    out.append(static_cast<std::size_t>(level), '#');
    out.push_back(' ');
    std::size_t run = text.size();
    while (run > 0 && text[run - 1] == '#') --run;
    if (run < text.size() && (run == 0 || is_blank(text[run - 1]))) {
        append_inline(out, text.substr(0, run), false);
        out.push_back('\\');
        append_inline(out, text.substr(run), false);
    } else {
        append_inline(out, text, false);
    }
}

// "| a | b |": cell texts as inline text, with their bars escaped.
void append_table_row(std::string& out, const std::vector<std::string>& row) {
    out.append("| ");
    bool first = true;
    for (const std::string& cell : row) {
        if (!first) out.append(" | ");
        first = false;
        append_inline(out, trim(cell), true);
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
bool append_table_markdown(std::string& out, const Table& table) {
    const bool separator = table.rows != 0 && table.cols != 0;
    if (table.cells.empty() && !separator) return false;
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

// Each page opens with "<!-- page N -->": CommonMark renders an HTML
// comment as nothing, yet it tells a reader (or a program splitting the
// text) which page follows, also when only some pages were extracted. Then
// the page's pieces, each a Markdown block, separated by blank lines.
void append_page_markdown(std::string& out, const PageText& page) {
    out.append("<!-- page ");
    append_uint(out, page.number);
    out.append(" -->");
    if (page.needs_ocr) {
        out.append("\n\n");
        out.append(kOcrNotice);
        return;
    }
    for (const Piece& piece : plan_page(page)) {
        const std::size_t mark = out.size();
        out.append("\n\n");
        const std::size_t start = out.size();
        switch (piece.kind) {
            case Piece::Kind::Paragraph: {
                const std::string text = join_lines(page, piece.begin, piece.end);
                if (piece.heading > 0) {
                    if (!text.empty()) append_heading_markdown(out, piece.heading, text);
                } else {
                    append_line_start(out, text, false);
                }
                break;
            }
            case Piece::Kind::Rows:
                // One line of the source a row, ended by a hard line break
                // (a backslash before the newline).
                for (std::size_t i = piece.begin; i < piece.end; ++i) {
                    const std::string_view text = trim(page.lines[i].text);
                    if (text.empty()) continue;
                    if (out.size() != start) out.append("\\\n");
                    append_line_start(out, text, true);
                }
                break;
            case Piece::Kind::Table: append_table_markdown(out, page.tables[piece.begin]); break;
        }
        if (out.size() == start) out.resize(mark);  // nothing to show
    }
}

}  // namespace

std::string ExtractedDoc::to_markdown() const {
    // Room for the text and the page breaks up front; escapes and tables may
    // still grow it.
    std::size_t size = 0;
    for (const PageText& page : pages) {
        size += kPageSeparator.size() + kPageCommentSize;
        for (const Line& line : page.lines) size += line.text.size() + 2;
    }
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i != 0) out.append(kPageSeparator);
        append_page_markdown(out, pages[i]);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

namespace {

// Text as it is, except that a form feed, which separates pages here, is a
// space (unreadablemetadata.pdf has them inside its lines).
void append_plain(std::string& out, std::string_view text) {
    const std::size_t start = out.size();
    out.append(text);
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '\f', ' ');
}

// A paragraph (or heading) a line, a blank line between pieces, the lines
// of a tabular block one a line, a table's rows one a line with their cells
// separated by tabs.
void append_page_text(std::string& out, const PageText& page) {
    const std::size_t page_start = out.size();
    for (const Piece& piece : plan_page(page)) {
        const std::size_t mark = out.size();
        if (out.size() != page_start) out.append("\n\n");
        const std::size_t start = out.size();
        switch (piece.kind) {
            case Piece::Kind::Paragraph:
                append_plain(out, join_lines(page, piece.begin, piece.end));
                break;
            case Piece::Kind::Rows:
                for (std::size_t i = piece.begin; i < piece.end; ++i) {
                    const std::string_view text = trim(page.lines[i].text);
                    if (text.empty()) continue;
                    if (out.size() != start) out.push_back('\n');
                    append_plain(out, text);
                }
                break;
            case Piece::Kind::Table: {
                bool first_row = true;
                for (const auto& row : page.tables[piece.begin].cells) {
                    if (!first_row) out.push_back('\n');
                    first_row = false;
                    bool first_cell = true;
                    for (const std::string& cell : row) {
                        if (!first_cell) out.push_back('\t');
                        first_cell = false;
                        append_plain(out, trim(cell));
                    }
                }
                break;
            }
        }
        // Nothing to show: no blank line for it either.
        if (trim(std::string_view(out).substr(start)).find_first_not_of("\t\n") ==
            std::string_view::npos) {
            out.resize(mark);
        }
    }
}

}  // namespace

std::string ExtractedDoc::to_text() const {
    std::string out;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i != 0) out.push_back('\f');
        append_page_text(out, pages[i]);
    }
    return out;
}

// ---------------------------------------------------------------------------
// HTML
// ---------------------------------------------------------------------------

namespace {

// Each page is a section as wide as the displayed page and at least as
// tall; it grows with its text, so pages never overlap. Long words and wide
// tables wrap inside it rather than spill out.
constexpr std::string_view kHtmlStyle =
    "<style>\n"
    "section.page{box-sizing:border-box;margin:0 auto 16px;padding:24px;"
    "border:1px solid #ccc;overflow-wrap:anywhere}\n"
    "section.page table{border-collapse:collapse;table-layout:fixed;width:100%}\n"
    "section.page td{border:1px solid #999;padding:2px 4px;vertical-align:top}\n"
    "</style>\n";
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
// is written with all its digits, and a non-finite one as "inf" or "nan"
// (which a browser ignores, leaving the section its natural size).
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

void append_table_html(std::string& out, const Table& table) {
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

void append_page_html(std::string& out, const PageText& page) {
    // The section has the size of the page as displayed: turned a quarter,
    // its width is the media box's height.
    const bool turned = page.rotation == 90 || page.rotation == 270;
    out.append("<section class=\"page\" id=\"page-");
    append_uint(out, page.number);
    out.append("\" data-page=\"");
    append_uint(out, page.number);
    out.append("\" data-rotation=\"");
    append_uint(out, static_cast<std::uint64_t>(page.rotation));
    out.append("\"");
    if (page.needs_ocr) out.append(" data-needs-ocr=\"true\"");
    out.append(" style=\"width:");
    append_rounded(out, turned ? page.height : page.width);
    out.append("px;min-height:");
    append_rounded(out, turned ? page.width : page.height);
    out.append("px\">\n");
    for (const Piece& piece : plan_page(page)) {
        switch (piece.kind) {
            case Piece::Kind::Paragraph: {
                const std::string text = join_lines(page, piece.begin, piece.end);
                if (text.empty()) break;
                const char level = static_cast<char>('0' + piece.heading);
                out.append(piece.heading > 0 ? std::string{'<', 'h', level, '>'} : "<p>");
                append_escaped_html(out, text);
                out.append(piece.heading > 0 ? std::string{'<', '/', 'h', level, '>', '\n'}
                                             : "</p>\n");
                break;
            }
            case Piece::Kind::Rows: {
                const std::size_t mark = out.size();
                out.append("<p>");
                const std::size_t start = out.size();
                for (std::size_t i = piece.begin; i < piece.end; ++i) {
                    const std::string_view text = trim(page.lines[i].text);
                    if (text.empty()) continue;
                    if (out.size() != start) out.append("<br>\n");
                    append_escaped_html(out, text);
                }
                if (out.size() == start)
                    out.resize(mark);
                else
                    out.append("</p>\n");
                break;
            }
            case Piece::Kind::Table: append_table_html(out, page.tables[piece.begin]); break;
        }
    }
    out.append("</section>\n");
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
    constexpr std::size_t kHead = 128;
    constexpr std::size_t kPageMarkup = 128;
    constexpr std::size_t kLineMarkup = 8;  // "<p>", "</p>\n"
    std::size_t size = kHead + kHtmlStyle.size() + title.size() + kHtmlTail.size();
    for (const PageText& page : pages) {
        size += kPageMarkup;
        for (const Line& line : page.lines) size += line.text.size() + kLineMarkup;
    }
    std::string out;
    out.reserve(size);
    out.append("<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>");
    append_escaped_html(out, title.empty() ? std::string_view("vellox") : title);
    out.append("</title>\n");
    out.append(kHtmlStyle);
    out.append("</head>\n<body>\n");
    for (const PageText& page : pages) append_page_html(out, page);
    out.append(kHtmlTail);
    return out;
}

}  // namespace vellox_core
