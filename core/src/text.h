// Text runs: the text-state machine over a page's operations.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "content.h"
#include "font.h"

namespace vellox_core {

// [a b c d e f]: (x, y) maps to (a·x + c·y + e, b·x + d·y + f).
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    bool operator==(const Matrix&) const = default;
};

// m × n: m is applied first, then n.
Matrix multiply(const Matrix& m, const Matrix& n);

// One shown string. The origin is in user space, as the output reports
// positions; the measures that line layout compares with positions (width,
// size) are in user-space units too.
struct TextRun {
    std::string text;
    std::string font;
    double x = 0;
    double y = 0;
    double width = 0;  // advance in text space, scaled by size and Tz only
    double font_size = 0;
    // Unit vector of the writing direction in user space: (1, 0) for text
    // set upright, (0, -1) for vertical writing on an upright page.
    double dir_x = 1;
    double dir_y = 0;
};

std::vector<TextRun> extract_runs(std::span<const Op> ops, const FontMap& fonts);
// The matrix of a cm or Tm operation's six operands; a missing or
// non-numeric operand keeps the identity's entry.
Matrix matrix_of(std::span<const Operand> operands);

}  // namespace vellox_core
