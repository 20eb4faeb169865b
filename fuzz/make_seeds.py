#!/usr/bin/env python3
"""Writes the starting inputs of the libFuzzer harnesses under fuzz/seeds/.

Most seeds are made here from first principles (zlib for DEFLATE, a small
LZW encoder, hand-written PDFs with exact offsets); CMaps, content streams
and a few files rewritten by qpdf come from the shared sample corpus when it
and qpdf are present. Every seed is kept small: the whole set stays well
under a megabyte so the test command can replay it in seconds.

    python3 fuzz/make_seeds.py            # rewrite fuzz/seeds/
"""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SEEDS = os.path.join(HERE, "seeds")
CORPUS = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "corpus", "sample-files"))
CMAP_RESOURCES = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "data", "cmap-resources"))
MAX_SEED = 24 * 1024  # bytes; larger extracted streams are skipped

# Harnesses whose seeds this script owns; font seeds are hand-written.
GENERATED = ["pipeline", "parse_object", "inflate", "lzw", "small_decoders",
             "decode_stream", "cmap", "content", "xref", "cidcmap", "repair", "docinfo"]


def put(harness, name, data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    d = os.path.join(SEEDS, harness)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# --- encoders -----------------------------------------------------------------

def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()


def lzw_encode(data, early_change=True):
    """LZW as PDF streams use it: 9..12-bit codes, MSB first, 256 = clear,
    257 = end; the code width grows one code early when early_change."""
    out = []
    acc = 0
    nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc = (acc << width) | code
        nbits += width
        while nbits >= 8:
            nbits -= 8
            out.append((acc >> nbits) & 0xFF)
        acc &= (1 << nbits) - 1

    def reset():
        return {bytes([i]): i for i in range(256)}, 258

    table, nxt = reset()
    width = 9
    emit(256, width)
    w = b""
    for b in data:
        wc = w + bytes([b])
        if wc in table:
            w = wc
            continue
        emit(table[w], width)
        table[wc] = nxt
        nxt += 1
        # The decoder's table trails ours by one entry: it learns an entry
        # only when it reads the code after it.
        limit = (1 << width) - (1 if early_change else 0)
        if nxt > limit:
            if width == 12:
                emit(256, width)
                table, nxt = reset()
                width = 9
            else:
                width += 1
        w = bytes([b])
    if w:
        emit(table[w], width)
        # The decoder adds an entry after this code too, which may widen it.
        if nxt >= (1 << width) - (1 if early_change else 0) and width < 12:
            width += 1
    emit(257, width)
    if nbits:
        out.append((acc << (8 - nbits)) & 0xFF)
    return bytes(out)


def ascii_hex(data):
    return data.hex().upper().encode() + b">"


def ascii85(data):
    return base64.a85encode(data) + b"~>"


def run_length(data):
    """Literal runs and repeats, 128 = end."""
    out = bytearray()
    i = 0
    while i < len(data):
        j = i
        while j < len(data) and j - i < 128 and data[j] == data[i]:
            j += 1
        if j - i >= 3:
            out += bytes([257 - (j - i), data[i]])
            i = j
            continue
        j = i
        while j < len(data) and j - i < 128 and not (
                j + 2 < len(data) and data[j] == data[j + 1] == data[j + 2]):
            j += 1
        out += bytes([j - i - 1]) + data[i:j]
        i = j
    return bytes(out) + b"\x80"


def png_predict(rows, columns, colors=1, bpc=8):
    """PNG 'Up' prediction (type 2) on every row, as /Predictor 12 expects."""
    bpr = (columns * colors * bpc + 7) // 8
    prev = bytes(bpr)
    out = bytearray()
    for r in range(0, len(rows), bpr):
        row = rows[r:r + bpr]
        out.append(2)
        out += bytes((row[k] - prev[k]) & 0xFF for k in range(len(row)))
        prev = row
    return bytes(out)


TEXT = (b"The quick brown fox jumps over the lazy dog. " * 6 +
        bytes(range(256)) + b"\x00" * 300 + b"abcabcabcabcabd" * 20)


# --- tiny PDFs ------------------------------------------------------------------

def build_pdf(objects, root=1, extra_trailer=b"", header=b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"):
    """objects: list of bytes bodies for objects 1..n. Writes a classic xref
    with exact offsets."""
    out = bytearray(header)
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root %d 0 R%s >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, root, extra_trailer, xref)
    return bytes(out)


def stream(dict_body, data):
    return b"<< " + dict_body + b" /Length %d >>\nstream\n" % len(data) + data + b"\nendstream"


PAGE_TEXT = (b"BT /F1 12 Tf 72 720 Td (Hello, world!) Tj 0 -14 Td [(Kern)-120(ing) 250 (gap)] TJ "
             b"T* (Second line) ' 1 0 0 1 300 720 Tm (Right column) Tj ET\n"
             b"0.5 w 72 600 m 300 600 l S 72 580 228 40 re S\n"
             b"BT /F1 10 Tf 80 590 Td (A1) Tj 120 0 Td (B1) Tj ET\n"
             b"q 50 0 0 50 400 500 cm /Im1 Do Q\n")


def tiny_pdfs():
    font = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"
    img = stream(b"/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceGray "
                 b"/BitsPerComponent 8 /Filter /FlateDecode",
                 zlib.compress(bytes(range(0, 256, 16))))
    content = zlib.compress(PAGE_TEXT)
    inline = (b"BT /F1 9 Tf 72 100 Td (inline image follows) Tj ET\n"
              b"q 20 0 0 20 72 72 cm BI /W 2 /H 2 /CS /G /BPC 8 ID \x00\xff\xff\x00 EI Q\n")
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R /Outlines 9 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 7 0 R] /Count 2 /MediaBox [0 0 612 792] >>",
        b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> "
        b"/XObject << /Im1 6 0 R >> >> /Contents 5 0 R >>",
        font,
        stream(b"/Filter /FlateDecode", content),
        img,
        b"<< /Type /Page /Parent 2 0 R /Rotate 90 /Resources << /Font << /F1 4 0 R >> >> "
        b"/Contents [8 0 R] >>",
        stream(b"", inline),
        b"<< /Type /Outlines /Count 0 >>",
    ]
    pdfs = {"two-pages.pdf": build_pdf(objs, extra_trailer=b" /Info << /Title (Seed) >>")}
    one = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
        b"/Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        font,
        stream(b"", b"BT /F1 24 Tf 20 100 Td (Hi) Tj ET"),
    ]
    base = build_pdf(one)
    pdfs["one-page.pdf"] = base
    # Incremental update: object 5 replaced, a second xref section with /Prev.
    prev_xref = int(base.rsplit(b"startxref\n", 1)[1].split(b"\n")[0])
    upd = bytearray(base)
    off5 = len(upd)
    upd += b"5 0 obj\n" + stream(b"", b"BT /F1 24 Tf 20 100 Td (Updated) Tj ET") + b"\nendobj\n"
    x2 = len(upd)
    upd += (b"xref\n5 1\n%010d 00000 n \ntrailer\n<< /Size 6 /Root 1 0 R /Prev %d >>\n"
            b"startxref\n%d\n%%%%EOF\n" % (off5, prev_xref, x2))
    pdfs["incremental.pdf"] = bytes(upd)
    # Damaged: startxref points nowhere; the reader must rebuild by scanning.
    pdfs["bad-startxref.pdf"] = base.replace(b"startxref\n%d" % prev_xref, b"startxref\n99999")
    # Damaged: offsets in the table are all shifted by a few bytes.
    pdfs["shifted-offsets.pdf"] = b"\n\n\n" + base
    return pdfs


def qpdf(args, src, dst):
    subprocess.run(["qpdf"] + args + [src, dst], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return os.path.exists(dst)


def qpdf_objects(path):
    out = subprocess.run(["qpdf", "--json=2", "--json-key=qpdf", path],
                         capture_output=True, check=False).stdout
    try:
        return json.loads(out)["qpdf"][1]
    except (ValueError, KeyError, IndexError):
        return {}


def qpdf_stream(path, num):
    r = subprocess.run(["qpdf", "--show-object=%d" % num, "--filtered-stream-data", path],
                       capture_output=True, check=False)
    return r.stdout if r.returncode in (0, 3) else b""


def refs(value):
    """Object numbers of every 'N G R' string in a qpdf json value."""
    if isinstance(value, str) and value.endswith(" R"):
        return [int(value.split()[0])]
    if isinstance(value, list):
        return [n for v in value for n in refs(v)]
    return []


# --- per-harness seeds ----------------------------------------------------------

def seeds_inflate():
    put("inflate", "stored", raw_deflate(TEXT, 0))
    put("inflate", "fixed", raw_deflate(TEXT, 9, zlib.Z_FIXED))
    put("inflate", "dynamic", raw_deflate(TEXT, 9))
    put("inflate", "rle", raw_deflate(b"\x00" * 5000 + b"ab" * 2000, 9, zlib.Z_RLE))
    put("inflate", "empty", raw_deflate(b""))
    put("inflate", "multi-block", raw_deflate(bytes((i * 7919) % 251 for i in range(70000)), 1))


def seeds_lzw():
    for early in (True, False):
        flag = b"\x01" if early else b"\x00"
        tag = "early" if early else "late"
        put("lzw", "text-" + tag, flag + lzw_encode(TEXT, early))
        # Long enough to fill the 4096-entry table and force a clear code.
        long = bytes((i * i + i // 3) % 256 for i in range(9000))
        put("lzw", "table-full-" + tag, flag + lzw_encode(long, early))
    put("lzw", "kwkwk", b"\x01" + lzw_encode(b"aaaaaaaaaaaaaaaaaaaaab", True))


def seeds_small():
    put("small_decoders", "hex", b"48 65 6c\n6C 6f 2>")
    put("small_decoders", "hex-odd", ascii_hex(b"odd")[:-1] + b"A>")
    put("small_decoders", "a85", ascii85(TEXT[:200]))
    put("small_decoders", "a85-z", b"<~z!!!!!zGp%3I+9~>")
    put("small_decoders", "rle", run_length(TEXT))


def seeds_decode_stream():
    d = "decode_stream"
    put(d, "flate", b"<< /Filter /FlateDecode >>\x00" + zlib.compress(TEXT))
    rows = bytes((x * 3 + y) % 256 for y in range(20) for x in range(12))
    put(d, "flate-png", b"<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 /Colors 3 >> >>\x00"
        + zlib.compress(png_predict(rows, 4, 3)))
    tiff = bytearray(rows)
    put(d, "lzw-tiff", b"<< /Filter /LZWDecode /DecodeParms << /Predictor 2 /Columns 12 /EarlyChange 1 >> >>\x00"
        + lzw_encode(bytes(tiff)))
    put(d, "lzw-late", b"<< /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >> >>\x00"
        + lzw_encode(TEXT, False))
    put(d, "chain", b"<< /Filter [/ASCII85Decode /FlateDecode] /DecodeParms [null null] >>\x00"
        + ascii85(zlib.compress(TEXT)))
    put(d, "abbrev", b"<< /F [/AHx /RL] >>\x00" + ascii_hex(run_length(TEXT[:300])))
    put(d, "dct-passthrough", b"<< /Filter /DCTDecode >>\x00\xff\xd8\xff\xe0\x00\x10JFIF\x00\xff\xd9")
    put(d, "none", b"<< /Length 5 >>\x00hello")


def seeds_parse_object():
    d = "parse_object"
    put(d, "dict", b"<< /Type /Page /MediaBox [0 0 612.0 -792] /Name#20Hex (str\\(ing\\)\\101\\n) "
        b"/Hex <48656C6C6F7> /Ref 12 0 R /Null null /B true /Neg -.5 /Nested << /A [[[]]] >> >>")
    put(d, "stream", b"1 0 obj\n<< /Length 5 >>\nstream\nhello\nendstream\nendobj\n2 0 obj [1 2 R] endobj")
    put(d, "comments", b"% comment\n[ 1 % inside\n 2 ]\n(nested (paren) \\\n continued)")
    put(d, "numbers", b"0 +1 -2 3.25 -.75 4. 00012 2147483648 99999999999999999999 1e5 --3")
    # A key first, then a dictionary for the peek at that key.
    put(d, "peek-link", b"/Subtype << /Type /Annot /Border [0 0 0] /C [<00ff> 1] /Rect [1 2 3 4.5] "
        b"/A << /S /URI /URI (http://a\\(b\\)) >> % note\n/Subtype /Link /P 7 0 R /F 1e5 >>")


def seeds_cmap():
    put("cmap", "bf", b"/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        b"/CMapName /Seed def 1 begincodespacerange <00> <FF> endcodespacerange\n"
        b"2 beginbfchar <41> <0041> <42> <D83DDE00> endbfchar\n"
        b"2 beginbfrange <61> <7A> <0061> <20> <22> [<0020> <00A0> <2003>] endbfrange\n"
        b"endcmap CMapName currentdict /CMap defineresource pop end end")
    put("cmap", "cid-2byte", b"begincmap 1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
        b"1 begincidrange <0000> <00FF> 0 endcidrange 1 begincidchar <1234> 77 endcidchar\n"
        b"1 beginbfrange <0100> <01FF> <FB00> endbfrange usecmap endcmap")
    if not (os.path.isdir(CORPUS) and shutil.which("qpdf")):
        return
    n = 0
    for name in sorted(os.listdir(CORPUS)):
        path = os.path.join(CORPUS, name)
        if not name.endswith(".pdf") or os.path.getsize(path) > 200000:
            continue
        seen = set()
        for obj in qpdf_objects(path).values():
            v = obj.get("value")
            if isinstance(v, dict) and "/ToUnicode" in v:
                for num in refs(v["/ToUnicode"]):
                    if num in seen:
                        continue
                    seen.add(num)
                    data = qpdf_stream(path, num)
                    if 0 < len(data) <= MAX_SEED:
                        put("cmap", "%s-%d" % (name[:-4], num), data)
                        n += 1
                    break
            if len(seen) >= 2:
                break
        if n >= 12:
            break


def seeds_cidcmap():
    """Small CID CMaps: a few of Adobe's (kept whole, with their licence
    notice), one with every section, and damaged copies of each."""
    import random
    put("cidcmap", "sections",
        b"/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        b"/CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >> def\n"
        b"/CMapName /Test-V def /WMode 1 def /90ms-RKSJ-H usecmap\n"
        b"2 begincodespacerange <00> <80> <8140> <9FFC> endcodespacerange\n"
        b"1 beginnotdefrange <00> <1f> 231 endnotdefrange\n"
        b"2 begincidrange <20> <7d> 231 <8140> <817e> 633 endcidrange\n"
        b"1 begincidchar <8141> 7887 endcidchar 1 beginnotdefchar <80> 1 endnotdefchar\n"
        b"endcmap CMapName currentdict /CMap defineresource pop end end\n"
        b"\x82\xa0A\x81\x41\x81")
    files = [("Adobe-Identity-0", "Identity-V"), ("Adobe-Japan1-7", "90ms-RKSJ-V"),
             ("Adobe-Japan1-7", "Roman"), ("Adobe-Korea1-2", "UniKS-UTF16-V"),
             ("Adobe-GB1-6", "GBK2K-V")]
    rng = random.Random(20261208)
    for coll, name in files:
        path = os.path.join(CMAP_RESOURCES, coll, "CMap", name)
        if not os.path.exists(path):
            continue
        with open(path, "rb") as f:
            data = f.read()
        if len(data) > MAX_SEED:
            continue
        put("cidcmap", name, data)
        start = data.find(b"%%EndComments")  # damage the program, not the notice
        for k in range(2):
            damaged = bytearray(data)
            for _ in range(8):
                at = rng.randrange(start, len(damaged))
                damaged[at] = rng.choice(b"<>[]()/ 0123456789abcdef\n%")
            put("cidcmap", "%s-damaged-%d" % (name, k), bytes(damaged))


def drawing_pdfs():
    """Pages that reach the page's interpretation past its own content: form
    XObjects (placed, nested, drawing themselves), annotation appearances
    and field values, inline images whose data holds EI, and content
    streams damaged part-way."""
    font = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
    form = lambda entries, content: stream(b"/Type /XObject /Subtype /Form /BBox [0 0 612 792] " + entries, content)
    cut = zlib.compress(b"BT /F1 12 Tf 72 500 Td (kept before the damage) Tj ET " * 8)
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [8 0 R] /NeedAppearances true >> >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 612 792] >>",
        b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> "
        b"/XObject << /A 5 0 R /B 6 0 R >> >> /Contents [7 0 R 11 0 R] /Annots [8 0 R 9 0 R] >>",
        font,
        form(b"/Matrix [1 0 0 1 0 -50] /Resources << /Font << /F1 4 0 R >> /XObject << /B 6 0 R /A 5 0 R >> >>",
             b"BT /F1 10 Tf 72 700 Td (in form A) Tj ET /B Do /A Do 100 100 200 1 re f"),
        form(b"/Matrix [2 0 0 2 0 0]", b"q BT /F1 5 Tf 36 300 Td (in form B) Tj ET /A Do"),
        stream(b"", b"q 1 0 0 1 0 -100 cm /A Do Q BT /F1 1 Tf 12 0 0 12 72 720 Tm (page) Tj ET "
               b"q BI /W 3 /H 1 /CS /RGB /BPC 8 ID EI\nEI\n EI Q "
               b"BI /F [/A85 /Fl] /W 1 /H 1 ID 9j\nEI ~> EI 100 100 m 300 100 l S"),
        b"<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (field value) /F 4 "
        b"/Rect [100 600 300 620] /DA (/Helv 10 Tf 0 g) >>",
        b"<< /Type /Annot /Subtype /Stamp /F 4 /Rect [300 300 400 340] /AS /On "
        b"/AP << /N << /On 10 0 R >> >> >>",
        stream(b"/Subtype /Form /BBox [0 0 100 40] /Matrix [0 1 -1 0 0 0] "
               b"/Resources << /Font << /F1 4 0 R >> >>", b"BT /F1 10 Tf 5 5 Td (stamp) Tj ET"),
        stream(b"/Filter /FlateDecode", cut[: len(cut) // 2]),
    ]
    return {"forms-annotations.pdf": build_pdf(objs)}


def seeds_content():
    put("content", "text", PAGE_TEXT)
    put("content", "inline-image", b"q BI /W 4 /H 1 /CS /RGB /BPC 8 /F /AHx ID 00112233445566778899AABB> EI Q "
        b"BT /F1 1 Tf 12 0 0 12 5 5 Tm (after) Tj ET")
    put("content", "inline-ends", b"BI /L 4 ID EI\nx EI BI /W 2 /H 1 /CS /G /BPC 8 ID EI EI "
        b"BI /F /A85 ID 9j\nEI ~>\nEI BI /F /AHx ID 4 EI 1> EI q 1 0 0 1 5 5 cm /Fm Do Q")
    put("content", "graphics", b"1 0 0 RG 0 0 1 rg 2 w [3 1] 0 d 10 10 m 20 20 l 30 10 40 40 50 10 c h f* "
        b"q 0.5 0 0 0.5 0 0 cm 0 0 100 100 re W n /GS1 gs Q BX /Foo 1 2 unknownop EX "
        b"/Tag << /MCID 0 >> BDC EMC")
    if not (os.path.isdir(CORPUS) and shutil.which("qpdf")):
        return
    n = 0
    for name in sorted(os.listdir(CORPUS)):
        path = os.path.join(CORPUS, name)
        if not name.endswith(".pdf") or os.path.getsize(path) > 200000:
            continue
        for obj in qpdf_objects(path).values():
            v = obj.get("value")
            if isinstance(v, dict) and v.get("/Type") == "/Page" and "/Contents" in v:
                nums = refs(v["/Contents"])
                data = b"\n".join(qpdf_stream(path, k) for k in nums[:4])
                if 0 < len(data) <= MAX_SEED:
                    put("content", name[:-4], data)
                    n += 1
                break
        if n >= 10:
            break


def seeds_pdfs():
    pdfs = tiny_pdfs()
    for name, data in drawing_pdfs().items():
        put("pipeline", name, data)
    for name, data in pdfs.items():
        put("pipeline", name, data)
        put("xref", name, data)
    if not shutil.which("qpdf"):
        return
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "src.pdf")
        with open(src, "wb") as f:
            f.write(pdfs["two-pages.pdf"])
        variants = {
            "objstm.pdf": ["--object-streams=generate"],
            "linearized.pdf": ["--linearize"],
            "rc4-40.pdf": ["--encrypt", "", "owner", "40", "--"],
            "aes-128.pdf": ["--encrypt", "", "owner", "128", "--use-aes=y", "--"],
            "aes-256.pdf": ["--encrypt", "user", "owner", "256", "--"],
        }
        for name, args in variants.items():
            dst = os.path.join(tmp, name)
            if qpdf(args, src, dst):
                with open(dst, "rb") as f:
                    data = f.read()
                put("pipeline", name, data)
                if not name.startswith(("rc4", "aes")):
                    put("xref", name, data)


def damaged(pdf):
    """Copies of a PDF with its cross-reference data lost in the ways real
    files lose it."""
    start = pdf.rindex(b"startxref")
    digits = pdf[start + 9:].lstrip()
    offset = int(digits[:len(digits) - len(digits.lstrip(b"0123456789"))])
    late = pdf[:start] + b"startxref\n%d\n%%%%EOF\n" % (offset + 3)
    comment = b"% edited\n"
    inserted = pdf.replace(b"\n", b"\n" + comment, 1)
    moved = inserted.rindex(b"startxref")
    return {
        "startxref-late": late,
        "no-startxref": pdf[:start],
        "cut-before-xref": pdf[:offset],
        "junk-before-header": b"\x00" * 100 + pdf,
        "inserted-comment": inserted[:moved] + b"startxref\n%d\n%%%%EOF\n" % (offset + len(comment)),
    }


def seeds_repair():
    """Damaged copies of the tiny PDFs and of qpdf's object-stream and
    encrypted layouts (user password "user", which the harness tries)."""
    pdfs = {"one-page": tiny_pdfs()["one-page.pdf"]}
    if shutil.which("qpdf"):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "src.pdf")
            with open(src, "wb") as f:
                f.write(pdfs["one-page"])
            for name, args in {
                "objstm": ["--object-streams=generate"],
                "aes-128-objstm": ["--object-streams=generate", "--encrypt", "user", "owner",
                                   "128", "--use-aes=y", "--"],
            }.items():
                dst = os.path.join(tmp, name + ".pdf")
                if qpdf(args, src, dst):
                    with open(dst, "rb") as f:
                        pdfs[name] = f.read()
    for name, pdf in pdfs.items():
        for damage, data in damaged(pdf).items():
            put("repair", "%s-%s.pdf" % (name, damage), data)


XMP = (b'<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
       b'<rdf:RDF><rdf:Description xmlns:dc="http://purl.org/dc/elements/1.1/">'
       b'<dc:title><rdf:Alt><rdf:li xml:lang="x-default">XMP &amp; title &#x2014;</rdf:li>'
       b'</rdf:Alt></dc:title><dc:creator><rdf:Seq><rdf:li>One</rdf:li><rdf:li>Two</rdf:li>'
       b'</rdf:Seq></dc:creator></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>')


def seeds_docinfo():
    """A document with every kind of metadata and destination the docinfo
    reader knows, encrypted copies of it, and raw strings for the string
    parsers the harness also feeds directly."""
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R /Metadata 12 0 R "
        b"/Names << /Dests 13 0 R >> /Dests << /old [4 0 R /Fit] >> >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 612 792] >>",
        b"<< /Type /Page /Parent 2 0 R >>",
        b"<< /Type /Page /Parent 2 0 R /Rotate 90 /MediaBox [0 0 595 842] >>",
        b"<< /Title <FEFF004400E9006A00E0> /Author (\223ligature \240) /Subject (S) "
        b"/Keywords (k) /Creator (c) /Producer (p) /CreationDate (D:20230115103000+05'30') "
        b"/ModDate (D:2024) >>",
        b"<< /Type /Outlines /First 7 0 R /Last 8 0 R /Count 3 >>",
        b"<< /Title (One) /Parent 6 0 R /Dest [3 0 R /XYZ 0 792 0] /Next 8 0 R /First 9 0 R >>",
        b"<< /Title (Two) /Parent 6 0 R /Prev 7 0 R /A << /S /GoTo /D (named) >> >>",
        b"<< /Title (Child) /Parent 7 0 R /Dest /old /Next 10 0 R >>",
        b"<< /Title (Index) /Parent 7 0 R /Dest [1 /Fit] /Next 11 0 R >>",
        b"<< /Title (Nowhere) /Parent 7 0 R /Dest (missing) >>",
        stream(b"/Type /Metadata /Subtype /XML", XMP),
        b"<< /Kids [14 0 R] >>",
        b"<< /Limits [(a) (z)] /Names [(named) << /D [4 0 R /Fit] >>] >>",
    ]
    base = build_pdf(objs, extra_trailer=b" /Info 5 0 R")
    put("docinfo", "info-outline.pdf", base)
    put("docinfo", "date", b"D:20230115103000-08'00'")
    put("docinfo", "utf16", b"\xfe\xff\xd8\x3d\xde\x00\x00\x1ben\x00\x1b\x00A")
    put("docinfo", "xmp", XMP)
    if not shutil.which("qpdf"):
        return
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "src.pdf")
        with open(src, "wb") as f:
            f.write(base)
        variants = {
            "rc4-40.pdf": ["--allow-weak-crypto", "--encrypt", "", "owner", "40", "--"],
            "aes-256.pdf": ["--encrypt", "", "owner", "256", "--"],
        }
        for name, args in variants.items():
            dst = os.path.join(tmp, name)
            if qpdf(args, src, dst) and os.path.getsize(dst) > 0:
                with open(dst, "rb") as f:
                    put("docinfo", name, f.read())


def main():
    for h in GENERATED:
        shutil.rmtree(os.path.join(SEEDS, h), ignore_errors=True)
    seeds_inflate()
    seeds_lzw()
    seeds_small()
    seeds_decode_stream()
    seeds_parse_object()
    seeds_cmap()
    seeds_cidcmap()
    seeds_content()
    seeds_pdfs()
    seeds_repair()
    seeds_docinfo()
    total = sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(SEEDS) for f in fs)
    print("seeds: %d bytes" % total, file=sys.stderr)


if __name__ == "__main__":
    main()
