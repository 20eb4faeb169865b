#!/usr/bin/env python3
"""Records or checks the four output forms of vellox over a set of PDF files,
so that a performance change can be shown to leave every result unchanged.

    python bench/compare_outputs.py record DIR [FILE_OR_DIR ...]
    python bench/compare_outputs.py check  DIR [FILE_OR_DIR ...]
    python bench/compare_outputs.py check --order position DIR   # against a record
                                                               # made before reading order

For every input file and every form (parse, parse_to_json, parse_to_markdown,
parse_to_html) the result -- or the text of the error raised -- is written
under DIR (record) or compared byte for byte with what is there (check). The
inputs default to the three shared corpora next to this repository
(sample-files, pypdf-resources, pdfminer-samples) and the pipeline fuzz
seeds, those that are present; each file is opened with the password its
folder's README gives. `parse` returns a dict; it is stored as its
repr, which is exact for the str, int, float, bool, bytes and list values it
holds. Exit status 1 if any output differs or is missing.
"""

from __future__ import annotations

import argparse
import hashlib
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from corpus import ALL_CORPORA, REPO, password_for  # noqa: E402

DEFAULT_INPUTS = [*ALL_CORPORA, REPO / "fuzz" / "seeds" / "pipeline"]
FORMS = ("parse", "parse_to_json", "parse_to_markdown", "parse_to_html")


def collect(inputs: list[Path]) -> list[Path]:
    files: list[Path] = []
    for item in inputs:
        if item.is_dir():
            files.extend(sorted(p for p in item.iterdir() if p.is_file() and p.suffix != ".md"))
        elif item.is_file():
            files.append(item)
    return files


def render(form: str, data: bytes, password: str | None, order: str | None) -> bytes:
    import vellox
    try:
        if order is None:
            result = getattr(vellox, form)(data, password)
        else:
            result = getattr(vellox, form)(data, password, order=order)
    except Exception as err:  # the error kind and message are part of the result
        return f"ERROR {type(err).__name__}: {err}".encode()
    if isinstance(result, str):
        return result.encode("utf-8", "surrogatepass")
    return repr(result).encode("utf-8", "surrogatepass")


def key(path: Path) -> str:
    # Different directories may hold files of the same name. A directory of
    # this repository is named by its path inside it, so that a record made
    # in one checkout can be checked from another (a worktree of a branch);
    # any other directory by its absolute path.
    folder = path.resolve().parent
    try:
        name = str(folder.relative_to(REPO.resolve()))
    except ValueError:
        name = str(folder)
    digest = hashlib.sha1(name.encode()).hexdigest()[:8]
    return f"{digest}-{path.name}"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mode", choices=("record", "check"))
    parser.add_argument("dir", type=Path)
    parser.add_argument("inputs", nargs="*", type=Path)
    parser.add_argument("--order", choices=("reading", "position"),
                        help="the order= argument to pass (default: none, the default order)")
    args = parser.parse_args()
    files = collect(args.inputs or DEFAULT_INPUTS)
    if not files:
        print("no input files", file=sys.stderr)
        return 1
    args.dir.mkdir(parents=True, exist_ok=True)
    differing = 0
    for path in files:
        data = path.read_bytes()
        password = password_for(path)
        for form in FORMS:
            out = render(form, data, password, args.order)
            target = args.dir / f"{key(path)}.{form}"
            if args.mode == "record":
                target.write_bytes(out)
            elif not target.exists():
                print(f"MISSING {path} {form}")
                differing += 1
            elif target.read_bytes() != out:
                print(f"DIFFERS {path} {form}")
                differing += 1
    print(f"{len(files)} files, {len(FORMS)} forms, {differing} differing")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
