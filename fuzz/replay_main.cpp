// A stand-in for libFuzzer's driver in builds without it (g++, or clang
// without -fsanitize=fuzzer): feeds every input file named on the command
// line, or every file below a directory named there, to the harness once.
// ctest runs it over each harness's seeds and regression inputs, so every
// build replays them; a crash or a sanitizer report fails the test.
//
//   fuzz_<h>_replay PATH...
//
// A path that does not exist is passed over (fuzz/regress/<h> exists only
// once a harness has found something); when no input at all was run the
// exit status is 77, which ctest counts as skipped (the shared corpora are
// not beside a clone on its own), and the "skipped:" line says why.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr int kSkipped = 77;

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        files.push_back(path);
    } else if (fs::is_directory(path, ec)) {
        for (const auto& entry : fs::recursive_directory_iterator(path, ec)) {
            // README files describe the inputs; they are not inputs.
            if (entry.is_regular_file() && entry.path().extension() != ".md") {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t run = 0;
    std::string absent;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (!std::filesystem::exists(path)) {
            absent += absent.empty() ? "" : ", ";
            absent += argv[i];
            continue;
        }
        for (const auto& file : inputs_of(path)) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::printf("cannot read %s\n", file.c_str());
                return 1;
            }
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            // Printed before the run, so that the input that crashes is the
            // last one named.
            std::printf("%s\n", file.c_str());
            std::fflush(stdout);
            // A copy of exactly the input's size, as libFuzzer hands it over,
            // so that the sanitizers catch a read past its end.
            std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
            LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
            ++run;
        }
    }
    if (run == 0) {
        std::printf("skipped: no input (absent: %s)\n", absent.c_str());
        return kSkipped;
    }
    std::printf("%zu inputs replayed%s%s\n", run,
                absent.empty() ? "" : "; absent: ", absent.c_str());
    return 0;
}
