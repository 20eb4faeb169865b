#include "text.h"

#include <cmath>
#include <optional>
#include <string_view>

#include "bounds.h"
#include "utf8.h"

namespace vellox_core {

Matrix multiply(const Matrix& m, const Matrix& n) {
    // Row-vector convention of PDF: [x y 1] × M × N, so M acts first.
    return Matrix{
        m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d,       m.c * n.a + m.d * n.c,
        m.c * n.b + m.d * n.d, m.e * n.a + m.f * n.c + n.e, m.e * n.b + m.f * n.d + n.f,
    };
}

Matrix matrix_of(std::span<const Operand> operands) {
    const Matrix identity;
    return Matrix{number_at(operands, 0, identity.a), number_at(operands, 1, identity.b),
                  number_at(operands, 2, identity.c), number_at(operands, 3, identity.d),
                  number_at(operands, 4, identity.e), number_at(operands, 5, identity.f)};
}

namespace {

// translate(tx, ty) × m: moves the origin of m along its own axes.
Matrix translated(const Matrix& m, double tx, double ty) {
    Matrix r = m;
    r.e = tx * m.a + ty * m.c + m.e;
    r.f = tx * m.b + ty * m.d + m.f;
    return r;
}

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

void select_font(TextParams& p, const FontMap& fonts, std::string_view name) {
    // Producers often select the font again before every string; the same
    // name in the same table finds the same font. A form XObject's table
    // may give the same name to another font.
    if (p.table == &fonts && name == p.font_name) return;
    p.table = &fonts;
    p.font_name = name;
    const auto found = fonts.find(name);
    p.font = found != fonts.end() ? found->second.get() : nullptr;
}

void next_line(const TextParams& p, TextObject& o) {
    o.tlm = translated(o.tlm, 0, -p.leading);
    o.tm = o.tlm;
}

bool vertical(const TextParams& p) { return p.font != nullptr && p.font->vertical; }

// Moves the text matrix along the writing direction by a text-space
// advance: right for horizontal writing, down for vertical.
void advance_by(const TextParams& p, TextObject& o, double advance) {
    o.tm = vertical(p) ? translated(o.tm, 0, -advance) : translated(o.tm, advance, 0);
}

// What the runs of one showing operator share: the linear part of the
// text rendering matrix and what follows from it. A TJ array's strings
// differ only in where they start, since showing a string or applying a
// number moves the text matrix's origin and nothing else; its strings share
// one Frame, computed once from the same values, so each run's numbers are
// the same as if computed for it alone.
struct Frame {
    double c = 0, d = 1;  // of Tm × CTM: the image of text space's y axis, for Ts
    double dir_x = 1;
    double dir_y = 0;
    double scale = 0;      // text-space advance to user-space width; 0 if not finite
    double font_size = 0;  // the runs' font_size
};

Frame frame_of(const TextParams& p, const TextObject& o, const Matrix& ctm) {
    const Matrix& t = o.tm;
    // The linear part of multiply(t, ctm), term for term.
    const double a = t.a * ctm.a + t.b * ctm.c;
    const double b = t.a * ctm.b + t.b * ctm.d;
    Frame f;
    f.c = t.c * ctm.a + t.d * ctm.c;
    f.d = t.c * ctm.b + t.d * ctm.d;
    // The writing direction is the image of text space's x axis (its −y
    // axis for vertical writing); the glyph size is measured across it,
    // from the axis the glyphs stand on.
    const bool down = vertical(p);
    const double along_x = down ? -f.c : a;
    const double along_y = down ? -f.d : b;
    const double across_x = down ? a * p.horizontal_scale : f.c;
    const double across_y = down ? b * p.horizontal_scale : f.d;
    // hypot(x, ±0) is fabs(x), and hypot(±0, y) is fabs(y), exactly (C's
    // Annex F): text set upright or turned a quarter, nearly all of it,
    // needs no library call.
    const double scale = along_y == 0   ? std::fabs(along_x)
                         : along_x == 0 ? std::fabs(along_y)
                                        : std::hypot(along_x, along_y);
    if (scale > 0 && std::isfinite(scale)) {
        f.dir_x = along_x / scale;
        f.dir_y = along_y / scale;
    }
    f.scale = std::isfinite(scale) ? scale : 0.0;
    f.font_size =
        finite_or_zero(std::fabs(p.font_size * (across_y * f.dir_x - across_x * f.dir_y)));
    return f;
}

void show(const TextParams& p, TextObject& o, const Matrix& ctm, const Frame& frame, ByteView bytes,
          std::vector<TextRun>& runs) {
    if (runs.size() >= limits::kMaxPageRuns) return;
    // The translation part of multiply(o.tm, ctm).
    const Matrix& t = o.tm;
    const double e = t.e * ctm.a + t.f * ctm.c + ctm.e;
    const double f = t.e * ctm.b + t.f * ctm.d + ctm.f;
    // Made in place: a run built aside and moved in costs its two strings'
    // moves and destruction, on every string shown.
    TextRun& run = runs.emplace_back();
    run.x = frame.c * p.rise + e;
    run.y = frame.d * p.rise + f;
    run.font = p.font_name;

    double advance = 0;
    if (p.font != nullptr) {
        advance = p.font->show_into(bytes, run.text, p.char_spacing, p.word_spacing, p.font_size,
                                    p.horizontal_scale);
    } else {
        // No usable font: read the bytes as ISO 8859-1 with the default
        // glyph width, so text in fonts we could not load still shows up.
        for (const std::uint8_t b : bytes) {
            append_utf8(run.text, static_cast<char32_t>(b));
            const double s = b == 32 ? p.word_spacing : 0.0;
            advance += (0.5 * p.font_size + p.char_spacing + s) * p.horizontal_scale;
        }
    }
    run.dir_x = frame.dir_x;
    run.dir_y = frame.dir_y;
    run.width = finite_or_zero(advance * frame.scale);
    run.font_size = frame.font_size;
    advance_by(p, o, advance);
}

// One string shown by Tj, ' or ".
void show_one(const TextParams& p, TextObject& o, const Matrix& ctm, ByteView bytes,
              std::vector<TextRun>& runs) {
    if (runs.size() >= limits::kMaxPageRuns) return;
    show(p, o, ctm, frame_of(p, o, ctm), bytes, runs);
}

}  // namespace

void apply_text_op(const Op& op, const Matrix& ctm, const FontMap& fonts, TextParams& p,
                   TextObject& o, std::vector<TextRun>& runs) {
    const std::span<const Operand> args = op.operands;
    switch (op.code) {
        case Operator::BeginText:
            o.tm = Matrix{};
            o.tlm = Matrix{};
            break;
        case Operator::SetFont:
            if (!args.empty()) {
                if (const auto name = name_of(args[0])) select_font(p, fonts, *name);
            }
            p.font_size = number_at(args, 1, 0.0);
            break;
        case Operator::CharSpacing: p.char_spacing = number_at(args, 0, 0.0); break;
        case Operator::WordSpacing: p.word_spacing = number_at(args, 0, 0.0); break;
        case Operator::HorizontalScale: p.horizontal_scale = number_at(args, 0, 0.0) / 100.0; break;
        case Operator::Leading: p.leading = number_at(args, 0, 0.0); break;
        case Operator::Rise: p.rise = number_at(args, 0, 0.0); break;
        case Operator::MoveTextSetLeading: p.leading = -number_at(args, 1, 0.0); [[fallthrough]];
        case Operator::MoveText:
            o.tlm = translated(o.tlm, number_at(args, 0, 0.0), number_at(args, 1, 0.0));
            o.tm = o.tlm;
            break;
        case Operator::TextMatrix:
            o.tlm = matrix_of(args);
            o.tm = o.tlm;
            break;
        case Operator::NextLine: next_line(p, o); break;
        case Operator::Show:
            if (!args.empty()) {
                if (const auto s = string_of(args[0])) show_one(p, o, ctm, *s, runs);
            }
            break;
        case Operator::NextLineShow:
            next_line(p, o);
            if (!args.empty()) {
                if (const auto s = string_of(args[0])) show_one(p, o, ctm, *s, runs);
            }
            break;
        case Operator::SpacingNextLineShow:
            p.word_spacing = number_at(args, 0, 0.0);
            p.char_spacing = number_at(args, 1, 0.0);
            next_line(p, o);
            if (args.size() >= 3) {
                if (const auto s = string_of(args[2])) show_one(p, o, ctm, *s, runs);
            }
            break;
        case Operator::ShowArray: {
            const auto items = args.empty() ? std::nullopt : array_of(args[0]);
            if (!items) break;
            // Made at the first string: numbers and strings move only the
            // text matrix's origin, which the frame leaves out.
            std::optional<Frame> frame;
            for (const Operand& item : *items) {
                if (const auto s = string_of(item)) {
                    if (!frame) frame = frame_of(p, o, ctm);
                    show(p, o, ctm, *frame, *s, runs);
                } else {
                    // A number moves the next glyph by thousandths of the
                    // font size: back (left, scaled by Tz) in horizontal
                    // writing, but down in vertical writing, where the
                    // displacement is ty = (w1 - n/1000)·Tfs with w1
                    // negative. Anything else counts as no adjustment.
                    const double v = number_of(item).value_or(0.0) / 1000.0 * p.font_size;
                    advance_by(p, o, vertical(p) ? v : -v * p.horizontal_scale);
                }
            }
            break;
        }
        default: break;  // not a text operator
    }
}

}  // namespace vellox_core
