// Random damage to text for the tests that feed parsers broken input: one
// to `max_edits` edits, each replacing a byte, erasing one to three, or
// inserting one, the new bytes drawn from `alphabet`.
#pragma once

#include <random>
#include <string>
#include <string_view>

namespace vellox_test {

inline std::string damaged(std::string text, std::mt19937& rng, std::string_view alphabet,
                           unsigned max_edits) {
    const unsigned edits = 1 + static_cast<unsigned>(rng() % max_edits);
    for (unsigned e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = rng() % text.size();
        switch (rng() % 3) {
            case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
            case 1: text.erase(at, 1 + rng() % 3); break;
            default: text.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
        }
    }
    return text;
}

}  // namespace vellox_test
