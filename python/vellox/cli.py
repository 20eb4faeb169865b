"""The ``vellox`` command: convert PDF files to Markdown, JSON, HTML or text.

One file is written to standard output; several files or directories
(searched recursively for ``*.pdf``) are written into an output directory,
one output file per input, keeping the layout below each directory given.
"""

from __future__ import annotations

import argparse
import os
import sys
import tempfile
import time
from pathlib import Path
from typing import Sequence, TextIO

from vellox import __version__
from vellox.batch import convert, parse_many
from vellox._vellox import PanicException

EXTENSIONS = {"markdown": ".md", "json": ".json", "html": ".html", "text": ".txt"}
PROG = "vellox"


class UsageError(Exception):
    """A problem with the command line or the inputs: one line, exit 2."""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Extract the text, tables and images of PDF files as Markdown, "
        "JSON, HTML or plain text.",
        epilog="One input file is written to standard output unless -o is given. "
        "Several files or directories need -o OUT: each PDF becomes one file in "
        "OUT, keeping its path below the directory it was found in.",
    )
    parser.add_argument("inputs", nargs="+", metavar="FILE_OR_DIR", help="PDF files or directories")
    parser.add_argument(
        "-f", "--format", choices=sorted(EXTENSIONS), default="markdown",
        help="output form (default: markdown); text is the page texts separated by form feeds",
    )
    parser.add_argument("-o", "--output", metavar="OUT",
                        help="output directory (or output file for a single input)")
    parser.add_argument("--password", metavar="PW", help="password of encrypted files")
    parser.add_argument("--jobs", "-j", type=int, metavar="N",
                        help="worker processes for several files (default: CPU count)")
    noise = parser.add_mutually_exclusive_group()
    noise.add_argument("--quiet", "-q", action="store_true",
                       help="no progress bar and no summary")
    noise.add_argument("--verbose", "-v", action="store_true",
                       help="report every file converted, with its time")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser


def collect(inputs: Sequence[str]) -> tuple[list[tuple[Path, Path]], bool]:
    """The PDFs to convert as (path, output path relative to OUT), and whether
    the inputs were exactly one file."""
    jobs: list[tuple[Path, Path]] = []
    for text in inputs:
        path = Path(text)
        if path.is_dir():
            found = sorted(
                p for p in path.rglob("*") if p.suffix.lower() == ".pdf" and p.is_file()
            )
            if not found:
                raise UsageError(f"no PDF files found in directory {text}")
            jobs.extend((p, p.relative_to(path)) for p in found)
        elif path.exists():
            if not path.is_file():
                raise UsageError(f"not a regular file: {text}")
            jobs.append((path, Path(path.name)))
        else:
            raise UsageError(f"no such file or directory: {text}")
    single = len(inputs) == 1 and len(jobs) == 1 and not Path(inputs[0]).is_dir()
    return jobs, single


def write_atomically(target: Path, text: str) -> None:
    """Write `text` so that `target` is either the old file or the whole new
    one, never a partial write: a temporary file beside it, then a rename."""
    target.parent.mkdir(parents=True, exist_ok=True)
    fd, tmp = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=target.parent)
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        os.replace(tmp, target)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def describe(exc: BaseException) -> str:
    if isinstance(exc, OSError):
        return f"cannot read: {exc.strerror or exc}"
    if isinstance(exc, PanicException):
        return f"internal error: {exc}"
    return str(exc) or type(exc).__name__


def write_stdout(text: str) -> None:
    if text and not text.endswith("\n"):
        text += "\n"
    buffer = getattr(sys.stdout, "buffer", None)
    if buffer is not None:
        buffer.write(text.encode("utf-8"))
        buffer.flush()
    else:
        sys.stdout.write(text)
        sys.stdout.flush()


class Progress:
    """A one-line bar on standard error, drawn only on a terminal."""

    def __init__(self, total: int, stream: TextIO, enabled: bool) -> None:
        self.total = total
        self.done = 0
        self.stream = stream
        self.enabled = enabled and total > 1 and stream.isatty()

    def step(self) -> None:
        self.done += 1
        if self.enabled:
            width = 30
            filled = width * self.done // self.total
            bar = "#" * filled + "-" * (width - filled)
            self.stream.write(f"\r[{bar}] {self.done}/{self.total}")
            self.stream.flush()

    def clear(self) -> None:
        if self.enabled:
            self.stream.write("\r" + " " * 50 + "\r")
            self.stream.flush()

    def message(self, text: str) -> None:
        self.clear()
        print(text, file=self.stream)


def run_single(path: Path, args: argparse.Namespace) -> int:
    start = time.perf_counter()
    try:
        data = path.read_bytes()
    except OSError as exc:
        print(f"{PROG}: {path}: {describe(exc)}", file=sys.stderr)
        return 1
    try:
        result = convert(data, args.format, args.password)
    except (ValueError, MemoryError, PanicException) as exc:
        print(f"{PROG}: {path}: {describe(exc)}", file=sys.stderr)
        return 1
    if args.output:
        out = Path(args.output)
        if out.is_dir():
            out = out / path.with_suffix(EXTENSIONS[args.format]).name
        write_atomically(out, result)
    else:
        write_stdout(result)
    if args.verbose:
        print(f"{PROG}: {path}: ok ({time.perf_counter() - start:.3f} s)", file=sys.stderr)
    return 0


def run_batch(files: list[tuple[Path, Path]], args: argparse.Namespace) -> int:
    out_dir = Path(args.output)
    if out_dir.exists() and not out_dir.is_dir():
        raise UsageError(f"output {args.output} exists and is not a directory")
    targets: dict[Path, Path] = {}
    for path, rel in files:
        target = out_dir / rel.with_suffix(EXTENSIONS[args.format])
        if target in targets:
            raise UsageError(f"{targets[target]} and {path} would both be written to {target}")
        targets[target] = path
    progress = Progress(len(files), sys.stderr, not args.quiet)
    failed = 0
    start = time.perf_counter()
    results = parse_many([str(p) for p, _ in files], args.format, args.password, args.jobs)
    for (path, rel), (_, result) in zip(files, results):
        target = out_dir / rel.with_suffix(EXTENSIONS[args.format])
        if isinstance(result, BaseException):
            failed += 1
            progress.message(f"{PROG}: {path}: {describe(result)}")
        else:
            try:
                write_atomically(target, result)
            except OSError as exc:
                failed += 1
                progress.message(f"{PROG}: {target}: cannot write: {exc.strerror or exc}")
            else:
                if args.verbose:
                    progress.message(f"{PROG}: {path} -> {target}")
        progress.step()
    progress.clear()
    if not args.quiet:
        elapsed = time.perf_counter() - start
        print(
            f"{PROG}: {len(files) - failed} of {len(files)} files converted into {out_dir} "
            f"in {elapsed:.2f} s" + (f", {failed} failed" if failed else ""),
            file=sys.stderr,
        )
    return 1 if failed else 0


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        if args.jobs is not None and args.jobs < 1:
            raise UsageError("--jobs must be at least 1")
        files, single = collect(args.inputs)
        if single:
            return run_single(files[0][0], args)
        if not args.output:
            raise UsageError("several inputs need an output directory: -o OUT")
        return run_batch(files, args)
    except UsageError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        return 2
    except BrokenPipeError:
        # The reader went away (`vellox big.pdf | head`); quiet exit.
        try:
            sys.stdout = open(os.devnull, "w")  # noqa: SIM115 - keeps interpreter exit quiet
        except OSError:
            pass
        return 1
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
    except OSError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    raise SystemExit(main())
