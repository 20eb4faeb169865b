"""The native module's surface: signatures, argument handling, error texts,
results on small hand-made PDFs, threads and reference leaks."""

from __future__ import annotations

import gc
import inspect
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import tracemalloc

import pytest

import pdfgen
import vellox
from vellox import _vellox

FUNCTIONS = ["parse", "parse_to_json", "parse_to_html", "parse_to_markdown"]
SUMMARIES = {
    "parse": "Parse a PDF and return the extracted document as a native Python dict.",
    "parse_to_json": "Parse a PDF and return its extracted form as pretty JSON.",
    "parse_to_html": "Parse a PDF and render it to a standalone HTML document.",
    "parse_to_markdown": "Parse a PDF and render it to Markdown.",
}
KIND = r"(InvalidHeader|InvalidXref|InvalidObject|UnexpectedToken|UnexpectedEof|BadStream" \
       r"|MissingTrailer|ObjectNotFound|Unsupported|InvalidPassword): "


def all_functions():
    return [getattr(_vellox, name) for name in FUNCTIONS]


# ------------------------------------------------------------ module surface

def test_module_attributes():
    assert _vellox.__doc__ == "The native extension module (`vellox._vellox`)."
    assert _vellox.__all__ == FUNCTIONS
    assert _vellox.__name__.split(".")[-1] == "_vellox"
    # The functions are in the module's namespace in the order they were added.
    assert [k for k in vars(_vellox) if k in FUNCTIONS] == FUNCTIONS


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature_and_docstring(name):
    func = getattr(_vellox, name)
    assert inspect.isbuiltin(func)
    assert str(inspect.signature(func)) == "(data, password=None)"
    params = list(inspect.signature(func).parameters.values())
    assert [p.kind for p in params] == [inspect.Parameter.POSITIONAL_OR_KEYWORD] * 2
    assert params[1].default is None
    assert func.__text_signature__ == "(data, password=None)"
    assert func.__doc__ == SUMMARIES[name]
    assert func.__module__.split(".")[-1] == "_vellox"


def test_panic_exception_is_not_an_exception():
    assert _vellox.PanicException.__bases__ == (BaseException,)
    assert not issubclass(_vellox.PanicException, Exception)


def test_package_shares_the_panic_exception_and_version():
    assert vellox.PanicException is _vellox.PanicException
    from importlib.metadata import version
    assert vellox.__version__ == version("vellox")


def test_second_initialization_returns_the_same_module():
    import importlib
    saved = sys.modules.pop("vellox._vellox")
    try:
        again = importlib.import_module("vellox._vellox")
        assert again is saved
    finally:
        sys.modules["vellox._vellox"] = saved


# ------------------------------------------------------------ arguments

class Blob(bytes):
    pass


@pytest.mark.parametrize("func", all_functions(), ids=FUNCTIONS)
@pytest.mark.parametrize("value, type_name", [
    (bytearray(pdfgen.HELLO), "bytearray"),
    (memoryview(pdfgen.HELLO), "memoryview"),
    (pdfgen.HELLO.decode("latin-1"), "str"),
    (None, "NoneType"),
    (3, "int"),
])
def test_data_must_be_bytes(func, value, type_name):
    with pytest.raises(TypeError) as info:
        func(value)
    assert str(info.value) == \
        f"argument 'data': '{type_name}' object cannot be converted to 'PyBytes'"


@pytest.mark.parametrize("func", all_functions(), ids=FUNCTIONS)
@pytest.mark.parametrize("value, type_name", [
    (b"secret", "bytes"),
    (1, "int"),
    (["x"], "list"),
])
def test_password_must_be_str_or_none(func, value, type_name):
    with pytest.raises(TypeError) as info:
        func(pdfgen.HELLO, value)
    assert str(info.value) == \
        f"argument 'password': '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("func", all_functions(), ids=FUNCTIONS)
def test_interpreter_argument_errors_name_function_and_parameter(func):
    name = func.__name__
    with pytest.raises(TypeError, match=rf"{name}\(\).*'data'"):
        func()
    with pytest.raises(TypeError, match=rf"{name}\(\)"):
        func(pdfgen.HELLO, None, None)
    with pytest.raises(TypeError, match=rf"'colour'.*{name}\(\)|{name}\(\).*'colour'"):
        func(pdfgen.HELLO, colour=1)
    with pytest.raises(TypeError, match=rf"{name}\(\).*'data'"):
        func(pdfgen.HELLO, data=pdfgen.HELLO)


@pytest.mark.parametrize("func", all_functions(), ids=FUNCTIONS)
def test_lone_surrogate_password_raises_unicode_encode_error(func):
    with pytest.raises(UnicodeEncodeError):
        func(pdfgen.HELLO, "pass\udc80word")


@pytest.mark.parametrize("func", all_functions(), ids=FUNCTIONS)
def test_keyword_positional_and_default_calls_agree(func):
    expected = func(pdfgen.HELLO)
    assert func(pdfgen.HELLO, None) == expected
    assert func(pdfgen.HELLO, "") == expected
    assert func(data=pdfgen.HELLO, password=None) == expected
    assert func(pdfgen.HELLO, password="") == expected
    assert func(Blob(pdfgen.HELLO)) == expected  # bytes subclass accepted


class Text(str):
    pass


def test_str_subclass_password_accepted():
    assert _vellox.parse(pdfgen.HELLO, Text("x")) == _vellox.parse(pdfgen.HELLO)


# ------------------------------------------------------------ core errors

@pytest.mark.parametrize("func", all_functions(), ids=FUNCTIONS)
@pytest.mark.parametrize("data, text", [
    (b"", "InvalidHeader: no %PDF- header"),
    (b"%PDF", "InvalidHeader: no %PDF- header"),
    (b" " * 1020 + b"%PDF-1.4\n", "InvalidHeader: no %PDF- header"),  # header ends past byte 1024
    (pdfgen.build([b"<< /Type /Catalog >>"], root=None), "MissingTrailer: trailer has no /Root"),
    (b"%PDF-1.4\nno cross-reference data at all\n", "InvalidXref: no startxref"),
], ids=["empty", "short", "late-header", "no-root", "no-xref"])
def test_core_errors_become_value_errors(func, data, text):
    with pytest.raises(ValueError) as info:
        func(data)
    assert re.match(KIND, str(info.value)), str(info.value)
    assert len(info.value.args) == 1
    if text is not None:
        assert str(info.value) == text


def test_all_forms_report_the_same_error():
    # A filter vellox does not decode fails the document (damaged Flate data
    # in page content would not: the page keeps what decoded).
    bad = pdfgen.document([b"BT ET"]).replace(b"/Length 5 >>",
                                              b"/Length 5 /Filter /NoSuchDecode >>")
    messages = set()
    for func in all_functions():
        with pytest.raises(ValueError) as info:
            func(bad)
        messages.add(str(info.value))
    assert len(messages) == 1
    assert re.match(KIND, messages.pop())


# ------------------------------------------------------------ results

def test_parse_tree_of_a_text_page():
    doc = _vellox.parse(pdfgen.HELLO)
    assert list(doc) == ["version", "pages"]
    assert doc["version"] == "1.4"
    (page,) = doc["pages"]
    assert list(page) == ["page", "width", "height", "rotation", "lines", "needs_ocr", "tables",
                          "images"]
    assert page["page"] == 1
    assert page["rotation"] == 0 and type(page["rotation"]) is int
    assert page["width"] == 612.0 and type(page["width"]) is float
    assert page["height"] == 792.0
    assert page["needs_ocr"] is False
    assert page["tables"] == [] and page["images"] == []
    assert [line["text"] for line in page["lines"]] == ["Hello vellox", "second line"]
    first = page["lines"][0]
    assert list(first) == ["text", "x", "y"]
    assert (first["x"], first["y"]) == (72.0, 720.0)
    assert type(first["x"]) is float


def test_non_finite_coordinates_are_none_and_null():
    # A real with 400 digits overflows to infinity; the text matrix then
    # puts the line at an infinite (or NaN) position.
    huge = b"1" + b"0" * 400 + b".0"
    data = pdfgen.document([b"BT /F1 12 Tf %s 0 0 1 0 0 Tm 1 0 Td (far) Tj ET" % huge])
    (line,) = _vellox.parse(data)["pages"][0]["lines"]
    assert line == {"text": "far", "x": None, "y": None}
    text = _vellox.parse_to_json(data)
    assert '"x": null' in text and '"y": null' in text
    assert json.loads(text) == _vellox.parse(data)


def test_scanned_page_image_and_empty_page():
    data = pdfgen.document(
        [pdfgen.text_ops([(50, 800, b"Top")]), b"q 4 0 0 2 0 0 cm /Im0 Do Q", b""],
        media_box=b"[0 0 595.5 842]", image=pdfgen.gray_image(4, 2))
    pages = _vellox.parse(data)["pages"]
    assert [p["needs_ocr"] for p in pages] == [False, True, True]
    assert pages[0]["width"] == 595.5
    image = pages[1]["images"][0]
    assert list(image) == ["name", "format", "width", "height", "bits_per_component",
                           "color_space"]
    assert image == {"name": "Im0", "format": "Raw", "width": 4, "height": 2,
                     "bits_per_component": 8, "color_space": "DeviceGray"}
    assert all(type(image[k]) is int for k in ("width", "height", "bits_per_component"))
    # The three forms agree with the tree.
    assert json.loads(_vellox.parse_to_json(data)) == _vellox.parse(data)
    md = _vellox.parse_to_markdown(data)
    assert md.startswith("<!-- page 1 -->\n\nTop\n\n---\n\n<!-- page 2 -->\n\n"
                         "_[scanned page \u2014 text extraction requires OCR]_")
    html = _vellox.parse_to_html(data)
    assert html.count("<section") == 3
    assert "<p>Top</p>" in html and 'data-needs-ocr="true"' in html


def test_markdown_and_html_of_a_text_page():
    assert _vellox.parse_to_markdown(pdfgen.HELLO) == \
        "<!-- page 1 -->\n\nHello vellox\n\nsecond line"
    html = _vellox.parse_to_html(pdfgen.HELLO)
    assert html.startswith("<!DOCTYPE html>")
    assert '<section class="page" id="page-1" data-page="1" data-rotation="0" ' \
           'style="width:612px;min-height:792px">\n' \
           "<p>Hello vellox</p>\n<p>second line</p>\n</section>\n" in html


def test_non_ascii_text_round_trips_through_every_form():
    # WinAnsi 0xE9 is e-acute, 0x80 the euro sign.
    data = pdfgen.document([pdfgen.text_ops([(72, 700, b"caf\xe9 \x80 <&>")])])
    assert _vellox.parse(data)["pages"][0]["lines"][0]["text"] == "caf\u00e9 \u20ac <&>"
    assert "caf\u00e9 \u20ac <&>" in _vellox.parse_to_json(data)
    assert "caf\u00e9 \u20ac \\<&>" in _vellox.parse_to_markdown(data)  # '<' escaped
    assert "caf\u00e9 \u20ac &lt;&amp;&gt;" in _vellox.parse_to_html(data)


@pytest.mark.skipif(shutil.which("qpdf") is None, reason="qpdf not installed")
@pytest.mark.parametrize("bits", ["128", "256"])
def test_password_reaches_the_security_handler(tmp_path, bits):
    """qpdf encrypts; the right password (non-ASCII, so its UTF-8 matters for
    AES-256) gives the plain text back, a wrong or missing one is refused."""
    plain = tmp_path / "plain.pdf"
    secret = tmp_path / "secret.pdf"
    plain.write_bytes(pdfgen.HELLO)
    password = "s\u00e9same" if bits == "256" else "sesame"
    extra = ["--use-aes=y"] if bits == "128" else []
    subprocess.run(["qpdf", "--encrypt", password, "owner-" + password, bits, *extra, "--",
                    str(plain), str(secret)], check=True)
    data = secret.read_bytes()
    assert _vellox.parse_to_markdown(data, password) == \
        "<!-- page 1 -->\n\nHello vellox\n\nsecond line"
    for wrong, text in [(None, "InvalidPassword: a password is required"),
                        ("", "InvalidPassword: a password is required"),
                        ("other", "InvalidPassword: wrong password")]:
        with pytest.raises(ValueError) as info:
            _vellox.parse_to_markdown(data, wrong)
        assert str(info.value) == text
        assert re.match(KIND, str(info.value))


# ------------------------------------------------------------ concurrency and leaks

def test_two_threads_at_once():
    data = pdfgen.document([pdfgen.text_ops([(72, 700 - 14 * i, b"line %d" % i)
                                             for i in range(40)])] * 30)
    expected = _vellox.parse_to_json(data)
    barrier = threading.Barrier(2)
    results = [None, None]

    def work(slot):
        barrier.wait()
        results[slot] = _vellox.parse_to_json(data)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    assert not any(t.is_alive() for t in threads)
    assert results == [expected, expected]


def rss_kib() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_no_leaks_on_success_and_failure_paths():
    data = pdfgen.document([pdfgen.text_ops([(72, 720, b"leak check")])],
                           image=pdfgen.gray_image())
    password = "pw"
    calls = [
        lambda: _vellox.parse(data),
        lambda: _vellox.parse_to_json(data, password),
        lambda: _vellox.parse_to_html(data),
        lambda: _vellox.parse_to_markdown(data=data),
    ]
    failing = [
        lambda: _vellox.parse(b"%PDF-1.4 nothing"),
        lambda: _vellox.parse_to_markdown(bytearray(b"x")),
        lambda: _vellox.parse_to_json(data, b"x"),
        lambda: _vellox.parse_to_html(data, "\udc80"),
    ]

    def round_trip():
        for call in calls:
            call()
        for call in failing:
            try:
                call()
            except (TypeError, ValueError, UnicodeEncodeError):
                pass

    refs_before = (sys.getrefcount(data), sys.getrefcount(password))
    for _ in range(50):  # warm caches and allocator pools
        round_trip()
    gc.collect()
    tracemalloc.start()
    rss_before = rss_kib()
    objects_before = len(gc.get_objects())
    snapshot = tracemalloc.take_snapshot()
    for _ in range(2000):
        round_trip()
    gc.collect()
    grown = sum(s.size_diff for s in tracemalloc.take_snapshot().compare_to(snapshot, "filename"))
    tracemalloc.stop()
    assert (sys.getrefcount(data), sys.getrefcount(password)) == refs_before
    objects_grown = len(gc.get_objects()) - objects_before
    assert objects_grown < 100
    # One leaked result dict per call would be megabytes over 16000 calls.
    assert grown < 64 * 1024, grown
    if "asan" not in os.environ.get("LD_PRELOAD", ""):  # ASan quarantines freed memory
        assert rss_kib() - rss_before < 8 * 1024
