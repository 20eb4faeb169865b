// The resolver: object numbers to objects through the cross-reference data.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "budget.h"
#include "crypt.h"
#include "lex.h"
#include "object.h"
#include "objstm.h"
#include "result.h"
#include "xref.h"

namespace vellox_core {

class Resolver {
public:
    Resolver(Xref xref, ByteView data) : xref(std::move(xref)), data(data) {}

    Xref xref;
    std::optional<Decryptor> decryptor;
    std::optional<std::uint32_t> encrypt_ref;
    ByteView data;
    // `xref` was rebuilt from the file body at open (repair.h), so an entry
    // that does not frame its object has nowhere else to be looked up.
    bool xref_rebuilt = false;
    // The budget of the call under way (budget.h), if any: the object
    // streams the resolver decodes count against it, and the code that
    // decodes streams through the resolver (page content, forms, fonts,
    // images) charges it too. Set by whoever runs the call, for its length.
    mutable Budget* budget = nullptr;

    // Object `num` (generations play no part), as the resolver keeps it.
    // Loaded objects are never replaced or dropped and the cache is a
    // node-based map, so the pointer stays valid as long as the resolver,
    // whatever else is resolved meanwhile.
    Result<const Object*> lookup(std::uint32_t num) const;
    // A Reference is resolved; a Dictionary is returned, a Stream yields its
    // dict; anything else is InvalidObject "expected dictionary". The
    // dictionary is the one inside `obj` or inside the resolver's own object
    // (see lookup), valid as long as both are.
    Result<const Dictionary*> resolve_dict(const Object& obj) const;
    // The value of `key` in object `num`'s dictionary when it is a plain
    // name, read from the object's bytes without parsing the object (see
    // cos::peek_name_entry): a caller can pass over an object it would only
    // parse to learn that it needs nothing from it. Nothing when that cannot
    // be told so: the object is not at its table entry's place, or reads
    // unclearly. A name seen this way is what lookup's object holds, unless
    // lookup fails. A view into the file or a kept object stream.
    std::optional<std::string_view> peek_name(std::uint32_t num, std::string_view key) const;
    // The non-negative Integer /Length of a stream dictionary, following one
    // reference; nothing when absent or unusable.
    std::optional<std::uint64_t> declared_length(const Dictionary& dict) const;
    // Object stream `num`, decoded and indexed; kept for the resolver's life.
    Result<std::shared_ptr<const ObjStm>> object_stream(std::uint32_t num) const;
    // Whether the file body has been scanned for objects: at open, or since,
    // the first time an entry pointed at bytes that are not its object. Never
    // for a well-formed file.
    bool scanned() const { return xref_rebuilt || rebuilt_.has_value(); }

private:
    Result<Object> load(std::uint32_t num) const;
    // `framed` tells whether a header naming `num` stands at `offset`.
    Result<Object> load_in_file(std::uint32_t num, std::uint64_t offset, bool& framed) const;
    Result<Object> load_compressed(const XrefCompressed& packed) const;
    // A lexer at the object `packed` names, over its object stream's decoded
    // data (kept for the resolver's life), or why there is none.
    Result<Lexer> compressed_object(const XrefCompressed& packed) const;
    // Object `num` from the table rebuilt from the file body, made on first
    // use; `not_there` when it has no other definition than at `tried`.
    Result<Object> load_rebuilt(std::uint32_t num, std::uint64_t tried, Error not_there) const;

    // The table load_rebuilt makes; the file's own stays in `xref`.
    struct Rebuilt {
        Xref xref;
        std::vector<std::uint32_t> object_streams;  // not yet read into `xref`
    };
    mutable std::optional<Rebuilt> rebuilt_;
    mutable std::unordered_map<std::uint32_t, Object> cache_;
    mutable std::unordered_map<std::uint32_t, std::shared_ptr<const ObjStm>> objstm_cache_;
    // Object numbers whose resolution is under way, to refuse cycles.
    mutable std::unordered_set<std::uint32_t> in_progress_;
};

// The value stored under `key`, with one indirect reference followed: a
// pointer into `dict` or into the resolver's own object (see
// Resolver::lookup); nullptr when the key is absent or the reference does
// not resolve.
const Object* fetch_entry(const Resolver& resolver, const Dictionary& dict, std::string_view key);

}  // namespace vellox_core
