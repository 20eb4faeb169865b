"""End to end on the shared corpus of real PDFs from many producers."""

from __future__ import annotations

import json
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from vellox import _vellox

CORPUS = Path(__file__).parents[1] / ".." / "shared" / "corpus" / "sample-files"
PASSWORDS = {"libreoffice-writer-password.pdf": "openpassword"}
# Its cross-reference data points at zeroed bytes, page tree root included:
# the table is rebuilt from the body and its three surviving page objects are
# its pages, while pdfinfo counts the four of its linearization dictionary.
PAGES_PDFINFO_CANNOT_SEE = {"unreadablemetadata.pdf": 3}

FILES = sorted(CORPUS.glob("*.pdf")) if CORPUS.is_dir() else []

pytestmark = pytest.mark.skipif(not FILES, reason=f"corpus not found at {CORPUS}")

_cache: dict[Path, dict] = {}


def parsed(path: Path) -> dict:
    if path not in _cache:
        _cache[path] = _vellox.parse(path.read_bytes(), PASSWORDS.get(path.name))
    return _cache[path]


def names(paths):
    return [p.name for p in paths]


@pytest.mark.parametrize("path", FILES, ids=names(FILES))
def test_every_form_succeeds_and_agrees(path):
    data = path.read_bytes()
    password = PASSWORDS.get(path.name)
    doc = parsed(path)
    n = len(doc["pages"])
    assert n >= 1
    # The dict and the JSON text are the same tree (non-finite floats are
    # None in one and null in the other, which json.loads maps to None).
    assert json.loads(_vellox.parse_to_json(data, password)) == doc
    html = _vellox.parse_to_html(data, password)
    assert html.startswith("<!DOCTYPE html>\n") and html.endswith("</body>\n</html>\n")
    # Text is escaped, so every section tag is a page.
    assert html.count('<section class="page" id="page-') == n
    md = _vellox.parse_to_markdown(data, password)
    assert md.count("\n\n---\n\n") >= n - 1
    # The reading forms' text is checked through real renderers in
    # test_forms.py.


@pytest.mark.parametrize("path", FILES, ids=names(FILES))
def test_needs_ocr_exactly_for_pages_with_images_and_no_lines(path):
    for page in parsed(path)["pages"]:
        assert page["needs_ocr"] == (not page["lines"] and bool(page["images"]))
        for image in page["images"]:
            assert image["format"] in {"Jpeg", "Jpeg2000", "Ccitt", "Jbig2", "Raw"}


@pytest.mark.skipif(shutil.which("pdfinfo") is None, reason="poppler-utils not installed")
@pytest.mark.parametrize("path", FILES, ids=names(FILES))
def test_page_count_matches_pdfinfo(path):
    command = ["pdfinfo"]
    if path.name in PASSWORDS:
        command += ["-upw", PASSWORDS[path.name]]
    out = subprocess.run(command + [str(path)], capture_output=True, text=True,
                         timeout=60).stdout
    match = re.search(r"^Pages:\s+(\d+)", out, re.M)
    assert match, out
    expected = PAGES_PDFINFO_CANNOT_SEE.get(path.name, int(match.group(1)))
    assert len(parsed(path)["pages"]) == expected


def test_encrypted_file_needs_its_password():
    path = CORPUS / "libreoffice-writer-password.pdf"
    if not path.exists():
        pytest.skip("encrypted sample missing")
    data = path.read_bytes()
    good = _vellox.parse_to_markdown(data, "openpassword")
    assert good.strip()
    # Every form refuses it the same way without its password.
    for password, text in [(None, "InvalidPassword: a password is required"),
                           ("wrong", "InvalidPassword: wrong password")]:
        for func in (_vellox.parse, _vellox.parse_to_json, _vellox.parse_to_html,
                     _vellox.parse_to_markdown):
            with pytest.raises(ValueError) as info:
                func(data, password)
            assert str(info.value) == text


@pytest.mark.parametrize("path", FILES, ids=names(FILES))
def test_package_functions_agree_with_the_module_that_keeps_the_lock(path):
    import vellox

    data = path.read_bytes()
    password = PASSWORDS.get(path.name)
    assert vellox.parse(path, password) == parsed(path)
    for name in ("parse_to_json", "parse_to_markdown", "parse_to_html"):
        assert getattr(vellox, name)(data, password) == getattr(_vellox, name)(data, password)


@pytest.mark.parametrize("path", FILES, ids=names(FILES))
def test_each_page_alone_is_that_page_of_the_whole(path):
    import vellox

    pages = parsed(path)["pages"]
    data = path.read_bytes()
    password = PASSWORDS.get(path.name)
    # Every page alone for short files; first, middle and last of long ones.
    chosen = range(len(pages)) if len(pages) <= 8 else [0, len(pages) // 2, len(pages) - 1]
    for i in chosen:
        assert vellox.parse(data, password, pages=i)["pages"] == [pages[i]]
    assert vellox.parse(data, password, pages=slice(None, None, -1))["pages"] == pages[::-1]
