#include "cos.h"

#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "bounds.h"
#include "utf8.h"

namespace vellox_core::cos {

namespace {

Error eof() { return {ErrorKind::UnexpectedEof, "input ended mid-object"}; }
Error token(const char* message) { return {ErrorKind::UnexpectedToken, message}; }

int hex_value(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// `budget` counts down the objects a caller still lets one parse create,
// nested ones included (see parse_object with a budget). `stack` holds the
// items of the arrays being read, so that each array is allocated once at
// its final size instead of growing element by element; every call leaves
// it as it found it.
Result<Object> parse_value(Lexer& lx, std::uint32_t depth, std::size_t& budget,
                           std::vector<Object>& stack);
Result<Dictionary> parse_dict(Lexer& lx, std::uint32_t depth, std::size_t& budget,
                              std::vector<Object>& stack);

Result<Object> parse_literal_string(Lexer& lx) {
    Bytes out;
    if (!read_literal_string(lx, out)) return eof();
    return Object(String{std::move(out)});
}

Result<Object> parse_hex_string(Lexer& lx) {
    Bytes out;
    switch (read_hex_string(lx, out)) {
        case HexString::Ok: return Object(String{std::move(out)});
        case HexString::BadDigit: return token("bad hex digit");
        case HexString::End: break;
    }
    return eof();
}

}  // namespace

bool read_literal_string(Lexer& lx, Bytes& out) {
    // pos is just behind the opening parenthesis.
    const ByteView in = lx.input;
    int depth = 1;
    while (true) {
        // Copy the run up to the next byte that needs attention in one go.
        std::size_t i = lx.pos;
        while (i < in.size() && in[i] != '(' && in[i] != ')' && in[i] != '\\') ++i;
        out.insert(out.end(), in.begin() + lx.pos, in.begin() + i);
        lx.pos = i;
        if (i >= in.size()) return false;
        const std::uint8_t c = in[i];
        ++lx.pos;
        if (c == '(') {
            ++depth;
            out.push_back('(');
        } else if (c == ')') {
            if (--depth == 0) return true;
            out.push_back(')');
        } else {
            if (lx.pos >= in.size()) return false;
            const std::uint8_t e = in[lx.pos++];
            switch (e) {
                case '\n': break;  // line continuation
                case '\r':
                    if (lx.pos < in.size() && in[lx.pos] == '\n') ++lx.pos;
                    break;
                case 'n': out.push_back(0x0A); break;
                case 'r': out.push_back(0x0D); break;
                case 't': out.push_back(0x09); break;
                case 'b': out.push_back(0x08); break;
                case 'f': out.push_back(0x0C); break;
                default:
                    if (e >= '0' && e <= '7') {
                        // One to three octal digits; the value wraps in 8 bits.
                        std::uint8_t v = static_cast<std::uint8_t>(e - '0');
                        for (int k = 0;
                             k < 2 && lx.pos < in.size() && in[lx.pos] >= '0' && in[lx.pos] <= '7';
                             ++k) {
                            v = static_cast<std::uint8_t>(v * 8 + (in[lx.pos++] - '0'));
                        }
                        out.push_back(v);
                    } else {
                        out.push_back(e);
                    }
            }
        }
    }
}

HexString read_hex_string(Lexer& lx, Bytes& out) {
    // pos is just behind the '<'.
    int high = -1;
    while (lx.pos < lx.input.size()) {
        const std::uint8_t c = lx.input[lx.pos++];
        if (is_whitespace(c)) continue;
        if (c == '>') {
            if (high >= 0) out.push_back(static_cast<std::uint8_t>(high << 4));
            return HexString::Ok;
        }
        const int v = hex_value(c);
        if (v < 0) return HexString::BadDigit;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return HexString::End;
}

namespace {

// The bytes a plain name is made of: regular, ASCII, and not the '#' that
// begins an escape.
constexpr std::array<bool, 256> make_plain_name_bytes() {
    std::array<bool, 256> t{};
    for (std::size_t c = 0; c < 0x80; ++c) t[c] = lex_detail::kClasses[c] == lex_detail::kRegular;
    t['#'] = false;
    return t;
}

constexpr std::array<bool, 256> kPlainNameBytes = make_plain_name_bytes();

}  // namespace

std::optional<std::string_view> take_plain_name(Lexer& lx) {
    const ByteView in = lx.input;
    std::size_t end = lx.pos;
    while (end < in.size() && kPlainNameBytes[in[end]]) ++end;
    // A regular byte that may not stand in a plain name ('#', or one above
    // ASCII) makes the whole token a name to decode.
    if (end < in.size() && is_regular(in[end])) return std::nullopt;
    const std::string_view text = as_text(in.subspan(lx.pos, end - lx.pos));
    lx.pos = end;
    return text;
}

namespace {

Result<Object> parse_name(Lexer& lx) {
    // pos is just behind the '/'. Nearly every name is plain ASCII without
    // #xx escapes: its text is its bytes, taken without the decoding below.
    if (const auto plain = take_plain_name(lx)) return Object(Name{std::string(*plain)});
    const ByteView in = lx.input;
    Bytes raw;
    while (lx.pos < in.size() && is_regular(in[lx.pos])) {
        const std::uint8_t c = in[lx.pos++];
        if (c != '#') {
            raw.push_back(c);
            continue;
        }
        if (lx.pos >= in.size()) return eof();
        const int hi = hex_value(in[lx.pos]);
        if (hi < 0) return token("bad #xx escape in name");
        if (lx.pos + 1 >= in.size()) return eof();
        const int lo = hex_value(in[lx.pos + 1]);
        if (lo < 0) return token("bad #xx escape in name");
        raw.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        lx.pos += 2;
    }
    return Object(Name{lossy_utf8(raw)});
}

}  // namespace

Number number_detail::parse_long_number(std::string_view t) {
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    std::int64_t magnitude = 0;
    bool any_digit = false;
    bool dot = false;
    int fraction = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '.') {
            if (dot) return {};
            dot = true;
            continue;
        }
        if (c < '0' || c > '9') return {};
        any_digit = true;
        if (__builtin_mul_overflow(magnitude, 10, &magnitude) ||
            __builtin_add_overflow(magnitude, c - '0', &magnitude)) {
            return {};
        }
        if (dot) ++fraction;
    }
    if (!any_digit || fraction > 22) return {};
    const std::int64_t signed_magnitude = negative ? -magnitude : magnitude;
    if (!dot) return Number::of(signed_magnitude);
    return Number::of(static_cast<double>(signed_magnitude) / number_detail::kPow10[fraction]);
}

Number parse_number_fast(std::string_view t) {
    Lexer lx(as_bytes(t));
    const Number number = read_number_fast(lx);
    return lx.pos == t.size() ? number : Number{};
}

namespace {

// The general decimal conversion: optional sign, digits with an optional
// fraction and exponent, or inf / infinity / nan in any case.
std::optional<double> parse_number_general(std::string_view t) {
    std::string_view s = t;
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s[0] == '+' || s[0] == '-') return std::nullopt;
    // from_chars accepts "nan(...)", which cannot occur in a token (the
    // parenthesis is a delimiter), and hex floats only with chars_format::hex.
    double value = 0;
    const auto [ptr, ec] =
        std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (ptr != s.data() + s.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // Too large becomes infinity, too small becomes zero, as the usual
        // text-to-double conversions round. Decide by the decimal exponent.
        long exponent = 0;
        std::size_t e = s.find_first_of("eE");
        std::string_view mantissa = s.substr(0, e);
        if (e != std::string_view::npos) {
            std::string_view ex = s.substr(e + 1);
            bool eneg = false;
            if (!ex.empty() && (ex[0] == '+' || ex[0] == '-')) {
                eneg = ex[0] == '-';
                ex.remove_prefix(1);
            }
            for (char c : ex) exponent = exponent < 100000 ? exponent * 10 + (c - '0') : exponent;
            if (eneg) exponent = -exponent;
        }
        const std::size_t dotpos = mantissa.find('.');
        const std::string_view int_part = mantissa.substr(0, dotpos);
        const std::size_t lead = int_part.find_first_not_of('0');
        const bool big = lead != std::string_view::npos
                             ? exponent + static_cast<long>(int_part.size() - lead) > 0
                             : exponent > 0;
        value = big ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc{}) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

Result<Object> parse_number(Lexer& lx) {
    const std::size_t start = lx.pos;
    const Number number = read_number_fast(lx);
    if (lx.pos == start) return token("empty number");
    const ByteView tok = lx.input.subspan(start, lx.pos - start);
    const std::string_view t = as_text(tok);
    if (number.kind == Number::None) {
        if (!is_valid_utf8(tok)) return token("non-utf8 number");
        const auto real = parse_number_general(t);
        if (!real) return token("bad number");
        return Object(*real);
    }
    // "n g R" is a reference; anything else leaves the cursor behind n.
    if (const auto ref = reference_after(lx, number)) return Object(*ref);
    return number.object();
}

}  // namespace

std::optional<Reference> reference_after(Lexer& lx, const Number& n) {
    if (n.kind != Number::Integer || n.integer < 0 || n.integer > 4294967295LL) return std::nullopt;
    const std::size_t mark = lx.pos;
    lx.skip_whitespace();
    // A generation number starts with a digit or '+'; an integer followed
    // by anything else (the last operand before an operator, say) is done
    // without reading the next tokens.
    if (lx.at_end() || !(is_digit(lx.peek()) || lx.peek() == '+')) {
        lx.pos = mark;
        return std::nullopt;
    }
    // Runs of numbers ("1 0 0 1 72 720 cm") are common and references in
    // them rare: the cheap test for the R comes before reading the
    // generation's digits.
    if (const auto gen_tok = lx.read_keyword()) {
        lx.skip_whitespace();
        if (!lx.at_end() && lx.peek() == 'R') {
            const auto r = lx.read_keyword();
            if (r && r->size() == 1) {
                if (const auto gen = parse_unsigned(*gen_tok, 65535)) {
                    return Reference{static_cast<std::uint32_t>(n.integer),
                                     static_cast<std::uint16_t>(*gen)};
                }
            }
        }
    }
    lx.pos = mark;
    return std::nullopt;
}

namespace {

// A plain name at the cursor, its slash included, as take_plain_name reads
// it; nothing, with the cursor unmoved, for anything else.
std::optional<std::string_view> take_slashed_plain_name(Lexer& lx) {
    if (lx.peek() != '/') return std::nullopt;
    ++lx.pos;
    const auto plain = take_plain_name(lx);
    if (!plain) --lx.pos;
    return plain;
}

// A number, a reference or a plain name: the leaves nearly every array and
// dictionary of a file holds (/Widths, /Rect, /Kids, /Type /Annot). They are
// read into `out` where it stays, without the Result a general parse returns:
// moving a value out through the nested variants costs more than reading
// the token. False, with the cursor unmoved, for anything else, which the
// general parse then reads (and fails on, where it fails). The caller has
// skipped white space, checked for the end and charged the budget's unit.
bool read_leaf(Lexer& lx, Object& out) {
    const std::size_t start = lx.pos;
    const std::uint8_t c = lx.peek();
    if (c == '/') {
        const auto plain = take_slashed_plain_name(lx);
        if (plain) out.v.emplace<Name>(Name{std::string(*plain)});
        return plain.has_value();
    }
    if (!(c == '+' || c == '-' || c == '.' || is_digit(c))) return false;
    const Number number = read_number_fast(lx);
    if (number.kind == Number::None) {
        lx.pos = start;
        return false;
    }
    // "n g R" is a reference; anything else leaves the cursor behind n.
    if (const auto ref = reference_after(lx, number)) {
        out.v.emplace<Reference>(*ref);
    } else if (number.kind == Number::Integer) {
        out.v.emplace<std::int64_t>(number.integer);
    } else {
        out.v.emplace<double>(number.real);
    }
    return true;
}

// Room for the items of a /Rect, a /Border or a short /Kids at once.
constexpr std::size_t kFirstStackRoom = 16;

Result<Object> parse_array(Lexer& lx, std::uint32_t depth, std::size_t& budget,
                           std::vector<Object>& stack) {
    // pos is just behind the '['.
    // A fresh stack (each top-level parse without scratch of its own starts
    // one) would otherwise grow one, two, four... items at a time, moving
    // what it holds each time, for the first array of nearly every object.
    if (stack.capacity() == 0) stack.reserve(kFirstStackRoom);
    const std::size_t base = stack.size();
    while (true) {
        lx.skip_whitespace();
        if (lx.at_end()) {
            stack.resize(base);
            return eof();
        }
        if (lx.peek() == ']') {
            ++lx.pos;
            Array items(std::make_move_iterator(stack.begin() + static_cast<std::ptrdiff_t>(base)),
                        std::make_move_iterator(stack.end()));
            stack.resize(base);
            return Object(std::move(items));
        }
        if (budget > 0) {
            if (read_leaf(lx, stack.emplace_back())) {
                --budget;
                continue;
            }
            stack.pop_back();
        }
        auto item = parse_value(lx, depth, budget, stack);
        if (!item) {
            stack.resize(base);
            return std::move(item).error();
        }
        stack.push_back(std::move(item).value());
    }
}

Result<Dictionary> parse_dict(Lexer& lx, std::uint32_t depth, std::size_t& budget,
                              std::vector<Object>& stack) {
    lx.pos = std::min(lx.pos + 2, lx.input.size());
    DictionaryBuilder dict;
    while (true) {
        lx.skip_whitespace();
        if (lx.at_end()) return eof();
        if (lx.peek() == '>') {
            // Only the first '>' is looked at; the second is taken on trust.
            lx.pos = std::min(lx.pos + 2, lx.input.size());
            return std::move(dict).take();
        }
        std::string key;
        const auto plain = budget > 0 ? take_slashed_plain_name(lx) : std::nullopt;
        if (plain) {
            --budget;
            key.assign(*plain);
        } else {
            auto parsed = parse_value(lx, depth, budget, stack);
            if (!parsed) return std::move(parsed).error();
            Name* name = std::get_if<Name>(&parsed->v);
            if (name == nullptr) return token("dictionary key is not a name");
            key = std::move(name->text);
        }
        lx.skip_whitespace();
        if (!lx.at_end() && budget > 0) {
            Object leaf;
            if (read_leaf(lx, leaf)) {
                --budget;
                dict.add(std::move(key), std::move(leaf));
                continue;
            }
        }
        auto value = parse_value(lx, depth, budget, stack);
        if (!value) return std::move(value).error();
        dict.add(std::move(key), std::move(value).value());
    }
}

Result<Object> parse_value(Lexer& lx, std::uint32_t depth, std::size_t& budget,
                           std::vector<Object>& stack) {
    lx.skip_whitespace();
    if (lx.at_end()) return eof();
    if (budget == 0) return token("too many objects");
    --budget;
    const std::uint8_t c = lx.peek();
    switch (c) {
        case '(': ++lx.pos; return parse_literal_string(lx);
        case '<':
            if (lx.pos + 1 < lx.input.size() && lx.input[lx.pos + 1] == '<') {
                if (depth >= limits::kMaxNesting) return token("nesting too deep");
                auto dict = parse_dict(lx, depth + 1, budget, stack);
                if (!dict) return std::move(dict).error();
                return Object(std::move(dict).value());
            }
            ++lx.pos;
            return parse_hex_string(lx);
        case '/': ++lx.pos; return parse_name(lx);
        case '[':
            if (depth >= limits::kMaxNesting) return token("nesting too deep");
            ++lx.pos;
            return parse_array(lx, depth + 1, budget, stack);
        default: break;
    }
    if (c == '+' || c == '-' || c == '.' || is_digit(c)) return parse_number(lx);
    const auto kw = lx.read_keyword();
    if (kw) {
        const std::string_view k = as_text(*kw);
        if (k == "null") return Object(Null{});
        if (k == "true") return Object(true);
        if (k == "false") return Object(false);
    }
    return token("unexpected token");
}

}  // namespace

Result<Object> parse_object(Lexer& lexer) {
    std::size_t unbounded = std::numeric_limits<std::size_t>::max();
    std::vector<Object> stack;
    return parse_value(lexer, 0, unbounded, stack);
}

Result<Object> parse_object(Lexer& lexer, std::size_t& budget) {
    std::vector<Object> stack;
    return parse_value(lexer, 0, budget, stack);
}

Result<Object> parse_object(Lexer& lexer, std::size_t& budget, std::vector<Object>& scratch) {
    return parse_value(lexer, 0, budget, scratch);
}

Result<Dictionary> parse_dictionary(Lexer& lexer) {
    std::size_t unbounded = std::numeric_limits<std::size_t>::max();
    std::vector<Object> stack;
    return parse_dict(lexer, 1, unbounded, stack);
}

namespace {

// Steps over a literal string, the cursor just behind its '(': the
// parentheses balance as read_literal_string counts them, a backslash
// taking the byte after it whatever it is. False at the end of the input.
bool skip_literal_string(Lexer& lx) {
    const ByteView in = lx.input;
    int depth = 1;
    while (lx.pos < in.size()) {
        const std::uint8_t c = in[lx.pos++];
        if (c == '\\') {
            if (lx.pos >= in.size()) return false;
            ++lx.pos;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return true;
        }
    }
    return false;
}

// Steps over one value inside an array or dictionary being skipped: the
// tokens there need no pairing into keys and values, only their ends and
// the nesting, which is tracked in `depth`. False when the value does not
// read as the parser would read a well-formed one.
bool skip_nested_token(Lexer& lx, std::uint32_t& depth) {
    const ByteView in = lx.input;
    const std::uint8_t c = lx.peek();
    switch (c) {
        case '(': ++lx.pos; return skip_literal_string(lx);
        case '<':
            if (lx.pos + 1 < in.size() && in[lx.pos + 1] == '<') {
                if (++depth > limits::kMaxNesting) return false;
                lx.pos += 2;
                return true;
            }
            // A hex string runs to its first '>'.
            while (lx.pos < in.size() && in[lx.pos] != '>') ++lx.pos;
            if (lx.pos >= in.size()) return false;
            ++lx.pos;
            return true;
        case '[':
            if (++depth > limits::kMaxNesting) return false;
            ++lx.pos;
            return true;
        case ']':
        case '>':
            if (depth == 0) return false;
            // The parser takes the second '>' of a dictionary's end on trust.
            --depth;
            lx.pos = std::min(lx.pos + (c == '>' ? 2 : 1), in.size());
            return true;
        case '/': ++lx.pos; break;
        default: break;
    }
    // A name's bytes, a number, a keyword: one run of regular bytes, which
    // must not be empty (a lone delimiter such as ')' reads as nothing).
    const std::size_t start = lx.pos;
    lx.read_keyword();
    return lx.pos != start || c == '/';
}

// Steps over one value of the dictionary being peeked, as parse_value
// would read it: a number that a generation and R follow is one reference.
// A plain name is returned through `name`.
bool skip_entry_value(Lexer& lx, std::optional<std::string_view>& name) {
    name.reset();
    const std::uint8_t c = lx.peek();
    if (c == '/') {
        if ((name = take_slashed_plain_name(lx))) return true;
    } else if (c == '+' || c == '-' || c == '.' || is_digit(c)) {
        const std::size_t start = lx.pos;
        const Number number = read_number_fast(lx);
        if (number.kind != Number::None) {
            reference_after(lx, number);
            return true;
        }
        lx.pos = start;
    } else if (c != '<' && c != '[') {
        std::uint32_t depth = 0;
        return skip_nested_token(lx, depth) && depth == 0;
    }
    // A container, a name with #xx escapes or a number for the general
    // conversion: skipped token by token to the depth it started at.
    std::uint32_t depth = 0;
    do {
        lx.skip_whitespace();
        if (lx.at_end() || !skip_nested_token(lx, depth)) return false;
    } while (depth != 0);
    return true;
}

}  // namespace

std::optional<std::string_view> peek_name_entry(Lexer& lx, std::string_view key) {
    if (lx.pos + 1 >= lx.input.size() || lx.input[lx.pos] != '<' || lx.input[lx.pos + 1] != '<') {
        return std::nullopt;
    }
    lx.pos += 2;
    // A repeated key takes its last value, as the dictionary builder does.
    std::optional<std::string_view> found;
    while (true) {
        lx.skip_whitespace();
        if (lx.at_end()) return std::nullopt;
        if (lx.peek() == '>') return found;
        // A key with #xx escapes may spell `key`: nothing can be told.
        const auto name = take_slashed_plain_name(lx);
        if (!name) return std::nullopt;
        lx.skip_whitespace();
        if (lx.at_end()) return std::nullopt;
        std::optional<std::string_view> value;
        if (!skip_entry_value(lx, value)) return std::nullopt;
        if (*name == key) found = value;
    }
}

}  // namespace vellox_core::cos
