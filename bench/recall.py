#!/usr/bin/env python3
"""Text recall and precision of vellox against pdftotext, per file.

    python bench/recall.py [DIR_OR_FILE ...] [--show FILE] [--words N] [--exclude PREFIX]

For every PDF (default: the shared sample corpus next to this repository)
that has a text layer, meaning pdftotext prints at least one word for it,
the words vellox extracts are compared with pdftotext's words for the same
file:

- vellox's words: every line text of every page of `vellox.parse`, joined
  with line feeds and split on white space;
- pdftotext's words: its output (default mode, UTF-8) split the same way;
- recall: the fraction of pdftotext's words found among vellox's, both taken
  as multisets (a word that pdftotext prints three times must be found three
  times); precision: the same fraction the other way round.

Both are reported twice: on the raw texts, and normalised: Unicode NFKC
applied to both texts, which expands ligature characters (U+FB01 "fi" and
friends) and compatibility forms that one tool keeps and the other splits,
and Unicode format characters (category Cf: the bidirectional marks that
pdftotext puts around right-to-left text, soft hyphens, zero-width joiners)
removed. Words are compared exactly otherwise, so a difference in word
splitting (two runs joined without a space, a hyphenated word kept whole)
costs recall on one side and precision on the other.

Files are opened with the password that their folder's README gives, and
the totals are kept per folder (corpus), over the files both tools open.

`--show FILE` prints, for that file, the words each tool has that the other
lacks (most frequent first), which is where a diagnosis starts.
"""

from __future__ import annotations

import argparse
import collections
import shutil
import subprocess
import sys
import unicodedata
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from corpus import SAMPLE_FILES as DEFAULT_CORPUS, password_for  # noqa: E402


def pdftotext_text(path: Path, password: str | None) -> str:
    cmd = ["pdftotext", "-q", "-enc", "UTF-8"]
    if password:
        # A README password may be the owner's (pdfminer-samples'
        # encryption-*.pdf: owner foo, user baz); both are tried.
        cmd += ["-opw", password, "-upw", password]
    result = subprocess.run(cmd + [str(path), "-"], capture_output=True, timeout=120)
    return result.stdout.decode("utf-8", "replace")


def vellox_text(data: bytes, password: str | None) -> str:
    import vellox

    doc = vellox.parse(data, password)
    return "\n".join(line["text"] for page in doc["pages"] for line in page["lines"])


def words(text: str, nfkc: bool) -> collections.Counter:
    if nfkc:
        text = unicodedata.normalize("NFKC", text)
        text = "".join(c for c in text if unicodedata.category(c) != "Cf")
    return collections.Counter(text.split())


def scores(ours: collections.Counter, theirs: collections.Counter) -> tuple[float, float]:
    """(recall, precision) of `ours` against the reference `theirs`."""
    common = sum((ours & theirs).values())
    recall = common / sum(theirs.values()) if theirs else 1.0
    precision = common / sum(ours.values()) if ours else (1.0 if not theirs else 0.0)
    return recall, precision


def collect(inputs: list[str]) -> list[Path]:
    files: list[Path] = []
    for text in inputs or [str(DEFAULT_CORPUS)]:
        path = Path(text)
        if path.is_dir():
            files.extend(sorted(p for p in path.rglob("*") if p.suffix.lower() == ".pdf"))
        else:
            files.append(path)
    return files


def show(path: Path, ours_text: str, theirs_text: str, limit: int) -> None:
    for nfkc in (False, True):
        ours, theirs = words(ours_text, nfkc), words(theirs_text, nfkc)
        label = "norm" if nfkc else "raw"
        for title, diff in (("pdftotext only", theirs - ours), ("vellox only", ours - theirs)):
            common = diff.most_common(limit)
            shown = " ".join(f"{w!r}x{n}" if n > 1 else repr(w) for w, n in common)
            print(f"  [{label}] {title} ({sum(diff.values())} words): {shown}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("inputs", nargs="*", help="PDF files or directories "
                        "(default: the shared sample corpus)")
    parser.add_argument("--show", action="append", default=[], metavar="FILE",
                        help="print the differing words of the file with this name")
    parser.add_argument("--exclude", action="append", default=[], metavar="PREFIX",
                        help="leave files whose name starts with PREFIX out of the totals "
                        "(for example habibi: pdftotext reverses right-to-left words)")
    parser.add_argument("--words", type=int, default=25,
                        help="differing words shown per side with --show (default 25)")
    args = parser.parse_args()
    if shutil.which("pdftotext") is None:
        print("recall.py: pdftotext is not installed (Debian: poppler-utils)", file=sys.stderr)
        return 2

    rows = []
    # Micro totals per corpus folder, over the files both tools open: every
    # word of every file counts once. [common, ours, theirs] per form.
    totals: dict[str, dict[bool, collections.Counter]] = {}
    skipped, failed, excluded = [], [], []
    for path in collect(args.inputs):
        password = password_for(path)
        theirs_text = pdftotext_text(path, password)
        if not theirs_text.split():
            skipped.append(path.name)
            continue
        try:
            ours_text = vellox_text(path.read_bytes(), password)
            error = ""
        except ValueError as exc:
            ours_text, error = "", str(exc)
        row = [path.name, len(theirs_text.split()), len(ours_text.split())]
        counted = not error and not any(path.name.startswith(p) for p in args.exclude)
        if error:
            failed.append(path.name)
        elif not counted:
            excluded.append(path.name)
        group = totals.setdefault(path.parent.name, {False: collections.Counter(),
                                                     True: collections.Counter()})
        for nfkc in (False, True):
            ours, theirs = words(ours_text, nfkc), words(theirs_text, nfkc)
            row.extend(scores(ours, theirs))
            if counted:
                group[nfkc].update({"common": sum((ours & theirs).values()),
                                    "ours": sum(ours.values()),
                                    "theirs": sum(theirs.values())})
        rows.append((row, error))
        if path.name in args.show:
            print(f"{path.name}:")
            show(path, ours_text, theirs_text, args.words)

    width = max([len(r[0][0]) for r in rows] + [len(f"all words: {k}") for k in totals] + [4])
    print(f"{'file':<{width}} {'ptt words':>9} {'vx words':>8} "
          f"{'recall':>7} {'prec':>6} {'recall':>7} {'prec':>6}")
    print(f"{'':<{width}} {'':>9} {'':>8} {'raw':>7} {'raw':>6} {'norm':>7} {'norm':>6}")
    for row, error in rows:
        name, n_theirs, n_ours, r_raw, p_raw, r_nfkc, p_nfkc = row
        line = (f"{name:<{width}} {n_theirs:>9} {n_ours:>8} "
                f"{r_raw:>7.3f} {p_raw:>6.3f} {r_nfkc:>7.3f} {p_nfkc:>6.3f}")
        print(line + (f"  ({error})" if error else ""))
    for corpus, group in totals.items():
        cells = []
        for nfkc in (False, True):
            c = group[nfkc]
            cells.append((c["common"] / c["theirs"] if c["theirs"] else 1.0,
                          c["common"] / c["ours"] if c["ours"] else 0.0))
        print(f"{'all words: ' + corpus:<{width}} {group[False]['theirs']:>9} "
              f"{group[False]['ours']:>8} {cells[0][0]:>7.3f} {cells[0][1]:>6.3f} "
              f"{cells[1][0]:>7.3f} {cells[1][1]:>6.3f}")
    print("(totals over the files both tools open"
          + (f", leaving out {', '.join(excluded)}" if excluded else "") + ")")
    if failed:
        print(f"vellox fails (not in the totals): {', '.join(failed)}")
    if skipped:
        print(f"no text layer (pdftotext prints no word): {', '.join(skipped)}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
