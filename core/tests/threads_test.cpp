// The core shares nothing between calls: the whole extraction (open,
// extract, every output form, page selection, document information) runs
// on several threads at once over the same input bytes, each thread taking
// the files in its own order, and every thread's output is the
// single-threaded run's, byte for byte. Built with -DVELLOX_TSAN=ON (clang's
// ThreadSanitizer; scripts/test does so) a data race anywhere in the core
// fails the run even where the outputs happen to agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <latch>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "doc.h"
#include "docinfo.h"
#include "support/read_file.h"

using namespace vellox_core;
using vellox_test::read_file;

namespace {

namespace fs = std::filesystem;

// More threads than this machine's cores, so that the scheduler interleaves
// them at arbitrary points as well as running them side by side.
constexpr unsigned kThreads = 4;

struct Input {
    std::string name;  // for messages: the path below its folder
    std::string data;
    std::string password;
};

// The password a corpus README's "password" cell gives for opening a file,
// read as bench/corpus.py reads it: "foo", "asdfzxcv (user)", "user foo,
// owner bar", or "empty user password; owner asdfzxcv" (opens without one).
std::string readme_password(std::string_view cell) {
    while (!cell.empty() && cell.front() == ' ') cell.remove_prefix(1);
    while (!cell.empty() && cell.back() == ' ') cell.remove_suffix(1);
    if (cell.empty() || cell.starts_with("empty user password")) return {};
    if (cell.starts_with("user ")) {
        const std::string_view rest = cell.substr(5);
        const std::size_t comma = rest.find(',');
        if (comma != std::string_view::npos) return std::string(rest.substr(0, comma));
    }
    return std::string(cell.substr(0, cell.find(' ')));
}

// The cells of a Markdown table row "| a | b |", untrimmed.
std::vector<std::string> row_cells(const std::string& line) {
    std::vector<std::string> cells;
    std::string_view rest(line);
    rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '|') rest.remove_suffix(1);
    while (true) {
        const std::size_t bar = rest.find('|');
        cells.emplace_back(rest.substr(0, bar));
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 1);
    }
    for (std::string& c : cells) {
        c.erase(0, c.find_first_not_of(' '));
        c.erase(c.find_last_not_of(' ') + 1);
    }
    return cells;
}

// Every PDF of a corpus folder, with the password its README's table gives.
std::vector<Input> corpus_inputs(const fs::path& folder) {
    std::vector<std::string> header;
    std::vector<std::pair<std::string, std::string>> passwords;
    std::istringstream readme(read_file(folder / "README.md"));
    std::string line;
    while (std::getline(readme, line)) {
        if (line.empty() || line[0] != '|') continue;
        std::vector<std::string> cells = row_cells(line);
        const auto password_column = std::find(cells.begin(), cells.end(), "password");
        // The header row; a file whose password is the word "password"
        // (pypdf-resources' crazyones-encrypted-256.pdf) is not one.
        if (cells[0] == "file" && password_column != cells.end()) {
            header = cells;
            continue;
        }
        if (header.empty() || cells.size() != header.size() || !cells[0].ends_with(".pdf")) {
            continue;
        }
        const auto column = std::find(header.begin(), header.end(), "password") - header.begin();
        passwords.emplace_back(cells[0], readme_password(cells[static_cast<std::size_t>(column)]));
    }
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".pdf") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Input> inputs;
    for (const fs::path& path : paths) {
        Input in{folder.filename().string() + "/" + path.filename().string(), read_file(path), {}};
        for (const auto& [name, password] : passwords) {
            if (name == path.filename()) in.password = password;
        }
        inputs.push_back(std::move(in));
    }
    return inputs;
}

// The committed PDFs: the example, and the fixtures made by real producers
// (their encrypted ones with the user password their make scripts gave).
std::vector<Input> fixture_inputs() {
    const fs::path source(VELLOX_SOURCE_DIR);
    const fs::path fixtures = source / "core/tests/fixtures";
    // crypt/*.pdf say their password in the .txt beside them ("user_pw X").
    const std::pair<const char*, const char*> folder_passwords[] = {
        {"repair", "user"},        // fixtures/repair/make.sh
        {"filestruct", "userpw"},  // fixtures/filestruct/make_fixtures.py
    };
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(fixtures)) {
        if (entry.path().extension() == ".pdf") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    paths.insert(paths.begin(), source / "examples/sample.pdf");
    std::vector<Input> inputs;
    for (const fs::path& path : paths) {
        Input in{fs::relative(path, source).string(), read_file(path), {}};
        const std::string folder = path.parent_path().filename().string();
        for (const auto& [name, password] : folder_passwords) {
            if (folder == name) in.password = password;
        }
        fs::path sidecar = path;
        sidecar.replace_extension(".txt");
        if (folder == "crypt" && fs::exists(sidecar)) {
            std::istringstream lines(read_file(sidecar));
            std::string key;
            while (lines >> key) {
                if (key == "user_pw") {
                    std::getline(lines, in.password);
                    in.password.erase(0, in.password.find_first_not_of(' '));
                    break;
                }
            }
        }
        inputs.push_back(std::move(in));
    }
    return inputs;
}

void append_optional(std::string& out, const char* key, const std::optional<std::string>& v) {
    out += key;
    out += v ? "=" + *v : " absent";
    out += '\n';
}

// Everything the library can say about one file, as one string: the error
// of opening it, or the document in every output form (JSON from the full
// extraction, Markdown, HTML and text from the one that only notes images),
// the last and first pages asked for in that order, and its document
// information. Errors are part of the output.
std::string everything(const Input& in) {
    auto doc = Document::parse_with_password(as_bytes(in.data), as_bytes(in.password));
    if (!doc) return "open: " + doc.error().to_string();
    std::string out = "version " + doc->version + "\n";
    if (auto full = doc->extract({.images = ImageDetail::Full})) {
        out += full->to_json();
    } else {
        out += "extract: " + full.error().to_string();
    }
    if (auto text = doc->extract({.images = ImageDetail::PresenceOnly})) {
        out += text->to_markdown();
        out += text->to_html();
        out += text->to_text();
    } else {
        out += "extract text: " + text.error().to_string();
    }
    if (auto pages = doc->pages(); pages && !pages->empty()) {
        const std::size_t chosen[] = {pages->size() - 1, 0};
        if (auto two = doc->extract_pages(*pages, chosen, {.images = ImageDetail::Full})) {
            out += two->to_json();
        } else {
            out += "extract pages: " + two.error().to_string();
        }
    } else {
        out += pages ? "no pages\n" : "pages: " + pages.error().to_string();
    }
    if (auto info = read_doc_info(*doc)) {
        append_optional(out, "encryption", info->encryption);
        append_optional(out, "title", info->title);
        append_optional(out, "author", info->author);
        append_optional(out, "producer", info->producer);
        append_optional(out, "created", info->created);
        append_optional(out, "modified", info->modified);
        out += std::to_string(info->pages.size()) + " pages, outline:\n";
        for (const OutlineEntry& entry : info->outline) {
            out += std::to_string(entry.level) + " " + entry.title + " -> " +
                   (entry.page ? std::to_string(*entry.page) : "nowhere") + "\n";
        }
    } else {
        out += "info: " + info.error().to_string();
    }
    return out;
}

// Where two outputs first differ, for the failure message.
std::string first_difference(const std::string& want, const std::string& got) {
    const auto [w, g] = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
    const std::size_t at = static_cast<std::size_t>(w - want.begin());
    return "at byte " + std::to_string(at) + " of " + std::to_string(want.size()) + " (got " +
           std::to_string(got.size()) + "): want \"" + want.substr(at, 40) + "\", got \"" +
           got.substr(at, 40) + "\"";
}

// Runs everything() over `inputs` once on this thread, then on kThreads
// threads at once, each in its own order, and compares.
void expect_same_on_every_thread(const std::vector<Input>& inputs) {
    ASSERT_FALSE(inputs.empty());
    std::vector<std::string> reference;
    reference.reserve(inputs.size());
    for (const Input& in : inputs) reference.push_back(everything(in));

    // Per thread: the files whose output differed, and how.
    std::vector<std::vector<std::string>> mismatches(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::size_t> order(inputs.size());
            std::iota(order.begin(), order.end(), std::size_t{0});
            if (t % 2 == 1) std::reverse(order.begin(), order.end());
            if (t >= 2) std::shuffle(order.begin(), order.end(), std::mt19937(t));
            start.arrive_and_wait();
            for (const std::size_t i : order) {
                const std::string got = everything(inputs[i]);
                if (got != reference[i]) {
                    mismatches[t].push_back(inputs[i].name + ": " +
                                            first_difference(reference[i], got));
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (unsigned t = 0; t < kThreads; ++t) {
        for (const std::string& m : mismatches[t]) ADD_FAILURE() << "thread " << t << ", " << m;
    }
}

}  // namespace

TEST(Threads, CommittedFilesGiveTheSameOutputOnEveryThread) {
    const std::vector<Input> inputs = fixture_inputs();
    // Every committed file opens with the password given above; a file
    // that did not would test only the error path.
    for (const Input& in : inputs) {
        SCOPED_TRACE(in.name);
        auto doc = Document::parse_with_password(as_bytes(in.data), as_bytes(in.password));
        EXPECT_TRUE(doc.ok()) << doc.error().to_string();
    }
    expect_same_on_every_thread(inputs);
}

TEST(Threads, CorporaGiveTheSameOutputOnEveryThread) {
    const fs::path corpora = fs::path(VELLOX_SOURCE_DIR) / ".." / "shared" / "corpus";
    const char* const folders[] = {"sample-files", "pypdf-resources", "pdfminer-samples"};
    std::vector<Input> inputs;
    for (const char* folder : folders) {
        if (!fs::is_directory(corpora / folder)) {
            GTEST_SKIP() << "corpus part skipped: no " << (corpora / folder).string()
                         << " (the shared corpora are not beside this repository)";
        }
        for (Input& in : corpus_inputs(corpora / folder)) inputs.push_back(std::move(in));
    }
    // The README passwords must open the encrypted files, or those would
    // test only the error path.
    std::size_t opened = 0;
    for (const Input& in : inputs) {
        if (Document::parse_with_password(as_bytes(in.data), as_bytes(in.password))) ++opened;
    }
    EXPECT_GE(opened * 10, inputs.size() * 9) << opened << " of " << inputs.size() << " opened";
    expect_same_on_every_thread(inputs);
}
