// Adobe's CJK character collections: the Unicode character of each CID.
//
// A CIDFont names its character collection in /CIDSystemInfo (Registry,
// Ordering, Supplement): "Adobe-Japan1-2" for Ryumin-Light in
// pdfminer-samples/jo.pdf. The CID of a glyph then has a fixed meaning
// across every font of that collection, which is what lets a reader get the
// text of a non-embedded CJK font that has no ToUnicode map: character code
// -> CID through the font's CMap (cidcmap.h), CID -> Unicode here. Later
// supplements only add CIDs, so one table per collection serves every
// supplement.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellox_core {

enum class Collection : std::uint8_t { GB1, CNS1, Japan1, Korea1, KR };

// The collection a /CIDSystemInfo names: Registry "Adobe" and Ordering
// "GB1", "CNS1", "Japan1", "Korea1" or "KR"; nothing for any other pair,
// Adobe-Identity included (its CIDs mean nothing without the font program).
std::optional<Collection> collection_named(std::string_view registry, std::string_view ordering);

// The character of `cid`, or nothing when the collection gives none (CID 0,
// CIDs past the collection's last, and glyphs with no Unicode character of
// their own, such as the half-width hiragana of Adobe-Japan1). Each CID has
// one character, taken from the collection's cid2code.txt by the rules in
// scripts/gen_cjk_tables.py (collection_unicode): where Adobe lists several,
// the first, unless it is a radical, a compatibility ideograph, a private-use
// value or a similar alternative beside the expected character (the CID of
// 日 lists the Kangxi radical U+2F47 first); vertical-form CIDs give the
// vertical presentation forms (U+FE35 for the vertical left parenthesis);
// and the proportional and half-width Latin CIDs give ASCII. No allocation.
std::optional<char32_t> collection_unicode(Collection collection, std::uint32_t cid);

}  // namespace vellox_core
