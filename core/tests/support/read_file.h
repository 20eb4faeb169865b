// A whole file read into a string, for tests that compare against fixtures
// or read the sample corpus.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vellox_test {

// A file that cannot be opened fails the calling test and reads as empty.
inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace vellox_test
