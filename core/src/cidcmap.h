// CID CMaps: the /Encoding of a composite (Type0) font, which turns the
// bytes of a shown string into character codes and each code into a CID.
//
// (The ToUnicode CMaps of cmap.h map codes to text; these map codes to
// glyph selectors, and decide how many bytes each code takes.)
//
// A Type0 font's /Encoding is either the name of a predefined CMap
// (Identity-H, 90ms-RKSJ-H, UniGB-UTF16-V...) or a stream holding a CMap
// program. Both become a CidCMap:
//
//   CidCMap::predefined(name)             every CMap of Adobe-GB1, -CNS1,
//                                         -Japan1, -Korea1, -KR, Identity-H/V
//   CidCMap::parse(stream bytes, usecmap) an embedded CMap (decoded stream)
//
// How the font loader and the text machine use it, for a Type0 font:
//
//   1. /Encoding is a name: cmap = CidCMap::predefined(name); an unknown
//      name gives nothing (the font keeps its two-byte codes). /Encoding is
//      a stream: cmap = CidCMap::parse(decoded data, use_cmap) with
//      use_cmap the name in the stream dictionary's /UseCMap, if any (a
//      /UseCMap that is a stream is not followed); when the dictionary's
//      /WMode is 1, set cmap.wmode = WritingMode::Vertical.
//   2. The collection for text: cmap.collection(), the collection whose
//      CIDs the CMap produces; when it has none (Identity-H/V, or an
//      embedded CMap without a known /CIDSystemInfo), collection_named() of
//      the descendant font's /CIDSystemInfo Registry and Ordering (jo.pdf
//      pairs Identity-V with Adobe-Japan1). The CMap comes first because
//      producers do mismatch them: reportlab's MSung-Light declares
//      Adobe-CNS1 but shows its text with UniGB-UCS2-H, whose CIDs are
//      Adobe-GB1's (core/tests/fixtures/cidcmap/reportlab-cjk.pdf).
//   3. Per shown string: cmap.decode(bytes, codes) fills a vector the text
//      machine keeps between strings, one ShownCode per code: its bytes as
//      a number, its length, and its CID (for widths: /W and /DW are by
//      CID). For each code, the text is the ToUnicode map's entry for
//      `code` when the font has one, else cmap.unicode_of(shown, collection).
//   4. cmap.vertical(): the font writes top to bottom (glyphs advance by
//      their vertical metrics, /W2 and /DW2).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cidcmap_tables.h"
#include "collection.h"
#include "object.h"

namespace vellox_core {

enum class WritingMode : std::uint8_t { Horizontal, Vertical };

// Codes of `length` bytes whose every byte lies between the bytes of lo and
// hi at its position: <8140> <9FFC> admits 81-9F followed by 40-FC, not the
// numeric interval 0x8140-0x9FFC (which would include 0x827F).
struct CodespaceRange {
    std::uint8_t length = 0;  // 1-4
    std::array<std::uint8_t, 4> lo{};
    std::array<std::uint8_t, 4> hi{};
    bool operator==(const CodespaceRange&) const = default;
};

// Codes lo..hi of `length` bytes mapped to CIDs cid, cid + 1, ... (a
// cidchar is a range of one code); cid + (hi - lo) is at most 65535. In the
// notdef list every code of a range maps to `cid` itself, as a notdefrange
// does.
struct CidRange {
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    std::uint32_t cid = 0;
    std::uint8_t length = 0;
    bool operator==(const CidRange&) const = default;
};

// The CID of one code. `mapped` is false when no cidrange or cidchar maps
// the code and `cid` comes from a notdef mapping or is 0: the glyph shown is
// a stand-in, and the code has no text.
struct CidLookup {
    std::uint32_t cid = 0;
    bool mapped = false;
    bool operator==(const CidLookup&) const = default;
};

// One code of a shown string.
struct ShownCode {
    std::uint32_t code = 0;   // its bytes, big-endian
    std::uint8_t length = 0;  // bytes taken from the string, 1-4
    // False when the bytes match no code space range, or the string ends
    // inside a code; such a code shows CID 0 and has no text.
    bool valid = false;
    bool mapped = false;  // as in CidLookup
    std::uint32_t cid = 0;
    bool operator==(const ShownCode&) const = default;
};

struct CidCMap {
    std::vector<CodespaceRange> codespace;
    // The CMap's own mappings (an embedded CMap's cidrange/cidchar and
    // notdefrange/notdefchar), disjoint and sorted by (length, lo); where
    // the program maps a code twice, the later mapping is the one kept.
    std::vector<CidRange> cids;
    std::vector<CidRange> notdefs;
    // The predefined CMap this one is (predefined) or uses (an embedded
    // CMap's usecmap): consulted after the own mappings.
    const cidcmap_tables::PredefinedCMap* base = nullptr;
    WritingMode wmode = WritingMode::Horizontal;
    // Set for the predefined Unicode CMaps (UniJIS-UCS2-H, UniGB-UTF16-V,
    // UniKS-UTF8-H...), whose codes are Unicode text themselves; None for
    // every other CMap, embedded ones included.
    UnicodeForm unicode_form = UnicodeForm::None;
    // /CIDSystemInfo of the CMap: "Adobe", "Japan1", 2.
    std::string registry;
    std::string ordering;
    std::int64_t supplement = 0;

    // A predefined CMap by its exact name; nothing for an unknown name.
    // Copies the code space (one allocation); the mappings stay in the
    // library's tables.
    static std::optional<CidCMap> predefined(std::string_view name);

    // An embedded CMap program (the decoded stream). Never fails: it reads
    // begincodespacerange, begincidrange, begincidchar, beginnotdefrange,
    // beginnotdefchar, /WMode, /CIDSystemInfo (either form) and a usecmap of
    // a predefined name, and skips whatever else it finds. `use_cmap`
    // stands for a usecmap when the program has none of its own (the stream
    // dictionary's /UseCMap). The code space is the used CMap's followed by
    // the program's own; with neither, codes are two bytes (<0000> <FFFF>).
    // Mappings with a CID past 65535 are cut there.
    static CidCMap parse(ByteView bytes, std::string_view use_cmap = {});

    // The CID of one code of `length` bytes: the own mappings, then the
    // base's, then the own notdef mappings, then the base's, else CID 0
    // unmapped. No allocation.
    CidLookup lookup(std::uint32_t code, std::uint8_t length) const;

    // Appends to `out` one ShownCode per code of `bytes`, split by the code
    // space: a code is the first 1, 2, 3 or 4 bytes that match a range of
    // that length. Bytes that match no range make one invalid code, as long
    // as the shortest range whose first byte admits the first byte (so a
    // broken two-byte code in a one-and-two-byte encoding takes two bytes),
    // or the shortest range at all when no first byte does, and never
    // longer than what is left. Allocates only when `out` grows.
    void decode(ByteView bytes, std::vector<ShownCode>& out) const;
    // The first code of `bytes`, split as decode() splits it; its length is
    // 0 only when `bytes` is empty. For callers that handle one code at a
    // time without a vector (Font::show_into).
    ShownCode next_code(ByteView bytes) const;

    // The character of a code when the font has no ToUnicode entry for it:
    // a Unicode CMap's code decoded as its own text (unicode_of_code);
    // otherwise the collection's character for the CID, when the code is
    // mapped and a collection is given. Nothing for invalid codes.
    std::optional<char32_t> unicode_of(const ShownCode& shown,
                                       std::optional<Collection> collection) const;

    bool vertical() const { return wmode == WritingMode::Vertical; }
    // collection_named(registry, ordering).
    std::optional<Collection> collection() const;
};

// The scalar value a code of a Unicode CMap encodes: UCS-2 one 16-bit unit
// (no surrogate); UTF-16 one unit or a surrogate pair (four bytes);
// UTF-8 the shortest encoding of one scalar value; UTF-32 the value.
// Nothing for anything else, and for UnicodeForm::None.
std::optional<char32_t> unicode_of_code(UnicodeForm form, std::uint32_t code, std::uint8_t length);

}  // namespace vellox_core
