#include "content.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "bounds.h"
#include "cos.h"
#include "lex.h"

namespace vellox_core {

namespace {

// What a token's first byte says it is, looked up once per token: a
// number, another operand (strings, hex strings and dictionaries, names,
// arrays), or anything else (a keyword or a delimiter).
enum TokenStart : std::uint8_t { kOtherStart = 0, kNumberStart = 1, kOperandStart = 2 };

constexpr std::array<std::uint8_t, 256> kTokenStarts = [] {
    std::array<std::uint8_t, 256> t{};
    for (const char c : std::string_view("+-.0123456789")) {
        t[static_cast<unsigned char>(c)] = kNumberStart;
    }
    for (const char c : std::string_view("(/<[")) t[static_cast<unsigned char>(c)] = kOperandStart;
    return t;
}();

bool starts_number(std::uint8_t c) { return kTokenStarts[c] == kNumberStart; }
// Bytes that begin an operand, numbers included.
bool starts_operand(std::uint8_t c) { return kTokenStarts[c] != kOtherStart; }

// The first filter of an inline image, in full or abbreviated.
std::string_view first_filter(const Dictionary& dict) {
    const Object* f = dict.get("F");
    if (f == nullptr) f = dict.get("Filter");
    if (f == nullptr) return {};
    if (const Array* items = f->as_array()) {
        if (items->empty()) return {};
        f = &items->front();
    }
    const Name* name = f->as_name();
    return name != nullptr ? std::string_view(name->text) : std::string_view{};
}

bool has_filter(const Dictionary& dict) {
    const Object* f = dict.get("F");
    if (f == nullptr) f = dict.get("Filter");
    if (f == nullptr || f->is_null()) return false;
    const Array* items = f->as_array();
    return items == nullptr || !items->empty();
}

// A non-negative integer entry under either of two keys.
std::optional<std::uint64_t> count_entry(const Dictionary& dict, std::string_view a,
                                         std::string_view b) {
    const Object* v = dict.get(a);
    if (v == nullptr) v = dict.get(b);
    const std::int64_t* i = v != nullptr ? v->as_int() : nullptr;
    if (i == nullptr || *i < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*i);
}

bool is_mask(const Dictionary& dict) {
    const Object* mask = dict.get("IM");
    if (mask == nullptr) mask = dict.get("ImageMask");
    return mask != nullptr && mask->as_bool() != nullptr && *mask->as_bool();
}

// Colour components of an inline image's colour space, when the
// dictionary alone says: device spaces by name or abbreviation, an indexed
// space as one; a name of the page's /ColorSpace resources does not say.
std::optional<std::uint64_t> components(const Dictionary& dict) {
    if (is_mask(dict)) return 1;
    const Object* cs = dict.get("CS");
    if (cs == nullptr) cs = dict.get("ColorSpace");
    if (cs == nullptr) return std::nullopt;
    if (const Array* items = cs->as_array()) {
        if (items->empty()) return std::nullopt;
        const Object& family = items->front();
        if (family.is_name("I") || family.is_name("Indexed")) return 1;
        return std::nullopt;
    }
    const Name* name = cs->as_name();
    if (name == nullptr) return std::nullopt;
    const std::string_view n = name->text;
    if (n == "G" || n == "DeviceGray" || n == "I" || n == "Indexed") return 1;
    if (n == "RGB" || n == "DeviceRGB") return 3;
    if (n == "CMYK" || n == "DeviceCMYK") return 4;
    return std::nullopt;
}

// The data's length in bytes when the dictionary makes it computable.
std::optional<std::uint64_t> inline_data_length(const Dictionary& dict) {
    if (const auto declared = count_entry(dict, "L", "Length")) return declared;
    if (has_filter(dict)) return std::nullopt;
    const auto width = count_entry(dict, "W", "Width");
    const auto height = count_entry(dict, "H", "Height");
    const auto comps = components(dict);
    const auto bpc = is_mask(dict) ? std::optional<std::uint64_t>(1)
                                   : count_entry(dict, "BPC", "BitsPerComponent");
    if (!width || !height || !comps || !bpc) return std::nullopt;
    std::uint64_t row_bits = 0;
    std::uint64_t total = 0;
    if (__builtin_mul_overflow(*width, *comps, &row_bits) ||
        __builtin_mul_overflow(row_bits, *bpc, &row_bits) ||
        __builtin_mul_overflow(row_bits / 8 + (row_bits % 8 != 0 ? 1 : 0), *height, &total)) {
        return std::nullopt;
    }
    return total;
}

// "EI" at `at`, followed by white space, a delimiter or the end.
bool ei_at(ByteView data, std::size_t at) {
    return data.size() - at >= 2 && data[at] == 'E' && data[at + 1] == 'I' &&
           (data.size() - at == 2 || !is_regular(data[at + 2]));
}

// Position of the first occurrence of `marker` in `data`.
std::optional<std::size_t> find(ByteView data, std::string_view marker) {
    const ByteView bytes = as_bytes(marker);
    const auto it = std::search(data.begin(), data.end(), bytes.begin(), bytes.end());
    if (it == data.end()) return std::nullopt;
    return static_cast<std::size_t>(it - data.begin());
}

// Where the data of an inline image ends, by the rule in content.h: the
// data's length and the length through "EI", counted from the data's first
// byte (`rest` runs from there to the end of the content). Nothing when no
// EI is found.
struct InlineImageEnd {
    std::size_t data_length = 0;
    std::size_t through_ei = 0;
};

std::optional<InlineImageEnd> inline_image_end(const Dictionary& dict, ByteView rest,
                                               bool after_white_space) {
    // A known end: EI must follow it, after nothing but white space.
    std::size_t search_from = 0;
    std::optional<std::size_t> known_end;
    const std::string_view filter = first_filter(dict);
    if (const auto length = inline_data_length(dict)) {
        if (*length <= rest.size()) known_end = static_cast<std::size_t>(*length);
    } else if (filter == "AHx" || filter == "ASCIIHexDecode") {
        if (const auto at = find(rest, ">")) known_end = search_from = *at + 1;
    } else if (filter == "A85" || filter == "ASCII85Decode") {
        if (const auto at = find(rest, "~>")) known_end = search_from = *at + 2;
    }
    if (known_end) {
        std::size_t at = *known_end;
        while (at < rest.size() && is_whitespace(rest[at])) ++at;
        if (ei_at(rest, at)) return InlineImageEnd{*known_end, at + 2};
    }
    // Otherwise the first EI with white space before it. The white space
    // after ID counts for an EI at the very start (an image of no bytes);
    // the white space before EI is not data.
    for (std::size_t at = search_from; at + 2 <= rest.size(); ++at) {
        if (!ei_at(rest, at)) continue;
        if (!(at > 0 ? is_whitespace(rest[at - 1]) : after_white_space)) continue;
        return InlineImageEnd{at > search_from ? at - 1 : search_from, at + 2};
    }
    return std::nullopt;
}

}  // namespace

namespace {

// Operators are looked up for every operation of a page, so by table: the
// one-byte operators by their byte, the two-byte ones in a small hash table
// whose slots hold the keyword they stand for.
struct OperatorTable {
    struct Slot {
        std::uint16_t keyword = 0;  // first byte low, as read from memory
        Operator code = Operator::Other;
    };
    std::array<Operator, 256> one{};
    std::array<Slot, 64> two{};
    bool collides = false;  // two operators hashed to one slot

    static constexpr std::uint16_t word_of(std::uint8_t a, std::uint8_t b) {
        return static_cast<std::uint16_t>(a | b << 8);
    }
    // A multiplicative hash that puts each two-byte operator in a slot of
    // its own (checked when the table is built).
    static constexpr std::size_t slot_of(std::uint16_t word) {
        return (static_cast<std::uint32_t>(word) * 82u & 0xFFFFu) >> 10;
    }

    constexpr OperatorTable() {
        const std::pair<char, Operator> ones[] = {
            {'q', Operator::Save},          {'Q', Operator::Restore},
            {'\'', Operator::NextLineShow}, {'"', Operator::SpacingNextLineShow},
            {'m', Operator::MoveTo},        {'l', Operator::LineTo},
            {'S', Operator::Stroke},        {'s', Operator::CloseStroke},
            {'f', Operator::Fill},          {'F', Operator::FillOld},
            {'B', Operator::FillStroke},    {'b', Operator::CloseFillStroke},
            {'n', Operator::EndPath},       {'h', Operator::ClosePath},
            {'c', Operator::CurveTo},       {'v', Operator::CurveTo},
            {'y', Operator::CurveTo},
        };
        for (const auto& [byte, code] : ones) one[static_cast<std::uint8_t>(byte)] = code;
        const std::pair<const char*, Operator> twos[] = {
            {"Tf", Operator::SetFont},
            {"Tc", Operator::CharSpacing},
            {"Tw", Operator::WordSpacing},
            {"Tz", Operator::HorizontalScale},
            {"TL", Operator::Leading},
            {"Ts", Operator::Rise},
            {"Td", Operator::MoveText},
            {"TD", Operator::MoveTextSetLeading},
            {"Tm", Operator::TextMatrix},
            {"T*", Operator::NextLine},
            {"Tj", Operator::Show},
            {"TJ", Operator::ShowArray},
            {"f*", Operator::FillEvenOdd},
            {"B*", Operator::FillStrokeEvenOdd},
            {"b*", Operator::CloseFillStrokeEvenOdd},
            {"cm", Operator::Concat},
            {"BT", Operator::BeginText},
            {"re", Operator::Rectangle},
            {"Do", Operator::PaintXObject},
            {"BI", Operator::InlineImage},
        };
        for (const auto& [text, code] : twos) {
            const std::uint16_t word =
                word_of(static_cast<std::uint8_t>(text[0]), static_cast<std::uint8_t>(text[1]));
            Slot& slot = two[slot_of(word)];
            if (slot.code != Operator::Other) collides = true;
            slot = {word, code};
        }
    }
};

constexpr OperatorTable kOperators;
static_assert(!kOperators.collides, "each two-byte operator needs a slot of its own");

}  // namespace

Operator operator_of(std::string_view keyword) {
    if (keyword.size() == 1) return kOperators.one[static_cast<std::uint8_t>(keyword[0])];
    if (keyword.size() != 2) return Operator::Other;
    const std::uint16_t word = OperatorTable::word_of(static_cast<std::uint8_t>(keyword[0]),
                                                      static_cast<std::uint8_t>(keyword[1]));
    const OperatorTable::Slot& slot = kOperators.two[OperatorTable::slot_of(word)];
    return slot.keyword == word ? slot.code : Operator::Other;
}

namespace {

// Tokens are counted against the call's budget in batches of this many: a
// counter in a register costs a decrement a token, the budget's own count a
// load and a store through the pointer.
constexpr std::size_t kPaceBatch = 64;

// Whether "g R" could follow the integer that ends at `p`: false when the
// next token is no run of digits (with an optional '+') or no R follows it,
// true when it could be a reference, for the full test to decide (a comment
// anywhere in between is left to it as well). Runs of numbers ("1 0 0 1 72
// 720 cm") are common in content and references in it rare: the look ahead
// happens here, without taking the tokens it passes.
[[gnu::always_inline]] inline bool may_begin_reference(const std::uint8_t* p,
                                                       const std::uint8_t* end) {
    while (p != end && is_whitespace(*p)) ++p;
    if (p != end && *p == '%') return true;
    if (p != end && *p == '+') ++p;
    const std::uint8_t* const digits = p;
    while (p != end && *p >= '0' && *p <= '9') ++p;
    if (p == digits || (p != end && is_regular(*p))) return false;
    while (p != end && is_whitespace(*p)) ++p;
    return p != end && (*p == 'R' || *p == '%');
}

// Whether the number token at `p` is a plain number, not the start of a
// reference; `stop` is set behind it. The reader's loop reads nearly every
// number of a page this way, in place; anything else the general path
// reads again.
[[gnu::always_inline]] inline bool plain_number_at(const std::uint8_t* p, const std::uint8_t* end,
                                                   const std::uint8_t*& stop, cos::Number& n) {
    n = cos::read_number_at(p, end, stop);
    return n.kind == cos::Number::Real ||
           (n.kind == cos::Number::Integer && !may_begin_reference(stop, end));
}

// Fills an operand made in place with a number.
[[gnu::always_inline]] inline void set_number(Operand& operand, double value) {
    operand.kind = Operand::Kind::Number;
    operand.number = value;
}

// A number operand, or the reference it begins (which the passes do not
// read, so it is Other); false, with the cursor unmoved, for a token that
// is not a plain decimal, which the object parser then reads.
bool read_number(Lexer& lx, Operand& out) {
    const std::size_t start = lx.pos;
    const cos::Number n = cos::read_number_fast(lx);
    if (n.kind == cos::Number::None) {
        lx.pos = start;
        return false;
    }
    const std::uint8_t* const begin = lx.input.data();
    if (n.kind == cos::Number::Integer &&
        may_begin_reference(begin + lx.pos, begin + lx.input.size()) &&
        cos::reference_after(lx, n)) {
        out = Operand{};
        return true;
    }
    out.kind = Operand::Kind::Number;
    out.number = n.value();
    return true;
}

// Strings that are not a slice of the content as it stands (escapes, hex),
// decoded once and kept where they never move.
struct DecodedTexts {
    std::deque<std::string>& kept;
    Bytes& scratch;

    std::string_view keep() { return kept.emplace_back(as_text(scratch)); }
};

// The common operands, read without building an object for them: a number,
// or the reference it begins; a name without #xx escapes or other bytes; a
// literal or hex string. False, with the cursor moved, for anything else:
// the caller then goes back and asks the object parser.
bool read_scalar(Lexer& lx, DecodedTexts& texts, Operand& out) {
    const ByteView in = lx.input;
    const std::uint8_t c = lx.peek();
    if (starts_number(c)) return read_number(lx, out);
    if (c == '/') {
        ++lx.pos;
        const auto name = cos::take_plain_name(lx);
        if (!name) return false;
        out.set_text(Operand::Kind::Name, *name);
        return true;
    }
    if (c == '(') {
        // Balanced parentheses stand for themselves; only a backslash
        // changes bytes, and then the string is decoded.
        const std::size_t start = lx.pos + 1;
        int depth = 1;
        for (std::size_t i = start; i < in.size(); ++i) {
            const std::uint8_t b = in[i];
            if (b == '\\') {
                lx.pos = start;
                texts.scratch.clear();
                if (!cos::read_literal_string(lx, texts.scratch)) return false;
                out.set_text(Operand::Kind::String, texts.keep());
                return true;
            }
            if (b == '(') {
                ++depth;
            } else if (b == ')' && --depth == 0) {
                out.set_text(Operand::Kind::String, as_text(in.subspan(start, i - start)));
                lx.pos = i + 1;
                return true;
            }
        }
        return false;  // unterminated
    }
    if (c == '<' && (lx.pos + 1 >= in.size() || in[lx.pos + 1] != '<')) {
        ++lx.pos;
        texts.scratch.clear();
        if (cos::read_hex_string(lx, texts.scratch) != cos::HexString::Ok) return false;
        out.set_text(Operand::Kind::String, texts.keep());
        return true;
    }
    return false;
}

// An array operand read with its numbers taken as the reader's loop takes
// them, in place, and its other items by read_scalar: nearly every array of
// a page is a TJ's strings and adjustments. On success the cursor `p` is
// behind the array and the budget is charged as read_direct charges it.
// False, with the items dropped and the budget and cursor untouched, for
// an array with anything else (a reference, a nested array, a token that
// does not parse, no end): read_direct then reads it again from the start.
[[gnu::always_inline]] inline bool read_array_fast(const std::uint8_t*& p,
                                                   const std::uint8_t* begin,
                                                   const std::uint8_t* end, std::size_t& budget,
                                                   OperandBlocks& items, Lexer& lexer,
                                                   DecodedTexts& texts, Operand& out) {
    if (budget == 0) return false;
    std::size_t left = budget - 1;  // the array itself
    const std::uint8_t* q = p + 1;
    while (true) {
        q = skip_whitespace_from(q, end);
        if (q == end) break;
        const std::uint8_t c = *q;
        if (c == ']') {
            out.set_items(items.take());
            budget = left;
            p = q + 1;
            return true;
        }
        if (left == 0) break;
        if (starts_number(c)) {
            const std::uint8_t* stop = nullptr;
            cos::Number number;
            if (!plain_number_at(q, end, stop, number)) break;
            set_number(items.emplace(), number.value());
            --left;
            q = stop;
            continue;
        }
        lexer.pos = static_cast<std::size_t>(q - begin);
        if (!read_scalar(lexer, texts, items.emplace())) break;
        --left;
        q = begin + lexer.pos;
    }
    items.drop();
    return false;
}

// One operand read directly, taking from the budget what the object parser
// would: one unit for each object, the array and its items included. False
// (cursor and budget to be restored by the caller) where the object parser
// is needed, including wherever it would fail.
bool read_direct(Lexer& lx, std::size_t& budget, OperandBlocks& items, DecodedTexts& texts,
                 Operand& out) {
    if (budget == 0) return false;
    if (lx.peek() != '[') {
        if (!read_scalar(lx, texts, out)) return false;
        --budget;
        return true;
    }
    --budget;  // the array itself
    ++lx.pos;
    while (true) {
        lx.skip_whitespace();
        if (lx.at_end()) return false;
        if (lx.peek() == ']') {
            ++lx.pos;
            out.set_items(items.take());
            return true;
        }
        if (budget == 0) return false;
        // A failure leaves the item to the caller's drop of the whole run.
        if (!read_scalar(lx, texts, items.emplace())) return false;
        --budget;
    }
}

// An operand the object parser made, as the passes read it. Texts that are
// not slices of the content are kept in `texts`.
Operand operand_of(const Object& o, OperandBlocks& items, std::deque<std::string>& texts,
                   bool nested) {
    Operand out;
    if (const auto n = o.number()) {
        out = Operand::of_number(*n);
    } else if (const Name* name = o.as_name()) {
        out.set_text(Operand::Kind::Name, texts.emplace_back(name->text));
    } else if (const String* str = o.as_string()) {
        out.set_text(Operand::Kind::String, texts.emplace_back(as_text(str->bytes)));
    } else if (const Array* array = o.as_array(); array != nullptr && !nested) {
        for (const Object& item : *array) items.push(operand_of(item, items, texts, true));
        out.set_items(items.take());
    }
    return out;
}

}  // namespace

// A full block is left as it is: the run being gathered moves to a new one,
// twice its size when it has outgrown the usual block.
void OperandBlocks::next_block() {
    const auto waiting = static_cast<std::size_t>(next_ - run_);
    Slab<Operand> block(std::max(kBlockValues, 2 * (waiting + 1)));
    Operand* const first = block.data();
    if (waiting > 0) std::uninitialized_copy(run_, next_, first);
    run_ = first;
    next_ = first + waiting;
    end_ = first + block.capacity();
    if (blocks_.empty()) {
        first_ = first;
        first_end_ = end_;
    }
    blocks_.push_back(std::move(block));
}

void OperandBlocks::keep_last_block() {
    Slab<Operand> last = std::move(blocks_.back());
    blocks_.clear();
    first_ = last.data();
    first_end_ = first_ + last.capacity();
    blocks_.push_back(std::move(last));
}

ContentReader::ContentReader(ByteView data, std::size_t& budget, Budget* call)
    : data_(data),
      cursor_(data.data()),
      lexer_(data),
      budget_(budget),
      call_(call),
      unpaced_(kPaceBatch) {}

// Keywords of more than four bytes are stored cut short. Inlined into the
// reader's loop, which calls it for every operator of a page.
// `readable_end` bounds the bytes that may be read from the keyword's
// start: with four of them there, the keyword is copied as one word.
[[gnu::always_inline]] inline void ContentReader::set_op(std::string_view keyword,
                                                         const char* readable_end, Op& out) {
    const std::size_t len = std::min<std::size_t>(keyword.size(), 4);
    // The fields are written into the batch's slot one by one. An Op made
    // whole and then assigned was assembled on the stack from stores of
    // different widths and read back in wider loads, which the processor
    // cannot forward from those stores: each operation waited for them to
    // reach the cache, a quarter of the reader's time.
    out.operands = operands_.take();
    if (std::endian::native == std::endian::little && readable_end - keyword.data() >= 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, keyword.data(), sizeof word);
        // The bytes past a shorter keyword are cleared (len is 1 to 4).
        word &= 0xFFFFFFFFu >> (8 * (4 - len));
        std::memcpy(out.bytes.data(), &word, sizeof word);
    } else {
        out.bytes = {};
        for (std::size_t i = 0; i < len; ++i) out.bytes[i] = keyword[i];
    }
    out.len = static_cast<std::uint8_t>(len);
    out.code = operator_of(keyword.substr(0, len));
}

// Reads an inline image from just behind BI (the lexer's position), making
// its operation `out` with the dictionary's bytes and the data as string
// operands; the cursor ends up behind EI. False where the content ends: the
// dictionary does not parse (its objects take from the budget like any
// operand's), or no EI follows.
bool ContentReader::read_inline_image(std::size_t& budget, Op& out) {
    Lexer& lexer = lexer_;
    const ByteView data = lexer.input;
    const std::size_t dict_begin = lexer.pos;
    DictionaryBuilder entries;
    while (true) {
        lexer.skip_whitespace();
        if (lexer.at_end()) return false;
        if (data.size() - lexer.pos >= 2 && data[lexer.pos] == 'I' && data[lexer.pos + 1] == 'D') {
            break;
        }
        auto key = cos::parse_object(lexer, budget, stack_);
        if (!key) return false;
        auto value = cos::parse_object(lexer, budget, stack_);
        if (!value) return false;
        // An entry whose key is no name says nothing; a repeated key's last
        // value counts.
        if (const Name* name = key->as_name())
            entries.add(std::string(name->text), std::move(value).value());
    }
    const Dictionary dict = std::move(entries).take();
    const std::size_t dict_end = lexer.pos;
    std::size_t start = lexer.pos + 2;
    const bool white = start < data.size() && is_whitespace(data[start]);
    if (white) ++start;
    const auto end = inline_image_end(dict, data.subspan(start), white);
    if (!end || budget == 0) return false;
    --budget;
    Operand dict_text;
    dict_text.set_text(Operand::Kind::String,
                       as_text(data.subspan(dict_begin, dict_end - dict_begin)));
    Operand image;
    image.set_text(Operand::Kind::String, as_text(data.subspan(start, end->data_length)));
    operands_.push(dict_text);
    operands_.push(image);
    const std::string_view keyword = "BI";
    set_op(keyword, keyword.data() + keyword.size(), out);
    lexer.pos = start + end->through_ei;
    return true;
}

bool ContentReader::read_batch() {
    if (done_) return false;
    // What the last batch held is no longer needed.
    Op* const first = batch_.data();
    Op* out = first;
    operands_.rewind();
    items_.rewind();
    if (!texts_.empty()) [[unlikely]]
        texts_.clear();
    std::size_t& budget = budget_;
    const std::size_t budget_at_start = budget;
    DecodedTexts texts{texts_, scratch_};
    // The loop keeps its cursor in a local pointer: the common tokens
    // (numbers and operators, nearly all of a page) are read here without
    // the lexer, whose position would have to be reloaded after every store
    // of an operand. The rarer operands go to the lexer, synced both ways.
    const std::uint8_t* const begin = data_.data();
    const std::uint8_t* const end = begin + data_.size();
    const std::uint8_t* p = cursor_;
    Lexer& lexer = lexer_;
    std::size_t unpaced = unpaced_;
    while (true) {
        p = skip_whitespace_from(p, end);
        if (p == end) break;
        if (--unpaced == 0) {
            unpaced = kPaceBatch;
            if (call_ != nullptr && !call_->pace(kPaceBatch)) break;
        }
        const std::uint8_t c = *p;

        if (starts_number(c) && budget > 0) {
            const std::uint8_t* stop = nullptr;
            if (cos::Number number; plain_number_at(p, end, stop, number)) {
                set_number(operands_.emplace(), number.value());
                --budget;
                p = stop;
                continue;
            }
            // A reference, or a token that is no plain number: the general
            // path below reads it again.
        }

        if (c == '[') {
            Operand& array = operands_.emplace();
            if (read_array_fast(p, begin, end, budget, items_, lexer, texts, array)) continue;
            operands_.pop();
        }

        if (starts_operand(c)) {
            // An operand that does not parse ends the content: guessing where
            // the next operator starts would invent operations. Running out
            // of the page's object budget ends it the same way.
            const auto start = static_cast<std::size_t>(p - begin);
            lexer.pos = start;
            const std::size_t budget_before = budget;
            if (read_direct(lexer, budget, items_, texts, operands_.emplace())) {
                p = begin + lexer.pos;
                continue;
            }
            // Back to where it started, for the object parser.
            operands_.pop();
            lexer.pos = start;
            budget = budget_before;
            items_.drop();
            auto object = cos::parse_object(lexer, budget, stack_);
            if (!object) break;
            operands_.push(operand_of(*object, items_, texts_, false));
            p = begin + lexer.pos;
            continue;
        }

        const std::uint8_t* const keyword_end = regular_run_end(p, end);
        if (keyword_end == p) {
            // A delimiter that cannot start an operand (']', '>', ')', '{',
            // '}'): drop what was gathered and go on behind it.
            ++p;
            operands_.drop();
            continue;
        }
        const std::string_view keyword(reinterpret_cast<const char*>(p),
                                       static_cast<std::size_t>(keyword_end - p));
        p = keyword_end;

        if (keyword == "BI") {
            // The data may contain any bytes, so it is never tokenized:
            // finding its end is what keeps binary from being read as
            // operators (see ContentReader in content.h).
            operands_.drop();
            lexer.pos = static_cast<std::size_t>(p - begin);
            if (!read_inline_image(budget, *out)) break;
            p = begin + lexer.pos;
            if (++out == batch_.end()) break;
            continue;
        }

        // Every keyword becomes an operation; consumers pick the operators
        // they know.
        if (budget == 0) break;
        --budget;
        set_op(keyword, reinterpret_cast<const char*>(end), *out);
        if (++out == batch_.end()) break;
    }
    // Either the batch is full or the content has ended.
    done_ = out != batch_.end();
    taken_ += budget_at_start - budget;
    cursor_ = p;
    unpaced_ = unpaced;
    next_op_ = first;
    batch_end_ = out;
    return out != first;
}

}  // namespace vellox_core
