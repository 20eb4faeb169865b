// Where the Markdown extraction spends its time: the pipeline run over PDF
// files up to a given stage, each stage including the ones before it.
//
//   stages_bench [--repeat N] [--password FILE=PW] FILE.pdf ...
//
// Stages:
// - "open+decode" opens the file, walks the page tree and decodes every
//   page's content;
// - "lex only" adds a pass of the lexer over the content that keeps nothing
//   (the least any reading of the operators can cost with this lexer);
// - "operations" reads the operations instead, acting on none;
// - "fonts" adds loading each page's fonts (their encodings, ToUnicode and
//   CID maps, widths, and the embedded font programs they need);
// - "page text" interprets the page's own content with those fonts: the
//   text state machine and the rules, without forms or annotations. The
//   interpreter reads the operations as it acts on them, so this stage
//   reads them a second time: the interpretation alone is what it adds
//   over "fonts", less the reading that "operations" adds;
// - "drawing" is the whole interpretation instead (decoding, parsing and
//   fonts included): the page's content, the form XObjects and annotation
//   appearances it draws, and the removal of overprinted text;
// - "lines" groups the runs into lines, "tables" finds the ruled tables,
//   "ordering" puts the lines in reading order, "headings" marks the
//   headings over the whole document;
// - "markdown" is the whole extraction as parse_to_markdown runs it.
// Prints the best time of N passes per stage; the difference between two
// stages is what the later one adds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bounds.h"
#include "content.h"
#include "doc.h"
#include "font.h"
#include "headings.h"
#include "layout.h"
#include "lex.h"
#include "page.h"
#include "pagetree.h"
#include "reading_order.h"
#include "tables.h"
#include "text.h"

namespace {

using namespace vellox_core;

enum Stage {
    OpenDecode,
    LexOnly,
    Operations,
    Fonts,
    OwnContent,
    Drawing,
    Lines,
    Tables,
    Ordering,
    Headings,
    Markdown,
    kStages
};
const char* const kStageNames[kStages] = {"open+decode", "lex only", "operations", "fonts",
                                          "page text",   "drawing",  "lines",      "tables",
                                          "ordering",    "headings", "markdown"};

struct Input {
    std::string name;
    std::string data;
    std::string password;
};

// Runs one pass over every input up to `stage`; returns a number that
// depends on all the work, so that none of it can be left out.
std::size_t run(const std::vector<Input>& inputs, Stage stage) {
    std::size_t sink = 0;
    for (const Input& input : inputs) {
        auto doc = Document::parse_with_password(as_bytes(input.data), as_bytes(input.password));
        if (!doc) continue;
        if (stage == Markdown) {
            auto extracted = doc->extract({.images = ImageDetail::PresenceOnly});
            if (extracted) sink += extracted->to_markdown().size();
            continue;
        }
        auto pages = doc->pages();
        if (!pages) continue;
        FontCache cache;
        LayoutScratch layout_scratch;  // as the extraction keeps one for the document
        std::vector<PageText> texts;
        for (const Page& page : *pages) {
            if (stage >= Drawing) {
                auto drawing = interpret_page(doc->resolver, page, cache);
                if (!drawing) break;
                sink += drawing->runs.size();
                if (stage < Lines) continue;
                std::vector<LinePiece> pieces;
                PageText text = layout_page(drawing->runs, page.media_box, page.rotate, &pieces,
                                            &layout_scratch);
                sink += text.lines.size();
                if (stage < Tables) continue;
                text.tables = detect_tables(drawing->rules, drawing->runs, page.rotate);
                sink += text.tables.size();
                if (stage < Ordering) continue;
                std::vector<Rect> boxes;
                for (const Table& table : text.tables) boxes.push_back(table.box);
                order_page(text, pieces, boxes, ReadingOrder::Columns);
                sink += text.blocks.size();
                texts.push_back(std::move(text));
                continue;
            }
            auto content = page_content(doc->resolver, page);
            if (!content) break;
            sink += content->size();
            if (stage == LexOnly) {
                Lexer lexer(*content);
                while (true) {
                    lexer.skip_whitespace();
                    if (lexer.at_end()) break;
                    if (!lexer.read_keyword()) ++lexer.pos;
                    ++sink;
                }
            }
            if (stage < Operations) continue;
            std::size_t objects = limits::kMaxContentObjects;
            ContentReader ops(*content, objects);
            while (ops.next() != nullptr) ++sink;
            if (stage < Fonts) continue;
            const std::shared_ptr<const FontMap> fonts =
                load_fonts(doc->resolver, page.resources, cache);
            sink += fonts->size();
            if (stage < OwnContent) continue;
            sink += interpret_content(*content, *fonts).runs.size();
        }
        if (stage >= Headings) {
            mark_headings(texts);
            for (const PageText& text : texts) sink += text.lines.size();
        }
    }
    return sink;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Input> inputs;
    std::map<std::string, std::string> passwords;
    int repeat = 10;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--password" && i + 1 < argc) {
            const std::string item = argv[++i];
            const auto eq = item.find('=');
            if (eq != std::string::npos) passwords[item.substr(0, eq)] = item.substr(eq + 1);
        } else {
            paths.push_back(arg);
        }
    }
    for (const std::string& path : paths) {
        std::ifstream f(path, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        Input input;
        input.name = path.substr(path.find_last_of('/') + 1);
        input.data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        const auto pw = passwords.find(input.name);
        if (pw != passwords.end()) input.password = pw->second;
        inputs.push_back(std::move(input));
    }
    // One untimed pass of the whole extraction first: the allocator settles
    // its thresholds and heap on the first large blocks, which would
    // otherwise be charged to whichever stage ran first.
    run(inputs, Markdown);
    std::printf("%-12s %10s\n", "stage", "ms/pass");
    for (int s = 0; s < kStages; ++s) {
        double best = 1e300;
        std::size_t sink = 0;
        for (int r = 0; r < repeat; ++r) {
            const auto start = std::chrono::steady_clock::now();
            sink += run(inputs, static_cast<Stage>(s));
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count());
        }
        std::printf("%-12s %10.2f   (%zu)\n", kStageNames[s], best * 1000, sink);
    }
    return 0;
}
