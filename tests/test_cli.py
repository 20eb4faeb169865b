"""The `vellox` command, run as a user would: in a child process."""

from __future__ import annotations

import json
import re
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
    ("markdown", lambda out: out == "<!-- page 1 -->\n\nFirst page\n\nmore text\n\n---\n\n"
                                    "<!-- page 2 -->\n\nSecond page\n"),
    ("text", lambda out: out == "First page\n\nmore text\fSecond page\n"),
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
    assert (tmp_path / "two.txt").read_text() == "First page\n\nmore text\fSecond page"
    assert result.stdout == ""


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_directory_to_output_keeps_layout_and_reports_failures(tree, tmp_path, jobs):
    out = tmp_path / "out"
    result = vellox(tree, "-o", out, "--jobs", jobs)
    no_traceback(result)
    assert result.returncode == 1
    written = sorted(p.relative_to(out).as_posix() for p in out.rglob("*") if p.is_file())
    assert written == ["a.md", "sub/b.md"]  # no temp files left, nothing for bad.pdf
    assert (out / "a.md").read_text() == \
        "<!-- page 1 -->\n\nFirst page\n\nmore text\n\n---\n\n<!-- page 2 -->\n\nSecond page"
    assert (out / "sub" / "b.md").read_text() == "<!-- page 1 -->\n\nHello vellox\n\nsecond line"
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
    assert good.stdout == "<!-- page 1 -->\n\nHello vellox\n\nsecond line\n"
    wrong = vellox(secret, "--password", "nope")
    no_traceback(wrong)
    assert wrong.returncode == 1
    assert wrong.stdout == ""
    assert wrong.stderr == f"vellox: {secret}: InvalidPassword: wrong password\n"
    missing = vellox(secret)
    assert missing.returncode == 1
    assert missing.stderr == f"vellox: {secret}: InvalidPassword: a password is required\n"


@pytest.mark.parametrize("args, code, message", [
    (["missing.pdf"], 1, "vellox: missing.pdf: cannot read: No such file or directory"),
    (["empty", "-o", "out", "-q"], 1, "vellox: empty: no PDF files in this directory"),
    (["a.pdf", "b.pdf"], 2, "vellox: several inputs need an output directory (-o OUT), "
                            "or -f json for JSON Lines on standard output"),
    (["a.pdf", "b.pdf", "-o", "a.pdf"], 2, "vellox: output a.pdf exists and is not a directory"),
    (["a.pdf", "--pages", "0"], 2, "vellox: --pages: pages are numbered from 1"),
    (["a.pdf", "--pages", "3-2"], 2, "vellox: --pages: 3-2: the range ends before it starts"),
    (["a.pdf", "--pages", "1,x"], 2, "vellox: --pages: 'x' is not a page, a range like 2-5 "
                                     "or 7-, or a page from the end like -1"),
    (["a.pdf", "--pages", "2"], 1, "vellox: a.pdf: --pages 2: the document has 1 page"),
    (["a.pdf", "--jobs", "0"], 2, "vellox: --jobs must be at least 1"),
    (["--info", "a.pdf", "--pages", "1"], 2,
     "vellox: info writes JSON lines to standard output; --pages and -o do not apply"),
], ids=["missing", "empty-dir", "many-to-stdout", "output-is-file", "page-0", "backwards",
        "not-a-page", "past-the-end", "jobs", "info-pages"])
def test_problems_give_one_line_and_the_right_status(tmp_path, args, code, message):
    (tmp_path / "empty").mkdir()
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    (tmp_path / "b.pdf").write_bytes(pdfgen.HELLO)
    result = vellox(*args, cwd=tmp_path)
    no_traceback(result)
    assert result.returncode == code
    assert result.stderr == message + "\n"
    assert result.stdout == ""


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
    assert result.stdout == "<!-- page 1 -->\n\nHello vellox\n\nsecond line\n"


# ------------------------------------------------------------ pages

@pytest.mark.parametrize("listed, pages", [
    ("1", [1]), ("2-3", [2, 3]), ("-1", [5]), ("4-", [4, 5]), ("5,1,5", [5, 1, 5]),
    ("1-2, -2", [1, 2, 4]), ("3-3", [3]),
])
def test_pages_are_numbered_from_one(tmp_path, listed, pages):
    pdf = tmp_path / "five.pdf"
    pdf.write_bytes(pdfgen.document([pdfgen.text_ops([(72, 720, b"p%d" % i)])
                                     for i in range(1, 6)]))
    result = vellox(pdf, "--pages", listed, "-f", "json")
    assert result.returncode == 0, result.stderr
    doc = json.loads(result.stdout)
    assert [p["page"] for p in doc["pages"]] == pages
    assert [p["lines"][0]["text"] for p in doc["pages"]] == [f"p{n}" for n in pages]


LEFT = [f"left column, line {n} of three" for n in ("one", "two", "three")]
RIGHT = [f"right column, line {n} of three" for n in ("one", "two", "three")]


@pytest.mark.parametrize("order, lines", [
    (None, LEFT + RIGHT),
    ("reading", LEFT + RIGHT),
    ("position", [f"{a} {b}" for a, b in zip(LEFT, RIGHT)]),
])
def test_order_of_the_lines(tmp_path, order, lines):
    pdf = tmp_path / "columns.pdf"
    pdf.write_bytes(pdfgen.document([pdfgen.text_ops(
        [(x, 700 - 14 * i, text.encode()) for x, side in ((72, LEFT), (320, RIGHT))
         for i, text in enumerate(side)])]))
    result = vellox(pdf, "-f", "json", *(["--order", order] if order else []))
    assert result.returncode == 0, result.stderr
    assert [line["text"] for line in json.loads(result.stdout)["pages"][0]["lines"]] == lines
    bad = vellox(pdf, "--order", "columns")
    assert bad.returncode == 2 and "invalid choice: 'columns'" in bad.stderr


# ------------------------------------------------------------ standard streams

def test_dash_is_standard_input_and_output(tmp_path):
    result = subprocess.run([sys.executable, "-m", "vellox", "-", "-o", "-", "-f", "text"],
                            input=TWO_PAGES, capture_output=True, timeout=120, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout == b"First page\n\nmore text\fSecond page\n"
    assert list(tmp_path.iterdir()) == []  # no file called "-"


def test_standard_input_in_a_batch_is_read_once(tmp_path):
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    result = subprocess.run([sys.executable, "-m", "vellox", "-", "a.pdf", "-", "-o", "out",
                             "-q"], input=TWO_PAGES, capture_output=True, timeout=120,
                            cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["a.md", "stdin.md"]
    assert "Second page" in (tmp_path / "out" / "stdin.md").read_text()


# ------------------------------------------------------------ outputs

def test_outputs_follow_the_umask(tmp_path):
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    (tmp_path / "b.pdf").write_bytes(pdfgen.HELLO)
    for umask, mode in [(0o022, 0o644), (0o077, 0o600), (0o002, 0o664)]:
        code = (f"import os, sys; os.umask({umask}); from vellox.cli import main; "
                f"sys.exit(main(sys.argv[1:]))")
        out = tmp_path / f"out{umask:o}"
        for args in (["a.pdf", "-o", str(out / "single.md")], ["a.pdf", "b.pdf", "-o", str(out)]):
            result = subprocess.run([sys.executable, "-c", code, *args, "-q"], cwd=tmp_path,
                                    capture_output=True, text=True, timeout=120)
            assert result.returncode == 0, result.stderr
        for name in ("single.md", "a.md", "b.md"):
            assert (out / name).stat().st_mode & 0o777 == mode, (umask, name)


@pytest.mark.parametrize("output, written", [
    ("newdir/", "newdir/a.md"),   # a trailing slash makes a directory
    ("existing", "existing/a.md"),  # an existing directory is one
    ("deep/er/file.txt", "deep/er/file.txt"),  # anything else is the file
])
def test_single_input_output_path(tmp_path, output, written):
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    (tmp_path / "existing").mkdir()
    result = vellox("a.pdf", "-o", output, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    files = sorted(p.relative_to(tmp_path).as_posix() for p in tmp_path.rglob("*")
                   if p.is_file() and p.name != "a.pdf")
    assert files == [written]
    assert "Hello vellox" in (tmp_path / written).read_text()


@pytest.mark.parametrize("args, message", [
    (["a.pdf", "-o", "a.pdf/x"], "vellox: cannot write a.pdf/x: a.pdf is not a directory"),
    (["a.pdf", "-o", "a.pdf/x/"],
     "vellox: cannot create output directory a.pdf/x: a.pdf is not a directory"),
    (["a.pdf", "b.pdf", "-o", "a.pdf/out"],
     "vellox: cannot create output directory a.pdf/out: a.pdf is not a directory"),
])
def test_an_unusable_output_is_one_line(tmp_path, args, message):
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    (tmp_path / "b.pdf").write_bytes(pdfgen.HELLO)
    result = vellox(*args, cwd=tmp_path)
    no_traceback(result)
    assert result.returncode == 1
    assert result.stderr == message + "\n"


# ------------------------------------------------------------ batches

def test_missing_input_fails_alone_and_duplicates_convert_once(tmp_path):
    (tmp_path / "a.pdf").write_bytes(TWO_PAGES)
    (tmp_path / "b.pdf").write_bytes(pdfgen.HELLO)
    result = vellox("a.pdf", "missing.pdf", "b.pdf", "./a.pdf", "a.pdf", "-o", "out", "-v",
                    cwd=tmp_path)
    no_traceback(result)
    assert result.returncode == 1
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["a.md", "b.md"]
    lines = result.stderr.splitlines()
    assert lines[1] == "vellox: missing.pdf: cannot read: No such file or directory"
    assert re.fullmatch(r"vellox: a\.pdf -> out/a\.md \(\d+\.\d{3} s\)", lines[0]), lines
    assert re.fullmatch(r"vellox: b\.pdf -> out/b\.md \(\d+\.\d{3} s\)", lines[2]), lines
    assert lines[3].startswith("vellox: 2 of 3 files converted into out in ")
    assert len(lines) == 4


@pytest.mark.parametrize("extra", [[], ["--jobs", "1"], ["--processes", "-j", "2"]],
                         ids=["threads", "one-job", "processes"])
def test_json_lines_for_many_inputs_on_stdout(tree, tmp_path, extra):
    result = vellox(tree, tree / "a.pdf", "-f", "json", "-v", *extra)
    no_traceback(result)
    assert result.returncode == 1
    records = [json.loads(line) for line in result.stdout.splitlines()]
    # The directory's files in path order; a.pdf given again is converted once.
    assert [Path(r["path"]).name for r in records] == ["a.pdf", "b.pdf", "bad.pdf"]
    assert records[2] == {"path": str(tree / "sub" / "deeper" / "bad.pdf"),
                          "error": "InvalidXref: no startxref"}
    assert list(records[0]) == ["path", "version", "pages"]
    assert [p["page"] for p in records[0]["pages"]] == [1, 2]
    assert records[1]["pages"][0]["lines"][0]["text"] == "Hello vellox"
    err = result.stderr.splitlines()
    assert err[2] == f"vellox: {tree / 'sub' / 'deeper' / 'bad.pdf'}: InvalidXref: no startxref"
    assert all(re.fullmatch(r"vellox: .*\.pdf: ok \(\d+\.\d{3} s\)", e) for e in err[:2])
    assert len(err) == 3


def test_verbose_single_file_reports_its_time(tmp_path):
    (tmp_path / "a.pdf").write_bytes(pdfgen.HELLO)
    result = vellox("a.pdf", "-v", "-f", "text", cwd=tmp_path)
    assert result.returncode == 0
    assert re.fullmatch(r"vellox: a\.pdf: ok \(\d+\.\d{3} s\)\n", result.stderr)


# ------------------------------------------------------------ info

def test_info_prints_a_json_line_per_file(tmp_path):
    (tmp_path / "a.pdf").write_bytes(TWO_PAGES)
    (tmp_path / "bad.pdf").write_bytes(BROKEN)
    result = vellox("info", "a.pdf", "bad.pdf", cwd=tmp_path)
    no_traceback(result)
    assert result.returncode == 1
    first, second = [json.loads(line) for line in result.stdout.splitlines()]
    assert first["path"] == "a.pdf" and first["page_count"] == 2
    assert first["pages"][1] == {"page": 2, "width": 612.0, "height": 792.0, "rotation": 0}
    assert second == {"path": "bad.pdf", "error": "InvalidXref: no startxref"}
    assert result.stderr == "vellox: bad.pdf: InvalidXref: no startxref\n"


def test_a_file_called_info_is_still_converted(tmp_path):
    (tmp_path / "info").write_bytes(pdfgen.HELLO)
    result = vellox("info", "-f", "text", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "Hello vellox\n\nsecond line\n"
    flag = vellox("--info", "info", cwd=tmp_path)
    assert flag.returncode == 0, flag.stderr
    assert json.loads(flag.stdout)["page_count"] == 1
