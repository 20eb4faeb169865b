"""The `vellox` command, run as a user would: in a child process."""

from __future__ import annotations

import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import pdfgen

PAGE_ONE = pdfgen.text_ops([(72, 720, b"First page"), (72, 700, b"more text")])
PAGE_TWO = pdfgen.text_ops([(72, 720, b"Second page")])
TWO_PAGES = pdfgen.document([PAGE_ONE, PAGE_TWO])
BROKEN = b"%PDF-1.4\nthis file has no cross-reference data\n"


def vellox(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "vellox", *map(str, args)], cwd=cwd,
                          capture_output=True, text=True, encoding="utf-8", timeout=120)


@pytest.fixture
def tree(tmp_path):
    """in/a.pdf, in/sub/b.pdf, in/sub/deeper/bad.pdf, in/notes.txt"""
    root = tmp_path / "in"
    (root / "sub" / "deeper").mkdir(parents=True)
    (root / "a.pdf").write_bytes(TWO_PAGES)
    (root / "sub" / "b.pdf").write_bytes(pdfgen.HELLO)
    (root / "sub" / "deeper" / "bad.pdf").write_bytes(BROKEN)
    (root / "notes.txt").write_text("not a pdf")
    return root


def no_traceback(result):
    assert "Traceback" not in result.stderr, result.stderr


@pytest.mark.parametrize("fmt, check", [
    ("markdown", lambda out: out == "First page\nmore text\n\n---\n\nSecond page\n"),
    ("text", lambda out: out == "First page\nmore text\fSecond page\n"),
    ("json", lambda out: [ln["text"] for p in json.loads(out)["pages"] for ln in p["lines"]]
     == ["First page", "more text", "Second page"]),
    ("html", lambda out: out.startswith("<!DOCTYPE html>") and "<p>Second page</p>" in out),
])
def test_single_file_goes_to_stdout(tmp_path, fmt, check):
    pdf = tmp_path / "two.pdf"
    pdf.write_bytes(TWO_PAGES)
    result = vellox(pdf, "-f", fmt)
    assert result.returncode == 0, result.stderr
    assert check(result.stdout), result.stdout
    assert result.stderr == ""


def test_single_file_to_named_output(tmp_path):
    pdf = tmp_path / "two.pdf"
    pdf.write_bytes(TWO_PAGES)
    result = vellox(pdf, "-o", tmp_path / "two.txt", "-f", "text")
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "two.txt").read_text() == "First page\nmore text\fSecond page"
    assert result.stdout == ""


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_directory_to_output_keeps_layout_and_reports_failures(tree, tmp_path, jobs):
    out = tmp_path / "out"
    result = vellox(tree, "-o", out, "--jobs", jobs)
    no_traceback(result)
    assert result.returncode == 1
    written = sorted(p.relative_to(out).as_posix() for p in out.rglob("*") if p.is_file())
    assert written == ["a.md", "sub/b.md"]  # no temp files left, nothing for bad.pdf
    assert (out / "a.md").read_text() == "First page\nmore text\n\n---\n\nSecond page"
    assert (out / "sub" / "b.md").read_text() == "Hello vellox\nsecond line"
    failures = [ln for ln in result.stderr.splitlines() if "bad.pdf" in ln]
    assert len(failures) == 1
    assert str(Path("sub", "deeper", "bad.pdf")) in failures[0]
    assert failures[0].endswith(": InvalidXref: no startxref"), failures[0]


def test_all_good_batch_exits_zero_and_overwrites(tree, tmp_path):
    (tree / "sub" / "deeper" / "bad.pdf").unlink()
    out = tmp_path / "out"
    (out / "sub").mkdir(parents=True)
    (out / "sub" / "b.html").write_text("stale")
    result = vellox(tree / "a.pdf", tree / "sub", "-o", out, "-f", "html", "--quiet")
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    assert "<p>First page</p>" in (out / "a.html").read_text()
    assert "<p>Hello vellox</p>" in (out / "b.html").read_text()
    assert (out / "sub" / "b.html").read_text() == "stale"  # b.pdf was given via sub/


@pytest.mark.skipif(shutil.which("qpdf") is None, reason="qpdf not installed")
def test_password(tmp_path):
    plain, secret = tmp_path / "plain.pdf", tmp_path / "secret.pdf"
    plain.write_bytes(pdfgen.HELLO)
    subprocess.run(["qpdf", "--encrypt", "letmein", "owner", "256", "--", str(plain),
                    str(secret)], check=True)
    good = vellox(secret, "--password", "letmein")
    assert good.returncode == 0, good.stderr
    assert good.stdout == "Hello vellox\nsecond line\n"
    wrong = vellox(secret, "--password", "nope")
    no_traceback(wrong)
    assert wrong.returncode == 1
    assert wrong.stdout == ""
    assert wrong.stderr == f"vellox: {secret}: InvalidPassword: wrong password\n"
    missing = vellox(secret)
    assert missing.returncode == 1
    assert missing.stderr == f"vellox: {secret}: InvalidPassword: a password is required\n"


@pytest.mark.parametrize("make, needle", [
    (lambda d: [d / "missing.pdf"], "no such file or directory"),
    (lambda d: [d / "empty"], "no PDF files"),
    (lambda d: [d / "a.pdf", d / "b.pdf"], "-o OUT"),
])
def test_usage_problems_give_one_line(tmp_path, make, needle):
    (tmp_path / "empty").mkdir()
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    (tmp_path / "b.pdf").write_bytes(pdfgen.HELLO)
    result = vellox(*make(tmp_path))
    no_traceback(result)
    assert result.returncode != 0
    assert needle in result.stderr
    assert len(result.stderr.strip().splitlines()) == 1


def test_broken_single_file(tmp_path):
    (tmp_path / "bad.pdf").write_bytes(BROKEN)
    result = vellox(tmp_path / "bad.pdf")
    no_traceback(result)
    assert result.returncode == 1
    assert result.stdout == ""
    assert result.stderr == f"vellox: {tmp_path / 'bad.pdf'}: InvalidXref: no startxref\n"


def test_console_script_is_installed(tmp_path):
    script = Path(sys.executable).parent / "vellox"
    if not script.exists():
        pytest.skip("console script not next to the interpreter")
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    result = subprocess.run([str(script), str(tmp_path / "a.pdf")], capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "Hello vellox\nsecond line\n"
