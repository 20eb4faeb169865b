#!/usr/bin/env python3
"""Generates the predefined CID CMaps and the CID-to-Unicode tables of Adobe's
CJK character collections from Adobe's CMap resources.

    python3 scripts/gen_cjk_tables.py            # rewrites the two files below
    python3 scripts/gen_cjk_tables.py --out DIR  # writes them into DIR instead

Reads ../shared/data/cmap-resources (relative to the repository root) and
writes core/src/cidcmap_tables.cpp and core/src/collection_tables.cpp, whose
types are declared in cidcmap_tables.h and collection_tables.h. The output
depends only on the input files: the same data always gives the same bytes.

What is stored, and how (cidcmap_tables.h says how it is read):

* Every CMap of Adobe-GB1, Adobe-CNS1, Adobe-Japan1, Adobe-Korea1, Adobe-KR
  and Adobe-Identity, with `usecmap` resolved here: each CMap keeps its whole
  code space, notdef mappings, writing mode, collection and supplement.
  Adobe-Manga1 is left out (see MANGA below).
* The code-to-CID mappings of a Unicode CMap (UniJIS-UTF16-H...) are keyed by
  the Unicode scalar value its code encodes, not by the code: the UTF-8,
  UTF-16 and UTF-32 forms of one CMap then share a single table.
* A table may be stored as the differences from another table of the same
  collection (its base): the entries that map a key differently, and
  "unmapped" entries for keys the base maps and it does not. A -V CMap is
  the few vertical forms over its -H CMap, GBKp-EUC-H a handful of codes over
  GBK-EUC-H. Lookups follow at most MAX_CHAIN tables.
* Each table is a sorted list of segments: a Range maps consecutive keys to
  consecutive CIDs, an Array holds the CIDs of a stretch of keys in a shared
  pool of 16-bit CIDs (0 there: not in this table, ask the base), and an
  Unmapped segment hides its keys from the base.
* CID to Unicode: for each collection, one 16-bit value per CID and a short
  list of the CIDs whose character lies outside the Basic Multilingual Plane
  (see collection_unicode below for the rules).
"""

from __future__ import annotations

import argparse
import os
import re
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
DATA = REPO / ".." / "shared" / "data" / "cmap-resources"

# Directory of each collection in the CMap resources, in the order of the
# Collection enumeration (collection.h); Identity has no cid2code.txt.
COLLECTIONS = [
    ("Adobe-GB1-6", "GB1"),
    ("Adobe-CNS1-7", "CNS1"),
    ("Adobe-Japan1-7", "Japan1"),
    ("Adobe-Korea1-2", "Korea1"),
    ("Adobe-KR-9", "KR"),
]
IDENTITY = "Adobe-Identity-0"
# Adobe-Manga1 (a collection for manga lettering fonts, with Unicode CMaps
# only) is not generated: its seven CMaps would add 44,602 bytes of tables
# and its CIDs another 36,064 for their characters, more than all the Korean
# legacy CMaps together, for fonts that PDF producers do not leave
# unembedded the way they do the standard CJK fonts.
MANGA = "Adobe-Manga1-0"

MAX_CHAIN = 4          # tables one lookup may visit (a table and its bases)
RANGE_MIN = 8          # a run this long becomes a Range segment of its own
ARRAY_GAP = 4          # keys an Array may pad with zeros to avoid a new segment
MAX_SPAN = 2047        # a segment's span has 11 bits (cidcmap_tables.h)
SEGMENT_BYTES = 8
UNMAPPED = -1

UNICODE_FORMS = {"UCS2": "Ucs2", "UTF16": "Utf16", "UTF8": "Utf8", "UTF32": "Utf32"}


def fail(msg: str) -> None:
    sys.exit(f"gen_cjk_tables: {msg}")


# ----------------------------------------------------------------- CMap files

TOKEN = re.compile(
    rb"%[^\r\n]*|<<|>>|<[0-9A-Fa-f\s]*>|\([^)]*\)|/[^\s/<>\[\]()%{}]*|[\[\]{}]|[^\s/<>\[\]()%{}]+"
)


class CMapFile:
    def __init__(self, path: Path):
        self.name = path.name
        self.registry = self.ordering = None
        self.supplement = None
        self.wmode = 0
        self.usecmap = None
        self.codespace = []  # (lo bytes, hi bytes)
        self.cids = []       # (lo bytes, hi bytes, cid) in file order
        self.notdefs = []
        toks = [t for t in TOKEN.findall(path.read_bytes()) if not t.startswith(b"%")]
        i = 0

        def hexstr(t: bytes) -> bytes:
            if not (t.startswith(b"<") and t.endswith(b">")):
                fail(f"{path}: expected a hex string, got {t!r}")
            return bytes.fromhex(t[1:-1].decode())

        while i < len(toks):
            t = toks[i]
            if t == b"usecmap":
                self.usecmap = toks[i - 1][1:].decode()
            elif t == b"/Registry":
                self.registry = toks[i + 1][1:-1].decode()
            elif t == b"/Ordering":
                self.ordering = toks[i + 1][1:-1].decode()
            elif t == b"/Supplement":
                self.supplement = int(toks[i + 1])
            elif t == b"/WMode":
                self.wmode = int(toks[i + 1])
            elif t == b"/CMapName" and toks[i + 1][1:].decode() != self.name:
                fail(f"{path}: /CMapName {toks[i + 1]!r} differs from the file name")
            elif t == b"begincodespacerange":
                i += 1
                while toks[i] != b"endcodespacerange":
                    self.codespace.append((hexstr(toks[i]), hexstr(toks[i + 1])))
                    i += 2
            elif t in (b"begincidrange", b"beginnotdefrange"):
                out = self.cids if t == b"begincidrange" else self.notdefs
                end = b"end" + t[5:]
                i += 1
                while toks[i] != end:
                    out.append((hexstr(toks[i]), hexstr(toks[i + 1]), int(toks[i + 2])))
                    i += 3
            elif t in (b"begincidchar", b"beginnotdefchar"):
                out = self.cids if t == b"begincidchar" else self.notdefs
                end = b"end" + t[5:]
                i += 1
                while toks[i] != end:
                    code = hexstr(toks[i])
                    out.append((code, code, int(toks[i + 1])))
                    i += 2
            i += 1
        if None in (self.registry, self.ordering, self.supplement):
            fail(f"{path}: no complete /CIDSystemInfo")
        for lo, hi, _ in self.cids + self.notdefs:
            # Adobe's ranges vary in their last byte only; the code-keyed
            # tables do not rely on it, but a range over several leading
            # bytes would be read here as a numeric interval.
            if len(lo) != len(hi) or lo[:-1] != hi[:-1] or lo > hi:
                fail(f"{path}: unexpected range {lo.hex()}..{hi.hex()}")


def unicode_form(name: str) -> str | None:
    if not name.startswith("Uni"):
        return None
    for part in name.split("-"):
        if part in UNICODE_FORMS:
            return part
    fail(f"{name}: a Unicode CMap without a known form")


def decode_code(code: int, length: int, form: str) -> int | None:
    """The scalar value a Unicode CMap's code encodes, or None."""
    raw = code.to_bytes(length, "big")
    codec = {"UTF8": "utf-8", "UTF16": "utf-16-be", "UCS2": "utf-16-be", "UTF32": "utf-32-be"}[form]
    try:
        text = raw.decode(codec)
    except UnicodeDecodeError:
        return None
    if len(text) != 1 or text.encode(codec) != raw:
        return None
    if form == "UCS2" and length != 2:
        return None
    return ord(text)


class CMap:
    """A CMap with usecmap resolved: whole mappings as {(length, code): cid}."""

    def __init__(self, f: CMapFile, parent: "CMap | None"):
        self.name = f.name
        self.registry, self.ordering, self.supplement = f.registry, f.ordering, f.supplement
        self.wmode = f.wmode
        self.form = unicode_form(f.name)
        self.codespace = (parent.codespace if parent else []) + f.codespace
        self.cids = dict(parent.cids) if parent else {}
        self.notdefs = dict(parent.notdefs) if parent else {}
        # Later entries replace earlier ones. A cidrange counts its CIDs up
        # from the one given; a notdefrange maps every code to that one CID
        # (<00> <1f> 231: control codes show the half-width space).
        for src, dst, step in ((f.cids, self.cids, 1), (f.notdefs, self.notdefs, 0)):
            for lo, hi, cid in src:
                n, a, b = len(lo), int.from_bytes(lo, "big"), int.from_bytes(hi, "big")
                for code in range(a, b + 1):
                    if cid + step * (code - a) > 0xFFFF:
                        fail(f"{self.name}: CID past 65535")
                    dst[(n, code)] = cid + step * (code - a)
        if not self.codespace:
            fail(f"{self.name}: no code space")

    def keyed(self, mapping: dict) -> dict:
        """The mapping keyed as stored: (length, code), or (0, scalar)."""
        if self.form is None:
            return mapping
        out = {}
        for (n, code), cid in mapping.items():
            scalar = decode_code(code, n, self.form)
            if scalar is None:
                fail(f"{self.name}: code {code:0{2 * n}x} is not {self.form}")
            if (0, scalar) in out:
                fail(f"{self.name}: two codes for U+{scalar:04X}")
            out[(0, scalar)] = cid
        return out


def load_cmaps(dirs: list[str]) -> list[CMap]:
    files = {}
    for d in dirs:
        for p in sorted((DATA / d / "CMap").iterdir()):
            files[p.name] = (d, CMapFile(p))
    done: dict[str, CMap] = {}

    def resolve(name: str, depth: int = 0) -> CMap:
        if name in done:
            return done[name]
        if depth > 4 or name not in files:
            fail(f"usecmap chain to {name}")
        f = files[name][1]
        parent = resolve(f.usecmap, depth + 1) if f.usecmap else None
        if parent and (parent.registry, parent.ordering) != (f.registry, f.ordering):
            fail(f"{name}: uses a CMap of another collection")
        done[name] = CMap(f, parent)
        return done[name]

    return [resolve(n) for n in sorted(files)]


# ----------------------------------------------------------------- segments

def runs_of(items):
    """Maximal runs of consecutive keys of one length whose CIDs count up
    (or that are all unmapped): [length, lo, hi, cid-of-lo]."""
    runs = []
    for (n, key), cid in items:
        if runs:
            r = runs[-1]
            if (r[0] == n and r[2] + 1 == key and r[2] - r[1] < MAX_SPAN and
                    ((cid == UNMAPPED and r[3] == UNMAPPED) or
                     (cid != UNMAPPED and r[3] != UNMAPPED and r[3] + key - r[1] == cid))):
                r[2] = key
                continue
        runs.append([n, key, key, cid])
    return runs


def segments_of(mapping: dict):
    """(segments, pool) for one table: segments as (length, lo, span, kind,
    value) with value a CID (Range) or an index into `pool` (Array)."""
    segs, pool = [], []
    array = None  # [length, lo, hi, first pool index]

    def close():
        nonlocal array
        if array:
            segs.append((array[0], array[1], array[2] - array[1], "A", array[3]))
            array = None

    for n, lo, hi, cid in runs_of(sorted(mapping.items())):
        count = hi - lo + 1
        if cid == UNMAPPED or cid == 0 or count >= RANGE_MIN:
            close()
            segs.append((n, lo, hi - lo, "U" if cid == UNMAPPED else "R", max(cid, 0)))
            continue
        if array and array[0] == n and lo - array[2] - 1 <= ARRAY_GAP and hi - array[1] <= MAX_SPAN:
            pool.extend([0] * (lo - array[2] - 1))
        else:
            close()
            array = [n, lo, lo, len(pool)]
        pool.extend(range(cid, cid + count))
        array[2] = hi
    close()
    return segs, pool


def cost(mapping: dict) -> int:
    segs, pool = segments_of(mapping)
    return SEGMENT_BYTES * len(segs) + 2 * len(pool)


def overlay(mapping: dict, base: dict) -> dict:
    out = {k: v for k, v in mapping.items() if base.get(k) != v}
    for k in base:
        if k not in mapping:
            out[k] = UNMAPPED
    return out


# ----------------------------------------------------------------- cid2code

def read_cid2code(coll_dir: str):
    header, rows = None, []
    with open(DATA / coll_dir / "cid2code.txt", encoding="latin-1") as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = [x.strip() for x in line.rstrip("\n").split("\t")]
            if header is None:
                header = fields
                continue
            if int(fields[0]) != len(rows):
                fail(f"{coll_dir}: CIDs out of order")
            rows.append(dict(zip(header, fields)))
    return header, rows


def secondary(cp: int) -> int:
    """How far a value a CID lists is from the character a reader expects
    of its glyph: 0 for most; 1 for the alternatives Adobe lists beside the
    expected one (Kangxi and CJK radicals beside the ideograph, compatibility
    ideographs beside the unified one they decompose to, the deprecated
    angle brackets U+2329/U+232A beside U+3008/U+3009, typographic spaces and
    the Hangul filler beside the ideographic space, the tricolon and two-dot
    punctuation beside the vertical ellipsis forms); 2 for private use."""
    if 0xE000 <= cp <= 0xF8FF or cp >= 0xF0000:
        return 2
    if (0x2E80 <= cp <= 0x2FDF or 0xF900 <= cp <= 0xFAFF or 0x2F800 <= cp <= 0x2FA1F or
            cp in (0x2329, 0x232A, 0x3164, 0x205A, 0x205D) or 0x2000 <= cp <= 0x200A):
        return 1
    return 0


def preferred(values: list[int]) -> int:
    """The first of the values of the lowest secondary() rank."""
    return min(values, key=secondary)  # min keeps the first of equal ranks


def column_values(column: str, cell: str) -> list[int]:
    """Scalar values of a UTF32 or UCS2 cell; a trailing 'v' marks the code
    of a -V CMap and is dropped."""
    if cell == "*":
        return []
    return [int(x.rstrip("v"), 16) for x in cell.split(",")]


# One-byte CMaps of Adobe-Japan1 for kana and symbol fonts: their codes
# 0x20-0x7E are not ASCII (Hankaku shows the half-width space at 0x60).
NOT_ASCII_ONE_BYTE = {"Hiragana", "Katakana", "WP-Symbol", "Hankaku"}


def collection_unicode(coll_dir: str, cmaps: list[CMap]) -> list[int]:
    """The Unicode value of every CID of a collection, 0 for none.

    1. A value of the collection's UTF-32 column (UniJIS-UTF32,
       UniGB-UTF32...): the first listed, unless it is of a secondary kind
       (see secondary() below) and the CID lists a value that is not; then
       the first such value. Adobe lists a CID's values in ascending order,
       so "the first" alone would make the CID of the ideograph 日 read as
       the Kangxi radical U+2F47 and the ideographic space as U+2003; the
       vertical glyphs keep their presentation forms (U+FE35 before U+FF08).
    2. A CID without one takes a value of the other UTF-32 and UCS-2
       columns, chosen the same way, in the file's order (the JIS2004 and X0213 columns, UCS-2,
       and for Adobe-Japan1 UniJIS-UCS2-HW, which alone gives the half-width
       Latin CIDs 232-325 their ASCII characters). The UTF-8 and UTF-16
       columns repeat these values (and carry a few clerical slips), so they
       are not read.
    3. Latin forms: a CID that a one-byte code c from 0x20 to 0x7E selects
       in one of the collection's CMaps takes the ASCII character c when it
       has no value yet, when c is among its listed values, or when c is the
       space and its value a no-break or en space. So the proportional CID 1
       (listed as U+00A0, U+0020), the half-width space (U+2002 in Adobe's
       table) and the half-width Latin of Adobe-GB1, -CNS1 and -Korea1 (no
       Unicode value at all) read as the ASCII a reader expects from the
       single-byte "ABC" of 90ms-RKSJ-H or GBK-EUC-H, while a CID whose
       listed values do not include c keeps its own: the yen sign that the
       JIS-Roman code 0x5C selects stays a yen sign.
    """
    header, rows = read_cid2code(coll_dir)
    columns = [h for h in header if h.startswith("Uni") and ("UTF32" in h or "UCS2" in h)]
    primary = [h for h in columns if h.endswith("UTF32")][0]
    order = [primary] + [h for h in columns if h != primary]
    values = []
    listed = []
    for row in rows:
        v = 0
        for col in order:
            vs = column_values(col, row[col])
            if vs:
                v = preferred(vs)
                break
        values.append(v)
        listed.append({x for col in columns for x in column_values(col, row[col])})
    ascii_for = {}
    for cm in cmaps:
        if cm.name in NOT_ASCII_ONE_BYTE:
            continue
        for (n, code), cid in cm.cids.items():
            if n != 1 or not 0x20 <= code <= 0x7E or cid >= len(values):
                continue
            v = values[cid]
            if v == 0 or code in listed[cid] or (code == 0x20 and v in (0x00A0, 0x2002)):
                if ascii_for.setdefault(cid, code) != code:
                    fail(f"{coll_dir}: CID {cid} is ASCII {ascii_for[cid]:#x} and {code:#x}")
    for cid, code in ascii_for.items():
        values[cid] = code
    for v in values:
        if 0xD800 <= v <= 0xDFFF or v > 0x10FFFF:
            fail(f"{coll_dir}: value {v:#x} is not a scalar value")
    return values


# ----------------------------------------------------------------- output

LICENSE_NOTE = """\
// Generated by scripts/gen_cjk_tables.py from Adobe's CMap resources
// (../shared/data/cmap-resources: the CMap/ files and cid2code.txt of
// Adobe-GB1-6, Adobe-CNS1-7, Adobe-Japan1-7, Adobe-Korea1-2, Adobe-KR-9 and
// Adobe-Identity-0). Do not edit; regenerate with
//     python3 scripts/gen_cjk_tables.py
//
// The data is Adobe's, under the BSD-3-Clause licence of cmap-resources
// (LICENSE.md), whose notice follows:
//
"""


# The tables are laid out one entry a line, as written here; the formatter
# would refill them, and the test that compares the committed files with a
# fresh run would then fail.
KEEP_LAYOUT = "// clang-format off\n"


def license_block() -> str:
    text = (DATA / "LICENSE.md").read_text(encoding="utf-8").strip().splitlines()
    return LICENSE_NOTE + "".join(f"//   {line}".rstrip() + "\n" for line in text)


def wrap(items: list[str], per_line: int, indent: str = "    ") -> str:
    lines = []
    for i in range(0, len(items), per_line):
        lines.append(indent + ",".join(items[i:i + per_line]) + ",")
    return "\n".join(lines)


def generate_cidcmaps(cmaps: list[CMap]) -> tuple[str, dict]:
    collections = {c[1]: i for i, c in enumerate(COLLECTIONS)}
    collections["Identity"] = len(COLLECTIONS)

    # Distinct tables (code-to-CID and notdef), each stored once.
    tables: dict[tuple, dict] = {}
    cid_table_of, notdef_table_of = {}, {}
    table_coll = {}
    for cm in cmaps:
        for attr, where in (("cids", cid_table_of), ("notdefs", notdef_table_of)):
            m = cm.keyed(getattr(cm, attr))
            if not m:
                where[cm.name] = None
                continue
            key = (attr, cm.ordering, cm.form is not None, tuple(sorted(m.items())))
            tables.setdefault(key, m)
            table_coll[key] = (attr, cm.ordering, cm.form is not None)
            where[cm.name] = key

    # Bases: the largest tables first; each later table may be stored as
    # its differences from any table already placed in the same group.
    order = sorted(tables, key=lambda k: (-len(tables[k]), k[1], k[0], min(tables[k])))
    key_sets = {k: frozenset(m) for k, m in tables.items()}
    placed: dict[tuple, tuple] = {}  # key -> (stored mapping, base key, chain depth)
    for key in order:
        m = tables[key]
        best = (cost(m), m, None, 1)
        keys = key_sets[key]
        if key[0] == "cids":
            for other, (_, _, depth) in placed.items():
                if table_coll[other] != table_coll[key] or depth >= MAX_CHAIN:
                    continue
                base = tables[other]
                if len(keys & key_sets[other]) * 2 < len(keys):
                    continue
                diff = overlay(m, base)
                c = cost(diff)
                if c < best[0]:
                    best = (c, diff, other, depth + 1)
        placed[key] = (best[1], best[2], best[3])

    index = {key: i for i, key in enumerate(order)}
    seg_lines, pool, table_lines = [], [], []
    total_segments = 0
    for key in order:
        stored, base, _ = placed[key]
        segs, p = segments_of(stored)
        if len(p) > 0xFFFF:
            fail("a table's pool exceeds 16-bit offsets")
        first = total_segments
        for n, lo, span, kind, value in segs:
            seg_lines.append(f"{{{lo:#x},S({span},{n},{kind}),{value}}}")
        table_lines.append(f"    {{{first}, {len(segs)}, {len(pool)}, {index[base] if base else -1}}},"
                           f"  // {key[0]} {key[1]}{' by scalar' if key[2] else ''}")
        pool.extend(p)
        total_segments += len(segs)

    spaces, space_index = [], {}
    records = []
    for cm in sorted(cmaps, key=lambda c: c.name.encode()):
        cs = tuple(cm.codespace)
        if cs not in space_index:
            space_index[cs] = len(spaces)
            spaces.extend(cs)
        first = space_index[cs]
        cid_t = cid_table_of[cm.name]
        nd_t = notdef_table_of[cm.name]
        form = UNICODE_FORMS[cm.form] if cm.form else "None"
        records.append(
            f'    {{"{cm.name}", {index[cid_t] if cid_t else -1}, {index[nd_t] if nd_t else -1}, '
            f"{first}, {len(cs)}, {cm.wmode}, UnicodeForm::{form}, "
            f"{collections[cm.ordering]}, {cm.supplement}}},")

    def space_text(lo: bytes, hi: bytes) -> str:
        pad = lambda b: "{" + ",".join(f"{x:#04x}" for x in b.ljust(4, b"\0")) + "}"
        return f"    {{{len(lo)}, {pad(lo)}, {pad(hi)}}},"

    stats = {"segments": total_segments, "pool": len(pool), "tables": len(order),
             "cmaps": len(records), "codespace": len(spaces)}
    out = [license_block(), KEEP_LAYOUT, '#include "cidcmap_tables.h"\n',
           "namespace vellox_core::cidcmap_tables {\n",
           "namespace {",
           "constexpr SegmentKind R = SegmentKind::Range;",
           "constexpr SegmentKind A = SegmentKind::Array;",
           "constexpr SegmentKind U = SegmentKind::Unmapped;",
           "constexpr std::uint16_t S(unsigned span, unsigned length, SegmentKind kind) {",
           "    return segment_bits(span, length, kind);",
           "}",
           "}  // namespace\n",
           f"// {len(records)} CMaps, sorted by the bytes of their names.",
           f"extern constinit const PredefinedCMap kCMaps[{len(records)}] = {{",
           *records, "};",
           f"extern constinit const std::size_t kCMapCount = {len(records)};\n",
           f"extern constinit const CodespaceEntry kCodespace[{len(spaces)}] = {{",
           *[space_text(lo, hi) for lo, hi in spaces], "};\n",
           f"extern constinit const Table kTables[{len(order)}] = {{", *table_lines, "};",
           f"extern constinit const std::size_t kTableCount = {len(order)};\n",
           f"extern constinit const Segment kSegments[{total_segments}] = {{",
           wrap(seg_lines, 4), "};\n",
           f"extern constinit const std::uint16_t kCidPool[{max(len(pool), 1)}] = {{",
           wrap([str(x) for x in pool] or ["0"], 16), "};\n",
           "}  // namespace vellox_core::cidcmap_tables", ""]
    return "\n".join(out), stats


def generate_collections(cmaps: list[CMap]) -> tuple[str, dict]:
    out = [license_block(), KEEP_LAYOUT, '#include "collection_tables.h"\n',
           "namespace vellox_core::collection_tables {\n"]
    entries, stats = [], {}
    for coll_dir, ordering in COLLECTIONS:
        values = collection_unicode(coll_dir, [c for c in cmaps if c.ordering == ordering])
        bmp = [v if v <= 0xFFFF else kWideMarker for v in values]
        wide = [(cid, v) for cid, v in enumerate(values) if v > 0xFFFF]
        out.append(f"// Adobe-{ordering}: CIDs 0-{len(values) - 1}.")
        out.append(f"const std::uint16_t k{ordering}[{len(values)}] = {{")
        out.append(wrap([str(v) for v in bmp], 16))
        out.append("};")
        out.append(f"const WideEntry k{ordering}Wide[{max(len(wide), 1)}] = {{")
        out.append(wrap([f"{{{c},{v:#x}}}" for c, v in wide] or ["{0,0}"], 6))
        out.append("};\n")
        entries.append(f"    {{k{ordering}, {len(values)}, k{ordering}Wide, {len(wide)}}},")
        stats[ordering] = (len(values), len(wide))
    out += [f"extern constinit const CollectionData kCollections[{len(COLLECTIONS)}] = {{", *entries, "};\n",
            "}  // namespace vellox_core::collection_tables", ""]
    return "\n".join(out), stats


kWideMarker = 0xD800  # collection_tables.h: the value lies in kWide


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", type=Path, default=REPO / "core" / "src")
    args = ap.parse_args()
    if not DATA.is_dir():
        fail(f"no CMap resources at {DATA}")
    cmaps = load_cmaps([d for d, _ in COLLECTIONS] + [IDENTITY])
    cidcmap_text, s1 = generate_cidcmaps(cmaps)
    coll_text, s2 = generate_collections(cmaps)
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "cidcmap_tables.cpp").write_text(cidcmap_text, encoding="utf-8")
    (args.out / "collection_tables.cpp").write_text(coll_text, encoding="utf-8")
    print(f"cidcmap_tables.cpp: {s1}", file=sys.stderr)
    print(f"collection_tables.cpp: {s2}", file=sys.stderr)


if __name__ == "__main__":
    main()
