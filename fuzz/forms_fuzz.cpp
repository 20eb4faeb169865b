// The reading forms over pages made straight from the input bytes: line
// texts drawn from the characters Markdown and HTML treat specially (and
// form feeds, CJK, stray UTF-8 bytes), font sizes, positions and boxes of
// any bit pattern (NaN, infinities, huge values), blocks with any table
// flag, and a table with any box, so that heading detection and the three
// forms meet every combination. Checks what must hold whatever the input:
// every block keeps its lines and a level of 0 to 3, the text form has one
// form feed between pages and no other, and each page is one HTML section
// and one Markdown page comment.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "headings.h"
#include "layout.h"
#include "serialize.h"
#include "tables.h"

namespace {

struct Reader {
    const std::uint8_t* p;
    const std::uint8_t* end;

    std::uint8_t byte() { return p < end ? *p++ : 0; }

    // Eight bytes read as a double, whatever their bits; or, when the
    // first byte is below 0xC0, a plain size or position of 0 to 1000.
    double number() {
        const std::uint8_t kind = byte();
        if (kind < 0xC0) return static_cast<double>(byte()) * 4 + kind % 4;
        std::uint8_t bytes[8] = {};
        for (std::uint8_t& b : bytes) b = byte();
        double v = 0;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }
};

constexpr std::string_view kPieces[] = {
    "#",
    "# ",
    ">",
    "- ",
    "+ ",
    "* ",
    "1. ",
    "2) ",
    "=",
    "~~~",
    "```",
    "    ",
    "*",
    "_",
    "`",
    "[",
    "]",
    "<",
    "\\",
    "&",
    "&amp;",
    "&#1;",
    "|",
    "\n",
    "\f",
    "\r",
    "-",
    ".",
    "...",
    "\t",
    " ",
    "Ab",
    "Title ",
    "x",
    "7",
    "\xE6\x97\xA5",
    "\xE2\x80\x90",
    "\xFF",
    "\xC3",
    "\x00",
};

std::string text(Reader& in) {
    std::string out;
    const std::size_t n = in.byte() % 8;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t k = in.byte();
        out.append(kPieces[k % (sizeof kPieces / sizeof kPieces[0])]);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellox_core;
    Reader in{data, data + size};
    std::vector<PageText> pages(1 + in.byte() % 3);
    for (std::size_t p = 0; p < pages.size(); ++p) {
        PageText& page = pages[p];
        page.number = 1 + in.byte() % 3;  // pages may repeat, as pages=[0, 0] does
        page.width = in.number();
        page.height = in.number();
        page.rotation = (in.byte() % 4) * 90;
        const std::size_t lines = in.byte() % 24;
        for (std::size_t i = 0; i < lines && in.p < in.end; ++i) {
            const std::uint8_t flags = in.byte();
            Line line;
            line.text = text(in);
            line.x = in.number();
            line.y = in.number();
            line.font_size = in.number();
            line.box = {line.x, line.y - line.font_size / 4, line.x + in.number(),
                        line.y + line.font_size};
            if (flags & 1) line.direction = {0, 1};
            if (page.blocks.empty() || (flags & 2)) {
                page.blocks.push_back({i, i + 1, (flags & 4) != 0});
            } else {
                page.blocks.back().end = i + 1;
            }
            page.lines.push_back(std::move(line));
        }
        if (in.byte() & 1) {
            Table table;
            table.rows = in.byte() % 3;
            table.cols = in.byte() % 3;
            table.cells.assign(table.rows, std::vector<std::string>(table.cols));
            for (auto& row : table.cells) {
                for (auto& cell : row) cell = text(in);
            }
            table.box = {in.number(), in.number(), in.number(), in.number()};
            page.tables.push_back(std::move(table));
        }
        page.needs_ocr = page.lines.empty() && (in.byte() & 1);
    }

    std::vector<std::size_t> line_counts;
    for (const PageText& page : pages) line_counts.push_back(page.lines.size());
    mark_headings(pages);
    for (std::size_t p = 0; p < pages.size(); ++p) {
        std::size_t next = 0;
        for (const Block& block : pages[p].blocks) {
            if (block.begin != next || block.end <= block.begin) std::abort();
            if (block.heading < 0 || block.heading > kHeadingLevels) std::abort();
            next = block.end;
        }
        if (next != line_counts[p]) std::abort();
    }

    ExtractedDoc doc{"1.7", pages, text(in)};
    const std::string text_form = doc.to_text();
    std::size_t feeds = 0;
    for (const char c : text_form) feeds += c == '\f';
    if (feeds != pages.size() - 1) std::abort();
    const std::string html = doc.to_html();
    std::size_t sections = 0;
    for (std::size_t at = html.find("<section "); at != std::string::npos;
         at = html.find("<section ", at + 1)) {
        ++sections;
    }
    if (sections != pages.size()) std::abort();
    const std::string markdown = doc.to_markdown();
    std::size_t comments = 0;
    for (std::size_t at = markdown.find("<!-- page "); at != std::string::npos;
         at = markdown.find("<!-- page ", at + 1)) {
        // Text cannot start a line with a comment: its '<' is escaped.
        comments += at == 0 || markdown[at - 1] == '\n';
    }
    if (comments != pages.size()) std::abort();
    return 0;
}
