#!/usr/bin/env python3
"""Text-extraction speed and memory: vellox against other PDF libraries.

    python bench/bench.py [DIR_OR_FILE ...] [--repeat N] [--tools a,b,...]
    python bench/bench.py --parallel [...]   # bench/parallel.py: threads and processes

Runs every tool over the same PDF files (default: the shared sample corpus
next to this repository) and prints, per tool: files opened, pages, total
seconds, pages per second, time relative to vellox, and peak memory.

What is measured, so the numbers can be judged:
- Time: one process, tools interleaved file by file (the order of the tools
  rotates from file to file, so no tool always runs on a warm or cold cache).
  Each measurement is the wall time of one call that opens the file from
  bytes in memory and extracts the text of every page (vellox:
  `parse_to_markdown`, and vellox-position the same with
  `order="position"`, without the reading-order analysis; PyMuPDF: `page.get_text()`; pypdfium2: a text page's
  `get_text_range()`; pypdf: `extract_text()`; pdfminer.six: `extract_text`).
  zlib-floor is no PDF tool: it only zlib-inflates the Flate streams that
  parse_to_markdown inflates (found with pypdf before timing: object and
  xref streams, page contents, ToUnicode maps, and the first image of a page
  without text), the floor for any extraction; its page count is 0. It
  needs pypdf for finding the streams.
  pdftotext is a separate program, so its time is one `subprocess.run` per
  file and includes starting the process (a few milliseconds per file).
  Files a tool fails on count neither time nor pages; the "vs vellox" column
  compares times over the files both tools opened.
- Memory: per tool, a fresh child process runs the tool over all the files
  once and reports its peak resident set size (`ru_maxrss`), and how much
  of it was there right after importing the tool, before the first file.
  For pdftotext it is the largest peak of any one pdftotext process (as
  `ru_maxrss`, which cannot fall below the ~10 MiB of the Python process
  that forked it).

Each file is opened with the password its corpus folder's README gives
(bench/corpus.py), or one given with --password.

Tools that are not installed are skipped; this script installs nothing.
"""

from __future__ import annotations

import argparse
import io
import json
import os
import resource
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parent))
from corpus import SAMPLE_FILES as DEFAULT_CORPUS, password_for  # noqa: E402

# A tool takes (path, bytes, password or None) and returns the page count
# it extracted text from.
Tool = Callable[[Path, bytes, "str | None"], int]


def load_vellox() -> Tool:
    import vellox

    def run(path: Path, data: bytes, password: str | None) -> int:
        vellox.parse_to_markdown(data, password)
        return -1  # pages are counted outside the timed call
    return run


def load_vellox_position() -> Tool:
    """vellox with its lines in position order, which skips the reading-order
    analysis: the difference to "vellox" is what that analysis costs."""
    import vellox

    def run(path: Path, data: bytes, password: str | None) -> int:
        vellox.parse_to_markdown(data, password, order="position")
        return -1
    return run


def load_pymupdf() -> Tool:
    try:
        import pymupdf
    except ImportError:
        import fitz as pymupdf

    def run(path: Path, data: bytes, password: str | None) -> int:
        with pymupdf.open(stream=data, filetype="pdf") as doc:
            if doc.needs_pass and not doc.authenticate(password or ""):
                raise RuntimeError("password refused")
            pages = 0
            for page in doc:
                page.get_text()
                pages += 1
            return pages
    return run


def load_pypdfium2() -> Tool:
    import pypdfium2 as pdfium

    def run(path: Path, data: bytes, password: str | None) -> int:
        pdf = pdfium.PdfDocument(data, password=password)
        try:
            pages = 0
            for i in range(len(pdf)):
                page = pdf[i]
                textpage = page.get_textpage()
                textpage.get_text_range()
                textpage.close()
                page.close()
                pages += 1
            return pages
        finally:
            pdf.close()
    return run


def load_pypdf() -> Tool:
    import logging

    import pypdf
    logging.getLogger("pypdf").setLevel(logging.ERROR)

    def run(path: Path, data: bytes, password: str | None) -> int:
        reader = pypdf.PdfReader(io.BytesIO(data), password=password)
        pages = 0
        for page in reader.pages:
            page.extract_text()
            pages += 1
        return pages
    return run


def load_pdfminer() -> Tool:
    import logging

    from pdfminer.high_level import extract_text
    logging.getLogger("pdfminer").setLevel(logging.ERROR)

    def run(path: Path, data: bytes, password: str | None) -> int:
        text = extract_text(io.BytesIO(data), password=password or "")
        return text.count("\f")  # one form feed after each page
    return run


def load_pdftotext() -> Tool:
    exe = shutil.which("pdftotext")
    if exe is None:
        raise ImportError("pdftotext not on PATH")

    def run(path: Path, data: bytes, password: str | None) -> int:
        command = [exe, "-q", "-enc", "UTF-8"]
        if password:
            command += ["-upw", password]
        done = subprocess.run(command + [str(path), "-"], capture_output=True, timeout=600)
        if done.returncode != 0:
            raise RuntimeError(f"pdftotext exit {done.returncode}")
        return done.stdout.count(b"\f")
    return run


def flate_body(stream) -> bytes | None:
    """The bytes zlib would inflate for a pypdf stream object: its stored
    (decrypted) body, with an ASCII85 layer in front of Flate undone, so that
    only the inflating is timed. None when Flate is not among its filters or
    the body does not inflate."""
    import base64
    import zlib

    filters = stream.get("/Filter")
    names = [str(f) for f in (filters if isinstance(filters, list) else [filters] if filters else [])]
    if not any(n in ("/FlateDecode", "/Fl") for n in names):
        return None
    body = stream._data  # noqa: SLF001 - the stored bytes, not the decoded ones
    if names and names[0] in ("/ASCII85Decode", "/A85"):
        try:
            body = base64.a85decode(body.strip().removesuffix(b"~>"), ignorechars=b" \t\r\n")
        except ValueError:
            return None
    try:
        zlib.decompressobj().decompress(body)
    except zlib.error:
        return None
    return body


def structure_streams(data: bytes) -> list[bytes]:
    """The object and cross-reference streams of a file (those vellox opens
    to find objects), by a plain scan: a stream's dictionary runs from the
    last "obj" before its "stream" keyword."""
    import re
    import zlib

    out = []
    for m in re.finditer(rb"stream\r?\n", data):
        if m.start() >= 3 and data[m.start() - 3:m.start()] == b"end":
            continue
        head_start = data.rfind(b" obj", 0, m.start())
        head = data[max(head_start, 0):m.start()]
        if b"endstream" in head or not (b"/ObjStm" in head or b"/XRef" in head):
            continue
        end = data.find(b"endstream", m.end())
        if end < 0:
            break
        body = data[m.end():end]
        try:
            zlib.decompressobj().decompress(body)
        except zlib.error:
            continue
        out.append(body)
    return out


def flate_streams(data: bytes, password: str | None) -> list[bytes]:
    """The Flate streams vellox inflates for parse_to_markdown, found before
    timing: object and cross-reference streams; every page's content
    streams; each font's ToUnicode map once (fonts are loaded once per
    document); and, on pages without text only (the needs_ocr test), the
    first image that decodes. Image data is otherwise not decoded for
    Markdown. A file vellox cannot open decodes nothing here."""
    import logging

    import vellox
    logging.getLogger("pypdf").setLevel(logging.ERROR)

    try:
        parsed = vellox.parse(data, password)
    except ValueError:
        return []
    out = structure_streams(data)
    try:
        page_streams(data, password, parsed, out)
    except Exception:  # noqa: BLE001 - a file vellox repairs can defeat pypdf
        pass  # the floor then counts what was found before pypdf gave up
    return out


def page_streams(data: bytes, password: str | None, parsed: dict, out: list[bytes]) -> None:
    """Appends to `out` the Flate bodies of each page's contents, its fonts'
    ToUnicode maps (each once) and, on a page without text, its first image."""
    import pypdf
    reader = pypdf.PdfReader(io.BytesIO(data), password=password)
    seen_maps: set[int] = set()
    for page, result in zip(reader.pages, parsed["pages"]):
        contents = page.get("/Contents")
        contents = contents.get_object() if contents is not None else None
        for item in (contents if isinstance(contents, list) else [contents] if contents is not None else []):
            body = flate_body(item.get_object())
            if body is not None:
                out.append(body)
        resources = page.get("/Resources")
        resources = resources.get_object() if resources is not None else {}
        fonts = resources.get("/Font")
        for ref in (fonts.get_object().values() if fonts is not None else []):
            font = ref.get_object()
            to_unicode = font.get("/ToUnicode") if hasattr(font, "get") else None
            if to_unicode is None or not hasattr(to_unicode, "idnum") or to_unicode.idnum in seen_maps:
                continue
            seen_maps.add(to_unicode.idnum)
            body = flate_body(to_unicode.get_object())
            if body is not None:
                out.append(body)
        if result["lines"]:
            continue
        xobjects = resources.get("/XObject")
        for ref in (xobjects.get_object().values() if xobjects is not None else []):
            image = ref.get_object()
            if image.get("/Subtype") != "/Image":
                continue
            body = flate_body(image)
            if body is not None:
                out.append(body)
            break  # the first image decides; one without Flate needs no inflating


def load_zlib_floor() -> Tool:
    """Not a PDF tool: only zlib-inflates the streams vellox decodes (found
    before timing starts), the floor any Flate-based extraction pays."""
    streams: dict[Path, list[bytes]] = {}
    import zlib

    import pypdf  # noqa: F401 - finds the streams; without it the floor is skipped

    def prepare(path: Path, data: bytes, password: str | None) -> None:
        streams[path] = flate_streams(data, password)

    def run(path: Path, data: bytes, password: str | None) -> int:
        for body in streams[path]:
            zlib.decompressobj().decompress(body)
        return 0
    run.prepare = prepare  # type: ignore[attr-defined]
    return run


TOOLS: dict[str, Callable[[], Tool]] = {
    "vellox": load_vellox,
    "vellox-position": load_vellox_position,
    "pymupdf": load_pymupdf,
    "pypdfium2": load_pypdfium2,
    "pypdf": load_pypdf,
    "pdfminer": load_pdfminer,
    "pdftotext": load_pdftotext,
    "zlib-floor": load_zlib_floor,
}


def vellox_pages(data: bytes, password: str | None) -> int:
    import vellox
    return len(vellox.parse(data, password)["pages"])


def find_files(inputs: list[str]) -> list[Path]:
    files: list[Path] = []
    for text in inputs:
        path = Path(text)
        if path.is_dir():
            files.extend(sorted(p for p in path.rglob("*") if p.suffix.lower() == ".pdf"))
        elif path.is_file():
            files.append(path)
        else:
            sys.exit(f"bench: no such file or directory: {text}")
    if not files:
        sys.exit("bench: no PDF files to run on")
    return files


def peak_mib() -> float:
    """This process's peak resident set size. VmHWM belongs to the address
    space, which exec replaces; ru_maxrss would also keep the size of the
    parent at the moment it forked this process."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def child(tool_name: str, files: list[Path], passwords: dict[str, str]) -> None:
    """Runs one tool over all files in this (fresh) process; prints JSON."""
    tool = TOOLS[tool_name]()
    baseline = peak_mib()
    for path in files:
        try:
            tool(path, path.read_bytes(), passwords.get(path.name))
        except Exception:  # noqa: BLE001 - a failing file is fine here
            pass
    if tool_name == "pdftotext":
        # The largest pdftotext process; Linux reports kilobytes. Its floor
        # is this small Python process's size when it forked pdftotext.
        peak, baseline = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024, 0.0
    else:
        peak = peak_mib()
    print(json.dumps({"peak": peak, "baseline": baseline}))


def measure_memory(tool_name: str, files: list[Path], passwords: dict[str, str]) -> dict | None:
    job = {"files": [str(p) for p in files], "passwords": passwords}
    done = subprocess.run(
        [sys.executable, str(Path(__file__).resolve()), "--child", tool_name],
        input=json.dumps(job), capture_output=True, text=True, timeout=3600,
    )
    if done.returncode != 0:
        return None
    return json.loads(done.stdout.strip().splitlines()[-1])


def main() -> int:
    if "--parallel" in sys.argv[1:]:
        # Files per second on several cores: a script of its own, whose
        # options follow --parallel.
        import parallel
        return parallel.main([a for a in sys.argv[1:] if a != "--parallel"])
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("inputs", nargs="*", help="PDF files or directories "
                        f"(default: {DEFAULT_CORPUS})")
    parser.add_argument("--repeat", type=int, default=3, help="timed passes (default 3)")
    parser.add_argument("--tools", default=",".join(TOOLS),
                        help=f"comma-separated subset of {','.join(TOOLS)}")
    parser.add_argument("--password", action="append", default=[], metavar="FILE=PW",
                        help="password for the file with that name (repeatable)")
    parser.add_argument("--no-memory", action="store_true", help="skip the memory runs")
    parser.add_argument("--per-file", action="store_true",
                        help="also print each file's time per tool, in milliseconds")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.child:
        job = json.load(sys.stdin)
        child(args.child, [Path(p) for p in job["files"]], job["passwords"])
        return 0

    inputs = args.inputs or [str(DEFAULT_CORPUS)]
    files = find_files(inputs)
    # The README of each file's corpus folder, then --password.
    passwords = {p.name: pw for p in files if (pw := password_for(p)) is not None}
    for item in args.password:
        name, _, pw = item.partition("=")
        passwords[name] = pw

    tools: dict[str, Tool] = {}
    for name in args.tools.split(","):
        if name not in TOOLS:
            sys.exit(f"bench: unknown tool {name}")
        try:
            tools[name] = TOOLS[name]()
        except ImportError as exc:
            print(f"skipped {name}: not installed ({exc})", file=sys.stderr)
    if not tools:
        sys.exit("bench: no tool available")

    # seconds[tool][file] and pages[tool][file] for files the tool opened.
    seconds: dict[str, dict[Path, float]] = {t: {} for t in tools}
    pages: dict[str, dict[Path, int]] = {t: {} for t in tools}
    failed: dict[str, set[Path]] = {t: set() for t in tools}
    blobs = {p: p.read_bytes() for p in files}
    for tool in tools.values():
        prepare = getattr(tool, "prepare", None)
        if prepare is not None:
            for path in files:
                prepare(path, blobs[path], passwords.get(path.name))
    names = list(tools)
    for _ in range(max(1, args.repeat)):
        for index, path in enumerate(files):
            data, password = blobs[path], passwords.get(path.name)
            order = names[index % len(names):] + names[:index % len(names)]
            for name in order:
                if path in failed[name]:
                    continue
                start = time.perf_counter()
                try:
                    count = tools[name](path, data, password)
                except Exception:  # noqa: BLE001 - a tool failing on a file is a result
                    failed[name].add(path)
                    seconds[name].pop(path, None)
                    continue
                elapsed = time.perf_counter() - start
                seconds[name][path] = seconds[name].get(path, 0.0) + elapsed
                if path not in pages[name]:
                    if name.startswith("vellox"):
                        count = vellox_pages(data, password)
                    pages[name][path] = count

    repeat = max(1, args.repeat)
    memory = {}
    if not args.no_memory:
        for name in tools:
            memory[name] = measure_memory(name, files, passwords)

    print(f"{len(files)} files, {repeat} timed pass(es); times are per pass")
    header = f"{'tool':<10} {'opened':>7} {'pages':>6} {'seconds':>9} {'pages/s':>9} " \
             f"{'vs vellox':>10} {'peak MiB':>9} {'import MiB':>10}"
    print(header)
    print("-" * len(header))
    base = seconds.get("vellox")
    for name in tools:
        opened = seconds[name]
        total = sum(opened.values()) / repeat
        npages = sum(pages[name][p] for p in opened)
        rate = npages / total if total > 0 else float("nan")
        ratio = "-"
        if base is not None:
            common = [p for p in opened if p in base]
            vt = sum(base[p] for p in common)
            if common and vt > 0:
                ratio = f"{sum(opened[p] for p in common) / vt:.2f}x"
        mem = memory.get(name)
        peak = f"{mem['peak']:.0f}" if mem else "-"
        imported = f"{mem['baseline']:.0f}" if mem and mem["baseline"] else "-"
        print(f"{name:<10} {len(opened):>7} {npages:>6} {total:>9.3f} {rate:>9.0f} "
              f"{ratio:>10} {peak:>9} {imported:>10}")
    if args.per_file:
        print(f"\n{'file':<40} " + " ".join(f"{n:>10}" for n in tools) + "   (ms per pass)")
        for path in files:
            cells = []
            for name in tools:
                t = seconds[name].get(path)
                cells.append(f"{t / repeat * 1000:>10.2f}" if t is not None else f"{'failed':>10}")
            print(f"{path.name[:40]:<40} " + " ".join(cells))
    print("\nvs vellox: the tool's time over the files both opened, divided by vellox's "
          "(2.00x = twice as slow).")
    print("peak MiB: peak RSS of a fresh process running the tool over every file once; "
          "import MiB: its RSS right after importing the tool (pdftotext: largest single "
          "process).")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
