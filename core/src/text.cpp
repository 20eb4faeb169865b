#include "text.h"

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

struct TextState {
    explicit TextState(const FontMap& table) : fonts(table) {}

    const FontMap& fonts;
    std::vector<Matrix> stack;  // the CTMs saved by q
    std::string font_name;
    const Font* font = nullptr;  // fonts[font_name], looked up once by Tf
    bool font_selected = false;  // by any Tf yet
    Matrix ctm;
    Matrix tm;
    Matrix tlm;
    double font_size = 0;
    double char_spacing = 0;
    double word_spacing = 0;
    double horizontal_scale = 1.0;
    double leading = 0;
    double rise = 0;

    void select_font(std::string_view name) {
        // Producers often select the font again before every string; the
        // same name finds the same font.
        if (font_selected && name == font_name) return;
        font_selected = true;
        font_name = name;
        const auto found = fonts.find(font_name);
        font = found != fonts.end() ? found->second.get() : nullptr;
    }

    void next_line() {
        tlm = translated(tlm, 0, -leading);
        tm = tlm;
    }

    void show(ByteView bytes, std::vector<TextRun>& runs) {
        if (runs.size() >= limits::kMaxPageRuns) return;
        const Matrix m = multiply(tm, ctm);
        TextRun run;
        run.x = m.c * rise + m.e;
        run.y = m.d * rise + m.f;
        run.font = font_name;
        run.font_size = font_size;

        double advance = 0;
        if (font != nullptr) {
            advance = font->show_into(bytes, run.text, char_spacing, word_spacing, font_size,
                                      horizontal_scale);
        } else {
            // No usable font: read the bytes as ISO 8859-1 with the default
            // glyph width, so text in fonts we could not load still shows up.
            for (const std::uint8_t b : bytes) {
                append_utf8(run.text, static_cast<char32_t>(b));
                const double s = b == 32 ? word_spacing : 0.0;
                advance += (0.5 * font_size + char_spacing + s) * horizontal_scale;
            }
        }
        run.width = advance;
        runs.push_back(std::move(run));
        tm = translated(tm, advance, 0);
    }
};

}  // namespace

std::vector<TextRun> extract_runs(std::span<const Op> ops, const FontMap& fonts) {
    std::vector<TextRun> runs;
    TextState st(fonts);
    for (const Op& op : ops) {
        // Past the bound the rest of the page's text is dropped: nothing
        // else the state machine does is visible without more runs.
        if (runs.size() >= limits::kMaxPageRuns) break;
        const std::span<const Operand> args = op.operands;
        const std::optional<ByteView> first_string =
            args.empty() ? std::nullopt : string_of(args[0]);

        switch (op.code) {
            case Operator::Save: st.stack.push_back(st.ctm); break;
            case Operator::Restore:
                if (!st.stack.empty()) {
                    st.ctm = st.stack.back();
                    st.stack.pop_back();
                }
                break;
            case Operator::Concat: st.ctm = multiply(matrix_of(args), st.ctm); break;
            case Operator::BeginText:
                st.tm = Matrix{};
                st.tlm = Matrix{};
                break;
            case Operator::SetFont:
                if (!args.empty()) {
                    if (const auto name = name_of(args[0])) st.select_font(*name);
                }
                st.font_size = number_at(args, 1, 0.0);
                break;
            case Operator::CharSpacing: st.char_spacing = number_at(args, 0, 0.0); break;
            case Operator::WordSpacing: st.word_spacing = number_at(args, 0, 0.0); break;
            case Operator::HorizontalScale:
                st.horizontal_scale = number_at(args, 0, 0.0) / 100.0;
                break;
            case Operator::Leading: st.leading = number_at(args, 0, 0.0); break;
            case Operator::Rise: st.rise = number_at(args, 0, 0.0); break;
            case Operator::MoveTextSetLeading:
                st.leading = -number_at(args, 1, 0.0);
                [[fallthrough]];
            case Operator::MoveText:
                st.tlm = translated(st.tlm, number_at(args, 0, 0.0), number_at(args, 1, 0.0));
                st.tm = st.tlm;
                break;
            case Operator::TextMatrix:
                st.tlm = matrix_of(args);
                st.tm = st.tlm;
                break;
            case Operator::NextLine: st.next_line(); break;
            case Operator::Show:
                if (first_string) st.show(*first_string, runs);
                break;
            case Operator::NextLineShow:
                st.next_line();
                if (first_string) st.show(*first_string, runs);
                break;
            case Operator::SpacingNextLineShow:
                st.word_spacing = number_at(args, 0, 0.0);
                st.char_spacing = number_at(args, 1, 0.0);
                st.next_line();
                if (args.size() >= 3) {
                    if (const auto s = string_of(args[2])) st.show(*s, runs);
                }
                break;
            case Operator::ShowArray: {
                const auto items = args.empty() ? std::nullopt : array_of(args[0]);
                if (!items) break;
                for (const Operand& item : *items) {
                    if (const auto s = string_of(item)) {
                        st.show(*s, runs);
                    } else {
                        // A number pulls the next glyph left by thousandths of
                        // the font size; anything else counts as no adjustment.
                        const double v = number_of(item).value_or(0.0);
                        st.tm =
                            translated(st.tm, -v / 1000.0 * st.font_size * st.horizontal_scale, 0);
                    }
                }
                break;
            }
            default: break;  // not a text operator
        }
    }
    return runs;
}

}  // namespace vellox_core
