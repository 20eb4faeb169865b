// Every bound the library puts on work driven by file data, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellox_core::limits {

// Nesting of arrays and dictionaries in one object. Real files nest a few
// levels (a font's /W array inside a descendant font dictionary); hundreds of
// levels only come from hostile input, and the parser recurses per level.
inline constexpr std::uint32_t kMaxNesting = 256;

// Output of any single decoder (Flate, LZW, RunLength) and the predictor row
// length. A 1 GiB page content or image is far beyond anything a real
// producer writes, while a few bytes of deflate data can claim terabytes.
inline constexpr std::size_t kMaxDecodedBytes = std::size_t{1} << 30;

// Page-tree nodes below the root: the root is depth 0, leaves may sit at 64.
inline constexpr std::uint32_t kMaxPageTreeDepth = 64;

// Entries one cross-reference section (or the merged chain) may hold. The
// largest real documents have a few million objects; a compressed
// cross-reference stream can otherwise claim one entry per decoded byte, and
// each entry costs far more memory than the byte that described it.
inline constexpr std::size_t kMaxXrefEntries = std::size_t{1} << 24;

// Objects the scan of a damaged file (repair.cpp) may find, and its rebuilt
// table may hold: the bound a table read from the file has, since the
// rebuilt one replaces it. A header costs eight bytes of file ("1 0 obj "),
// so without it a gigabyte of headers would ask for a table a hundred
// times that size.
inline constexpr std::size_t kMaxScannedObjects = kMaxXrefEntries;

// The scan of a damaged file steps over every dictionary that parses, but a
// dictionary that fails to parse can have read to the end of the file (an
// unterminated string) and is read again from the next header. All such
// failures may re-read this many times the file's size, after which the scan
// only records headers. Real damage fails a handful of times; a file of
// nothing but broken headers ("1 0 obj << (" over and over) would otherwise
// cost the square of its size.
inline constexpr std::size_t kMaxScanReparsePasses = 4;

// Objects whose resolution may be under way at once. Resolving one object
// can need another (an indirect /Length, the object stream holding it, that
// stream's own /Length...); real files nest two or three deep, while a chain
// of streams whose lengths point at one another would recurse once per link.
inline constexpr std::size_t kMaxResolveNesting = 32;

// Highest CID whose width a /W or /W2 range stores: CIDs are 16-bit (a CID
// CMap maps no code past 65535), so nothing above it can ever be shown.
inline constexpr std::uint32_t kMaxWidthCode = 65535;

// Places an item may be moved back by the sort of nearly ordered runs
// (nearly_sorted.h) before it starts a stretch of its own instead. Each
// place costs a comparison; a stretch costs a merge of its items, about
// what a few places cost. Most runs out of place in real pages belong one
// to three places back (a script, an accent drawn after its letter); a
// column drawn after the one beside it belongs hundreds back.
inline constexpr std::size_t kMaxSortShift = 8;

// Cells of the one ruled table a page may yield. The grid is the cross product
// of every distinct rule position on the page: two thousand rectangles, some
// forty kilobytes of content, would otherwise ask for four million cells. Real ruled tables hold
// hundreds of cells; a page of vector art that crosses this bound gives no table rather than a huge
// one.
inline constexpr std::size_t kMaxTableCells = std::size_t{1} << 16;

// Objects one page's content and the forms it draws may be read into:
// every operation and every operand, the elements of array and dictionary
// operands included, takes one, and a form drawn more than once is charged
// once. Operations are acted on as they are read and not kept, so this
// bounds a page's work, and the operands of one operation (16 bytes each,
// while one may stand for a single byte of content, "/ ") to 64 MiB. The
// heaviest page of the test corpus (a map in GeoTopo-komprimiert.pdf) holds
// 29,977 operations with 61,823 operands, some 92,000 objects: the bound is
// 45 times that. Content past it is ignored, as after an operand that does
// not parse.
inline constexpr std::size_t kMaxContentObjects = std::size_t{1} << 22;

// Text runs one page may yield. Each run becomes a record of about a
// hundred bytes, often a line of its own, and then a JSON object or a Python
// dictionary of several hundred bytes: seven bytes of content ("(a) ' ")
// per run would otherwise let one decoded content stream demand tens of
// gigabytes of output. Real pages show a few thousand runs (one per glyph
// in files that place every glyph; 1,058 on the busiest corpus page); text
// past the bound is dropped.
inline constexpr std::size_t kMaxPageRuns = std::size_t{1} << 18;

// Earlier runs of the same text that a run is compared with when looking
// for overprinted copies. A copy is drawn right after its original, or after
// the rest of its line at the latest (a shadow pass per line); a page that
// repeats one word thousands of times (a table of "0") stays linear.
inline constexpr std::size_t kMaxOverprintCandidates = 8;

// Rule positions one page keeps for its table. Each painted straight piece
// of a path gives at most one, so a page of vector art (a map drawn with
// hundreds of thousands of segments, forms drawn again and again) could
// otherwise keep one per operation it interprets; the grid only needs the
// distinct positions, and real tables have at most a few hundred. Rules
// past the bound are dropped.
inline constexpr std::size_t kMaxPageRules = std::size_t{1} << 20;

// Form XObjects and annotation appearances drawn inside one another, the
// page's content being depth 0. Producers nest forms a few levels (a
// group inside a group inside an artwork); the walk recurses once per
// level, and a chain of distinct forms each drawing the next would
// otherwise recurse as deep as the file has objects.
inline constexpr std::uint32_t kMaxFormDepth = 32;

// Operations interpreted on one page, each form's counted every time it is
// drawn. A form drawn ten times by a form drawn ten times... grows the work
// tenfold a level from a few bytes of content; real pages interpret at
// most some hundred thousand operations (the GeoTopo map page 30,000). Past
// the bound no further form or appearance is drawn and the page's own
// content goes on alone.
inline constexpr std::size_t kMaxPageDrawnOps = std::size_t{1} << 24;

// Decoded bytes of the form and appearance streams drawn on one page, all
// together (each decoded once per page). Each stream alone may decode to
// kMaxDecodedBytes; a page drawing many distinct forms would otherwise
// decode that many times over. Once reached, no further form is decoded,
// so a page decodes at most twice this bound in all.
inline constexpr std::size_t kMaxPageFormBytes = kMaxDecodedBytes;

// Graphics states saved by q and not yet restored. Each costs some 150
// bytes (the CTM and the text parameters); real content nests a few dozen
// levels, and some producers leave a q open per text object, reaching
// thousands. A q past the bound saves nothing, and the Q that matches it
// restores nothing.
inline constexpr std::size_t kMaxSavedStates = std::size_t{1} << 16;

// Images one page lists besides the image XObjects of its resources:
// inline images and images drawn inside forms. Each becomes a record in
// the output; a scan split into strips has a few hundred, while a content
// stream of tiny inline images could otherwise ask for millions.
inline constexpr std::size_t kMaxDrawnImages = std::size_t{1} << 12;

// Form fields followed up their /Parent chain for an inherited value or
// type. Real forms nest fields a few levels; a cycle or a chain as long as
// the file is hostile.
inline constexpr std::uint32_t kMaxFieldDepth = 32;

// Output room an inflate call reserves before decoding, at eight times the
// compressed size (Flate commonly compresses page content 3 to 10 times): a
// guess from data that exists, not from anything the stream claims, and at
// most 64 MiB, past which the buffer grows as the output really does.
inline constexpr std::size_t kMaxInflateInitialReserve = std::size_t{64} << 20;

// White space allowed between the end of a stream's data, as its /Length
// puts it, and the "endstream" keyword for the length to be trusted: an
// end-of-line marker, and the padding some producers add (up to 15 bytes
// seen). Farther away, the length is taken as wrong and the data runs to
// the first "endstream" instead.
inline constexpr std::size_t kMaxEndstreamGap = 15;

// Bytes of a glyph name read for its text, and of a /BaseFont name matched
// against the standard fonts. PDF readers are only required to handle names
// of up to 127 bytes, and no glyph or font name a producer writes comes
// near that (the longest in the Adobe Glyph List has 39); longer names come
// from hostile files and are not read.
inline constexpr std::size_t kMaxGlyphNameBytes = 127;
inline constexpr std::size_t kMaxFontNameBytes = 127;

// Components of one glyph name (f_f_i has three). Ligature names join a
// handful of glyphs (Indic conjuncts, Arabic lam_alef forms, f_f_l); a name
// with more components gives no text, so one name never turns into more
// than a few dozen characters.
inline constexpr std::size_t kMaxGlyphNameComponents = 16;

// Font programs (fontprog). Their counts are 16-bit or 32-bit fields that a
// damaged or hostile program can set to anything; each loop below is bounded
// by the bytes that back it and, where that could still be large, by these.

// Bytes of a Type 1 program searched for its clear-text part. That part
// (the font dictionary up to "eexec", with the encoding array) is a few
// kilobytes in real fonts: 1.6 KB in the Computer Modern subsets of the
// corpus, some 10 KB with a full 256-entry encoding. A stream that is
// not a Type 1 program would otherwise be tokenized in full.
inline constexpr std::size_t kMaxType1ClearText = std::size_t{1} << 20;

// Operands on a CFF DICT's stack before an operator. The CFF format itself
// allows 48; a DICT with more is damaged.
inline constexpr std::size_t kMaxCffDictOperands = 48;

// Records of an sfnt (TrueType, OpenType) table directory that are looked
// at. Real fonts carry 10 to 30 tables; the count is 16-bit.
inline constexpr std::size_t kMaxSfntTables = 256;

// Encoding records of a 'cmap' table looked at. Real fonts list two to
// six subtables; each record read may cost a pass over a 64K-code subtable.
inline constexpr std::size_t kMaxCmapRecords = 64;

// Groups of a format 12 'cmap' subtable kept. A font's groups are fewer
// than its glyphs (at most 65,535) plus the gaps between them; the 32-bit
// count could otherwise ask for millions of 12-byte groups, each sorted
// and each able to claim 2^32 codes (codes are clipped to Unicode and to
// the glyph count, never iterated as claimed).
inline constexpr std::size_t kMaxCmapGroups = std::size_t{1} << 17;

// Code space ranges one CID CMap keeps. Every code of a shown string is
// matched against them, so their number multiplies the cost of each
// character; Adobe's CMaps have at most five (CNS-EUC-H), and ranges past
// this bound are ignored.
inline constexpr std::size_t kMaxCodespaceRanges = 256;

// cidrange/cidchar entries, and again notdefrange/notdefchar entries, one
// embedded CID CMap keeps. The largest of Adobe's CMaps, UniCNS-UTF8-H, has
// 18,568 entries, so an embedded copy of it fits seven times over; entries
// past the bound are ignored. Each costs some 16 bytes, and more while
// overlapping entries are resolved.
inline constexpr std::size_t kMaxCidMappings = std::size_t{1} << 17;

// Objects, nested ones included, that one operand of a CMap program may
// hold. The operands are numbers, strings, names and a small dictionary; an
// array of a billion numbers would otherwise be built in memory only to be
// skipped.
inline constexpr std::size_t kMaxCMapOperandObjects = std::size_t{1} << 12;

// Outline (bookmark) items read. The outline is walked with an explicit
// stack and a set of visited objects, so a long /Next chain cannot recurse
// or loop; this caps the list it yields. Books and manuals carry a few
// thousand bookmarks (the largest real outlines, of standards and reference
// manuals with every clause bookmarked, some tens of thousands).
inline constexpr std::size_t kMaxOutlineItems = std::size_t{1} << 16;

// Outline levels read below the top. Real outlines nest three to six levels
// (part, chapter, section...); deeper items are left out with their subtree.
inline constexpr std::uint32_t kMaxOutlineDepth = 64;

// Named destinations kept from the /Dests name tree and dictionary, which
// outline items may point through. LaTeX's hyperref names one per page,
// section, figure and equation: some tens of thousands in a long thesis.
// Each kept name costs its key and a pointer.
inline constexpr std::size_t kMaxNamedDests = std::size_t{1} << 20;

// Levels of /Kids below a name tree's root. Producers write two or three;
// the walk keeps a stack entry per pending node, not a recursion.
inline constexpr std::uint32_t kMaxNameTreeDepth = 64;

// rdf:li items read from one XMP container (dc:creator's authors, dc:title's
// languages). A paper lists at most a few hundred authors; the items are
// joined into one text field.
inline constexpr std::size_t kMaxXmpItems = 1024;

// Decoded bytes of one embedded font program that the font loader reads.
// Whole CJK and pan-Unicode fonts embedded unsubsetted run to 20-30 MB
// (Arial Unicode, Noto CJK); a program past this is not read, and its font
// keeps what the PDF dictionaries say.
inline constexpr std::size_t kMaxFontProgramBytes = std::size_t{64} << 20;

// What the font cache of one document keeps of the embedded programs it has
// read, for other font dictionaries naming the same stream: their code
// names, glyph names, Unicode values, CIDs and cmap runs, counted one an
// entry (each at most a short string's 32 bytes, so about 64 MB in all).
// TeX's subsets weigh a few hundred entries each, a whole pan-Unicode font
// about 260,000; past this, programs are read for their fonts and dropped,
// as when nothing was kept.
inline constexpr std::size_t kMaxCachedProgramEntries = std::size_t{1} << 21;

// Entries of a /CIDToGIDMap stream read (two bytes each, one per CID from
// 0). CIDs are 16-bit, so a longer stream maps nothing more that a shown
// code can reach.
inline constexpr std::size_t kMaxCidToGidEntries = std::size_t{1} << 16;

// Levels of cuts reading order makes into a page: a page is cut into
// groups of bands, a group of columns into its columns, each column again.
// Real pages nest two or three levels (a page, its columns, a side bar or
// a two-column box inside one); each level costs O(n log n) in the page's
// lines, so this bounds a page's ordering at that many sorts of its lines.
// Deeper regions are read in position order.
inline constexpr std::uint32_t kMaxOrderDepth = 32;

// Column intervals reading order tracks for one group of bands. Each band
// added is merged with them, so their number multiplies the cost of every
// line; real pages have at most five or six columns, tables a few dozen.
// A band or group with more is taken as one piece of text across (it then
// reads in position order), which keeps ordering a page linear in its
// lines at every level of cuts.
inline constexpr std::size_t kMaxOrderColumns = 64;

}  // namespace vellox_core::limits
