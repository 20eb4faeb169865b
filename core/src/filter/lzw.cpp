// LZWDecode (ISO 32000-1 7.4.4): codes of 9 to 12 bits, most significant bit
// first, with clear code 256 and end-of-data code 257. The code width grows
// one code early (EarlyChange 1, the default) or exactly when the table fills
// the current width (EarlyChange 0, as in TIFF's original LZW).
//
// The end of the data is lenient: a missing end-of-data code or a trailing
// partial code just ends the output, as many producers omit the former.
#include "filter/lzw.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "bounds.h"
#include "filter/output.h"

namespace vellox_core {

namespace {

constexpr std::uint32_t kClear = 256;
constexpr std::uint32_t kEndOfData = 257;
constexpr std::uint32_t kMaxWidth = 12;
// Stands for "no previous code": larger than any table, so it names no entry.
constexpr std::uint32_t kNoCode = 0xFFFFFFFF;

// Entries past 4096 cannot be named by any 12-bit code, and once the table
// holds 4096 entries neither the width nor the meaning of any code depends
// on its length again. Such entries are therefore not stored: this keeps the
// table small on streams that never send a clear code, without changing the
// decoded bytes.
constexpr std::size_t kCodeSpace = std::size_t{1} << kMaxWidth;

Error bad_data() { return Error{ErrorKind::BadStream, "bad LZW data"}; }

struct Table {
    std::vector<Bytes> entries;
    std::uint32_t width = 9;
    bool early = true;

    // Codes 0..255 stand for themselves; 256 and 257 are the clear and
    // end-of-data codes and never produce output.
    void reset() {
        entries.clear();
        entries.reserve(512);
        for (unsigned b = 0; b < 256; ++b) entries.push_back(Bytes{static_cast<std::uint8_t>(b)});
        entries.emplace_back();
        entries.emplace_back();
        width = 9;
    }

    void add(Bytes entry) {
        if (entries.size() < kCodeSpace) entries.push_back(std::move(entry));
        if (width < kMaxWidth && entries.size() + (early ? 1u : 0u) >= (std::size_t{1} << width)) {
            ++width;
        }
    }
};

struct CodeReader {
    ByteView input;
    std::size_t bitpos = 0;

    // The next `width`-bit code, or nothing when fewer bits remain.
    std::optional<std::uint32_t> next(std::uint32_t width) {
        if (input.size() * 8 - bitpos < width) return std::nullopt;
        std::uint32_t code = 0;
        for (std::uint32_t i = 0; i < width; ++i, ++bitpos) {
            std::uint32_t bit = (input[bitpos / 8] >> (7 - bitpos % 8)) & 1u;
            code = (code << 1) | bit;
        }
        return code;
    }
};

}  // namespace

Result<Decoded> lzw_decode_partial(ByteView data, bool early_change, Meter* meter) {
    Table table;
    table.early = early_change;
    table.reset();

    Bytes out;
    const std::size_t reserve = std::min(data.size(), limits::kMaxDecodedBytes / 3) * 3;
    out.reserve(meter != nullptr ? meter->capacity(reserve, 0) : reserve);
    CodeReader in{data};
    // The previous code as read; kNoCode at the start and after a clear.
    std::uint32_t prev = kNoCode;

    while (auto code = in.next(table.width)) {
        if (*code == kEndOfData) break;
        if (*code == kClear) {
            table.reset();
            prev = kNoCode;
            continue;
        }

        bool prev_known = prev < table.entries.size();
        Bytes string;
        if (*code < table.entries.size()) {
            string = table.entries[*code];
        } else {
            // The KwKwK case: the encoder used the entry it was just about to
            // create, which is the previous string plus its own first byte.
            if (!prev_known) return Decoded{std::move(out), bad_data()};
            string = table.entries[prev];
            string.push_back(string.front());
        }

        if (!make_room(out, string.size(), meter)) return stopped_growing(meter);
        out.insert(out.end(), string.begin(), string.end());

        if (prev_known) {
            Bytes entry = table.entries[prev];
            entry.push_back(string.front());
            table.add(std::move(entry));
        }
        prev = *code;
    }
    return Decoded{std::move(out), std::nullopt};
}

Result<Bytes> lzw_decode(ByteView data, bool early_change) {
    return strictly(lzw_decode_partial(data, early_change, nullptr));
}

}  // namespace vellox_core
