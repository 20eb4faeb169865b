// The shared sample corpus of real files, beside the repository at
// ../shared/corpus/sample-files. A clone on its own has none: the tests that
// read it skip, saying where they looked.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#define VELLOX_SKIP_WITHOUT_CORPUS()                         \
    if (!std::filesystem::is_directory(VELLOX_CORPUS_DIR))   \
    GTEST_SKIP() << "no sample corpus at " VELLOX_CORPUS_DIR \
                    " (the shared corpora are not beside this repository)"
