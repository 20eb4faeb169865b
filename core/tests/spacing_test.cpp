#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "spacing.h"

using namespace vellox_core;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TextRun run(std::string text, double x, double y, double width, double size, double dx = 1,
            double dy = 0) {
    TextRun r;
    r.text = std::move(text);
    r.x = x;
    r.y = y;
    r.width = width;
    r.font_size = size;
    r.dir_x = dx;
    r.dir_y = dy;
    return r;
}

}  // namespace

TEST(Spacing, GapAlongTheDirectionOverTheLargerSize) {
    struct Case {
        const char* name;
        TextRun before;
        TextRun after;
        bool space;
    };
    // At size 10 the threshold is 1.5 units.
    const Case cases[] = {
        {"word gap of a quarter em", run("ab", 100, 700, 30, 10), run("cd", 132.5, 700, 20, 10),
         true},
        {"kerned apart by a tenth of an em", run("ab", 100, 700, 30, 10),
         run("cd", 131, 700, 20, 10), false},
        {"TeX's thin space, a sixth of an em", run("cos", 100, 700, 15, 10),
         run("v", 116.67, 700, 5, 10), true},
        {"exactly the threshold is not a space", run("ab", 100, 700, 30, 10),
         run("cd", 131.5, 700, 20, 10), false},
        {"overlapping runs", run("ab", 100, 700, 30, 10), run("cd", 110, 700, 20, 10), false},
        {"the larger size decides", run("ab", 100, 700, 30, 10), run("2", 131.3, 704, 4, 7), false},
        {"and from a small run to a large one", run("2", 100, 704, 4, 7),
         run("cd", 105.2, 700, 20, 10), false},
        // The baseline shift of a superscript is across the line, not along it.
        {"only the gap along the line counts", run("x", 100, 700, 5, 10),
         run("2", 105.5, 720, 4, 7), false},
        {"downward writing", run("\xE7\xB8\xA6", 500, 700, 12, 12, 0, -1),
         run("\xE6\x9B\xB8", 500, 685, 12, 12, 0, -1), true},
        {"downward writing, touching", run("\xE7\xB8\xA6", 500, 700, 12, 12, 0, -1),
         run("\xE6\x9B\xB8", 500, 688, 12, 12, 0, -1), false},
        {"upside down", run("ab", 300, 100, 30, 10, -1, 0), run("cd", 267, 100, 20, 10, -1, 0),
         true},
        {"a direction that is not a unit vector", run("ab", 100, 100, 30, 10, 0, 4),
         run("cd", 100, 133, 20, 10, 0, 4), true},
        {"no direction reads left to right", run("ab", 100, 700, 30, 10, 0, 0),
         run("cd", 133, 700, 20, 10), true},
        {"NaN direction reads left to right", run("ab", 100, 700, 30, 10, kNaN, 0),
         run("cd", 131, 700, 20, 10), false},
        {"sizes below 1 count as 1", run("ab", 100, 700, 30, 0.1), run("cd", 130.2, 700, 20, 0.1),
         true},
        {"NaN sizes count as 1", run("ab", 100, 700, 30, kNaN), run("cd", 130.1, 700, 20, kNaN),
         false},
        {"negative sizes count by magnitude", run("ab", 100, 700, 30, -10),
         run("cd", 131, 700, 20, -10), false},
        {"NaN position", run("ab", 100, 700, 30, 10), run("cd", kNaN, 700, 20, 10), false},
        {"infinite gap", run("ab", 100, 700, 30, 10), run("cd", kInf, 700, 20, 10), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gap_is_space(c.before, c.after), c.space);
    }
}

TEST(Spacing, AppendsOneSpaceAtMost) {
    struct Case {
        const char* name;
        std::string text;
        TextRun before;
        TextRun after;
        std::string expected;
    };
    const Case cases[] = {
        {"apart", "ab", run("ab", 100, 700, 30, 12), run("cd", 133, 700, 20, 12), "ab cd"},
        {"together", "ab", run("ab", 100, 700, 30, 12), run("cd", 131, 700, 20, 12), "abcd"},
        {"next run begins with a space", "ab", run("ab", 100, 700, 30, 12),
         run(" cd", 140, 700, 20, 12), "ab cd"},
        {"text already ends with a space", "ab ", run("ab ", 100, 700, 30, 12),
         run("cd", 140, 700, 20, 12), "ab cd"},
        {"empty text so far", "", run("", 100, 700, 30, 12), run("cd", 140, 700, 20, 12), " cd"},
        {"empty run after a gap", "ab", run("ab", 100, 700, 30, 12), run("", 140, 700, 20, 12),
         "ab "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        append_run_text(text, c.before, c.after);
        EXPECT_EQ(text, c.expected);
    }
}
