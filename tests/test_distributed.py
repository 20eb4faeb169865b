"""The README's recipe for running vellox on a Dask cluster, run as written.

The recipe's code block is taken from README.md and executed, so the README
cannot drift from what works. Dask's local process scheduler stands in for a
cluster: the functions, the PDF bytes and the results all cross process
boundaries exactly as they would between machines.
"""

from __future__ import annotations

import re
from pathlib import Path

import pytest

import pdfgen
import vellox

pytest.importorskip("dask.bag", reason="dask is not installed (pip install 'dask[bag]')")

README = Path(__file__).parents[1] / "README.md"
CORPUS = Path(__file__).parents[1] / ".." / "shared" / "corpus" / "sample-files"
RECIPE_HEADING = "## Scaling beyond one machine"


def recipe() -> dict:
    """The names defined by the first Python block under the recipe heading."""
    text = README.read_text(encoding="utf-8")
    start = text.find(RECIPE_HEADING)
    assert start >= 0, f"README has no section {RECIPE_HEADING!r}"
    block = re.search(r"```python\n(.*?)```", text[start:], re.S)
    assert block, "the recipe section has no python code block"
    # A module name that workers cannot import, so cloudpickle ships the
    # functions by value, as it does for code defined in a notebook.
    namespace = {"__name__": "readme_recipe"}
    exec(compile(block.group(1), str(README), "exec"), namespace)
    return namespace


def expected(path: Path, password: str | None = None) -> dict:
    """What the recipe must produce for one file, computed here in-process."""
    data = path.read_bytes()
    try:
        doc = vellox.parse(data, password)
    except ValueError as exc:
        return {"file": str(path), "error": str(exc), "pages": 0, "text": ""}
    text = "\f".join("\n".join(line["text"] for line in page["lines"])
                     for page in doc["pages"])
    return {"file": str(path), "error": None, "pages": len(doc["pages"]), "text": text}


@pytest.mark.parametrize("scheduler", ["processes", "threads"])
def test_recipe_on_the_local_schedulers(tmp_path, scheduler):
    files = []
    for i in range(7):
        path = tmp_path / f"doc{i}.pdf"
        if i == 3:
            path.write_bytes(b"%PDF-1.4\nno cross-reference data here\n")
        else:
            pages = [pdfgen.text_ops([(72, 720, b"document %d page %d" % (i, p))])
                     for p in range(1 + i % 3)]
            path.write_bytes(pdfgen.document(pages))
        files.append(str(path))

    records = recipe()["extract_all"](files, partitions=3, scheduler=scheduler)

    assert [r["file"] for r in records] == files  # every file once, in input order
    broken = records[3]
    assert broken["error"] == "InvalidXref: no startxref"
    assert broken["pages"] == 0 and broken["text"] == ""
    for i, record in enumerate(records):
        if i == 3:
            continue
        assert record["error"] is None
        assert record["pages"] == 1 + i % 3
        assert record["text"] == "\f".join(f"document {i} page {p}"
                                           for p in range(1 + i % 3))


def test_recipe_passes_the_password_to_every_file():
    path = CORPUS / "libreoffice-writer-password.pdf"
    if not path.is_file():
        pytest.skip(f"corpus not found at {CORPUS}")
    extract_all = recipe()["extract_all"]
    [locked] = extract_all([str(path)], scheduler="synchronous")
    [opened] = extract_all([str(path)], password="openpassword", scheduler="synchronous")
    # Without the password the file is refused; with it, the result is
    # exactly what an in-process call gives.
    assert locked["error"] == "InvalidPassword: a password is required"
    assert opened == expected(path, "openpassword")
    assert opened["text"].strip()


def test_recipe_matches_in_process_results_on_the_corpus():
    files = sorted(CORPUS.glob("*.pdf")) if CORPUS.is_dir() else []
    if not files:
        pytest.skip(f"corpus not found at {CORPUS}")
    records = recipe()["extract_all"]([str(p) for p in files], partitions=4,
                                      scheduler="processes")
    assert records == [expected(p) for p in files]
    # The corpus has readable files and one that needs a password; both kinds
    # must have come back.
    assert any(r["error"] is None and r["text"] for r in records)
    assert any(r["error"] for r in records)
