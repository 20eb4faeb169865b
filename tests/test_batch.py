"""parse_many: many files on threads or worker processes, results in input order."""

from __future__ import annotations

import io
import os
import pathlib
import threading

import pytest

import pdfgen
import vellox
from vellox import batch


def make_files(tmp_path, count):
    """count files; every third one is broken, each good one names itself."""
    paths = []
    for i in range(count):
        path = tmp_path / f"f{i:02d}.pdf"
        if i % 3 == 2:
            path.write_bytes(b"%%PDF-1.4\nbroken %d\n" % i)
        else:
            path.write_bytes(pdfgen.document([pdfgen.text_ops([(72, 720, b"file %d" % i)])]))
        paths.append(path)
    return paths


def check(paths, results, form="markdown"):
    assert [p for p, _ in results] == paths  # input order, every path once
    for i, (_, result) in enumerate(results):
        if i % 3 == 2:
            assert isinstance(result, ValueError)
            assert str(result) == "InvalidXref: no startxref"
        elif form == "dict":
            assert result["pages"][0]["lines"][0]["text"] == f"file {i}"
        elif form == "text":
            assert result == f"file {i}"
        else:
            assert result == f"<!-- page 1 -->\n\nfile {i}"


@pytest.mark.parametrize("processes", [False, True], ids=["threads", "processes"])
@pytest.mark.parametrize("jobs", [1, 2, 3])
def test_results_in_input_order_with_failures_as_values(tmp_path, jobs, processes):
    paths = make_files(tmp_path, 20)
    check(paths, list(vellox.parse_many(paths, jobs=jobs, processes=processes)))


@pytest.mark.parametrize("form", ["text", "dict"])
def test_other_forms(tmp_path, form):
    paths = [str(p) for p in make_files(tmp_path, 6)]  # str paths come back as given
    check(paths, list(vellox.parse_many(paths, format=form, jobs=2)), form)


def test_missing_file_is_an_os_error_value(tmp_path):
    paths = make_files(tmp_path, 2) + [tmp_path / "gone.pdf"]
    results = list(vellox.parse_many(paths, jobs=2))
    assert isinstance(results[2][1], FileNotFoundError)
    assert results[0][1] == "<!-- page 1 -->\n\nfile 0"


def test_is_lazy_and_accepts_any_iterable(tmp_path):
    paths = make_files(tmp_path, 4)
    gen = vellox.parse_many(iter(paths), jobs=2)
    assert next(gen) == (paths[0], "<!-- page 1 -->\n\nfile 0")
    gen.close()


@pytest.mark.parametrize("processes", [False, True], ids=["threads", "processes"])
def test_an_endless_iterable_is_read_only_a_window_ahead(processes):
    pulled = 0
    data = pdfgen.document([pdfgen.text_ops([(72, 720, b"again")])])

    def endless():
        nonlocal pulled
        while True:
            pulled += 1
            yield data

    gen = vellox.parse_many(endless(), jobs=2, processes=processes)
    assert next(gen) == (data, "<!-- page 1 -->\n\nagain")
    # The first result needs the window filled once, and no more.
    assert 1 < pulled <= 2 * batch.WINDOW_PER_JOB + 1
    gen.close()


def test_argument_checks_happen_at_the_call(tmp_path):
    with pytest.raises(ValueError, match="unknown format 'docx'"):
        vellox.parse_many([], format="docx")
    with pytest.raises(ValueError, match="jobs must be at least 1"):
        vellox.parse_many([], jobs=0)
    assert list(vellox.parse_many([], jobs=4)) == []


@pytest.mark.parametrize("single", ["f.pdf", b"%PDF-1.4", bytearray(b"x"), memoryview(b"x"),
                                    pathlib.Path("f.pdf")],
                         ids=["str", "bytes", "bytearray", "memoryview", "Path"])
def test_a_single_item_instead_of_an_iterable_is_a_type_error(single):
    with pytest.raises(TypeError) as info:
        vellox.parse_many(single)
    assert str(info.value) == (f"parse_many takes an iterable of paths or bytes, not one "
                               f"'{type(single).__name__}'; for a single file pass [item]")


@pytest.mark.parametrize("processes", [False, True], ids=["threads", "processes"])
def test_bytes_paths_and_file_objects_mixed_with_pages(tmp_path, processes):
    paths = make_files(tmp_path, 2)
    three = pdfgen.document([pdfgen.text_ops([(72, 720, b"p%d" % i)]) for i in range(3)])
    with open(paths[1], "rb") as f:
        items = [three, paths[0], io.BytesIO(three), f, bytearray(three)]
        results = list(vellox.parse_many(items, format="text", jobs=2, processes=processes,
                                         pages=[-1, 0]))
    assert [item for item, _ in results] == items
    texts = [r if isinstance(r, str) else type(r).__name__ for _, r in results]
    # A one-page file has no page -1 and 0 that differ: both name its page.
    assert texts == ["p2\fp0", "file 0\ffile 0", "p2\fp0", "file 1\ffile 1", "p2\fp0"]
    short = list(vellox.parse_many([three], pages=5, jobs=2, processes=processes))
    assert isinstance(short[0][1], IndexError)
    assert str(short[0][1]) == "page index 5 is out of range for a document of 3 pages"


# Workers import this module afresh to run the functions below: these
# names are what the worker sees, not what the test has changed here.
HELD = threading.Lock()


def crash_on_f01(item, format, password, pages, *rest):
    if str(item).endswith("f01.pdf"):
        os._exit(3)
    return batch.convert_timed(item, format, password, pages, *rest)


def test_a_worker_crash_costs_only_its_own_file(tmp_path, monkeypatch):
    paths = make_files(tmp_path, 9)
    monkeypatch.setattr(batch, "convert_timed", crash_on_f01)
    results = list(vellox.parse_many(paths, jobs=2, processes=True))
    assert [p for p, _ in results] == paths
    assert isinstance(results[1][1], batch.WorkerDied)
    check(paths[:1], results[:1])
    good = [(p, r) for i, (p, r) in enumerate(results) if i != 1]
    for (path, result) in good:
        i = int(path.stem[1:])
        if i % 3 == 2:
            assert isinstance(result, ValueError)
        else:
            assert result == f"<!-- page 1 -->\n\nfile {i}"


def held_in_worker(*args):
    free = HELD.acquire(blocking=False)
    if free:
        HELD.release()
    return free, 0.0


def test_workers_do_not_inherit_the_callers_locks(monkeypatch):
    # A lock the caller holds while the workers start: a forked worker would
    # start with it held and no thread to release it, which is how a caller
    # with busy threads hangs its workers.
    monkeypatch.setattr(batch, "convert_timed", held_in_worker)
    with HELD:
        results = list(vellox.parse_many([b"a", b"b", b"c"], jobs=2, processes=True))
    assert [free for _, free in results] == [True, True, True]
