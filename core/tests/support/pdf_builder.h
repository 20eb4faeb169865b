// A test-side writer of small PDF files: objects are given as PDF text, and
// the builder fills in offsets, /Length, cross-reference sections (classic
// tables or uncompressed cross-reference streams) and startxref. Several
// sections in a row make an incrementally updated file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "object.h"

namespace vellox_core {
// Readable failure output for errors compared in tests.
inline void PrintTo(const Error& e, std::ostream* os) { *os << e.to_string(); }
}  // namespace vellox_core

namespace vellox_test {

class PdfBuilder {
public:
    explicit PdfBuilder(std::string_view header = "%PDF-1.7\n") : out_(header) {}

    // "num 0 obj <text> endobj"; returns the object's offset.
    std::size_t obj(std::uint32_t num, std::string_view text, std::uint32_t gen = 0) {
        const std::size_t at = out_.size();
        out_ += std::to_string(num) + " " + std::to_string(gen) + " obj\n";
        out_ += text;
        out_ += "\nendobj\n";
        pending_[num] = {'n', at, gen};
        return at;
    }

    // A stream object; `dict` holds the entries besides /Length, which is
    // computed unless `length` overrides it (as PDF text, e.g. "9 0 R").
    std::size_t stream(std::uint32_t num, std::string_view dict, std::string_view data,
                       std::optional<std::string> length = std::nullopt) {
        std::string text = "<< ";
        text += dict;
        text += " /Length " + (length ? *length : std::to_string(data.size())) + " >>\nstream\n";
        text += data;
        text += "\nendstream";
        return obj(num, text);
    }

    // An object stream holding `objects` (number, text) in order; each gets a
    // compressed entry for the next cross-reference stream.
    std::size_t objstm(std::uint32_t num,
                       const std::vector<std::pair<std::uint32_t, std::string>>& objects) {
        std::string head;
        std::string body;
        for (const auto& [n, text] : objects) {
            head += std::to_string(n) + " " + std::to_string(body.size()) + " ";
            body += text + "\n";
        }
        const std::size_t at = stream(num,
                                      "/Type /ObjStm /N " + std::to_string(objects.size()) +
                                          " /First " + std::to_string(head.size()),
                                      head + body);
        std::uint32_t index = 0;
        for (const auto& entry : objects) pending_[entry.first] = {'c', num, index++};
        return at;
    }

    // Entries for the next section that name no object written here.
    void free_entry(std::uint32_t num) { pending_[num] = {'f', 0, 0}; }
    void in_file_entry(std::uint32_t num, std::uint64_t offset) {
        pending_[num] = {'n', offset, 0};
    }
    void compressed_entry(std::uint32_t num, std::uint32_t stream, std::uint32_t index) {
        pending_[num] = {'c', stream, index};
    }

    // The /Prev of the next section (by default the previous section).
    void set_prev(std::optional<std::size_t> offset) { last_xref_ = offset; }
    std::optional<std::size_t> last_section() const { return last_xref_; }

    void raw(std::string_view bytes) { out_ += bytes; }
    std::size_t size() const { return out_.size(); }

    // A classic section listing the entries added since the last section
    // (object 0 as the head of the free list in the first one), a trailer
    // with /Size, /Prev and `trailer`, then startxref. Returns its offset.
    std::size_t xref_table(std::string_view trailer) {
        if (first_section_) pending_.emplace(0, Entry{'f', 0, 65535});
        const std::size_t at = out_.size();
        out_ += "xref\n";
        for (auto it = pending_.begin(); it != pending_.end();) {
            auto run_end = it;
            std::uint32_t count = 0;
            while (run_end != pending_.end() && run_end->first == it->first + count) {
                ++run_end;
                ++count;
            }
            out_ += std::to_string(it->first) + " " + std::to_string(count) + "\n";
            for (; it != run_end; ++it) {
                const Entry& e = it->second;
                out_ += pad(e.a, 10) + " " + pad(e.b, 5) + (e.type == 'n' ? " n\r\n" : " f\r\n");
            }
        }
        out_ += "trailer\n<< /Size " + std::to_string(size_field()) + prev() + " " +
                std::string(trailer) + " >>\n";
        finish(at);
        return at;
    }

    // A cross-reference stream object `num` (W [1 4 2], no filter) listing the
    // entries added since the last section and itself.
    std::size_t xref_stream(std::uint32_t num, std::string_view trailer) {
        if (first_section_) pending_.emplace(0, Entry{'f', 0, 65535});
        const std::size_t at = out_.size();
        pending_[num] = {'n', at, 0};
        std::string index;
        std::string records;
        for (const auto& [n, e] : pending_) {
            index += std::to_string(n) + " 1 ";
            const std::uint8_t type = e.type == 'f' ? 0 : e.type == 'n' ? 1 : 2;
            records += static_cast<char>(type);
            for (int k = 3; k >= 0; --k) records += static_cast<char>((e.a >> (8 * k)) & 0xFF);
            records += static_cast<char>((e.b >> 8) & 0xFF);
            records += static_cast<char>(e.b & 0xFF);
        }
        const std::string dict = "/Type /XRef /W [1 4 2] /Index [" + index + "] /Size " +
                                 std::to_string(size_field()) + prev() + " " + std::string(trailer);
        pending_.erase(num);  // written by stream() again, at the same offset
        stream(num, dict, records);
        finish(at);
        return at;
    }

    const std::string& text() const { return out_; }
    vellox_core::ByteView bytes() const { return vellox_core::as_bytes(out_); }

private:
    struct Entry {
        char type;  // 'n' in file, 'f' free, 'c' compressed (a = stream, b = index)
        std::uint64_t a;
        std::uint32_t b;
    };

    static std::string pad(std::uint64_t v, std::size_t width) {
        std::string s = std::to_string(v);
        return std::string(s.size() < width ? width - s.size() : 0, '0') + s;
    }
    std::uint64_t size_field() {
        for (const auto& [n, e] : pending_) max_num_ = std::max<std::uint64_t>(max_num_, n + 1ULL);
        return max_num_;
    }
    std::string prev() const {
        return last_xref_ ? " /Prev " + std::to_string(*last_xref_) : std::string();
    }
    void finish(std::size_t at) {
        out_ += "startxref\n" + std::to_string(at) + "\n%%EOF\n";
        last_xref_ = at;
        first_section_ = false;
        pending_.clear();
    }

    std::string out_;
    std::map<std::uint32_t, Entry> pending_;
    std::optional<std::size_t> last_xref_;
    std::uint64_t max_num_ = 0;
    bool first_section_ = true;
};

}  // namespace vellox_test
