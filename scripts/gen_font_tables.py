#!/usr/bin/env python3
"""Generates the glyph-name and standard-font tables of the core from the
published data in ../shared/data (relative to the repository root):

  core/src/agl_tables.inc    the Adobe Glyph List and the ITC Zapf Dingbats
                             list (names and the text each gives), and the
                             glyph names per code of the five base encodings
  core/src/std14_tables.inc  the widths of the 14 standard fonts by glyph name

Usage:
  python3 scripts/gen_font_tables.py            # write both files
  python3 scripts/gen_font_tables.py --check    # exit 1 if either differs
  options: --data DIR (default ../shared/data), --out DIR (default core/src)

The output depends on nothing but the input files (and Python's cp1252 and
mac_roman codecs, which are fixed tables): the same input gives the same
bytes.
"""

from __future__ import annotations

import argparse
import hashlib
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
DEFAULT_DATA = ROOT / ".." / "shared" / "data"
DEFAULT_OUT = ROOT / "core" / "src"
COMMAND = "python3 scripts/gen_font_tables.py"

# In the order of vellox_core::Std14Font.
FONTS = [
    "Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique",
    "Helvetica", "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Times-Roman", "Times-Bold", "Times-Italic", "Times-BoldItalic",
    "Symbol", "ZapfDingbats",
]
LATIN = FONTS[:12]

NAME_RE = re.compile(r"[A-Za-z0-9]+\Z")
AFM_NAME_RE = re.compile(r"[A-Za-z0-9_.]+\Z")


def fail(message: str) -> None:
    sys.exit(f"gen_font_tables: {message}")


def read_glyph_list(path: Path) -> tuple[list[str], dict[str, list[int]]]:
    """(licence comment lines, name -> code points) of glyphlist.txt or
    zapfdingbats.txt: '#' comments, then 'name;XXXX[ XXXX...]' records."""
    header: list[str] = []
    entries: dict[str, list[int]] = {}
    for raw in path.read_text(encoding="ascii").splitlines():
        line = raw.strip()
        if not line:
            continue
        if line.startswith("#"):
            if not entries:
                header.append(line[1:].strip())
            continue
        name, _, values = line.partition(";")
        points = [int(v, 16) for v in values.split()]
        if not NAME_RE.match(name) or not points or name in entries:
            fail(f"{path.name}: bad record {line!r}")
        for p in points:
            if not (0 < p < 0x10000) or 0xD800 <= p <= 0xDFFF:
                fail(f"{path.name}: {name}: not a BMP scalar value: {p:04X}")
        entries[name] = points
    # The tables are searched by the bytes of the names; the Zapf Dingbats
    # list's own order puts "a10" after "a109".
    entries = dict(sorted(entries.items()))
    # The licence block ends at the dashed line after the disclaimer.
    end = next(i for i, l in enumerate(header[1:], 1) if l.startswith("---"))
    return header[: end + 1], entries


def read_afm(path: Path) -> tuple[list[str], list[tuple[int, int, str]]]:
    """(Notice lines, [(code, width, glyph name)]) of an AFM file: every
    'C code ; WX width ; N name ; ...' line of its character metrics."""
    notices: list[str] = []
    glyphs: list[tuple[int, int, str]] = []
    for raw in path.read_text(encoding="latin-1").splitlines():
        if raw.startswith("Notice "):
            notices.append(raw.split(" ", 1)[1].strip())
        if not raw.startswith("C "):
            continue
        fields = {}
        for part in raw.split(";"):
            words = part.split()
            if words:
                fields[words[0]] = words[1:]
        try:
            code = int(fields["C"][0])
            width = int(fields["WX"][0])
            name = fields["N"][0]
        except (KeyError, IndexError, ValueError):
            fail(f"{path.name}: bad metrics line {raw!r}")
        if not AFM_NAME_RE.match(name) or not (-1 <= code <= 255) or not (0 <= width < 0x10000):
            fail(f"{path.name}: bad metrics line {raw!r}")
        glyphs.append((code, width, name))
    names = [n for _, _, n in glyphs]
    if len(set(names)) != len(names):
        fail(f"{path.name}: a glyph name appears twice")
    return notices, glyphs


def encoding_of(path: Path, glyphs: list[tuple[int, int, str]]) -> list[str]:
    names = [""] * 256
    for code, _, name in glyphs:
        if code >= 0:
            if names[code]:
                fail(f"{path.name}: code {code} given twice")
            names[code] = name
    return names


def sha256(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def comment_block(lines: list[str]) -> str:
    return "".join(f"// {l}".rstrip() + "\n" for l in lines)


def wrap(items: list[str], indent: str = "    ", width: int = 96, sep: str = ",") -> str:
    """Items, each followed by `sep`, on lines at most `width` columns wide."""
    out: list[str] = []
    line = indent
    for item in items:
        piece = item + sep
        if line.strip() and len(line) + 1 + len(piece) > width:
            out.append(line.rstrip())
            line = indent
        line += ("" if not line.strip() else " ") + piece
    if line.strip():
        out.append(line.rstrip())
    return "\n".join(out) + "\n"


def c_string(name: str) -> str:
    return f'"{name}"'


def names_by_code(names: list[str]) -> str:
    """A 256-entry table of glyph names, eight codes a line."""
    rows = []
    for start in range(0, 256, 8):
        cells = ", ".join(c_string(n) for n in names[start : start + 8])
        rows.append(f"    {cells},  // 0x{start:02X}\n")
    return "".join(rows)


def glyph_list_tables(prefix: str, entries: dict[str, list[int]]) -> str:
    """A list as one pool of names, one of UTF-16 code units, and per entry
    the end of its name and of its text in those pools."""
    names = list(entries)
    pool = "".join(names)
    text = [p for n in names for p in entries[n]]
    if len(pool) >= 0x10000 or len(text) >= 0x10000:
        fail(f"{prefix}: pools too large for 16-bit offsets")
    records = []
    name_end = text_end = 0
    for n in names:
        name_end += len(n)
        text_end += len(entries[n])
        records.append(f"{{{name_end}, {text_end}}}")
    out = f"// {len(names)} names, {len(pool)} bytes, sorted by their bytes.\n"
    out += f"inline constexpr char k{prefix}Names[] =\n"
    # One literal per name, concatenated by the compiler into the pool.
    out += wrap([c_string(n) for n in names], sep="").rstrip("\n") + ";\n"
    out += f"inline constexpr GlyphRecord k{prefix}Records[{len(names)}] = {{\n"
    out += wrap(records)
    out += "};\n"
    out += f"inline constexpr char16_t k{prefix}Text[{len(text)}] = {{\n"
    out += wrap([f"0x{p:04X}" for p in text])
    out += "};\n"
    return out


def afm_notice(data: Path) -> list[str]:
    html = (data / "std14-afm" / "MustRead.html").read_text(encoding="latin-1")
    paragraph = re.search(r"This file and the 14 PostScript.*?AFM files\.", html, re.S)
    if not paragraph:
        fail("MustRead.html: licence paragraph not found")
    return wrap_text(paragraph.group(0), 76)


def afm_copyrights(notices_by_font: dict[str, list[str]]) -> list[str]:
    seen: list[str] = []
    for font in FONTS:
        for n in notices_by_font[font]:
            n = re.sub(r"\s+", " ", n)
            if n not in seen:
                seen.append(n)
    return [line for n in seen for line in wrap_text(n, 76)]


def wrap_text(text: str, width: int) -> list[str]:
    lines, line = [], ""
    for w in text.split():
        if line and len(line) + 1 + len(w) > width:
            lines.append(line)
            line = w
        else:
            line = f"{line} {w}".strip()
    return lines + [line]


def generate(data: Path) -> dict[str, str]:
    agl_dir, afm_dir = data / "agl", data / "std14-afm"
    agl_licence, adobe = read_glyph_list(agl_dir / "glyphlist.txt")
    _, dingbats = read_glyph_list(agl_dir / "zapfdingbats.txt")

    notices: dict[str, list[str]] = {}
    metrics: dict[str, list[tuple[int, int, str]]] = {}
    for font in FONTS:
        notices[font], metrics[font] = read_afm(afm_dir / f"{font}.afm")

    # The twelve Latin fonts share one glyph set and one built-in encoding,
    # StandardEncoding; check that rather than assume it.
    latin_names = sorted(n for _, _, n in metrics["Helvetica"])
    standard = encoding_of(afm_dir / "Helvetica.afm", metrics["Helvetica"])
    for font in LATIN:
        if sorted(n for _, _, n in metrics[font]) != latin_names:
            fail(f"{font}: glyph set differs from Helvetica's")
        if encoding_of(afm_dir / f"{font}.afm", metrics[font]) != standard:
            fail(f"{font}: built-in encoding differs from Helvetica's")
    symbol = encoding_of(afm_dir / "Symbol.afm", metrics["Symbol"])
    zapf = encoding_of(afm_dir / "ZapfDingbats.afm", metrics["ZapfDingbats"])
    for n in latin_names + [n for _, _, n in metrics["Symbol"]]:
        if n not in adobe:
            fail(f"{n}: a standard font's glyph the glyph list does not name")
    for n in zapf:
        if n and n not in dingbats and n not in adobe:
            fail(f"{n}: a ZapfDingbats glyph no list names")

    # WinAnsiEncoding and MacRomanEncoding by glyph name: for each code, the
    # glyph of the standard Latin set whose glyph-list character is the
    # code's character in Windows-1252 or Mac OS Roman. The no-break space and
    # the soft hyphen are drawn with the space and hyphen glyphs (the Latin
    # fonts have no nbspace or sfthyphen). Codes whose character the Latin
    # set lacks (controls, and Mac OS Roman's infinity, product, pi,
    # integral, Omega, approxequal and Apple logo) have no glyph name.
    latin_by_char = {tuple(adobe[n]): n for n in latin_names}
    if len(latin_by_char) != len(latin_names):
        fail("two Latin glyphs give the same character")

    def by_codec(codec: str) -> list[str]:
        names = [""] * 256
        for code in range(256):
            try:
                ch = bytes([code]).decode(codec)
            except UnicodeDecodeError:
                continue
            cp = ord(ch)
            cp = {0xA0: 0x20, 0xAD: 0x2D}.get(cp, cp)
            names[code] = latin_by_char.get((cp,), "")
        return names

    win_ansi = by_codec("cp1252")
    mac_roman = by_codec("mac_roman")

    afm_files = [f"std14-afm/{f}.afm" for f in FONTS]
    sources = {
        "agl/glyphlist.txt": sha256(agl_dir / "glyphlist.txt"),
        "agl/zapfdingbats.txt": sha256(agl_dir / "zapfdingbats.txt"),
        **{f: sha256(data / f) for f in afm_files},
    }

    def header(what: str, files: list[str], licences: str) -> str:
        lines = [
            f"Generated by {COMMAND}: do not edit; run it again instead.",
            "",
            what,
            "",
            "Sources (in the repository's ../shared/data, with their SHA-256):",
        ]
        for f in files:
            lines.append(f"  {f}  {sources[f]}")
        return comment_block(lines) + "//\n" + licences

    agl_notice = comment_block(
        ["The Adobe Glyph List and the ITC Zapf Dingbats Glyph List are distributed",
         "under this licence (from glyphlist.txt):", ""] + agl_licence)
    afm_licence = comment_block(
        ["The standard fonts' metrics are read from Adobe's Core 14 AFM files, whose",
         "ReadMe (std14-afm/MustRead.html) says:", ""]
        + afm_notice(data)
        + ["", "The AFM files carry these notices:", ""]
        + afm_copyrights(notices)
        + ["", "Modified: only the code, width (WX) and name (N) of each glyph are kept,",
           "rewritten as the C++ tables below."])

    agl = header(
        "The Adobe Glyph List (name -> text), the ITC Zapf Dingbats Glyph List, and\n"
        "// the glyph names per code of the base encodings: StandardEncoding, Symbol's\n"
        "// and ZapfDingbats' built-in encodings (the C codes of the AFM files), and\n"
        "// WinAnsiEncoding and MacRomanEncoding (the standard Latin glyphs whose\n"
        "// characters are those of Python's cp1252 and mac_roman codecs).",
        ["agl/glyphlist.txt", "agl/zapfdingbats.txt", "std14-afm/Helvetica.afm",
         "std14-afm/Symbol.afm", "std14-afm/ZapfDingbats.afm"],
        agl_notice + "//\n" + afm_licence)
    agl += "\n#pragma once\n\n#include <array>\n#include <cstdint>\n#include <string_view>\n\n"
    agl += "namespace vellox_core::agl_tables {\n\n"
    agl += ("// Entry i of a list: its name is Names[Records[i-1].name_end,\n"
            "// Records[i].name_end) (from 0 for i = 0), and its text the UTF-16 code units\n"
            "// Text[Records[i-1].text_end, Records[i].text_end). Every unit is a BMP\n"
            "// character, never a surrogate.\n")
    agl += "struct GlyphRecord {\n    std::uint16_t name_end;\n    std::uint16_t text_end;\n};\n\n"
    agl += "// The Adobe Glyph List (glyphlist.txt).\n"
    agl += glyph_list_tables("Adobe", adobe) + "\n"
    agl += "// The ITC Zapf Dingbats Glyph List (zapfdingbats.txt).\n"
    agl += glyph_list_tables("Dingbats", dingbats) + "\n"
    for title, var, names in (
        ("StandardEncoding, the built-in encoding of the 12 Latin standard fonts", "Standard", standard),
        ("The built-in encoding of Symbol", "Symbol", symbol),
        ("The built-in encoding of ZapfDingbats (names of the Zapf Dingbats list)", "ZapfDingbats", zapf),
        ("WinAnsiEncoding", "WinAnsi", win_ansi),
        ("MacRomanEncoding", "MacRoman", mac_roman),
    ):
        agl += f"// {title}: the glyph name of each code, \"\" for none.\n"
        agl += f"inline constexpr std::array<std::string_view, 256> k{var}Names = {{{{\n"
        agl += names_by_code(names)
        agl += "}};\n\n"
    agl += "}  // namespace vellox_core::agl_tables\n"

    std14 = header(
        "Glyph widths (WX, in 1/1000 of the text size) of the 14 standard fonts by\n"
        "// glyph name, every glyph of each AFM file included (code -1 too).",
        afm_files, afm_licence)
    std14 += "\n#pragma once\n\n#include <array>\n#include <cstdint>\n#include <string_view>\n\n"
    std14 += "namespace vellox_core::std14_tables {\n\n"
    std14 += "// PostScript names, in the order of Std14Font.\n"
    std14 += f"inline constexpr std::array<std::string_view, {len(FONTS)}> kFontNames = {{{{\n"
    std14 += wrap([c_string(f) for f in FONTS]) + "}};\n\n"
    std14 += (f"// The {len(latin_names)} glyphs of each Latin font (Courier, Helvetica and Times,\n"
              "// every style), sorted by their bytes.\n")
    std14 += f"inline constexpr std::array<std::string_view, {len(latin_names)}> kLatinGlyphs = {{{{\n"
    std14 += wrap([c_string(n) for n in latin_names]) + "}};\n\n"
    std14 += "// Widths of kLatinGlyphs, one row per Latin font in the order of kFontNames.\n"
    std14 += (f"inline constexpr std::array<std::array<std::uint16_t, {len(latin_names)}>, "
              f"{len(LATIN)}> kLatinWidths = {{{{\n")
    for font in LATIN:
        width = {n: w for _, w, n in metrics[font]}
        std14 += f"    {{{{  // {font}\n"
        std14 += wrap([str(width[n]) for n in latin_names], indent="        ")
        std14 += "    }},\n"
    std14 += "}};\n\n"
    for font, var in (("Symbol", "Symbol"), ("ZapfDingbats", "Dingbats")):
        pairs = sorted((n, w) for _, w, n in metrics[font])
        std14 += f"// The {len(pairs)} glyphs of {font}, sorted by their bytes, and their widths.\n"
        std14 += f"inline constexpr std::array<std::string_view, {len(pairs)}> k{var}Glyphs = {{{{\n"
        std14 += wrap([c_string(n) for n, _ in pairs]) + "}};\n"
        std14 += f"inline constexpr std::array<std::uint16_t, {len(pairs)}> k{var}Widths = {{{{\n"
        std14 += wrap([str(w) for _, w in pairs]) + "}};\n\n"
    std14 += "}  // namespace vellox_core::std14_tables\n"

    return {"agl_tables.inc": agl, "std14_tables.inc": std14}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT)
    parser.add_argument("--check", action="store_true",
                        help="compare with the files in --out instead of writing them")
    args = parser.parse_args()
    if not (args.data / "agl" / "glyphlist.txt").is_file():
        fail(f"no glyph list under {args.data}")
    outputs = generate(args.data)
    stale = []
    for name, text in outputs.items():
        path = args.out / name
        if args.check:
            if not path.is_file() or path.read_text(encoding="utf-8") != text:
                stale.append(name)
        else:
            path.write_text(text, encoding="utf-8", newline="\n")
    if stale:
        print(f"out of date: {', '.join(stale)} (regenerate with {COMMAND})")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
