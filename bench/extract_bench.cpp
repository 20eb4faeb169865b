// Runs the Markdown extraction over PDF files, as the Python
// parse_to_markdown does, for profiling the core without the interpreter:
//
//   valgrind --tool=callgrind extract_bench FILE.pdf ... [--password FILE=PW]
//   extract_bench --repeat 20 FILE.pdf ...
//
// Prints the total Markdown size so the work cannot be optimised away.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "doc.h"

int main(int argc, char** argv) {
    std::vector<std::string> files;
    std::map<std::string, std::string> passwords;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
        } else if (arg == "--password" && i + 1 < argc) {
            std::string item = argv[++i];
            auto eq = item.find('=');
            if (eq != std::string::npos) passwords[item.substr(0, eq)] = item.substr(eq + 1);
        } else {
            files.push_back(arg);
        }
    }
    std::size_t total = 0;
    int failed = 0;
    for (int r = 0; r < repeat; ++r) {
        for (const auto& path : files) {
            std::ifstream f(path, std::ios::binary | std::ios::ate);
            if (!f) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 2;
            }
            std::string data(static_cast<std::size_t>(f.tellg()), '\0');
            f.seekg(0);
            f.read(data.data(), static_cast<std::streamsize>(data.size()));
            std::string name = path.substr(path.find_last_of('/') + 1);
            std::string pw = passwords.count(name) ? passwords[name] : "";
            auto doc = vellox_core::Document::parse_with_password(vellox_core::as_bytes(data),
                                                                  vellox_core::as_bytes(pw));
            if (!doc) {
                ++failed;
                continue;
            }
            // As parse_to_markdown does: images only as far as needs_ocr.
            auto extracted = doc->extract({.images = vellox_core::ImageDetail::PresenceOnly});
            if (!extracted) {
                ++failed;
                continue;
            }
            total += extracted->to_markdown().size();
        }
    }
    std::printf("%zu bytes of Markdown, %d failures\n", total, failed);
    return 0;
}
