#!/usr/bin/env python3
"""Writes the seeds of the fontprog harness under fuzz/seeds/fontprog/: the
font programs of the fontprog test fixtures (core/tests/fixtures/fontprog,
made by real producers with make.sh there), and one small TrueType font
made here with fontTools for the cmap formats those lack (6 and 12). Each
seed is one byte naming the /FontFile key (the harness's kOrigins index)
and the program; programs over MAX_SEED bytes are cut, which also seeds the
damaged-program paths.

    pip install fonttools pypdf
    python3 fuzz/make_fontprog_seeds.py
"""
import io
import os
import shutil

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib.tables._c_m_a_p import CmapSubtable
from pypdf import PdfReader

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds", "fontprog")
FIXTURES = os.path.join(HERE, "..", "core", "tests", "fixtures", "fontprog")
MAX_SEED = 8 * 1024
ORIGIN = {("FontFile", ""): 0, ("FontFile2", ""): 1, ("FontFile3", "Type1C"): 2,
          ("FontFile3", "CIDFontType0C"): 3, ("FontFile3", "OpenType"): 4}


def put(name, origin, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(bytes([origin]) + data[:MAX_SEED])


def unicode_font():
    """Glyphs reached through (3,10) format 12, (3,1) format 4 and (1,0)
    format 6, named by 'post' format 2."""
    names = [".notdef", "A", "alpha", "u1D400"]
    fb = FontBuilder(1000, isTTF=True)
    fb.setupGlyphOrder(names)
    fb.setupCharacterMap({0x41: "A", 0x3B1: "alpha", 0x1D400: "u1D400"})
    pen = TTGlyphPen(None)
    pen.moveTo((0, 0))
    pen.lineTo((0, 100))
    pen.lineTo((100, 0))
    pen.closePath()
    fb.setupGlyf({n: pen.glyph() for n in names})
    fb.setupHorizontalMetrics({n: (500, 0) for n in names})
    fb.setupHorizontalHeader(ascent=800, descent=-200)
    fb.setupNameTable({"familyName": "VelloxSeed", "styleName": "Regular"})
    fb.setupOS2()
    fb.setupPost(keepGlyphNames=True)
    mac = CmapSubtable.newSubtable(6)
    mac.platformID, mac.platEncID, mac.language = 1, 0, 0
    mac.cmap = {0x41: "A"}
    fb.font["cmap"].tables.append(mac)
    out = io.BytesIO()
    fb.save(out)
    return out.getvalue()


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    for pdf in sorted(os.listdir(FIXTURES)):
        if not pdf.endswith(".pdf"):
            continue
        reader = PdfReader(os.path.join(FIXTURES, pdf))
        for num in sorted({k for table in reader.xref.values() for k in table} | set(reader.xref_objStm)):
            obj = reader.get_object(num)
            if not hasattr(obj, "get"):
                continue
            for key in ("FontFile", "FontFile2", "FontFile3"):
                if "/" + key in obj:
                    stream = obj["/" + key].get_object()
                    subtype = str(stream.get("/Subtype", ""))[1:]
                    name = "%s-%d" % (pdf[:-4], obj.raw_get("/" + key).idnum)
                    put(name, ORIGIN[(key, subtype)], stream.get_data())
    for font, origin in (("lmroman-subset.otf", 4), ("symbol.ttf", 1)):
        with open(os.path.join(FIXTURES, font), "rb") as f:
            put(font, origin, f.read())
    put("unicode.ttf", 1, unicode_font())


if __name__ == "__main__":
    main()
