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

// One shown string, measured in user space (the page's coordinates, after
// the text matrix and every cm), so that positions, advances and sizes
// compare in one unit whatever matrices the producer used: text set with
// "1 Tf" in a "12 0 0 12 x y Tm" matrix measures as text set with "12 Tf".
//
// The text rendering matrix M is [Tfs·Th 0 0 Tfs 0 rise] × Tm × CTM (Tf
// size, Tz, Ts, the text matrix, the CTM).
struct TextRun {
    // Provided, so that a run made in place (runs.emplace_back(), for every
    // string a page shows) is only given the values below. With the
    // implicit constructor, value-initialisation zero-fills the whole run
    // first, which g++ does with a `rep stos` whose start-up cost was a
    // third of the time spent making runs.
    TextRun() {}

    std::string text;
    std::string font;
    // The run's origin in user space (M applied to (0, 0)).
    double x = 0;
    double y = 0;
    // The run's advance along its writing direction, in user-space units:
    // the text-space advance scaled by Tm × CTM. The run ends at
    // (x + width·dir_x, y + width·dir_y). Negative when the glyphs advance
    // backwards (a negative Tf size, negative spacing).
    double width = 0;
    // The glyph size on the page in user-space units: the Tf size scaled by
    // Tm × CTM, measured perpendicular to the writing direction (for
    // vertical writing, across the column, with Tz). Never negative.
    double font_size = 0;
    // Unit vector of the writing direction in user space: the x axis of
    // Tm × CTM, (1, 0) for text set upright; for a vertical font
    // (Font::vertical), its −y axis, (0, −1) upright, and the text matrix
    // moves down by each advance instead of right. A degenerate or
    // non-finite matrix gives (1, 0); width and font_size are then 0 where
    // they would not be finite.
    double dir_x = 1;
    double dir_y = 0;
};

// The text parameters of the graphics state (Tc, Tw, Tz, TL, Tf, Ts): q
// saves them with the CTM and Q restores them.
struct TextParams {
    std::string font_name;
    const Font* font = nullptr;      // font_name in `table`, looked up once by Tf
    const FontMap* table = nullptr;  // the table of that lookup; none before any Tf
    double font_size = 0;
    double char_spacing = 0;
    double word_spacing = 0;
    double horizontal_scale = 1.0;
    double leading = 0;
    double rise = 0;
};

// The text and text line matrices of a text object (BT ... ET).
struct TextObject {
    Matrix tm;
    Matrix tlm;
};

// Applies one text operator (BT, the text state, positioning and showing
// operators) with the page's CTM `ctm` and the fonts of the content's
// resources; each shown string becomes a run appended to `runs`, until
// kMaxPageRuns. Every other operator is left alone.
void apply_text_op(const Op& op, const Matrix& ctm, const FontMap& fonts, TextParams& params,
                   TextObject& object, std::vector<TextRun>& runs);

// The matrix of a cm or Tm operation's six operands; a missing or
// non-numeric operand keeps the identity's entry.
Matrix matrix_of(std::span<const Operand> operands);

}  // namespace vellox_core
