#include "page.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "bounds.h"
#include "cos.h"
#include "lex.h"
#include "overprint.h"
#include "utf8.h"

namespace vellox_core {

namespace {

// What q saves and Q restores, as far as this walk reads it.
struct GraphicsState {
    Matrix ctm;
    TextParams text;
};

// A form's content, decoded once per page and read each time the form is
// drawn.
struct Form {
    Bytes data;
    const Dictionary* resources = nullptr;  // its own, in the resolver; none when absent
    std::shared_ptr<const FontMap> fonts;   // of its own resources, with them
    bool usable = false;                    // decoded
    // The objects its first reading took from the page's budget (not
    // counting the forms it drew); none before it. A form drawn again is
    // read with that many, so that it ends where it ended the first time
    // and the page pays for it once.
    std::optional<std::size_t> objects;
};

// Annotation flags (the /F entry).
constexpr std::int64_t kHidden = 2;
constexpr std::int64_t kPrint = 4;
constexpr std::int64_t kNoView = 32;
// Field flags (/Ff) of a text field that holds several lines.
constexpr std::int64_t kMultiline = 4096;

// The six numbers of a /Matrix array; the identity when it is not one.
Matrix matrix_entry(const Resolver& resolver, const Dictionary& dict) {
    const Object* value = fetch_entry(resolver, dict, "Matrix");
    const Array* items = value != nullptr ? value->as_array() : nullptr;
    if (items == nullptr || items->size() != 6) return Matrix{};
    double m[6];
    for (std::size_t i = 0; i < 6; ++i) {
        const auto n = (*items)[i].number();
        if (!n) return Matrix{};
        m[i] = *n;
    }
    return Matrix{m[0], m[1], m[2], m[3], m[4], m[5]};
}

// The four numbers of a rectangle (/Rect, /BBox), normalised so that the
// first corner is the lower left.
std::optional<Rect> rect_entry(const Resolver& resolver, const Dictionary& dict,
                               std::string_view key) {
    const Object* value = fetch_entry(resolver, dict, key);
    const Array* items = value != nullptr ? value->as_array() : nullptr;
    if (items == nullptr || items->size() != 4) return std::nullopt;
    Rect r{};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto n = (*items)[i].number();
        if (!n || !std::isfinite(*n)) return std::nullopt;
        r[i] = *n;
    }
    return Rect{std::fmin(r[0], r[2]), std::fmin(r[1], r[3]), std::fmax(r[0], r[2]),
                std::fmax(r[1], r[3])};
}

std::int64_t int_entry(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
    const Object* value = fetch_entry(resolver, dict, key);
    const std::int64_t* i = value != nullptr ? value->as_int() : nullptr;
    return i != nullptr ? *i : 0;
}

// An entry of a form field, inherited from its /Parent fields when the
// field itself lacks it.
const Object* field_entry(const Resolver& resolver, const Dictionary& field, std::string_view key) {
    const Dictionary* node = &field;
    for (std::uint32_t depth = 0; depth <= limits::kMaxFieldDepth; ++depth) {
        if (const Object* value = fetch_entry(resolver, *node, key)) return value;
        const Object* parent = node->get("Parent");
        if (parent == nullptr) return nullptr;
        auto next = resolver.resolve_dict(*parent);
        if (!next) return nullptr;
        node = *next;
    }
    return nullptr;
}

// The font size of a /DA string ("/Helv 10 Tf 0 g"): the size of its last
// Tf; 0 (automatic) when it has none.
double da_font_size(ByteView da) {
    std::size_t budget = 256;
    ContentReader reader(da, budget);
    double size = 0;
    while (const Op* op = reader.next()) {
        if (op->code == Operator::SetFont) size = number_at(op->operands, 1, 0.0);
    }
    return std::isfinite(size) ? std::fabs(size) : 0.0;
}

class Interpreter {
public:
    Interpreter(const Resolver* resolver, FontCache* cache, PageDrawing& out)
        : resolver_(resolver),
          cache_(cache),
          out_(out),
          budget_(resolver != nullptr ? resolver->budget : nullptr) {}

    // The page's own content budget is shared with its forms.
    std::size_t objects = limits::kMaxContentObjects;

    // Interprets the operations `ops` reads, as it reads them.
    void run(ContentReader& ops, const Dictionary* resources, const FontMap& fonts,
             GraphicsState gs, std::uint32_t depth, bool keep_rules);
    void draw_annotations(const Page& page, const FontMap& page_fonts);

private:
    void draw_xobject(std::string_view name, const Dictionary* resources, const FontMap& fonts,
                      const GraphicsState& gs, std::uint32_t depth, bool keep_rules);
    // Draws a form XObject (or an appearance stream) with `ctm` as the CTM
    // its own /Matrix is concatenated with.
    void draw_form(const Object& form, const Dictionary* resources, const FontMap& fonts,
                   const GraphicsState& gs, const Matrix& ctm, std::uint32_t depth,
                   bool keep_rules);
    Form* load_form(const Object& form);
    const Object* xobject_named(const Dictionary& xobjects, std::string_view name);
    void draw_inline_image(const Op& op, const Dictionary* resources);
    void draw_annotation(const Dictionary& annot, const Dictionary* resources,
                         const FontMap& fonts);
    void show_field_value(const Dictionary& widget);

    const Resolver* resolver_;
    FontCache* cache_;
    PageDrawing& out_;
    Budget* budget_;              // the call's, from the resolver; none for interpret_content
    std::size_t work_ = 0;        // operations interpreted, forms counted each time drawn
    std::size_t form_bytes_ = 0;  // decoded bytes of the forms read
    std::vector<const Object*> active_;  // forms being drawn, to refuse cycles
    std::unordered_map<const Object*, std::unique_ptr<Form>> forms_;
    // Large /XObject tables by name, indexed at their first Do: the keys
    // borrow the table's, which the resolver or the page holds.
    std::unordered_map<const Dictionary*, std::unordered_map<std::string_view, const Object*>>
        xobject_index_;
};

void Interpreter::run(ContentReader& ops, const Dictionary* resources, const FontMap& fonts,
                      GraphicsState gs, std::uint32_t depth, bool keep_rules) {
    std::vector<GraphicsState> saved;
    std::size_t unsaved = 0;  // q past kMaxSavedStates, to be matched by Q first
    TextObject text;
    RulePath path;
    Segments discarded;  // the rules of content whose rules are not kept
    while (const Op* next = ops.next()) {
        const Op& op = *next;
        // A form's operations count against the page's budget; the page's
        // own content is bounded by its parse. Every operation is a step of
        // the call's time: a form drawn again and again stops on time.
        if (depth > 0 && ++work_ > limits::kMaxPageDrawnOps) return;
        if (budget_ != nullptr && !budget_->pace()) return;
        switch (op.code) {
            case Operator::Save:
                if (saved.size() < limits::kMaxSavedStates) {
                    saved.push_back(gs);
                } else {
                    ++unsaved;
                }
                break;
            case Operator::Restore:
                if (unsaved > 0) {
                    --unsaved;
                } else if (!saved.empty()) {
                    gs = std::move(saved.back());
                    saved.pop_back();
                }
                break;
            case Operator::Concat: gs.ctm = multiply(matrix_of(op.operands), gs.ctm); break;
            case Operator::BeginText:
            case Operator::SetFont:
            case Operator::CharSpacing:
            case Operator::WordSpacing:
            case Operator::HorizontalScale:
            case Operator::Leading:
            case Operator::Rise:
            case Operator::MoveText:
            case Operator::MoveTextSetLeading:
            case Operator::TextMatrix:
            case Operator::NextLine:
            case Operator::Show:
            case Operator::NextLineShow:
            case Operator::SpacingNextLineShow:
            case Operator::ShowArray:
                apply_text_op(op, gs.ctm, fonts, gs.text, text, out_.runs);
                break;
            case Operator::MoveTo:
            case Operator::LineTo:
            case Operator::CurveTo:
            case Operator::ClosePath:
            case Operator::Rectangle:
            case Operator::Stroke:
            case Operator::CloseStroke:
            case Operator::Fill:
            case Operator::FillOld:
            case Operator::FillEvenOdd:
            case Operator::FillStroke:
            case Operator::FillStrokeEvenOdd:
            case Operator::CloseFillStroke:
            case Operator::CloseFillStrokeEvenOdd:
            case Operator::EndPath:
                path.apply(op, gs.ctm, keep_rules ? out_.rules : discarded);
                discarded.verticals.clear();
                discarded.horizontals.clear();
                break;
            case Operator::PaintXObject:
                if (!op.operands.empty()) {
                    if (const auto name = name_of(op.operands[0])) {
                        draw_xobject(*name, resources, fonts, gs, depth, keep_rules);
                    }
                }
                break;
            case Operator::InlineImage: draw_inline_image(op, resources); break;
            default: break;
        }
    }
}

void Interpreter::draw_xobject(std::string_view name, const Dictionary* resources,
                               const FontMap& fonts, const GraphicsState& gs, std::uint32_t depth,
                               bool keep_rules) {
    if (resolver_ == nullptr || resources == nullptr) return;
    const Object* table = fetch_entry(*resolver_, *resources, "XObject");
    const Dictionary* xobjects = table != nullptr ? table->as_dict() : nullptr;
    if (xobjects == nullptr) return;
    const Object* entry = xobject_named(*xobjects, name);
    if (entry == nullptr) return;
    const Object* target = entry;
    if (const Reference* ref = entry->as_ref()) {
        auto got = resolver_->lookup(ref->num);
        if (!got) return;
        target = *got;
    }
    const Stream* stream = target->as_stream();
    if (stream == nullptr) return;
    const Object* subtype = fetch_entry(*resolver_, stream->dict, "Subtype");
    if (subtype == nullptr) return;
    if (subtype->is_name("Form")) {
        draw_form(*target, resources, fonts, gs, gs.ctm, depth, keep_rules);
    } else if (subtype->is_name("Image") && depth > 0) {
        // The page's own images are listed from its resources; those a form
        // draws join them, each once.
        std::vector<DrawnImages::XObject>& drawn = out_.images.xobjects;
        const bool seen = std::any_of(drawn.begin(), drawn.end(),
                                      [target](const auto& x) { return x.image == target; });
        if (!seen && drawn.size() + out_.images.inline_images.size() < limits::kMaxDrawnImages) {
            drawn.push_back({std::string(name), target});
        }
    }
}

// The entry `name` of an /XObject table, as Dictionary::get finds it. A
// table of a few entries is scanned; a large one is indexed once per page,
// since a form can draw every image of a table hundreds of entries long
// (GeoTopo-komprimiert.pdf: 316 Do of one form's 316 images, a scan of
// some 4,000 instructions each).
const Object* Interpreter::xobject_named(const Dictionary& xobjects, std::string_view name) {
    constexpr std::size_t kIndexFrom = 32;
    if (xobjects.size() < kIndexFrom) return xobjects.get(name);
    auto [it, fresh] = xobject_index_.try_emplace(&xobjects);
    auto& index = it->second;
    if (fresh) {
        index.reserve(xobjects.size());
        // The first of repeated keys, as get() finds it.
        for (const auto& [key, value] : xobjects) index.try_emplace(key, &value);
    }
    const auto found = index.find(name);
    return found != index.end() ? found->second : nullptr;
}

Form* Interpreter::load_form(const Object& object) {
    auto [it, fresh] = forms_.try_emplace(&object);
    if (!fresh) return it->second.get();
    it->second = std::make_unique<Form>();
    Form& form = *it->second;
    const Stream& stream = *object.as_stream();
    if (form_bytes_ >= limits::kMaxPageFormBytes) return &form;
    auto decoded = decode_stream(*resolver_, stream, Reading::Lenient);
    if (!decoded) return &form;
    form.data = std::move(decoded).value();
    form_bytes_ += form.data.size();
    if (const Object* res = stream.dict.get("Resources")) {
        auto dict = resolver_->resolve_dict(*res);
        if (dict) {
            form.resources = *dict;
            form.fonts = load_fonts(*resolver_, *form.resources, *cache_);
        }
    }
    form.usable = true;
    return &form;
}

void Interpreter::draw_form(const Object& object, const Dictionary* resources, const FontMap& fonts,
                            const GraphicsState& gs, const Matrix& ctm, std::uint32_t depth,
                            bool keep_rules) {
    if (depth >= limits::kMaxFormDepth || work_ >= limits::kMaxPageDrawnOps) return;
    if (std::find(active_.begin(), active_.end(), &object) != active_.end()) return;
    Form* form = load_form(object);
    if (!form->usable) return;
    GraphicsState inner = gs;
    inner.ctm = multiply(matrix_entry(*resolver_, object.as_stream()->dict), ctm);
    const Dictionary* own = form->resources != nullptr ? form->resources : resources;
    const FontMap& own_fonts = form->resources != nullptr ? *form->fonts : fonts;
    active_.push_back(&object);
    // The first reading takes from the page's budget, as do the forms it
    // draws, each its own share; a reading again takes the share it kept.
    const bool first = !form->objects;
    std::size_t again = form->objects.value_or(0);
    ContentReader reader(form->data, first ? objects : again, budget_);
    run(reader, own, own_fonts, std::move(inner), depth + 1, keep_rules);
    if (first) form->objects = reader.taken();
    active_.pop_back();
}

void Interpreter::draw_inline_image(const Op& op, const Dictionary* resources) {
    DrawnImages& drawn = out_.images;
    if (drawn.xobjects.size() + drawn.inline_images.size() >= limits::kMaxDrawnImages) return;
    if (op.operands.size() < 2) return;
    const auto dict_text = string_of(op.operands[0]);
    const auto data = string_of(op.operands[1]);
    if (!dict_text || !data) return;
    // The entries were read once already to find the data's end.
    DictionaryBuilder entries;
    Lexer lexer(*dict_text);
    std::size_t budget = limits::kMaxContentObjects;
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end()) break;
        auto key = cos::parse_object(lexer, budget);
        auto value = key ? cos::parse_object(lexer, budget) : std::move(key);
        if (!value) break;
        if (const Name* name = key->as_name())
            entries.add(std::string(name->text), std::move(value).value());
    }
    const Dictionary dict = std::move(entries).take();
    drawn.inline_images.push_back(
        inline_image(resolver_, dict, *data, resources,
                     "inline-" + std::to_string(drawn.inline_images.size() + 1)));
}

void Interpreter::draw_annotations(const Page& page, const FontMap& page_fonts) {
    const Object* annots = fetch_entry(*resolver_, page.dict, "Annots");
    const Array* list = annots != nullptr ? annots->as_array() : nullptr;
    if (list == nullptr) return;
    for (const Object& item : *list) {
        if (work_ >= limits::kMaxPageDrawnOps) return;
        if (budget_ != nullptr && !budget_->pace()) return;
        ++work_;  // each annotation is some work, drawn or not
        // Links and pop-ups draw nothing, and a page can have hundreds of
        // links (a table of contents, an index): their subtype is read from
        // the file without parsing them.
        if (const Reference* ref = item.as_ref()) {
            const auto subtype = resolver_->peek_name(ref->num, "Subtype");
            if (subtype && (*subtype == "Link" || *subtype == "Popup")) continue;
        }
        auto annot = resolver_->resolve_dict(item);
        if (annot) draw_annotation(**annot, &page.resources, page_fonts);
    }
}

void Interpreter::draw_annotation(const Dictionary& annot, const Dictionary* resources,
                                  const FontMap& fonts) {
    const Resolver& r = *resolver_;
    const Object* subtype = fetch_entry(r, annot, "Subtype");
    if (subtype == nullptr || subtype->is_name("Link") || subtype->is_name("Popup")) return;
    const bool widget = subtype->is_name("Widget");
    const std::int64_t flags = int_entry(r, annot, "F");
    if ((flags & kHidden) != 0) return;
    if (widget ? (flags & kNoView) != 0 && (flags & kPrint) == 0 : (flags & kPrint) == 0) return;
    const std::optional<Rect> rect = rect_entry(r, annot, "Rect");
    if (!rect) return;

    // The normal appearance, or the state /AS names among several.
    const Object* normal = nullptr;
    if (const Object* ap = fetch_entry(r, annot, "AP"); ap != nullptr && ap->as_dict()) {
        normal = fetch_entry(r, *ap->as_dict(), "N");
        if (normal != nullptr && normal->as_dict() != nullptr) {
            const Object* state = fetch_entry(r, annot, "AS");
            const Name* name = state != nullptr ? state->as_name() : nullptr;
            normal = name != nullptr ? fetch_entry(r, *normal->as_dict(), name->text) : nullptr;
        }
    }
    const Stream* appearance = normal != nullptr ? normal->as_stream() : nullptr;
    if (appearance == nullptr) {
        if (widget) show_field_value(annot);
        return;
    }

    // The appearance's bounding box, transformed by its matrix, is mapped
    // onto the annotation's rectangle (ISO 32000-1, 12.5.5, algorithm 8.1).
    const Rect bbox = rect_entry(r, appearance->dict, "BBox").value_or(Rect{0, 0, 0, 0});
    const Matrix m = matrix_entry(r, appearance->dict);
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double x0 = kInf, y0 = kInf, x1 = -kInf, y1 = -kInf;
    for (const auto& [x, y] : {std::pair{bbox[0], bbox[1]}, std::pair{bbox[2], bbox[1]},
                               std::pair{bbox[2], bbox[3]}, std::pair{bbox[0], bbox[3]}}) {
        const double tx = m.a * x + m.c * y + m.e;
        const double ty = m.b * x + m.d * y + m.f;
        x0 = std::fmin(x0, tx);
        x1 = std::fmax(x1, tx);
        y0 = std::fmin(y0, ty);
        y1 = std::fmax(y1, ty);
    }
    // A box of no width or height cannot be scaled; it is only moved.
    const double w = x1 - x0;
    const double h = y1 - y0;
    const double sx = w > 0 && std::isfinite(w) ? ((*rect)[2] - (*rect)[0]) / w : 1.0;
    const double sy = h > 0 && std::isfinite(h) ? ((*rect)[3] - (*rect)[1]) / h : 1.0;
    const Matrix a{sx, 0, 0, sy, (*rect)[0] - x0 * sx, (*rect)[1] - y0 * sy};
    if (!std::isfinite(a.e) || !std::isfinite(a.f)) return;
    draw_form(*normal, resources, fonts, GraphicsState{}, a, 0, false);
}

void Interpreter::show_field_value(const Dictionary& widget) {
    const Resolver& r = *resolver_;
    const Object* type = field_entry(r, widget, "FT");
    if (type == nullptr || !(type->is_name("Tx") || type->is_name("Ch"))) return;
    const Object* value = field_entry(r, widget, "V");
    const String* text = value != nullptr ? value->as_string() : nullptr;
    if (text == nullptr) return;
    const std::optional<Rect> rect = rect_entry(r, widget, "Rect");
    if (!rect) return;
    const Object* da = field_entry(r, widget, "DA");
    const String* da_text = da != nullptr ? da->as_string() : nullptr;
    const double height = (*rect)[3] - (*rect)[1];
    double size = da_text != nullptr ? da_font_size(da_text->bytes) : 0.0;
    // Automatic size: what fits the box, as viewers choose it.
    if (size <= 0) size = std::fmin(12.0, std::fmax(1.0, height * 0.7));

    const Object* ff = field_entry(r, widget, "Ff");
    const bool multiline = ff != nullptr && ff->as_int() != nullptr && (*ff->as_int() & kMultiline);
    // Lines of the value, split at CR, LF and CR LF; a single-line field
    // shows them on one line.
    std::vector<std::string> lines(1);
    const std::string all = text_string(text->bytes);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const char c = all[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < all.size() && all[i + 1] == '\n') ++i;
            if (multiline) {
                lines.emplace_back();
            } else {
                lines.back().push_back(' ');
            }
            continue;
        }
        lines.back().push_back(c);
    }
    // Placed as viewers lay out a field: 2 units in from the left, one line
    // centred in the box, several from its top down.
    double y = multiline ? (*rect)[3] - 2 - 0.8 * size
                         : (*rect)[1] + std::fmax(0.0, (height - size) / 2) + 0.2 * size;
    for (std::string& line : lines) {
        if (out_.runs.size() >= limits::kMaxPageRuns) return;
        if (!line.empty()) {
            TextRun run;
            run.text = std::move(line);
            run.x = (*rect)[0] + 2;
            run.y = y;
            run.font_size = size;
            // No font program is read, so the width is only estimated.
            run.width = 0.5 * size * static_cast<double>(run.text.size());
            out_.runs.push_back(std::move(run));
        }
        y -= 1.15 * size;
    }
}

// The runs the page's own content may show, at most one per string: a
// count of the bytes that can open one, '(' and '<', which also counts
// dictionaries and any such byte inside a string or an inline image.
// Reserving that many spares the run list its regrowths, each of which
// moves every run so far; forms and annotations may still add more. The
// bytes are compared sixteen at a time: a true lane is all ones, so
// subtracting the comparison counts it, and a lane counts at most two per
// step, so 127 steps cannot overflow it.
std::size_t runs_shown(ByteView content) {
    using Lanes = std::uint8_t __attribute__((vector_size(16)));
    constexpr std::size_t kWidth = sizeof(Lanes);
    constexpr std::size_t kSteps = 127;
    std::size_t n = 0;
    std::size_t i = 0;
    while (content.size() - i >= kWidth) {
        Lanes counts{};
        const std::size_t steps = std::min(kSteps, (content.size() - i) / kWidth);
        for (std::size_t step = 0; step < steps; ++step, i += kWidth) {
            Lanes bytes;
            std::memcpy(&bytes, content.data() + i, kWidth);
            counts -= reinterpret_cast<Lanes>(bytes == '(');
            counts -= reinterpret_cast<Lanes>(bytes == '<');
        }
        for (std::size_t lane = 0; lane < kWidth; ++lane) n += counts[lane];
    }
    for (; i < content.size(); ++i) n += (content[i] == '(') + (content[i] == '<');
    return std::min(n, limits::kMaxPageRuns);
}

}  // namespace

Result<PageDrawing> interpret_page(const Resolver& resolver, const Page& page, FontCache& cache) {
    auto content = page_content(resolver, page);
    if (!content) return std::move(content).error();
    PageDrawing out;
    Interpreter interpreter(&resolver, &cache, out);
    const std::shared_ptr<const FontMap> fonts = load_fonts(resolver, page.resources, cache);
    out.runs.reserve(runs_shown(*content));
    // The operations borrow the content bytes, which outlive them here.
    ContentReader ops(*content, interpreter.objects, resolver.budget);
    interpreter.run(ops, &page.resources, *fonts, GraphicsState{}, 0, true);
    interpreter.draw_annotations(page, *fonts);
    drop_overprinted(out.runs);
    return out;
}

PageDrawing interpret_content(ByteView content, const FontMap& fonts) {
    PageDrawing out;
    Interpreter interpreter(nullptr, nullptr, out);
    ContentReader ops(content, interpreter.objects);
    interpreter.run(ops, nullptr, fonts, GraphicsState{}, 0, true);
    return out;
}

}  // namespace vellox_core
