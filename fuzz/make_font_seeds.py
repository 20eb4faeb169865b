#!/usr/bin/env python3
"""Writes fuzz/seeds/font/: fonts of the test fixtures with the objects they
point at (embedded programs, ToUnicode and CID CMap streams, width arrays),
in the font harness's input form: the font dictionary, each object body, and
a content stream, cut by "#%%#" (see font_fuzz.cpp).

    python3 fuzz/make_font_seeds.py      # needs qpdf

Streams keep their filters (Flate), so the seeds stay small and the harness
decodes them as the loader does.
"""

import re
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FIX = ROOT / "core/tests/fixtures"
OUT = ROOT / "fuzz/seeds/font"
SEP = b"#%%#"
# (fixture, how many of its fonts, content shown with each)
SOURCES = [
    ("fontprog/pdflatex-cm.pdf", b"BT /F1 10 Tf (The \x0crst \x0ene) Tj (x 2 A [ B) Tj ET"),
    ("fontprog/ghostscript-cff.pdf", b"BT /F1 10 Tf (The \x0crst office) Tj (\x01\x02\x03) Tj ET"),
    ("fontprog/reportlab-dejavu.pdf", b"BT /F1 12 Tf (\x01\x02\x03\x04\x05 abc) Tj ET"),
    ("fontprog/lualatex-dejavu.pdf", b"BT /F1 10 Tf <0001002a00440047> Tj ET"),
    ("fontprog/lualatex-lm.pdf", b"BT /F1 10 Tf <0001002a0044> Tj ET"),
    ("cidcmap/reportlab-cjk.pdf", b"BT /F1 12 Tf <65e5672c8a9e0041> Tj <82a0834e41> Tj ET"),
    ("cidcmap/reportlab-cjk-vertical.pdf", b"BT /F1 12 Tf <65e5672c> Tj <82a0> Tj ET"),
]


def objects(pdf: Path) -> dict[int, bytes]:
    qdf = subprocess.run(
        ["qpdf", "--qdf", "--object-streams=disable", "--stream-data=preserve", str(pdf), "-"],
        check=True, capture_output=True).stdout
    out = {}
    for m in re.finditer(rb"(?m)^(\d+) 0 obj\n(.*?)\nendobj$", qdf, re.S):
        out[int(m.group(1))] = m.group(2)
    return out


def dict_part(body: bytes) -> bytes:
    at = body.find(b"\nstream\n")
    return body if at < 0 else body[:at]


def seed(objs: dict[int, bytes], font: int, content: bytes) -> bytes:
    """The font with every object it reaches, renumbered from 1."""
    order, todo = [], [font]
    while todo:
        n = todo.pop(0)
        if n in order or n not in objs:
            continue
        order.append(n)
        todo += [int(r) for r in re.findall(rb"(\d+) 0 R", dict_part(objs[n]))]
    new = {n: i for i, n in enumerate(order[1:], 1)}

    def renumber(body: bytes) -> bytes:
        head, tail = body, b""
        at = body.find(b"\nstream\n")
        if at >= 0:
            head, tail = body[:at], body[at:]
        head = re.sub(rb"(\d+) 0 R", lambda m: b"%d 0 R" % new.get(int(m.group(1)), 999), head)
        return head + tail

    parts = [renumber(objs[font])] + [renumber(objs[n]) for n in order[1:]] + [content]
    return SEP.join(parts)


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    for old in OUT.iterdir():
        old.unlink()
    for name, content in SOURCES:
        objs = objects(FIX / name)
        # Top-level keys of a QDF dictionary are indented by two spaces;
        # descendant fonts written inline are deeper.
        fonts = [n for n, b in objs.items() if re.search(
            rb"(?m)^  /Subtype /(Type0|Type1|MMType1|TrueType|Type3)$", b)]
        for n in sorted(fonts):
            data = seed(objs, n, content)
            stem = Path(name).stem
            (OUT / f"{stem}-{n}").write_bytes(data)
    # Hand-written: a standard font without /Widths, /Differences with
    # ligature and uni names, an embedded CID CMap with /WMode 1, W2 arrays.
    hand = {
        "std14-differences": b"<< /Subtype /Type1 /BaseFont /Times-Roman /Encoding << "
        b"/Differences [1 /f_f_i /uni00410042 /u1F600 /a.sc /Omega] >> >>" + SEP
        + b"BT /F1 12 Tf (\x01\x02\x03\x04\x05 \xaa\xe9) Tj ET",
        "symbol": b"<< /Subtype /Type1 /BaseFont /Symbol >>" + SEP + b"(\x57\x44\x6d\xce)",
        "cmap-stream-vertical": b"<< /Subtype /Type0 /Encoding 1 0 R /DescendantFonts [2 0 R] >>"
        + SEP + b"<< /WMode 1 /UseCMap /Identity-V /Length 3 0 R >>\nstream\n"
        b"/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        b"1 begincodespacerange <00> <80> <8140> <FFFF> endcodespacerange\n"
        b"1 begincidrange <20> <7e> 1 endcidrange endcmap\nendstream"
        + SEP + b"<< /CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) >> "
        b"/W2 [1 [-900 500 880] 5 9 -500 250 880] /DW2 [880 -1200] >>"
        + SEP + b"200" + SEP + b"(AB\x81\x40\x20)",
    }
    for name, data in hand.items():
        (OUT / name).write_bytes(data)


if __name__ == "__main__":
    main()
