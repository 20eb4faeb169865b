#include "support/content_reference.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <utility>

#include "bounds.h"
#include "cos.h"
#include "lex.h"

namespace vellox_test {

using namespace vellox_core;

namespace {

// Bytes that begin an operand: strings, hex strings and dictionaries, names,
// arrays and numbers. Every other byte begins a keyword or is a delimiter.
bool starts_operand(std::uint8_t c) {
    return c == '(' || c == '+' || c == '-' || c == '.' || c == '/' || c == '<' || c == '[' ||
           (c >= '0' && c <= '9');
}

// The value of the first of `keys` present.
const Object* entry(const Dictionary& dict, std::initializer_list<std::string_view> keys) {
    for (const std::string_view key : keys) {
        if (const Object* v = dict.get(key)) return v;
    }
    return nullptr;
}

std::optional<std::uint64_t> whole(const Object* v) {
    if (v == nullptr || v->as_int() == nullptr || *v->as_int() < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*v->as_int());
}

// Bytes of an inline image's data as its dictionary gives them: declared,
// or with no filter the rows of samples; nothing when it cannot say.
std::optional<std::uint64_t> declared_size(const Dictionary& dict) {
    if (auto n = whole(entry(dict, {"L", "Length"}))) return n;
    const Object* filter = entry(dict, {"F", "Filter"});
    const bool filtered = filter != nullptr && !filter->is_null() &&
                          !(filter->as_array() != nullptr && filter->as_array()->empty());
    if (filtered) return std::nullopt;
    const Object* im = entry(dict, {"IM", "ImageMask"});
    const bool mask = im != nullptr && im->as_bool() != nullptr && *im->as_bool();
    std::uint64_t colours = 0;  // 0: unknown
    if (mask) {
        colours = 1;
    } else if (const Object* cs = entry(dict, {"CS", "ColorSpace"})) {
        const Object* family = cs;
        if (const Array* a = cs->as_array()) family = a->empty() ? nullptr : &a->front();
        for (const auto& [n, k] : {std::pair<const char*, int>{"G", 1},
                                   {"DeviceGray", 1},
                                   {"I", 1},
                                   {"Indexed", 1},
                                   {"RGB", 3},
                                   {"DeviceRGB", 3},
                                   {"CMYK", 4},
                                   {"DeviceCMYK", 4}}) {
            if (family != nullptr && family->is_name(n)) colours = static_cast<std::uint64_t>(k);
        }
        // An array names its family first; only an indexed one is known.
        if (cs->as_array() != nullptr) {
            colours =
                family != nullptr && (family->is_name("I") || family->is_name("Indexed")) ? 1 : 0;
        }
    }
    const auto w = whole(entry(dict, {"W", "Width"}));
    const auto h = whole(entry(dict, {"H", "Height"}));
    const auto bpc =
        mask ? std::optional<std::uint64_t>(1) : whole(entry(dict, {"BPC", "BitsPerComponent"}));
    if (!w || !h || !bpc || colours == 0) return std::nullopt;
    // In 128 bits, each step checked against 64: a size that does not fit
    // says nothing.
    using Wide = unsigned __int128;
    constexpr Wide kMax = ~std::uint64_t{0};
    const std::uint64_t width = *w, height = *h, depth = *bpc;
    const Wide samples = Wide{width} * colours;
    if (samples > kMax) return std::nullopt;
    const Wide bits = samples * depth;
    if (bits > kMax) return std::nullopt;
    const Wide size = (bits + 7) / 8 * height;
    if (size > kMax) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

bool is_ei(ByteView d, std::size_t i) {
    if (i + 2 > d.size() || d[i] != 'E' || d[i + 1] != 'I') return false;
    return i + 2 == d.size() || is_whitespace(d[i + 2]) || is_delimiter(d[i + 2]);
}

}  // namespace

std::vector<ReferenceOp> parse_content_reference(ByteView data) {
    std::vector<ReferenceOp> ops;
    std::vector<Object> operands;  // gathered since the last operation
    std::size_t budget = limits::kMaxContentObjects;
    Lexer lexer(data);
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end()) break;
        if (starts_operand(lexer.peek())) {
            auto operand = cos::parse_object(lexer, budget);
            if (!operand) break;
            operands.push_back(std::move(operand).value());
            continue;
        }
        const auto keyword = lexer.read_keyword();
        if (!keyword) {
            // A delimiter that cannot start an operand: what was gathered
            // is dropped.
            ++lexer.pos;
            operands.clear();
            continue;
        }
        if (keyword->size() == 2 && (*keyword)[0] == 'B' && (*keyword)[1] == 'I') {
            operands.clear();
            // The dictionary: key and value objects up to the bytes "ID".
            const std::size_t dict_from = lexer.pos;
            Dictionary dict;
            bool read = false;
            while (true) {
                lexer.skip_whitespace();
                if (lexer.at_end()) break;
                if (lexer.pos + 2 <= data.size() && data[lexer.pos] == 'I' &&
                    data[lexer.pos + 1] == 'D') {
                    read = true;
                    break;
                }
                auto key = cos::parse_object(lexer, budget);
                if (!key) break;
                auto value = cos::parse_object(lexer, budget);
                if (!value) break;
                if (key->as_name() != nullptr) dict.set(key->as_name()->text, *value);
            }
            if (!read) break;
            const std::size_t dict_to = lexer.pos;
            std::size_t from = lexer.pos + 2;  // the data, behind one white-space byte
            const bool white = from < data.size() && is_whitespace(data[from]);
            if (white) ++from;

            // Where it ends: a known end followed by EI, else the first EI
            // with white space before it.
            std::optional<std::size_t> data_to;
            std::optional<std::size_t> ei;
            std::size_t search = from;
            std::optional<std::size_t> known;
            const Object* filter = entry(dict, {"F", "Filter"});
            if (filter != nullptr && filter->as_array() != nullptr) {
                filter = filter->as_array()->empty() ? nullptr : &filter->as_array()->front();
            }
            auto marker_end = [&](std::string_view marker) -> std::optional<std::size_t> {
                for (std::size_t i = from; i + marker.size() <= data.size(); ++i) {
                    if (std::equal(marker.begin(), marker.end(), data.begin() + i)) {
                        return i + marker.size();
                    }
                }
                return std::nullopt;
            };
            if (const auto size = declared_size(dict)) {
                if (*size <= data.size() - from) known = from + *size;
            } else if (filter != nullptr &&
                       (filter->is_name("AHx") || filter->is_name("ASCIIHexDecode"))) {
                known = marker_end(">");
                if (known) search = *known;
            } else if (filter != nullptr &&
                       (filter->is_name("A85") || filter->is_name("ASCII85Decode"))) {
                known = marker_end("~>");
                if (known) search = *known;
            }
            if (known) {
                std::size_t i = *known;
                while (i < data.size() && is_whitespace(data[i])) ++i;
                if (is_ei(data, i)) {
                    data_to = *known;
                    ei = i;
                }
            }
            for (std::size_t i = search; !ei && i < data.size(); ++i) {
                const bool spaced = i == from ? white : is_whitespace(data[i - 1]);
                if (spaced && is_ei(data, i)) {
                    ei = i;
                    data_to = i == search ? i : i - 1;
                }
            }
            if (!ei || budget == 0) break;
            --budget;
            ReferenceOp op;
            op.len = 2;
            op.bytes = {'B', 'I', 0, 0};
            op.code = operator_of("BI");
            const auto slice = [&](std::size_t a, std::size_t b) {
                return Object(String{Bytes(data.begin() + static_cast<std::ptrdiff_t>(a),
                                           data.begin() + static_cast<std::ptrdiff_t>(b))});
            };
            op.operands.push_back(slice(dict_from, dict_to));
            op.operands.push_back(slice(from, *data_to));
            ops.push_back(std::move(op));
            lexer.pos = *ei + 2;
            continue;
        }
        if (budget == 0) break;
        --budget;
        ReferenceOp op;
        op.len = static_cast<std::uint8_t>(std::min(keyword->size(), op.bytes.size()));
        std::memcpy(op.bytes.data(), keyword->data(), op.len);
        op.code = operator_of(op.keyword());
        op.operands = std::move(operands);
        operands.clear();
        ops.push_back(std::move(op));
    }
    return ops;
}

}  // namespace vellox_test
