"""vellox.info: metadata, encryption, page sizes and the outline, read
without extraction; on hand-made files, qpdf's encrypted copies and the
shared corpus (against pdfinfo)."""

from __future__ import annotations

import re
import shutil
import subprocess
from pathlib import Path

import pytest

import pdfgen
import vellox

CORPUS = Path(__file__).parents[1] / ".." / "shared" / "corpus" / "sample-files"
PASSWORDS = {"libreoffice-writer-password.pdf": "openpassword"}
BROKEN = {"unreadablemetadata.pdf"}

XMP = (b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF><rdf:Description>'
       b'<dc:title><rdf:Alt><rdf:li xml:lang="x-default">Annual &amp; report</rdf:li></rdf:Alt>'
       b'</dc:title><dc:creator><rdf:Seq><rdf:li>Ada</rdf:li><rdf:li>Grace</rdf:li></rdf:Seq>'
       b'</dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>')


def outlined(info_dict: bytes = b"", xmp: bool = False) -> bytes:
    """Three pages (the last rotated, A4), an outline of four items reaching
    them by explicit, action and named destinations, optional Info and XMP."""
    catalog = b"<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R /Names << /Dests 11 0 R >>"
    if xmp:
        catalog += b" /Metadata 12 0 R"
    objects = [
        catalog + b" >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /MediaBox [0 0 612 792] >>",
        b"<< /Type /Page /Parent 2 0 R >>",
        b"<< /Type /Page /Parent 2 0 R >>",
        b"<< /Type /Page /Parent 2 0 R /Rotate 270 /MediaBox [0 0 595.5 842] >>",
        b"<< /Type /Outlines /First 7 0 R /Last 8 0 R >>",
        b"<< /Title (Chapter \\2001) /Dest [3 0 R /Fit] /Next 8 0 R /First 9 0 R >>",
        b"<< /Title <FEFF00C4006E00680061006E006700200032> /A << /S /GoTo /D (end) >> >>",
        b"<< /Title (Section) /Dest [4 0 R /XYZ 0 0 0] /Next 10 0 R >>",
        b"<< /Title (Gone) /Dest (nowhere) >>",
        b"<< /Names [(end) [5 0 R /Fit]] >>",
        pdfgen.stream(XMP, b"/Type /Metadata /Subtype /XML "),
        b"<< " + info_dict + b" >>",
    ]
    return pdfgen.build(objects, trailer=b"/Info 13 0 R ")


def test_everything_info_says_of_a_hand_made_file():
    data = outlined(b"/Title (Report \\205 2023) /Author <FEFF004A006F00EB> /Subject (S) "
                    b"/Keywords (a, b) /Creator (pdfgen) /Producer (vellox tests) "
                    b"/CreationDate (D:20230115103000+05'30') /ModDate (D:20240229)")
    info = vellox.info(data)
    assert info == {
        "version": "1.4",
        "page_count": 3,
        "encryption": None,
        "title": "Report \u2013 2023",  # PDFDocEncoding 0x85 is the en dash
        "author": "Jo\u00eb",
        "subject": "S",
        "keywords": "a, b",
        "creator": "pdfgen",
        "producer": "vellox tests",
        "created": "2023-01-15T10:30:00+05:30",
        "modified": "2024-02-29",
        "pages": [
            {"page": 1, "width": 612.0, "height": 792.0, "rotation": 0},
            {"page": 2, "width": 612.0, "height": 792.0, "rotation": 0},
            {"page": 3, "width": 595.5, "height": 842.0, "rotation": 270},
        ],
        "outline": [
            {"level": 1, "title": "Chapter \u20221", "page": 1},
            {"level": 2, "title": "Section", "page": 2},
            {"level": 2, "title": "Gone", "page": None},
            {"level": 1, "title": "\u00c4nhang 2", "page": 3},
        ],
    }


def test_xmp_fills_in_what_the_dictionary_lacks():
    info = vellox.info(outlined(b"/Author (Dict author) /Title ()", xmp=True))
    assert info["title"] == "Annual & report"
    assert info["author"] == "Dict author"
    assert vellox.info(outlined(xmp=True))["author"] == "Ada, Grace"
    assert vellox.info(outlined())["title"] is None


def test_info_reads_no_page_content():
    # Content that does not decode fails parse, not info.
    data = pdfgen.build([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>",
        pdfgen.stream(b"BT ET", b"/Filter /Unknown "),
    ])
    with pytest.raises(ValueError, match="^Unsupported: "):
        vellox.parse(data)
    assert vellox.info(data)["page_count"] == 1


@pytest.mark.parametrize("data, message", [
    (b"", "InvalidHeader: no %PDF- header"),
    (b"%PDF-1.4\nno cross-reference data\n", "InvalidXref: no startxref"),
])
def test_info_fails_as_parse_does(data, message):
    with pytest.raises(ValueError) as info:
        vellox.info(data)
    assert str(info.value) == message


@pytest.mark.skipif(shutil.which("qpdf") is None, reason="qpdf not installed")
@pytest.mark.parametrize("args, method", [
    (["40", "--"], "RC4-40"),
    (["128", "--use-aes=n", "--"], "RC4-128"),
    (["128", "--use-aes=y", "--"], "AES-128"),
    (["256", "--"], "AES-256"),
])
def test_encryption_method_of_qpdf_encrypted_files(tmp_path, args, method):
    plain, secret = tmp_path / "plain.pdf", tmp_path / "secret.pdf"
    plain.write_bytes(outlined(b"/Title (Secret title)"))
    subprocess.run(["qpdf", "--allow-weak-crypto", "--encrypt", "user", "owner", *args,
                    str(plain), str(secret)], check=True)
    data = secret.read_bytes()
    info = vellox.info(data, "user")
    assert info["encryption"] == method
    assert info["title"] == "Secret title"
    assert [item["title"] for item in info["outline"]][:2] == ["Chapter \u20221", "Section"]
    # Without the password nothing is read, as for every other function:
    # the error says that a password is needed.
    with pytest.raises(ValueError, match="^InvalidPassword: a password is required$"):
        vellox.info(data)
    with pytest.raises(ValueError, match="^InvalidPassword: wrong password$"):
        vellox.info(data, "not-it")


# ------------------------------------------------------------ the corpus

FILES = sorted(p for p in CORPUS.glob("*.pdf") if p.name not in BROKEN) if CORPUS.is_dir() else []


def pdfinfo(path: Path, pages: int) -> dict[str, str]:
    command = ["pdfinfo", "-isodates", "-f", "1", "-l", str(pages)]
    if path.name in PASSWORDS:
        command += ["-upw", PASSWORDS[path.name]]
    out = subprocess.run(command + [str(path)], capture_output=True, text=True,
                         timeout=60).stdout
    fields = {}
    for line in out.splitlines():
        key, _, value = line.partition(":")
        fields[key.strip()] = value.strip()
    return fields


@pytest.mark.skipif(not FILES, reason=f"corpus not found at {CORPUS}")
@pytest.mark.skipif(shutil.which("pdfinfo") is None, reason="poppler-utils not installed")
@pytest.mark.parametrize("path", FILES, ids=[p.name for p in FILES])
def test_corpus_agrees_with_pdfinfo(path):
    info = vellox.info(path, PASSWORDS.get(path.name))
    theirs = pdfinfo(path, info["page_count"])
    assert info["page_count"] == int(theirs["Pages"])
    assert (info["encryption"] is not None) == theirs["Encrypted"].startswith("yes")
    for ours, key in [("title", "Title"), ("author", "Author"), ("creator", "Creator"),
                      ("producer", "Producer"), ("subject", "Subject")]:
        # pdfinfo shows the dictionary only; an empty value is no value here.
        if theirs.get(key) and info[ours] is not None:
            assert info[ours].strip() == theirs[key], ours
    for ours, key in [("created", "CreationDate"), ("modified", "ModDate")]:
        if info[ours] and theirs.get(key):
            assert info[ours][:19] == theirs[key][:19], ours
    for page in info["pages"]:
        n = page["page"]
        size = theirs.get(f"Page {n:4d} size") or theirs["Page size"]
        width, height = map(float, re.match(r"([\d.]+) x ([\d.]+)", size).groups())
        assert page["width"] == pytest.approx(width, abs=0.01)
        assert page["height"] == pytest.approx(height, abs=0.01)
        rotation = theirs.get(f"Page {n:4d} rot") or theirs["Page rot"]
        assert page["rotation"] == int(rotation)
    levels = [item["level"] for item in info["outline"]]
    assert all(b <= a + 1 for a, b in zip([0] + levels, levels))
    assert all(item["page"] is None or 1 <= item["page"] <= info["page_count"]
               for item in info["outline"])


@pytest.mark.skipif(not (CORPUS / "pdflatex-outline.pdf").exists(), reason="corpus missing")
def test_outline_of_a_latex_document():
    outline = vellox.info(CORPUS / "pdflatex-outline.pdf")["outline"]
    assert outline, "hyperref writes bookmarks"
    assert outline[0]["level"] == 1
    assert all(item["page"] is not None for item in outline)
    assert [item["page"] for item in outline] == sorted(item["page"] for item in outline)
