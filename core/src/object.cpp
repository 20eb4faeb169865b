#include "object.h"

namespace vellox_core {

std::string_view kind_name(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::InvalidHeader: return "InvalidHeader";
        case ErrorKind::InvalidXref: return "InvalidXref";
        case ErrorKind::InvalidObject: return "InvalidObject";
        case ErrorKind::UnexpectedToken: return "UnexpectedToken";
        case ErrorKind::UnexpectedEof: return "UnexpectedEof";
        case ErrorKind::BadStream: return "BadStream";
        case ErrorKind::MissingTrailer: return "MissingTrailer";
        case ErrorKind::ObjectNotFound: return "ObjectNotFound";
        case ErrorKind::Unsupported: return "Unsupported";
        case ErrorKind::InvalidPassword: return "InvalidPassword";
        case ErrorKind::LimitExceeded: return "LimitExceeded";
    }
    return "Unknown";
}

std::string Error::to_string() const {
    std::string out(kind_name(kind));
    out += ": ";
    out += message;
    return out;
}

const Object* Dictionary::get(std::string_view key) const {
    for (const auto& [k, value] : entries) {
        if (k == key) return &value;
    }
    return nullptr;
}

Object* Dictionary::get(std::string_view key) {
    for (auto& [k, value] : entries) {
        if (k == key) return &value;
    }
    return nullptr;
}

void Dictionary::set(std::string key, Object value) {
    if (Object* existing = get(key)) {
        *existing = std::move(value);
        return;
    }
    entries.emplace_back(std::move(key), std::move(value));
}

void DictionaryBuilder::add(std::string&& key, Object&& value) {
    auto& entries = dict_.entries;
    // Room for the entries of most dictionaries a file holds (an
    // annotation, a font, a page has five to eight): growing from four moved
    // each entry once more, a visit of its variant.
    if (entries.empty()) entries.reserve(8);
    if (entries.size() < kIndexFrom) {
        // As set() does, without handing the key and value on once more:
        // each move of an entry is a visit of its variant.
        if (Object* existing = dict_.get(key)) {
            *existing = std::move(value);
            return;
        }
        entries.emplace_back(std::move(key), std::move(value));
        return;
    }
    if (index_.empty()) {
        // The entries so far have distinct keys: set() merged repeats.
        for (std::size_t i = 0; i < entries.size(); ++i) index_.emplace(entries[i].first, i);
    }
    const auto [place, fresh] = index_.try_emplace(key, entries.size());
    if (!fresh) {
        entries[place->second].second = std::move(value);
        return;
    }
    entries.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::operator==(const Dictionary& other) const { return entries == other.entries; }

bool Stream::operator==(const Stream& other) const {
    return dict == other.dict && data == other.data;
}

bool Object::is_name(std::string_view text) const {
    const Name* n = as_name();
    return n != nullptr && n->text == text;
}

}  // namespace vellox_core
