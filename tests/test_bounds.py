"""Hostile inputs: every one must end within seconds, inside a memory limit,
with a result or a clean ValueError.

Each case builds a small PDF here and parses it in a child process that runs
under an address-space limit and a wall-clock deadline, so a crash, a hang or
a memory blow-up shows up as a failed test rather than taking pytest down.
The wall time and the peak resident size of every child are printed (run
pytest with -s or -rP to see them).

Under AddressSanitizer (VELLOX_ASAN=1) the address-space limit is left off:
the sanitizer reserves terabytes of shadow memory up front."""

from __future__ import annotations

import json
import os
import resource
import signal
import subprocess
import sys
import time
import zlib

import pytest

import pdfgen

ASAN = os.environ.get("VELLOX_ASAN") == "1"
MEMORY_LIMIT = 3 << 29  # 1.5 GiB of address space for the child
DEADLINE = 30.0 if not ASAN else 120.0  # seconds of wall time, with room for a loaded machine
GIB = 1 << 30
# Mebibytes of decoded content in the flooding cases; smaller under ASan,
# where the decoders run ten times slower, but still far past every bound.
FLOOD_MIB = 500 if not ASAN else 50
# Peak resident size allowed to a flooding case (not checked under ASan,
# whose shadow memory and quarantine dwarf it).
FLOOD_PEAK_MIB = 1200

skip_under_asan = pytest.mark.skipif(ASAN, reason="gigabyte inputs are too slow under ASan")

# The child parses the file named by argv[1] with the function argv[2] and
# prints one JSON line: the page texts, or the error's type and text.
CHILD = r"""
import json, sys
import vellox
data = open(sys.argv[1], "rb").read()
fn = sys.argv[2]
try:
    if fn == "parse":
        doc = vellox.parse(data)
    else:
        doc = json.loads(vellox.parse_to_json(data))
except ValueError as e:
    print(json.dumps({"error": str(e)}))
    sys.exit(0)
pages = doc["pages"]
print(json.dumps({
    "pages": len(pages),
    "lines": [len(p["lines"]) for p in pages[:3]],
    "text": [[line["text"][:40] for line in p["lines"][:4]] for p in pages[:3]],
}))
"""


def _limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))


def run_child(tmp_path, name: str, pdf: bytes, fn: str = "parse_to_json") -> dict:
    """Parses `pdf` in a child; returns its JSON report. Fails the test on a
    crash, a timeout or any output other than a result or a ValueError."""
    path = tmp_path / (name + ".pdf")
    path.write_bytes(pdf)
    out_path = tmp_path / (name + ".out")
    err_path = tmp_path / (name + ".err")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start = time.monotonic()
        child = subprocess.Popen([sys.executable, "-c", CHILD, str(path), fn], stdout=out,
                                 stderr=err, preexec_fn=None if ASAN else _limit_memory)
        status, usage = 0, None
        while True:
            pid, status, usage = os.wait4(child.pid, os.WNOHANG)
            if pid == child.pid:
                break
            if time.monotonic() - start > DEADLINE:
                os.kill(child.pid, signal.SIGKILL)
                os.wait4(child.pid, 0)
                child.returncode = -9
                pytest.fail(f"{name}: no result after {DEADLINE} s")
            time.sleep(0.005)
        child.returncode = os.waitstatus_to_exitcode(status)
        wall = time.monotonic() - start
    peak_mib = usage.ru_maxrss / 1024
    print(f"\n[bounds] {name}: {wall:.2f} s, peak RSS {peak_mib:.0f} MiB, input {len(pdf)} bytes")
    stderr = err_path.read_text(errors="replace")
    assert child.returncode == 0, f"{name}: exit {child.returncode}\n{stderr[-3000:]}"
    report = json.loads(out_path.read_text())
    report["wall"] = wall
    report["peak_mib"] = peak_mib
    return report


def expect_error(report: dict, text: str):
    assert report.get("error") == text, report


# ------------------------------------------------------------------ builders

def deflate_repeat(chunk: bytes, count: int) -> bytes:
    """zlib data that inflates to `chunk` repeated `count` times, made in a
    fraction of a second: after a full flush the compressor starts from a
    clean state, so every further copy of the chunk compresses to the same
    bytes and can be repeated; the final empty block and the Adler-32 of the
    whole output close the stream."""
    c = zlib.compressobj(9)
    first = c.compress(chunk) + c.flush(zlib.Z_FULL_FLUSH)
    middle = c.compress(chunk) + c.flush(zlib.Z_FULL_FLUSH)
    assert c.compress(chunk) + c.flush(zlib.Z_FULL_FLUSH) == middle
    final_block = c.flush()[:-4]
    adler = 1
    for _ in range(count):
        adler = zlib.adler32(chunk, adler)
    return first + middle * (count - 1) + final_block + adler.to_bytes(4, "big")


def lzw_run(byte: int, total: int) -> bytes:
    """LZWDecode data (EarlyChange 1) for at least `total` copies of `byte`.
    A run of one byte is LZW's best case: after the first literal, every code
    names the entry made just before it (one byte longer each time), so a
    table of 4096 entries holds strings of up to some 3800 bytes. The table is
    cleared when nearly full and the pattern starts over."""
    bits = []  # (code, width) pairs
    produced = 0
    while produced < total:
        size, width = 258, 9
        bits.append((byte, width))
        produced += 1
        code, length = 258, 2
        while size < 4000 and produced < total:
            bits.append((code, width))
            produced += length
            size += 1
            if width < 12 and size + 1 >= (1 << width):
                width += 1
            code += 1
            length += 1
        bits.append((256, width))
    bits.append((257, 9))
    acc, n, out = 0, 0, bytearray()
    for code, width in bits:
        acc = (acc << width) | code
        n += width
        while n >= 8:
            n -= 8
            out.append((acc >> n) & 0xFF)
        acc &= (1 << n) - 1
    if n:
        out.append((acc << (8 - n)) & 0xFF)
    return bytes(out)


def one_page(content_object: bytes, extra_objects: list[bytes] | None = None,
             contents: bytes = b"5 0 R") -> bytes:
    """Catalog 1, Pages 2, Helvetica 3, page 4 with the content object 5,
    then `extra_objects` as 6, 7..."""
    return pdfgen.build([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
        pdfgen.FONT,
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
        b"/Resources << /Font << /F1 3 0 R >> >> /Contents %s >>" % contents,
        content_object,
    ] + (extra_objects or []))


def flate_content(chunk: bytes, count: int) -> bytes:
    data = deflate_repeat(chunk, count)
    return pdfgen.stream(data, b"/Filter /FlateDecode ")


def xref_stream_pdf(objects: dict[int, bytes], packed: dict[int, tuple[int, int]],
                    w: bytes = b"[1 4 2]", size: int | None = None) -> bytes:
    """A file whose cross-reference data is a stream (uncompressed records).
    `objects` are written in the body; `packed` maps an object number to
    (object stream number, index) for objects that live in an object stream.
    The xref stream itself is the object after the highest number."""
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for num in sorted(objects):
        offsets[num] = len(out)
        out += b"%d 0 obj\n" % num + objects[num] + b"\nendobj\n"
    xref_num = max(list(objects) + list(packed)) + 1
    offsets[xref_num] = len(out)
    n = xref_num + 1
    records = bytearray(b"\x00" + (0).to_bytes(4, "big") + b"\xff\xff")
    for num in range(1, n):
        if num in packed:
            stm, index = packed[num]
            records += b"\x02" + stm.to_bytes(4, "big") + index.to_bytes(2, "big")
        elif num in offsets:
            records += b"\x01" + offsets[num].to_bytes(4, "big") + b"\x00\x00"
        else:
            records += b"\x00" + (0).to_bytes(4, "big") + b"\x00\x00"
    out += b"%d 0 obj\n" % xref_num
    out += pdfgen.stream(bytes(records), b"/Type /XRef /Size %d /W %s /Root 1 0 R "
                         % (size if size is not None else n, w))
    out += b"\nendobj\nstartxref\n%d\n%%%%EOF\n" % offsets[xref_num]
    return bytes(out)


CATALOG = b"<< /Type /Catalog /Pages 2 0 R >>"
PAGES = b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
PAGE = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"
HELLO = b"BT /F1 12 Tf 72 700 Td (Hello) Tj ET\n"


# ------------------------------------------------------------------- streams

@skip_under_asan
def test_flate_bomb_past_the_cap(tmp_path):
    # About 1 MB of deflate data claiming 1 GiB and one more MiB of spaces.
    pdf = one_page(flate_content(b" " * (1 << 20), 1025))
    expect_error(run_child(tmp_path, "flate_bomb", pdf), "BadStream: decoded stream too large")


@skip_under_asan
def test_lzw_bomb_past_the_cap(tmp_path):
    # Under 1 MB of codes for 1 GiB and a bit of one byte.
    data = lzw_run(ord(" "), GIB + (1 << 20))
    assert len(data) < (1 << 20)
    pdf = one_page(pdfgen.stream(data, b"/Filter /LZWDecode "))
    expect_error(run_child(tmp_path, "lzw_bomb", pdf), "BadStream: decoded stream too large")


def test_lzw_run_below_the_cap_decodes(tmp_path):
    # The same generator below the cap: the spaces decode and the text after
    # the LZW stream (a second content stream) is found, which shows that the
    # bomb above is valid LZW data and fails on size alone.
    data = lzw_run(ord(" "), 20 << 20)
    pdf = pdfgen.build([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
        pdfgen.FONT,
        b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> "
        b"/Contents [5 0 R 6 0 R] >>",
        pdfgen.stream(data, b"/Filter /LZWDecode "),
        pdfgen.stream(HELLO),
    ])
    report = run_child(tmp_path, "lzw_run", pdf)
    assert report["text"] == [["Hello"]], report


def test_predictor_with_huge_columns(tmp_path):
    data = zlib.compress(b"\x02" + b"\x00" * 64)
    pdf = one_page(pdfgen.stream(data, b"/Filter /FlateDecode /DecodeParms "
                                 b"<< /Predictor 12 /Columns 1099511627776 >> "))
    expect_error(run_child(tmp_path, "predictor_columns", pdf),
                 "BadStream: bad predictor parameters")


def test_length_referring_to_itself(tmp_path):
    # The stream's /Length is the stream object itself: no integer can come
    # of it, so the body is framed by its endstream keyword.
    pdf = one_page(b"<< /Length 5 0 R >>\nstream\n" + HELLO + b"endstream")
    assert run_child(tmp_path, "length_self", pdf)["text"] == [["Hello"]]


# ----------------------------------------------------------------- nesting

def test_nested_arrays_in_an_object(tmp_path):
    deep = b"[" * 100_000 + b"]" * 100_000
    pdf = pdfgen.build([b"<< /Type /Catalog /Pages 2 0 R /Deep " + deep + b" >>",
                        PAGES, PAGE])
    expect_error(run_child(tmp_path, "nested_object", pdf),
                 "UnexpectedToken: nesting too deep")


def test_nested_arrays_in_content(tmp_path):
    # The operand that nests too deep ends the content; what came before it
    # stays.
    content = HELLO + b"[" * 100_000 + b"]" * 100_000 + b" TJ\n" + HELLO.replace(b"Hello", b"After")
    report = run_child(tmp_path, "nested_content", one_page(pdfgen.stream(content)))
    assert report["text"] == [["Hello"]], report


# -------------------------------------------------------- structure loops

def test_prev_cycle(tmp_path):
    # Two classic sections whose /Prev point at each other: each is read
    # once, and the newer section's entries win.
    body = bytearray(b"%PDF-1.4\n")
    offsets = []
    for obj in [CATALOG, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 5 0 R >> >> "
                b"/Contents 4 0 R >>", pdfgen.stream(HELLO), pdfgen.FONT]:
        offsets.append(len(body))
        body += b"%d 0 obj\n" % (len(offsets)) + obj + b"\nendobj\n"

    def section(prev: int) -> bytes:
        rows = b"".join(b"%010d 00000 n \n" % o for o in offsets)
        return (b"xref\n0 6\n0000000000 65535 f \n" + rows +
                b"trailer\n<< /Size 6 /Root 1 0 R /Prev %010d >>\n" % prev)

    first = len(body)
    second = first + len(section(0))
    body += section(second) + section(first)
    body += b"startxref\n%d\n%%%%EOF\n" % second
    assert run_child(tmp_path, "prev_cycle", bytes(body))["text"] == [["Hello"]]


def test_kids_cycle(tmp_path):
    # The page tree's middle node lists its parent and itself among its kids.
    pdf = pdfgen.build([
        CATALOG,
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Pages /Parent 2 0 R /Kids [2 0 R 3 0 R 4 0 R 3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 3 0 R /Resources << /Font << /F1 6 0 R >> >> "
        b"/Contents 5 0 R >>",
        pdfgen.stream(HELLO),
        pdfgen.FONT,
    ])
    report = run_child(tmp_path, "kids_cycle", pdf)
    assert report["pages"] == 1 and report["text"] == [["Hello"]], report


def test_page_tree_ten_thousand_levels(tmp_path):
    levels = 10_000
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>"]
    for k in range(levels):
        objects.append(b"<< /Type /Pages /Kids [%d 0 R] /Count 1 >>" % (k + 3))
    objects.append(b"<< /Type /Page >>")
    expect_error(run_child(tmp_path, "deep_tree", pdfgen.build(objects)),
                 "InvalidObject: page tree too deep")


def test_one_page_listed_a_million_times(tmp_path):
    kids = b"4 0 R " * 1_000_000
    pdf = pdfgen.build([
        CATALOG, b"<< /Type /Pages /Kids [" + kids + b"] /Count 1000000 >>",
        pdfgen.FONT,
        b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> "
        b"/Contents 5 0 R >>",
        pdfgen.stream(HELLO),
    ])
    report = run_child(tmp_path, "million_kids", pdf)
    assert report["pages"] == 1 and report["text"] == [["Hello"]], report


# ------------------------------------------------ cross-reference streams

def test_object_stream_claiming_2_pow_60_objects(tmp_path):
    # The catalog lives in object stream 4, whose header claims 2^60 pairs
    # but holds one.
    stm = b"1 0 " + CATALOG
    objects = {
        2: PAGES,
        3: PAGE,
        4: pdfgen.stream(stm, b"/Type /ObjStm /N 1152921504606846976 /First 4 "),
    }
    pdf = xref_stream_pdf(objects, {1: (4, 0)})
    expect_error(run_child(tmp_path, "objstm_n", pdf), "InvalidObject: objstm truncated header")


def test_object_stream_containing_itself(tmp_path):
    # Object 4 is listed as the first object of object stream 4.
    objects = {2: PAGES, 3: PAGE}
    pdf = xref_stream_pdf(objects, {1: (4, 0), 4: (4, 0)})
    expect_error(run_child(tmp_path, "objstm_self", pdf), "InvalidObject: reference cycle")


def test_xref_stream_with_huge_widths(tmp_path):
    # The widths claim terabytes of records: the stream is refused without
    # allocating for them, and the file is read through the table rebuilt
    # from its body, where all three objects stand.
    for name, w in [("w_huge", b"[1 1099511627776 2]"), ("w_overflow",
                    b"[9223372036854775807 9223372036854775807 2]")]:
        pdf = xref_stream_pdf({1: CATALOG, 2: PAGES, 3: PAGE}, {}, w=w)
        report = run_child(tmp_path, name, pdf)
        assert report.get("error") is None and report["pages"] == 1, report


# ------------------------------------------------------------------ fonts

def test_width_range_over_2_pow_32_codes(tmp_path):
    # A /W range from 0 to 2^32 - 1 with one width: only the two-byte codes
    # that can ever be shown are stored.
    font = (b"<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H "
            b"/DescendantFonts [<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X "
            b"/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> "
            b"/W [0 4294967295 500] >>] /ToUnicode 6 0 R >>")
    cmap = (b"/CIDInit /ProcSet findresource begin 12 dict begin begincmap "
            b"1 begincodespacerange <0000> <FFFF> endcodespacerange "
            b"1 beginbfrange <0041> <005A> <0041> endbfrange endcmap end end")
    pdf = pdfgen.build([
        CATALOG,
        b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
        font,
        b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> "
        b"/Contents 5 0 R >>",
        pdfgen.stream(b"BT /F1 10 Tf 72 700 Td <00480049> Tj 0 -20 Td <0041> Tj ET"),
        pdfgen.stream(cmap),
    ])
    report = run_child(tmp_path, "w_range", pdf)
    assert report["text"] == [["HI", "A"]], report


# --------------------------------------------------- content amplification

def test_half_a_gigabyte_of_q(tmp_path):
    # 500 MB of "q " from half a megabyte of deflate data: 250 million
    # operators. The page is parsed up to the per-page operation bound.
    pdf = one_page(flate_content(b"q " * (1 << 19), FLOOD_MIB))
    report = run_child(tmp_path, "q_flood", pdf)
    assert report["pages"] == 1 and report["lines"] == [0], report
    assert ASAN or report["peak_mib"] < FLOOD_PEAK_MIB


@pytest.mark.parametrize("show, fn", [(b"Tj", "parse_to_json"), (b"'", "parse_to_json"),
                                      (b"'", "parse")])
def test_half_a_gigabyte_of_text_runs(tmp_path, show, fn):
    # 500 MB of "(a) Tj" or "(a) '": some 70 million text runs, all on one
    # line or each on a line of its own. Runs per page are bounded, and so
    # are the lines and the text built from them.
    head = pdfgen.stream(b"BT /F1 12 Tf 72 700 Td 14 TL\n")
    chunk = b"(a) " + show + b" "
    flood = pdfgen.stream(deflate_repeat(chunk * ((1 << 20) // len(chunk)), FLOOD_MIB),
                          b"/Filter /FlateDecode ")
    pdf = one_page(head, [flood], contents=b"[5 0 R 6 0 R]")
    report = run_child(tmp_path, "text_flood_%s_%s" % ("Tj" if show == b"Tj" else "quote", fn),
                       pdf, fn)
    assert report["pages"] == 1 and report["lines"][0] > 0, report
    assert report["text"][0][0].startswith("a"), report
    assert ASAN or report["peak_mib"] < FLOOD_PEAK_MIB
