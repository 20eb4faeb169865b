// RunLengthDecode (ISO 32000-1 7.4.5): a length byte L below 128 is followed
// by L + 1 literal bytes, one above 128 by a byte repeated 257 - L times, and
// 128 ends the data. Running out of input at a length byte is a normal end.
#include "filter/runlength.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "bounds.h"
#include "filter/output.h"

namespace vellox_core {

Result<Decoded> run_length_decode_partial(ByteView data, Meter* meter) {
    const Error truncated{ErrorKind::BadStream, "truncated RunLength data"};
    Bytes out;
    const std::size_t reserve = std::min(data.size(), limits::kMaxDecodedBytes / 2) * 2;
    out.reserve(meter != nullptr ? meter->capacity(reserve, 0) : reserve);

    std::size_t pos = 0;
    while (pos < data.size()) {
        std::uint8_t len = data[pos++];
        if (len == 128) break;
        std::size_t count = len < 128 ? std::size_t{len} + 1 : 257u - len;
        // A repeat run expands 2 bytes into up to 128, so the output cap
        // matters here too.
        if (!make_room(out, count, meter)) return stopped_growing(meter);
        if (len < 128) {
            if (data.size() - pos < count) return Decoded{std::move(out), truncated};
            out.insert(out.end(), data.begin() + pos, data.begin() + pos + count);
            pos += count;
        } else {
            if (pos >= data.size()) return Decoded{std::move(out), truncated};
            out.insert(out.end(), count, data[pos++]);
        }
    }
    return Decoded{std::move(out), std::nullopt};
}

Result<Bytes> run_length_decode(ByteView data) {
    return strictly(run_length_decode_partial(data, nullptr));
}

}  // namespace vellox_core
