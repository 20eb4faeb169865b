// Rebuilding the cross-reference data of a damaged file: one pass over the
// body for "num gen obj" headers and trailer dictionaries, then the object
// streams that pass found, read once the security handler is known.
#include "repair.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "bounds.h"
#include "cos.h"

namespace vellox_core {

namespace {

constexpr std::string_view kObj = "obj";
constexpr std::string_view kTrailer = "trailer";
constexpr std::string_view kEndstream = "endstream";
// Digits of the largest object number (4294967295) and generation (65535).
constexpr std::size_t kMaxNumDigits = 10;
constexpr std::size_t kMaxGenDigits = 5;
// White space the scan accepts between the end of a stream body given by a
// direct /Length and its "endstream", as the resolver's framing does.
constexpr std::size_t kMaxEolBeforeEndstream = 15;

bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// The next occurrence of a needle at or after a position that never moves
// back from one call to the next: each occurrence is searched for once, so
// asking at every header still reads the file once.
class Finder {
public:
    Finder(std::string_view text, std::string_view needle) : text_(text), needle_(needle) {}

    std::size_t next(std::size_t from) {
        if (!searched_ || (at_ != std::string_view::npos && at_ < from)) {
            at_ = text_.find(needle_, from);
            searched_ = true;
        }
        return at_;
    }

private:
    std::string_view text_;
    std::string_view needle_;
    std::size_t at_ = 0;
    bool searched_ = false;
};

struct Header {
    std::size_t start = 0;  // the first digit of the object number
    std::uint32_t num = 0;
    std::uint16_t gen = 0;
};

// Digits ending at `end`, at most `max_digits` of them, as a number of at
// most `max`; the position of the first digit goes to `start`.
std::optional<std::uint64_t> digits_before(ByteView data, std::size_t end, std::size_t max_digits,
                                           std::uint64_t max, std::size_t& start) {
    std::size_t i = end;
    while (i > 0 && is_digit(data[i - 1]) && end - i <= max_digits) --i;
    if (i == end || end - i > max_digits) return std::nullopt;
    start = i;
    return parse_unsigned(data.subspan(i, end - i), max);
}

std::size_t whitespace_before(ByteView data, std::size_t& i) {
    const std::size_t end = i;
    while (i > 0 && is_whitespace(data[i - 1])) --i;
    return end - i;
}

// The "num gen" in front of the keyword "obj" at `at`. The number may follow
// any byte but a digit or a sign: unreadablemetadata.pdf (sample-files)
// writes "endobj176 0 obj" with no white space between.
std::optional<Header> header_before(ByteView data, std::size_t at) {
    const std::size_t end = at + kObj.size();
    if (end < data.size() && is_regular(data[end])) return std::nullopt;  // "objx"
    std::size_t i = at;
    if (whitespace_before(data, i) == 0) return std::nullopt;  // "endobj"
    std::size_t gen_start = 0;
    const auto gen = digits_before(data, i, kMaxGenDigits, 65535, gen_start);
    if (!gen) return std::nullopt;
    i = gen_start;
    if (whitespace_before(data, i) == 0) return std::nullopt;
    std::size_t num_start = 0;
    const auto num = digits_before(data, i, kMaxNumDigits, 4294967295u, num_start);
    if (!num) return std::nullopt;
    if (num_start > 0 &&
        (data[num_start - 1] == '.' || data[num_start - 1] == '-' || data[num_start - 1] == '+')) {
        return std::nullopt;
    }
    return Header{num_start, static_cast<std::uint32_t>(*num), static_cast<std::uint16_t>(*gen)};
}

// White space only: the lexer's skip also takes % comments, which run to the
// end of a line, and a line of "1 0 obj %" repeated would then be read again
// from every header on it.
void skip_white(Lexer& lx) {
    while (!lx.at_end() && is_whitespace(lx.peek())) ++lx.pos;
}

bool is_type(const Dictionary& dict, std::string_view type) {
    const Object* t = dict.get("Type");
    return t != nullptr && t->is_name(type);
}

class Scanner {
public:
    explicit Scanner(ByteView data)
        : data_(data),
          text_(as_text(data)),
          objs_(text_, kObj),
          trailers_(text_, kTrailer),
          endstreams_(text_, kEndstream) {
        // Overflow would need a file larger than the address space allows.
        reparse_left_ = data.size() * limits::kMaxScanReparsePasses;
    }

    Result<ObjectScan> run() {
        std::size_t pos = 0;
        while (true) {
            const std::size_t o = objs_.next(pos);
            const std::size_t t = trailers_.next(pos);
            if (o == std::string_view::npos && t == std::string_view::npos) break;
            if (t < o) {
                pos = trailer_at(t);
                continue;
            }
            pos = o + kObj.size();
            const auto header = header_before(data_, o);
            if (!header) continue;
            auto recorded = record(*header);
            if (!recorded) return std::move(recorded).error();
            pos = object_at(*header, pos);
        }
        if (out_.xref.entries.empty()) return Error{ErrorKind::InvalidXref, "no objects found"};
        finish();
        return std::move(out_);
    }

private:
    Status record(const Header& h) {
        XrefEntries& entries = out_.xref.entries;
        if (entries.size() >= limits::kMaxScannedObjects && !entries.contains(h.num)) {
            return Error{ErrorKind::InvalidXref, "too many objects"};
        }
        entries.insert_or_assign(h.num, XrefInFile{h.start, h.gen});
        return Unit{};
    }

    // A dictionary at the cursor, if one parses. Bytes read by a parse that
    // fails are charged to the re-reading allowance (see
    // limits::kMaxScanReparsePasses); once it is spent, none is tried.
    std::optional<Dictionary> dictionary(Lexer& lx) {
        skip_white(lx);
        if (reparse_left_ == 0 || lx.pos + 1 >= data_.size() || data_[lx.pos] != '<' ||
            data_[lx.pos + 1] != '<') {
            return std::nullopt;
        }
        const std::size_t start = lx.pos;
        auto dict = cos::parse_dictionary(lx);
        if (dict) return std::move(dict).value();
        const std::size_t spent = lx.pos - start;
        reparse_left_ = spent < reparse_left_ ? reparse_left_ - spent : 0;
        return std::nullopt;
    }

    // The body of the object whose header ends at `after`; returns where the
    // scan goes on: behind its dictionary and stream body when they parse,
    // else right behind "obj".
    std::size_t object_at(const Header& h, std::size_t after) {
        Lexer lx(data_, after);
        auto dict = dictionary(lx);
        if (!dict) return after;
        if (is_type(*dict, "ObjStm")) object_streams_.emplace_back(h.num, h.start);
        if (is_type(*dict, "Catalog")) catalogs_.emplace_back(h.num, h.start);
        if (is_type(*dict, "Page")) pages_.emplace_back(h.num, h.start);
        std::size_t resume = lx.pos;
        skip_white(lx);
        if (lx.eat_keyword("stream")) resume = stream_end(*dict, lx.pos);
        // A cross-reference stream's dictionary is that section's trailer.
        if (is_type(*dict, "XRef")) newer_trailer(std::move(*dict));
        return resume;
    }

    // Behind the "endstream" of a body that starts after the keyword at
    // `pos`; `pos` itself when no "endstream" follows.
    std::size_t stream_end(const Dictionary& dict, std::size_t pos) {
        std::size_t start = pos;
        if (start < data_.size() && data_[start] == '\r') ++start;
        if (start < data_.size() && data_[start] == '\n') ++start;
        // A direct /Length that lands on "endstream" holds, so that a body
        // containing that word is stepped over whole.
        const Object* len = dict.get("Length");
        const std::int64_t* n = len != nullptr ? len->as_int() : nullptr;
        std::uint64_t end = 0;
        if (n != nullptr && *n >= 0 &&
            !__builtin_add_overflow(static_cast<std::uint64_t>(start),
                                    static_cast<std::uint64_t>(*n), &end) &&
            end <= data_.size()) {
            std::size_t e = static_cast<std::size_t>(end);
            const std::size_t limit = std::min(data_.size(), e + kMaxEolBeforeEndstream);
            while (e < limit && is_whitespace(data_[e])) ++e;
            if (text_.substr(e).starts_with(kEndstream)) return e + kEndstream.size();
        }
        const std::size_t e = endstreams_.next(start);
        if (e == std::string_view::npos) return pos;
        return e + kEndstream.size();
    }

    std::size_t trailer_at(std::size_t at) {
        const std::size_t after = at + kTrailer.size();
        if ((at > 0 && is_regular(data_[at - 1])) ||
            (after < data_.size() && is_regular(data_[after]))) {
            return after;
        }
        Lexer lx(data_, after);
        auto dict = dictionary(lx);
        if (!dict) return after;
        newer_trailer(std::move(*dict));
        return lx.pos;
    }

    // Trailers come oldest first. A newer one may drop entries an older one
    // had: the main trailer of a linearized file holds only /Size, while
    // /Root and /ID sit in the first-page trailer at the start of the file.
    void newer_trailer(Dictionary newest) {
        for (const char* key : {"Root", "Info", "Encrypt", "ID"}) {
            if (newest.contains(key)) continue;
            if (const Object* older = out_.xref.trailer.get(key)) newest.set(key, *older);
        }
        out_.xref.trailer = std::move(newest);
    }

    // Keeps the object streams, catalogs and pages whose header is the
    // number's last definition.
    void finish() {
        const auto current = [this](const std::pair<std::uint32_t, std::size_t>& seen) {
            const auto found = out_.xref.entries.find(seen.first);
            const auto* in_file = std::get_if<XrefInFile>(&found->second);
            return in_file != nullptr && in_file->offset == seen.second;
        };
        for (const auto& seen : object_streams_) {
            if (current(seen)) out_.object_streams.push_back(seen.first);
        }
        for (auto it = catalogs_.rbegin(); it != catalogs_.rend(); ++it) {
            if (current(*it)) out_.catalogs.push_back(it->first);
        }
        for (const auto& seen : pages_) {
            if (current(seen)) out_.pages.push_back(seen.first);
        }
    }

    ByteView data_;
    std::string_view text_;
    Finder objs_;
    Finder trailers_;
    Finder endstreams_;
    std::size_t reparse_left_ = 0;
    // (number, header offset), in file order.
    std::vector<std::pair<std::uint32_t, std::size_t>> object_streams_;
    std::vector<std::pair<std::uint32_t, std::size_t>> catalogs_;
    std::vector<std::pair<std::uint32_t, std::size_t>> pages_;
    ObjectScan out_;
};

}  // namespace

Result<ObjectScan> scan_objects(ByteView data) { return Scanner(data).run(); }

void add_object_stream_entries(Xref& table, std::span<const std::uint32_t> object_streams,
                               const Resolver& resolver) {
    std::vector<std::uint32_t> streams(object_streams.begin(), object_streams.end());
    std::sort(streams.begin(), streams.end());
    // File order: a later object stream, like a later header, redefines.
    for (const std::uint32_t s : object_streams) {
        const auto at = table.entries.find(s);
        if (at == table.entries.end()) continue;
        const auto* in_file = std::get_if<XrefInFile>(&at->second);
        if (in_file == nullptr) continue;
        const std::uint64_t stream_offset = in_file->offset;
        auto objstm = resolver.object_stream(s);
        if (!objstm) continue;
        const std::vector<std::uint32_t>& nums = (*objstm)->nums;
        for (std::size_t k = 0; k < nums.size(); ++k) {
            const std::uint32_t n = nums[k];
            // An object stream holds no streams, so never another object
            // stream (nor itself).
            if (std::binary_search(streams.begin(), streams.end(), n)) continue;
            const XrefCompressed packed{s, static_cast<std::uint32_t>(k)};
            auto found = table.entries.find(n);
            if (found == table.entries.end()) {
                if (table.entries.size() >= limits::kMaxScannedObjects) return;
                table.entries.emplace(n, packed);
                continue;
            }
            const auto* later = std::get_if<XrefInFile>(&found->second);
            if (later != nullptr && later->offset > stream_offset) continue;
            found->second = packed;
        }
    }
}

std::vector<std::uint32_t> catalogs_in_object_streams(const Resolver& resolver) {
    std::set<std::uint32_t> streams;
    for (const auto& [num, entry] : resolver.xref.entries) {
        if (const auto* packed = std::get_if<XrefCompressed>(&entry))
            streams.insert(packed->stream);
    }
    std::vector<std::uint32_t> found;
    for (const std::uint32_t s : streams) {
        auto read = resolver.object_stream(s);
        if (!read) continue;
        const ObjStm& objstm = **read;
        const ByteView data(objstm.data);
        // Each member is read up to the next one in offset order only: an
        // index that lists many members at one offset (or overlapping ones)
        // then costs the stream's bytes once, not once per member.
        std::vector<std::size_t> order(objstm.offsets.size());
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
        std::stable_sort(order.begin(), order.end(), [&objstm](std::size_t a, std::size_t b) {
            return objstm.offsets[a] < objstm.offsets[b];
        });
        const auto position = [&objstm, &data](std::size_t k) {
            std::uint64_t at = 0;
            if (__builtin_add_overflow(objstm.first, objstm.offsets[k], &at) || at > data.size()) {
                return data.size();
            }
            return static_cast<std::size_t>(at);
        };
        for (std::size_t i = 0; i < order.size(); ++i) {
            const std::size_t k = order[i];
            const std::size_t start = position(k);
            const std::size_t end = i + 1 < order.size() ? position(order[i + 1]) : data.size();
            if (end <= start) continue;
            Lexer lx(data.subspan(start, end - start));
            skip_white(lx);
            if (lx.pos + 1 >= lx.input.size() || lx.input[lx.pos] != '<' ||
                lx.input[lx.pos + 1] != '<') {
                continue;
            }
            auto dict = cos::parse_dictionary(lx);
            if (!dict || !is_type(*dict, "Catalog")) continue;
            // Only the number's current definition counts.
            const auto entry = resolver.xref.entries.find(objstm.nums[k]);
            const XrefEntry here = XrefCompressed{s, static_cast<std::uint32_t>(k)};
            if (entry != resolver.xref.entries.end() && entry->second == here) {
                found.push_back(objstm.nums[k]);
            }
        }
    }
    return found;
}

}  // namespace vellox_core
