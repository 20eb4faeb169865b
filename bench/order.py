#!/usr/bin/env python3
"""Reading-order agreement with pdftotext's text mode, for vellox (in both
orders) and the other libraries that are installed.

    python bench/order.py [--per-file] [DIR_OR_FILE ...]

pdftotext without -layout reads columns and blocks as a person would; it is
the reference. Each tool's text of a whole document is cut into words
(NFKC-normalised, split on white space) and compared with pdftotext's: the
agreement is the length of the longest common subsequence of the two word
sequences over the number of pdftotext's words. Words a tool misses or
adds lower it as well as words out of order, so the two vellox orders
(which extract the same words) differ only by order, while the other tools
also differ in what text they find.

The figure per tool is the sum of the common subsequences over the sum of
pdftotext's words, over the files pdftotext reads with at least one word;
a file a tool fails on counts zero for it. The inputs default to the three
shared corpora; encrypted files are opened with the passwords their
READMEs give (bench/corpus.py).

Tools: vellox (order="reading", order="position"), PyMuPDF
(``page.get_text()``, pip install pymupdf) and pdfminer.six
(``extract_text``, pip install pdfminer.six), each when installed.
"""

from __future__ import annotations

import argparse
import io
import subprocess
import sys
import unicodedata
from pathlib import Path
from typing import Callable, Optional

sys.path.insert(0, str(Path(__file__).resolve().parent))
from corpus import ALL_CORPORA, password_for  # noqa: E402


def words(text: str) -> list[str]:
    return unicodedata.normalize("NFKC", text).split()


def lcs_length(a: list[str], b: list[str]) -> int:
    """Length of the longest common subsequence of two word lists, by the
    bit-parallel method (Allison and Dix; Hyyroe): one big-integer step per
    word of `a`, so that documents of tens of thousands of words compare
    in well under a second."""
    if not a or not b:
        return 0
    match: dict[str, int] = {}
    for i, w in enumerate(b):
        match[w] = match.get(w, 0) | (1 << i)
    mask = (1 << len(b)) - 1
    v = mask
    for w in a:
        u = v & match.get(w, 0)
        v = ((v + u) | (v - u)) & mask
    return len(b) - bin(v).count("1")


def pdftotext(path: Path, password: Optional[str]) -> Optional[str]:
    cmd = ["pdftotext", "-q", "-enc", "UTF-8"]
    if password:
        cmd += ["-upw", password]
    cmd += [str(path), "-"]
    try:
        done = subprocess.run(cmd, capture_output=True, timeout=120, check=False)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if done.returncode != 0:
        return None
    return done.stdout.decode("utf-8", "replace")


def tools() -> dict[str, Callable[[bytes, Optional[str]], str]]:
    found: dict[str, Callable[[bytes, Optional[str]], str]] = {}
    try:
        import vellox

        found["vellox reading"] = lambda d, pw: vellox.convert(d, "text", pw, order="reading")
        found["vellox position"] = lambda d, pw: vellox.convert(d, "text", pw, order="position")
    except ImportError:
        pass
    try:
        import pymupdf

        def mupdf(data: bytes, password: Optional[str]) -> str:
            with pymupdf.open(stream=data, filetype="pdf") as doc:
                if doc.needs_pass:
                    doc.authenticate(password or "")
                return "\n".join(page.get_text() for page in doc)

        found["PyMuPDF"] = mupdf
    except ImportError:
        pass
    try:
        from pdfminer.high_level import extract_text

        found["pdfminer.six"] = lambda d, pw: extract_text(io.BytesIO(d), password=pw or "")
    except ImportError:
        pass
    return found


def collect(inputs: list[Path]) -> list[Path]:
    files: list[Path] = []
    for item in inputs:
        if item.is_dir():
            files.extend(sorted(item.glob("*.pdf")))
        elif item.is_file():
            files.append(item)
    return files


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("inputs", nargs="*", type=Path)
    parser.add_argument("--per-file", action="store_true", help="a line per file")
    args = parser.parse_args()
    files = collect(args.inputs or [p for p in ALL_CORPORA if p.is_dir()])
    if not files:
        print("no input files (the shared corpora are not beside the repository)",
              file=sys.stderr)
        return 1
    found = tools()
    names = list(found)
    common = {n: 0 for n in names}
    failed = {n: 0 for n in names}
    reference = 0
    counted = 0
    if args.per_file:
        print("| file | pdftotext words | " + " | ".join(names) + " |")
        print("|---|---:|" + "---:|" * len(names))
    for path in files:
        password = password_for(path)
        ref_text = pdftotext(path, password)
        if ref_text is None:
            continue
        ref = words(ref_text)
        if not ref:
            continue
        counted += 1
        reference += len(ref)
        data = path.read_bytes()
        row = []
        for name in names:
            try:
                got = words(found[name](data, password))
            except Exception:  # noqa: BLE001 - a failure counts zero
                failed[name] += 1
                row.append("failed")
                continue
            n = lcs_length(got, ref)
            common[name] += n
            row.append(f"{n / len(ref):.3f}")
        if args.per_file:
            print(f"| {path.parent.name}/{path.name} | {len(ref)} | " + " | ".join(row) + " |")
    print(f"\n{counted} files with text by pdftotext, {reference} words")
    print("| tool | agreement | files failed |")
    print("|---|---:|---:|")
    for name in names:
        print(f"| {name} | {common[name] / max(reference, 1):.4f} | {failed[name]} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
