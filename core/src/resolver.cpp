// The resolver: object numbers to objects, through the cross-reference
// entries, the object framing in the file body and the object streams.
#include "resolver.h"

#include "bounds.h"
#include "cos.h"
#include "filter/chain.h"
#include "framing.h"
#include "repair.h"

namespace vellox_core {

namespace {

Error invalid(const char* message) { return {ErrorKind::InvalidObject, message}; }

}  // namespace

Result<const Object*> Resolver::lookup(std::uint32_t num) const {
    if (auto hit = cache_.find(num); hit != cache_.end()) return &hit->second;

    // Resolving an object can require others: an indirect /Length, or the
    // object stream that holds it. A stream whose /Length names the stream
    // itself, or an object stream listed as stored inside itself, would
    // otherwise recurse forever; such a request fails instead.
    if (in_progress_.contains(num)) return invalid("reference cycle");
    if (in_progress_.size() >= limits::kMaxResolveNesting) {
        return invalid("reference chain too deep");
    }
    in_progress_.insert(num);
    Result<Object> loaded = load(num);
    in_progress_.erase(num);
    if (!loaded) return std::move(loaded).error();
    // Stored only once all recursive work for this object is done. The
    // recursion cannot have stored `num` itself (it is refused as a cycle),
    // so this always inserts a new node and never replaces one a caller
    // may be holding.
    return &cache_.insert_or_assign(num, std::move(loaded).value()).first->second;
}

std::optional<std::string_view> Resolver::peek_name(std::uint32_t num, std::string_view key) const {
    // An object already loaded is looked at there, by the caller's lookup.
    if (cache_.contains(num)) return std::nullopt;
    const auto found = xref.entries.find(num);
    if (found == xref.entries.end()) return std::nullopt;
    if (const auto* in_file = std::get_if<XrefInFile>(&found->second)) {
        // As load_in_file reads it; an object not framed there is looked
        // for elsewhere, which only the lookup does.
        const std::uint64_t offset = in_file->offset;
        Lexer lx(data, offset < data.size() ? static_cast<std::size_t>(offset) : data.size());
        const auto header = read_header(lx);
        if (!header || header->num != num) return std::nullopt;
        lx.skip_whitespace();
        return cos::peek_name_entry(lx, key);
    }
    const auto* packed = std::get_if<XrefCompressed>(&found->second);
    if (packed == nullptr) return std::nullopt;
    // The object stream is decoded and kept, as the lookup would.
    auto lx = compressed_object(*packed);
    if (!lx) return std::nullopt;
    lx->skip_whitespace();
    return cos::peek_name_entry(*lx, key);
}

Result<Object> Resolver::load(std::uint32_t num) const {
    const auto found = xref.entries.find(num);
    if (found == xref.entries.end() || std::holds_alternative<XrefFree>(found->second)) {
        return Error{ErrorKind::ObjectNotFound, "no such object"};
    }
    if (const auto* in_file = std::get_if<XrefInFile>(&found->second)) {
        const std::uint64_t offset = in_file->offset;
        bool framed = false;
        Result<Object> obj = load_in_file(num, offset, framed);
        // Offsets that miss their objects are what an editor leaves when it
        // changes bytes (line ends, an inserted comment) without rewriting
        // the table: the object may still be in the file, elsewhere.
        if (!framed) return load_rebuilt(num, offset, std::move(obj).error());
        return obj;
    }
    return load_compressed(std::get<XrefCompressed>(found->second));
}

Result<Object> Resolver::load_in_file(std::uint32_t num, std::uint64_t offset, bool& framed) const {
    const std::size_t at = offset < data.size() ? static_cast<std::size_t>(offset) : data.size();
    Lexer lx(data, at);
    auto header = read_header(lx);
    if (!header) return std::move(header).error();
    if (header->num != num) return invalid("object number mismatch");
    framed = true;
    auto obj = cos::parse_object(lx);
    if (!obj) return std::move(obj).error();
    std::optional<std::uint64_t> declared;
    if (const Dictionary* d = obj->as_dict()) declared = declared_length(*d);
    Object assembled = assemble_stream(data, lx, std::move(obj).value(), declared);
    // The encryption dictionary itself is stored in the clear.
    if (decryptor && !(encrypt_ref && *encrypt_ref == num)) {
        const auto gen = static_cast<std::uint16_t>(header->gen & 0xFFFFu);
        assembled = decryptor->decrypt_object(num, gen, std::move(assembled));
    }
    return assembled;
}

Result<std::shared_ptr<const ObjStm>> Resolver::object_stream(std::uint32_t num) const {
    if (auto hit = objstm_cache_.find(num); hit != objstm_cache_.end()) return hit->second;
    auto container = lookup(num);
    if (!container) return std::move(container).error();
    const Stream* stream = (*container)->as_stream();
    if (stream == nullptr) return invalid("ObjStm is not a stream");
    auto decoded = decode_stream(stream->dict, stream->data, Reading::Strict, budget);
    if (!decoded) return std::move(decoded).error();
    auto parsed = ObjStm::parse(stream->dict, std::move(decoded).value());
    if (!parsed) return std::move(parsed).error();
    auto objstm = std::make_shared<const ObjStm>(std::move(parsed).value());
    objstm_cache_.insert_or_assign(num, objstm);
    return objstm;
}

Result<Lexer> Resolver::compressed_object(const XrefCompressed& packed) const {
    auto found = object_stream(packed.stream);
    if (!found) return std::move(found).error();
    const ObjStm& objstm = **found;
    if (packed.index >= objstm.offsets.size()) return invalid("objstm index out of range");
    std::uint64_t start = 0;
    if (__builtin_add_overflow(objstm.first, objstm.offsets[packed.index], &start) ||
        start > objstm.data.size()) {
        start = objstm.data.size();
    }
    return Lexer(objstm.data, static_cast<std::size_t>(start));
}

Result<Object> Resolver::load_compressed(const XrefCompressed& packed) const {
    // Objects inside an object stream were decrypted with the stream as a
    // whole, and are never streams themselves.
    auto lx = compressed_object(packed);
    if (!lx) return std::move(lx).error();
    return cos::parse_object(*lx);
}

Result<Object> Resolver::load_rebuilt(std::uint32_t num, std::uint64_t tried,
                                      Error not_there) const {
    if (xref_rebuilt) return not_there;
    if (!rebuilt_) {
        rebuilt_.emplace();
        if (auto scan = scan_objects(data)) {
            rebuilt_->xref.entries = std::move(scan->xref.entries);
            rebuilt_->object_streams = std::move(scan->object_streams);
        }
    }
    auto found = rebuilt_->xref.entries.find(num);
    // The object streams are read on the first object not in the body
    // itself, and in an encrypted file only once its decryptor is in place:
    // the lookup that finds the table off can be the one for /Encrypt, and
    // object streams read before the decryptor would stay undecrypted.
    if (found == rebuilt_->xref.entries.end() && !rebuilt_->object_streams.empty() &&
        (decryptor || !xref.trailer.contains("Encrypt"))) {
        const std::vector<std::uint32_t> streams = std::move(rebuilt_->object_streams);
        rebuilt_->object_streams.clear();
        add_object_stream_entries(rebuilt_->xref, streams, *this);
        found = rebuilt_->xref.entries.find(num);
    }
    if (found == rebuilt_->xref.entries.end()) return not_there;
    const XrefEntry entry = found->second;
    if (const auto* in_file = std::get_if<XrefInFile>(&entry)) {
        if (in_file->offset == tried) return not_there;
        bool framed = false;
        return load_in_file(num, in_file->offset, framed);
    }
    if (const auto* packed = std::get_if<XrefCompressed>(&entry)) return load_compressed(*packed);
    return not_there;
}

Result<const Dictionary*> Resolver::resolve_dict(const Object& obj) const {
    const Object* value = &obj;
    if (const Reference* ref = obj.as_ref()) {
        auto got = lookup(ref->num);
        if (!got) return std::move(got).error();
        value = *got;
    }
    if (const Dictionary* d = value->as_dict()) return d;
    if (const Stream* s = value->as_stream()) return &s->dict;
    return invalid("expected dictionary");
}

const Object* fetch_entry(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
    const Object* value = dict.get(key);
    if (value == nullptr) return nullptr;
    if (const Reference* ref = value->as_ref()) {
        auto got = resolver.lookup(ref->num);
        return got ? *got : nullptr;
    }
    return value;
}

std::optional<std::uint64_t> Resolver::declared_length(const Dictionary& dict) const {
    const Object* len = dict.get("Length");
    if (len == nullptr) return std::nullopt;
    const Object* value = len;
    if (const Reference* ref = len->as_ref()) {
        // A length object that cannot be read (missing, or part of a cycle)
        // leaves the body to the "endstream" search.
        auto got = lookup(ref->num);
        if (!got) return std::nullopt;
        value = *got;
    }
    const std::int64_t* i = value->as_int();
    if (i == nullptr || *i < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*i);
}

}  // namespace vellox_core
