// The PDF value model: the ten object variants, dictionaries, streams, and
// the error value every fallible operation of the core returns.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace vellox_core {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline ByteView as_bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
inline std::string_view as_text(ByteView b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// ---------------------------------------------------------------- errors

enum class ErrorKind : std::uint8_t {
    InvalidHeader,
    InvalidXref,
    InvalidObject,
    UnexpectedToken,
    UnexpectedEof,
    BadStream,
    MissingTrailer,
    ObjectNotFound,
    Unsupported,
    InvalidPassword,
    // A limit the caller put on the call (budget.h): its time or its
    // decoded bytes.
    LimitExceeded,
};

std::string_view kind_name(ErrorKind kind);

struct Error {
    ErrorKind kind;
    std::string message;

    // "Kind: message", the text handed to Python.
    std::string to_string() const;
    bool operator==(const Error&) const = default;
};

// ---------------------------------------------------------------- objects

struct Object;

struct Null {
    bool operator==(const Null&) const = default;
};

// Raw string bytes; no text encoding implied.
struct String {
    Bytes bytes;
    bool operator==(const String&) const = default;
};

// A name without its slash, after #xx decoding, converted lossily to UTF-8.
struct Name {
    std::string text;
    bool operator==(const Name&) const = default;
};

struct Reference {
    std::uint32_t num = 0;
    std::uint16_t gen = 0;
    bool operator==(const Reference&) const = default;
};

using Array = std::vector<Object>;

// Ordered (key, value) pairs with unique keys, in order of first appearance.
struct Dictionary {
    std::vector<std::pair<std::string, Object>> entries;

    // First pair whose key has exactly these bytes; nullptr when absent.
    const Object* get(std::string_view key) const;
    Object* get(std::string_view key);
    bool contains(std::string_view key) const { return get(key) != nullptr; }
    // Replace the value of an existing key in place, or append the pair.
    void set(std::string key, Object value);

    // Defined after Object: member bodies here would need the complete type.
    std::size_t size() const;
    bool empty() const;
    auto begin() const;
    auto end() const;
    bool operator==(const Dictionary&) const;
};

struct Stream {
    Dictionary dict;
    Bytes data;  // the body as stored (decrypted, not yet filtered)
    bool operator==(const Stream&) const;
};

enum class ObjectType : std::uint8_t {
    Null,
    Bool,
    Integer,
    Real,
    String,
    Name,
    Array,
    Dictionary,
    Stream,
    Reference,
};

struct Object {
    using Variant = std::variant<Null, bool, std::int64_t, double, String, Name, Array, Dictionary,
                                 Stream, Reference>;
    Variant v;

    Object() : v(Null{}) {}
    Object(Null) : v(Null{}) {}
    Object(bool b) : v(b) {}
    Object(std::int64_t i) : v(i) {}
    Object(int i) : v(std::int64_t{i}) {}
    Object(double d) : v(d) {}
    Object(String s) : v(std::move(s)) {}
    Object(Name n) : v(std::move(n)) {}
    Object(Array a) : v(std::move(a)) {}
    Object(Dictionary d) : v(std::move(d)) {}
    Object(Stream s) : v(std::move(s)) {}
    Object(Reference r) : v(r) {}
    Object(const char*) = delete;  // would silently become a Bool

    ObjectType type() const { return static_cast<ObjectType>(v.index()); }

    bool is_null() const { return type() == ObjectType::Null; }
    const bool* as_bool() const { return std::get_if<bool>(&v); }
    const std::int64_t* as_int() const { return std::get_if<std::int64_t>(&v); }
    const double* as_real() const { return std::get_if<double>(&v); }
    const String* as_string() const { return std::get_if<String>(&v); }
    const Name* as_name() const { return std::get_if<Name>(&v); }
    const Array* as_array() const { return std::get_if<Array>(&v); }
    const Dictionary* as_dict() const { return std::get_if<Dictionary>(&v); }
    const Stream* as_stream() const { return std::get_if<Stream>(&v); }
    const Reference* as_ref() const { return std::get_if<Reference>(&v); }
    String* as_string() { return std::get_if<String>(&v); }
    Array* as_array() { return std::get_if<Array>(&v); }
    Dictionary* as_dict() { return std::get_if<Dictionary>(&v); }
    Stream* as_stream() { return std::get_if<Stream>(&v); }

    // An Integer (as a double) or a Real; nothing for every other variant.
    std::optional<double> number() const {
        if (const auto* i = as_int()) return static_cast<double>(*i);
        if (const auto* r = as_real()) return *r;
        return std::nullopt;
    }
    // True when this is a Name with exactly this text.
    bool is_name(std::string_view text) const;

    bool operator==(const Object&) const = default;
};

inline std::size_t Dictionary::size() const { return entries.size(); }
inline bool Dictionary::empty() const { return entries.empty(); }
inline auto Dictionary::begin() const { return entries.begin(); }
inline auto Dictionary::end() const { return entries.end(); }

// Builds a dictionary from its entries as a file writes them, one at a
// time: a repeated key keeps its first place and takes its last value, as
// set() does. Looking each key up among the ones before it is quadratic in
// the dictionary's size, and a hostile file can write hundreds of thousands
// of keys into one dictionary (minutes for a few megabytes); past a few
// dozen entries, keys are found through a hash index instead.
class DictionaryBuilder {
public:
    // Taken by reference: a parsed entry is handed on only where it stays.
    void add(std::string&& key, Object&& value);
    Dictionary take() && { return std::move(dict_); }

private:
    // Entries looked up one by one before the index is built: nearly every
    // dictionary of a real file stays below it.
    static constexpr std::size_t kIndexFrom = 32;

    Dictionary dict_;
    std::unordered_map<std::string, std::size_t> index_;  // key -> place, once built
};

// Deep copy (copies are always deep; named for readability at call sites).
inline Object clone(const Object& o) { return o; }

}  // namespace vellox_core
