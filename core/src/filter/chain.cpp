// The filter chain: a stream's /Filter list applied in order, with the
// /DecodeParms of each step.
#include "filter/chain.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filter/ascii85.h"
#include "filter/asciihex.h"
#include "filter/inflate.h"
#include "filter/lzw.h"
#include "filter/output.h"
#include "filter/predictor.h"
#include "filter/runlength.h"

namespace vellox_core {

namespace {

// /Filter, or its abbreviation /F only when /Filter is absent altogether: a
// /Filter with an unusable value does not fall back. Non-name array elements
// (null, references) are skipped.
std::vector<std::string> filter_names(const Dictionary& dict) {
    const Object* v = dict.get("Filter");
    if (v == nullptr) v = dict.get("F");
    std::vector<std::string> names;
    if (v == nullptr) return names;
    if (const Name* n = v->as_name()) {
        names.push_back(n->text);
    } else if (const Array* a = v->as_array()) {
        for (const Object& e : *a) {
            if (const Name* n = e.as_name()) names.push_back(n->text);
        }
    }
    return names;
}

// One parameter entry per step. A single dictionary belongs to the first
// filter only; an array pairs position by position, and its length may
// differ from the filter list's (the chain runs the shorter of the two).
std::vector<std::optional<Dictionary>> filter_parms(const Dictionary& dict, std::size_t nfilters) {
    const Object* v = dict.get("DecodeParms");
    if (v == nullptr) v = dict.get("DP");
    std::vector<std::optional<Dictionary>> parms;
    if (v != nullptr && v->as_array() != nullptr) {
        for (const Object& e : *v->as_array()) {
            if (const Dictionary* d = e.as_dict()) {
                parms.emplace_back(*d);
            } else if (const Stream* s = e.as_stream()) {
                parms.emplace_back(s->dict);
            } else {
                parms.emplace_back();
            }
        }
        return parms;
    }
    parms.resize(nfilters);
    if (v != nullptr && v->as_dict() != nullptr && nfilters > 0) parms[0] = *v->as_dict();
    return parms;
}

// A zlib stream (RFC 1950) starts with CMF, FLG where CM (low nibble of CMF)
// is 8 and CMF·256 + FLG is a multiple of 31. Producers differ on whether a
// /FlateDecode stream carries this header, so it is detected, not assumed.
bool has_zlib_header(ByteView buf) {
    return buf.size() >= 2 && (buf[0] & 0x0F) == 8 && ((buf[0] << 8) | buf[1]) % 31 == 0;
}

// Only the integer 0 selects late width changes; 0.0 or anything else does not.
bool early_change(const std::optional<Dictionary>& parms) {
    if (!parms) return true;
    const Object* v = parms->get("EarlyChange");
    return v == nullptr || v->as_int() == nullptr || *v->as_int() != 0;
}

// A predictor only follows a decoder that reached the end of its data, or
// the part before the damage; what stopped the decoder stays the damage.
Result<Decoded> apply_predictor(Result<Decoded> decoded, const std::optional<Dictionary>& parms,
                                Meter* meter) {
    if (!decoded || !parms) return decoded;
    auto predicted = predictor::apply_partial(std::move(decoded->bytes), *parms, meter);
    if (!predicted) return predicted;
    if (!predicted->damage) predicted->damage = std::move(decoded->damage);
    return predicted;
}

bool is_flate(const std::string& name) { return name == "FlateDecode" || name == "Fl"; }

// The DEFLATE data of a /FlateDecode stream: behind the zlib header when
// there is one.
ByteView deflate_body(ByteView buf) { return has_zlib_header(buf) ? buf.subspan(2) : buf; }

// One filter of the chain. Flate, LZW and RunLength, which can write far
// more than they read, count their output against `meter` as it grows.
// `wanted` as decode_stream's, for the last filter: only Flate without a
// predictor (whose rows need all of their bytes) stops early.
Result<Decoded> run_filter(const std::string& name, ByteView buf,
                           const std::optional<Dictionary>& parms, Meter* meter,
                           std::size_t wanted) {
    if (is_flate(name)) {
        return apply_predictor(
            inflate_partial(deflate_body(buf), meter, parms ? kWholeOutput : wanted), parms, meter);
    }
    if (name == "LZWDecode" || name == "LZW") {
        return apply_predictor(lzw_decode_partial(buf, early_change(parms), meter), parms, meter);
    }
    if (name == "ASCII85Decode" || name == "A85") return ascii85_decode_partial(buf);
    if (name == "ASCIIHexDecode" || name == "AHx") return ascii_hex_decode_partial(buf);
    if (name == "RunLengthDecode" || name == "RL") return run_length_decode_partial(buf, meter);
    // Image codecs are not decoded here: the image lister only reports them.
    if (name == "DCTDecode" || name == "JPXDecode" || name == "JBIG2Decode" ||
        name == "CCITTFaxDecode") {
        return Decoded{Bytes(buf.begin(), buf.end()), std::nullopt};
    }
    // Includes /Crypt (per-stream encryption filters are not supported) and
    // the inline-image abbreviations DCT and CCF, which are not valid here.
    return Error{ErrorKind::Unsupported, "unsupported filter: " + name};
}

// What decode_stream and stream_decodes share. With `keep` false, a last
// filter that is a plain Flate (no predictor, whose rows need their bytes)
// only counts its output, and the result is then empty.
Result<Bytes> run_chain(const Dictionary& dict, ByteView data, Reading reading, Budget* budget,
                        std::size_t wanted, bool keep) {
    // The clock is read once per stream: a page whose /Contents lists one
    // small stream a million times decodes it a million times.
    if (budget != nullptr && !budget->check_time()) return budget->error();
    std::vector<std::string> names = filter_names(dict);
    std::vector<std::optional<Dictionary>> parms = filter_parms(dict, names.size());

    // The stream counts its decoded size against the call's budget: each
    // filter's output while it is written, so that a bomb stops at the
    // caller's maximum, and an output that the next filter reads no longer
    // once that filter starts (it was checked against the maximum when it
    // was made). A stream without filters decodes to its stored bytes.
    std::size_t steps = names.size() < parms.size() ? names.size() : parms.size();
    if (steps == 0) {
        if (budget != nullptr && !budget->take(data.size())) return budget->error();
        return keep ? Bytes(data.begin(), data.end()) : Bytes{};
    }
    // The first filter reads the stored bytes where they are; each later one
    // reads the output of the one before.
    Bytes buf;
    ByteView input = data;
    Meter held{budget};
    for (std::size_t i = 0; i < steps; ++i) {
        held.settle(0);
        Meter output{budget};
        if (!keep && i + 1 == steps && is_flate(names[i]) && !parms[i]) {
            // The count has settled the whole size against the budget.
            auto size = inflated_size(deflate_body(input), &output);
            if (!size) return std::move(size).error();
            return Bytes{};
        }
        auto next =
            run_filter(names[i], input, parms[i], &output, i + 1 == steps ? wanted : kWholeOutput);
        if (!next) return std::move(next).error();
        if (!output.settle(next->bytes.size())) return budget->error();
        held = output;
        if (next->damage && reading == Reading::Strict) return std::move(*next->damage);
        // Leniently, the part decoded before the damage goes on through the
        // rest of the chain: it is what the later filters would have seen
        // first.
        buf = std::move(next->bytes);
        input = buf;
    }
    return buf;
}

}  // namespace

Result<Bytes> decode_stream(const Dictionary& dict, ByteView data, Reading reading, Budget* budget,
                            std::size_t wanted) {
    return run_chain(dict, data, reading, budget, wanted, true);
}

bool stream_decodes(const Dictionary& dict, ByteView data, Budget* budget) {
    return run_chain(dict, data, Reading::Strict, budget, kWholeOutput, false).ok();
}

}  // namespace vellox_core
