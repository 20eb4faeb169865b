"""parse_many: many files on worker processes, results in input order."""

from __future__ import annotations

import multiprocessing
import os

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
        else:
            assert result == f"file {i}"


@pytest.mark.parametrize("jobs", [1, 2, 3])
def test_results_in_input_order_with_failures_as_values(tmp_path, jobs):
    paths = make_files(tmp_path, 20)
    check(paths, list(vellox.parse_many(paths, jobs=jobs)))


@pytest.mark.parametrize("form", ["text", "dict"])
def test_other_forms(tmp_path, form):
    paths = [str(p) for p in make_files(tmp_path, 6)]  # str paths come back as given
    check(paths, list(vellox.parse_many(paths, format=form, jobs=2)), form)


def test_missing_file_is_an_os_error_value(tmp_path):
    paths = make_files(tmp_path, 2) + [tmp_path / "gone.pdf"]
    results = list(vellox.parse_many(paths, jobs=2))
    assert isinstance(results[2][1], FileNotFoundError)
    assert results[0][1] == "file 0"


def test_is_lazy_and_accepts_any_iterable(tmp_path):
    paths = make_files(tmp_path, 4)
    gen = vellox.parse_many(iter(paths), jobs=2)
    assert next(gen) == (paths[0], "file 0")
    gen.close()


def test_argument_checks(tmp_path):
    with pytest.raises(ValueError, match="unknown format"):
        list(vellox.parse_many([], format="docx"))
    with pytest.raises(ValueError, match="jobs"):
        list(vellox.parse_many([], jobs=0))
    assert list(vellox.parse_many([], jobs=4)) == []


def crash_on_f01(path, format, password):
    if path.endswith("f01.pdf"):
        os._exit(3)
    return batch.__dict__["_real_convert_file"](path, format, password)


@pytest.mark.skipif(multiprocessing.get_start_method() != "fork",
                    reason="patching the worker needs forked workers")
def test_a_worker_crash_costs_only_its_own_file(tmp_path, monkeypatch):
    paths = make_files(tmp_path, 9)
    monkeypatch.setitem(batch.__dict__, "_real_convert_file", batch._convert_file)
    monkeypatch.setattr(batch, "_convert_file", crash_on_f01)
    results = list(vellox.parse_many(paths, jobs=2))
    assert [p for p, _ in results] == paths
    assert isinstance(results[1][1], batch.WorkerDied)
    check(paths[:1], results[:1])
    good = [(p, r) for i, (p, r) in enumerate(results) if i != 1]
    for (path, result) in good:
        i = int(path.stem[1:])
        if i % 3 == 2:
            assert isinstance(result, ValueError)
        else:
            assert result == f"file {i}"
