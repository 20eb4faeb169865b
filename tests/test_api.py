"""The package's functions as a user calls them: what they accept, page
selection, the forms, types, and extraction without the interpreter lock."""

from __future__ import annotations

import array
import gc
import inspect
import io
import json
import re
import os
import shutil
import site
import subprocess
import sys
import sysconfig
import textwrap
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import pdfgen
import vellox
from vellox import _native, _vellox

FIVE = pdfgen.document([pdfgen.text_ops([(72, 720, b"page %d" % n)]) for n in range(1, 6)])
PUBLIC = ["parse", "parse_to_json", "parse_to_markdown", "parse_to_html"]


def texts(doc):
    return [page["lines"][0]["text"] if page["lines"] else "" for page in doc["pages"]]


# ------------------------------------------------------------ inputs

def as_path(tmp_path, data):
    path = tmp_path / "in.pdf"
    path.write_bytes(data)
    return path


@pytest.mark.parametrize("make", [
    lambda d, t: d,
    lambda d, t: bytearray(d),
    lambda d, t: memoryview(d),
    lambda d, t: memoryview(b"junk" + d)[4:],
    lambda d, t: memoryview(bytearray(d)),
    lambda d, t: array.array("B", d),
    lambda d, t: str(as_path(t, d)),
    lambda d, t: as_path(t, d),
    lambda d, t: io.BytesIO(d),
    lambda d, t: open(as_path(t, d), "rb"),  # noqa: SIM115 - closed by the GC
    lambda d, t: open(as_path(t, d), "rb", buffering=0),  # noqa: SIM115
], ids=["bytes", "bytearray", "memoryview", "memoryview-slice", "memoryview-bytearray",
        "array", "str-path", "Path", "BytesIO", "file", "raw-file"])
def test_every_kind_of_input_gives_the_same_result(tmp_path, make):
    expected = _vellox.parse(FIVE)
    source = make(FIVE, tmp_path)
    assert vellox.parse(source) == expected


def test_a_mutable_buffer_is_left_as_it_was():
    buffer = bytearray(FIVE)
    assert texts(vellox.parse(buffer)) == [f"page {n}" for n in range(1, 6)]
    assert buffer == FIVE


class NotBytes:
    def read(self):
        return 42


@pytest.mark.parametrize("func", PUBLIC + ["info"])
@pytest.mark.parametrize("value, message", [
    (3, "data must be bytes, a bytes-like object, a path (str or os.PathLike) or a binary "
        "file object, not 'int'"),
    (None, "data must be bytes, a bytes-like object, a path (str or os.PathLike) or a binary "
           "file object, not 'NoneType'"),
    (io.StringIO("%PDF-1.4"), "data is a text file object; open the file in binary mode ('rb')"),
    (NotBytes(), "data.read() returned 'int', not bytes"),
], ids=["int", "None", "text-file", "read-not-bytes"])
def test_other_inputs_are_type_errors_that_say_what_is_accepted(func, value, message):
    with pytest.raises(TypeError) as info:
        getattr(vellox, func)(value)
    assert str(info.value) == message


def test_a_missing_path_is_the_os_error():
    with pytest.raises(FileNotFoundError):
        vellox.parse("/nonexistent/file.pdf")


def test_a_str_is_always_a_path_and_bytes_always_data():
    with pytest.raises(FileNotFoundError):
        vellox.parse(FIVE.decode("latin-1")[:100])
    with pytest.raises(ValueError, match="InvalidHeader"):
        vellox.parse(b"in.pdf")


# ------------------------------------------------------------ pages

@pytest.mark.parametrize("pages, numbers", [
    (None, [1, 2, 3, 4, 5]),
    (0, [1]),
    (-1, [5]),
    ([4, 0, 4], [5, 1, 5]),
    ((2,), [3]),
    ([], []),
    (range(1, 3), [2, 3]),
    (range(-2, 0), [4, 5]),
    (range(4, -1, -2), [5, 3, 1]),
    (slice(None, None, 2), [1, 3, 5]),
    (slice(-2, None), [4, 5]),
    (slice(3, 100), [4, 5]),
    (slice(None, None, -1), [5, 4, 3, 2, 1]),
    (slice(7, None), []),
    ([range(0, 2), -1, slice(3, None)], [1, 2, 5, 4, 5]),
    (iter([1, 2]), [2, 3]),
], ids=lambda v: repr(v) if not hasattr(v, "__next__") else "iterator")
def test_pages_select_and_number_the_pages(pages, numbers):
    doc = vellox.parse(FIVE, pages=pages)
    assert [p["page"] for p in doc["pages"]] == numbers
    assert texts(doc) == [f"page {n}" for n in numbers]


@pytest.mark.parametrize("form", ["json", "markdown", "html", "text"])
def test_every_form_lists_only_the_pages_asked_for(form):
    out = vellox.convert(FIVE, form, pages=[3, 1])
    if form == "json":
        assert [p["page"] for p in json.loads(out)["pages"]] == [4, 2]
    elif form == "markdown":
        assert out == "<!-- page 4 -->\n\npage 4\n\n---\n\n<!-- page 2 -->\n\npage 2"
    elif form == "html":
        assert out.count("<section") == 2
        assert out.index('data-page="4"') < out.index('data-page="2"')
    else:
        assert out == "page 4\fpage 2"
    assert "page 1" not in out and "page 3" not in out


@pytest.mark.parametrize("pages, message", [
    (5, "page index 5 is out of range for a document of 5 pages"),
    (-6, "page index -6 is out of range for a document of 5 pages"),
    ([0, 9, 10], "page index 9 is out of range for a document of 5 pages"),
    (range(3, 8), "page index 5 is out of range for a document of 5 pages"),
    (range(0, 100, 7), "page index 7 is out of range for a document of 5 pages"),
])
def test_pages_past_the_end_are_index_errors_naming_the_count(pages, message):
    for func in PUBLIC:
        with pytest.raises(IndexError) as info:
            getattr(vellox, func)(FIVE, pages=pages)
        assert str(info.value) == message
    one = pdfgen.HELLO
    with pytest.raises(IndexError, match=r"^page index 1 is out of range for a document of 1 "
                                         r"page$"):
        vellox.parse(one, pages=1)


@pytest.mark.parametrize("pages, error, message", [
    ("1", TypeError, "argument 'pages': expected an int, a range, a slice or an iterable of "
                     "them, not 'str'"),
    (1.0, TypeError, "argument 'pages': expected an int, a range, a slice or an iterable of "
                     "them, not 'float'"),
    (True, TypeError, "argument 'pages': expected an int, a range, a slice or an iterable of "
                      "them, not 'bool'"),
    ([0, None], TypeError, "argument 'pages': expected an int, a range, a slice or an iterable "
                           "of them, not 'NoneType'"),
    ([[0]], TypeError, "argument 'pages': expected an int, a range, a slice or an iterable of "
                       "them, not 'list'"),
    (slice(0, 3, 0), ValueError, "slice step cannot be zero"),
    (2**70, OverflowError, None),
])
def test_page_arguments_of_the_wrong_kind(pages, error, message):
    with pytest.raises(error) as info:
        vellox.parse(FIVE, pages=pages)
    if message is not None:
        assert str(info.value) == message


def test_pages_not_asked_for_are_not_read():
    # Page 1's content has a filter vellox does not decode: reading it fails
    # the call (damaged Flate data would not: the page keeps what decoded).
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>", pdfgen.FONT]
    for n, extra in [(1, b"/Filter /NoSuchDecode "), (2, b"")]:
        objects.append(b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> "
                       b"/Contents %d 0 R >>" % (len(objects) + 2))
        objects.append(pdfgen.stream(pdfgen.text_ops([(72, 720, b"page %d" % n)]), extra))
    broken = pdfgen.build(objects)
    with pytest.raises(ValueError, match="^Unsupported: unsupported filter: NoSuchDecode$"):
        vellox.parse(broken)
    assert texts(vellox.parse(broken, pages=[1])) == ["page 2"]
    assert vellox.info(broken)["page_count"] == 2


# ------------------------------------------------------------ forms and surface

@pytest.mark.parametrize("form", vellox.FORMATS)
def test_convert_gives_each_form_as_the_matching_function(form):
    result = vellox.convert(FIVE, form)
    if form == "dict":
        assert result == vellox.parse(FIVE)
    elif form == "text":
        assert result == "\f".join(f"page {n}" for n in range(1, 6))
    else:
        assert result == getattr(vellox, f"parse_to_{form}")(FIVE)


def test_convert_refuses_an_unknown_format():
    with pytest.raises(ValueError) as info:
        vellox.convert(FIVE, "docx")  # type: ignore[call-overload]
    assert str(info.value) == ("unknown format 'docx'; expected one of markdown, json, html, "
                               "text, dict")


@pytest.mark.parametrize("name", [*PUBLIC, "convert", "info"])
def test_signatures(name):
    signature = str(inspect.signature(getattr(vellox, name)))
    limits = "timeout: 'Optional[float]' = None, max_bytes: 'Optional[int]' = None"
    expected = {
        "convert": "(data: 'Source', format: 'Format' = 'markdown', password: 'Optional[str]' "
                   f"= None, *, pages: 'Optional[Pages]' = None, {limits}, "
                   "order: 'Order' = 'reading') -> 'Union[Document, str]'",
        "info": f"(data: 'Source', password: 'Optional[str]' = None, *, {limits}) -> 'Info'",
    }
    returns = "Document" if name == "parse" else "str"
    assert signature == expected.get(name, f"(data: 'Source', password: 'Optional[str]' = None, "
                                           f"*, pages: 'Optional[Pages]' = None, {limits}, "
                                           f"order: 'Order' = 'reading') -> '{returns}'")
    assert str(inspect.signature(_native.extract)) == \
        "(data, password=None, *, format='dict', pages=None, timeout=None, max_bytes=None, " \
        "order='reading')"
    assert str(inspect.signature(_native.info)) == \
        "(data, password=None, *, timeout=None, max_bytes=None)"


# Two columns of three lines on shared baselines, 12-point Helvetica: each
# pair of lines is one line across the page in position order.
COLUMNS = pdfgen.document([pdfgen.text_ops(
    [(72, 700 - 14 * i, b"left column line %d of the page" % i) for i in range(3)] +
    [(320, 700 - 14 * i, b"right column line %d of the page" % i) for i in range(3)])])
READING = [f"{side} column line {i} of the page" for side in ("left", "right") for i in range(3)]


@pytest.mark.parametrize("form", vellox.FORMATS)
def test_order_reads_columns_or_keeps_positions(form):
    position = [f"{READING[i]} {READING[i + 3]}" for i in range(3)]

    def lines(order):
        result = vellox.convert(COLUMNS, form, order=order)
        if form == "dict":
            return [line["text"] for line in result["pages"][0]["lines"]]
        if form == "json":
            return [line["text"] for line in json.loads(result)["pages"][0]["lines"]]
        # The reading forms join a block's lines into a paragraph: compare
        # the words, in order, without the markup around them.
        text = re.sub(r"<!--.*?-->|<[^>]*>" if form == "html" else r"<!--.*?-->", " ", result)
        return [word for word in text.split() if word in " ".join(READING).split()]

    def words(texts):
        return " ".join(texts).split()

    assert vellox.convert(COLUMNS, form) == vellox.convert(COLUMNS, form, order="reading")
    if form in ("dict", "json"):
        assert lines("reading") == READING
        assert lines("position") == position
    else:
        assert lines("reading") == words(READING)
        assert lines("position") == words(position)
    # The split lines start where their column does.
    if form == "dict":
        right = vellox.parse(COLUMNS)["pages"][0]["lines"][3]
        assert (right["x"], right["y"]) == (320.0, 700.0)


@pytest.mark.parametrize("order, error, message", [
    ("columns", ValueError, "unknown order 'columns'; expected 'reading' or 'position'"),
    (None, TypeError, "argument 'order': 'NoneType' object cannot be converted to 'PyString'"),
])
def test_an_unknown_order_is_refused(order, error, message):
    for call in (lambda: vellox.parse(COLUMNS, order=order),
                 lambda: vellox.convert(COLUMNS, "text", order=order)):
        with pytest.raises(error) as info:
            call()
        assert str(info.value) == message
    with pytest.raises(ValueError):
        list(vellox.parse_many([COLUMNS], order="columns"))  # type: ignore[arg-type]


def test_parse_many_and_the_lock_keeping_module_read_in_reading_order():
    for processes in (False, True):
        for order in vellox.ORDERS:
            [(_, text)] = vellox.parse_many([COLUMNS], "text", jobs=2, processes=processes,
                                            order=order)
            assert text == vellox.convert(COLUMNS, "text", order=order)
    assert _vellox.parse(COLUMNS) == vellox.parse(COLUMNS, order="reading")


def test_the_result_types_are_importable_and_describe_the_result():
    doc = vellox.parse(FIVE)
    assert set(vellox.Document.__annotations__) == set(doc)
    assert list(vellox.Page.__annotations__) == list(doc["pages"][0])
    assert set(vellox.Line.__annotations__) == set(doc["pages"][0]["lines"][0])
    info = vellox.info(FIVE)
    assert list(vellox.Info.__annotations__) == list(info)
    assert list(vellox.PageInfo.__annotations__) == list(info["pages"][0])
    assert vellox.FORMATS == ("markdown", "json", "html", "text", "dict")
    assert vellox.ORDERS == ("reading", "position")
    for name in ("Document", "Page", "Line", "Table", "Image", "Info", "FORMATS", "ORDERS",
                 "Order", "info", "parse_many", "PanicException"):
        assert name in vellox.__all__


def test_the_package_agrees_with_the_module_that_keeps_the_lock():
    data = pdfgen.document(
        [pdfgen.text_ops([(50, 800, b"Top")]), b"q 4 0 0 2 0 0 cm /Im0 Do Q", b""],
        image=pdfgen.gray_image(4, 2))
    for name in PUBLIC:
        assert getattr(vellox, name)(data, "") == getattr(_vellox, name)(data)


@pytest.mark.skipif(shutil.which("mypy") is None and
                    subprocess.run([sys.executable, "-m", "mypy", "--version"],
                                   capture_output=True).returncode != 0,
                    reason="mypy not installed")
def test_the_public_api_type_checks_under_mypy_strict(tmp_path):
    good = tmp_path / "good.py"
    good.write_text(textwrap.dedent("""
        import io
        from pathlib import Path

        import vellox
        from vellox import Document, Info, Line, Page

        def first_line(doc: Document) -> str:
            page: Page = doc["pages"][0]
            line: Line = page["lines"][0]
            x: float | None = line["x"]
            return line["text"] if x is not None else ""

        data = Path("a.pdf").read_bytes()
        doc: Document = vellox.convert(data, "dict", pages=[0, range(2, 4), slice(-1, None)])
        text: str = vellox.convert(Path("a.pdf"), "markdown")
        html: str = vellox.parse_to_html(io.BytesIO(data), "pw", pages=-1)
        info: Info = vellox.info(bytearray(data))
        count: int = info["page_count"]
        levels = [item["level"] for item in info["outline"]]
        for path, result in vellox.parse_many(["a.pdf", data], format="json", processes=True):
            if isinstance(result, BaseException):
                print(path, result)
        print(first_line(doc), text, html, count, levels, vellox.parse("a.pdf")["version"])
    """))
    bad = tmp_path / "bad.py"
    bad.write_text(textwrap.dedent("""
        import vellox
        doc: vellox.Document = vellox.convert(b"", "json")
        vellox.convert(b"", "docx")
        vellox.parse(42)
        vellox.parse(b"", pages="1")
        size: float = vellox.parse(b"")["pages"][0]["width"]
    """))
    # mypy finds an installed package by itself, and refuses to be pointed
    # at site-packages; a package elsewhere (a --target build) is named.
    package_root = Path(vellox.__file__).parents[1]
    installed = {Path(p) for p in site.getsitepackages()} | \
        {Path(sysconfig.get_paths()[k]) for k in ("purelib", "platlib")}
    env = dict(os.environ)
    if package_root not in installed:
        env["MYPYPATH"] = str(package_root)
    command = [sys.executable, "-m", "mypy", "--strict", "--no-incremental",
               "--cache-dir", str(tmp_path / "cache")]
    ok = subprocess.run(command + [str(good)], capture_output=True, text=True, env=env,
                        cwd=tmp_path, timeout=300)
    assert ok.returncode == 0, ok.stdout + ok.stderr
    wrong = subprocess.run(command + [str(bad)], capture_output=True, text=True, env=env,
                           cwd=tmp_path, timeout=300)
    errors = [line for line in wrong.stdout.splitlines() if ": error:" in line]
    assert [int(line.split(":")[1]) for line in errors] == [3, 4, 5, 6, 7], wrong.stdout


# ------------------------------------------------------------ the interpreter lock

def long_document(pages=200):
    lines = [(72, 760 - 12 * i, b"line %d of a long page with words" % i) for i in range(60)]
    return pdfgen.document([pdfgen.text_ops(lines)] * pages)


def longest_pause(call):
    """The longest gap, in seconds, between two steps of a Python loop on this
    thread while `call` runs on another, and how long the call took."""
    done = threading.Event()
    timing = {}

    def work():
        start = time.perf_counter()
        call()
        timing["took"] = time.perf_counter() - start
        done.set()

    thread = threading.Thread(target=work)
    last = time.perf_counter()
    gap = 0.0
    thread.start()
    while not done.is_set():
        now = time.perf_counter()
        gap = max(gap, now - last)
        last = now
    thread.join()
    return gap, timing["took"]


def test_extraction_releases_the_interpreter_lock():
    data = long_document(600)
    old = sys.getswitchinterval()
    sys.setswitchinterval(0.001)
    try:
        # The module that keeps the lock stops this thread for about its
        # whole call; the package's functions let it run. Timing on a shared
        # machine is noisy (this thread may wait for a core either way), so
        # the pauses are compared with a wide margin and a few tries.
        held, took = longest_pause(lambda: _vellox.parse_to_markdown(data))
        assert took > 0.02, "document too small to time"
        assert held > 0.5 * took
        pauses = []
        for _ in range(5):
            pause, took = longest_pause(lambda: vellox.parse_to_markdown(data))
            pauses.append(round(pause, 4))
            if pause < 0.25 * held:
                break
        else:
            pytest.fail(f"the lock was held: pauses {pauses} against {held:.4f} s held")
    finally:
        sys.setswitchinterval(old)


def test_threads_give_the_results_of_sequential_calls():
    docs = [pdfgen.document([pdfgen.text_ops([(72, 720, b"doc %d page %d" % (d, p))])
                             for p in range(d + 1)]) for d in range(12)]
    expected = [vellox.parse_to_json(d, pages=slice(None, None, -1)) for d in docs]
    with ThreadPoolExecutor(max_workers=4) as pool:
        for _ in range(3):
            got = list(pool.map(lambda d: vellox.parse_to_json(d, pages=slice(None, None, -1)),
                                docs))
            assert got == expected


def rss_kib() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_native_calls_do_not_leak():
    data = bytearray(FIVE)
    calls = [
        lambda: _native.extract(bytes(data), format="dict", pages=[0, range(1, 3)]),
        lambda: _native.extract(memoryview(FIVE), "pw", format="json", pages=slice(1, None)),
        lambda: _native.extract(data, format="text"),
        lambda: _native.info(FIVE),
    ]
    failing = [
        lambda: _native.extract(FIVE, pages=[0, 99]),
        lambda: _native.extract(FIVE, pages=[0, "x"]),
        lambda: _native.extract(b"%PDF-1.4 nothing"),
        lambda: _native.extract(FIVE, format="docx"),
        lambda: _native.info(3),
    ]

    def round_trip():
        for call in calls:
            call()
        for call in failing:
            try:
                call()
            except (TypeError, ValueError, IndexError):
                pass

    for _ in range(50):
        round_trip()
    gc.collect()
    refs = sys.getrefcount(FIVE)
    rss_before = rss_kib()
    objects_before = len(gc.get_objects())
    for _ in range(2000):
        round_trip()
    gc.collect()
    assert sys.getrefcount(FIVE) == refs
    assert len(gc.get_objects()) - objects_before < 100
    if "asan" not in os.environ.get("LD_PRELOAD", ""):  # ASan quarantines freed memory
        assert rss_kib() - rss_before < 8 * 1024
