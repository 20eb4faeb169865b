// Cross-reference data: classic tables, cross-reference streams, the chain.
#pragma once

#include <cstdint>
#include <map>
#include <variant>

#include "budget.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

struct XrefFree {
    bool operator==(const XrefFree&) const = default;
};
struct XrefInFile {
    std::uint64_t offset = 0;
    std::uint16_t generation = 0;
    bool operator==(const XrefInFile&) const = default;
};
struct XrefCompressed {
    std::uint32_t stream = 0;
    std::uint32_t index = 0;
    bool operator==(const XrefCompressed&) const = default;
};
using XrefEntry = std::variant<XrefFree, XrefInFile, XrefCompressed>;
using XrefEntries = std::map<std::uint32_t, XrefEntry>;

// The merged cross-reference data of a file; also the shape of one section
// while the chain is read.
struct Xref {
    Dictionary trailer;
    XrefEntries entries;
};

// Reads the whole chain, newest section first, from the last "startxref".
// The cross-reference streams decoded count against `budget`.
Result<Xref> read_xref(ByteView data, Budget* budget = nullptr);

// Adds the entries whose object numbers are not yet present; never replaces.
void merge_entries(Xref& xref, XrefEntries section_entries);

// Reads one cross-reference stream section at a file offset.
Result<Xref> parse_xref_stream(ByteView data, std::uint64_t offset, Budget* budget = nullptr);

}  // namespace vellox_core
