"""The ``vellox`` command: convert PDF files to Markdown, JSON, HTML or text,
or print what they say about themselves (``vellox info``).

One input is written to standard output (or to ``-o``); several inputs or
directories (searched recursively for ``*.pdf``) are written into an output
directory, one output file per input, keeping the layout below each
directory given, or, with ``-f json`` and no ``-o``, to standard output as
JSON Lines.
"""

from __future__ import annotations

import argparse
import errno
import json
import os
import re
import secrets
import sys
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Optional, Sequence, TextIO, Union

from vellox import __version__
from vellox._api import convert, info
from vellox._types import Format
from vellox._vellox import PanicException
from vellox.batch import run

EXTENSIONS = {"markdown": ".md", "json": ".json", "html": ".html", "text": ".txt"}
PROG = "vellox"
STDIO = "-"
# Write failures that no other output file would escape: reported once, and
# the batch stops.
FATAL_WRITE_ERRORS = {errno.ENOSPC, errno.EDQUOT, errno.EROFS}


class UsageError(Exception):
    """A problem with the command line: one line, exit 2."""


class OutputError(Exception):
    """The output cannot be written at all: one line, exit 1."""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Extract the text, tables and images of PDF files as Markdown, "
        "JSON, HTML or plain text. 'vellox info FILE...' prints each file's metadata, "
        "page sizes and outline as one JSON line.",
        epilog="One input is written to standard output unless -o is given. Several "
        "inputs or directories need -o OUT: each PDF becomes one file in OUT, keeping "
        "its path below the directory it was found in; with -f json and no -o they are "
        "written to standard output as JSON Lines, one line per file. '-' is standard "
        "input (as FILE) or standard output (as OUT).",
    )
    parser.add_argument("inputs", nargs="+", metavar="FILE_OR_DIR",
                        help="PDF files or directories, '-' for standard input")
    parser.add_argument(
        "-f", "--format", choices=sorted(EXTENSIONS), default="markdown",
        help="output form (default: markdown); text is the pages' paragraphs, "
        "pages separated by form feeds",
    )
    parser.add_argument("-o", "--output", metavar="OUT",
                        help="output directory (an existing one, or any path ending in /), "
                        "the output file for a single input, or - for standard output")
    parser.add_argument("--pages", metavar="LIST",
                        help="pages to convert, numbered from 1: e.g. 1-3,7,10-,-1 "
                        "(-1 is the last page, 10- runs to the end)")
    parser.add_argument("--order", choices=("reading", "position"), default="reading",
                        help="order of each page's lines: reading (columns down and left to "
                        "right, tables row by row; the default) or position (top to bottom "
                        "across the page)")
    parser.add_argument("--password", metavar="PW", help="password of encrypted files")
    parser.add_argument("--timeout", metavar="SECONDS",
                        help="give up on a file after this many seconds (e.g. 10 or 0.5); "
                        "it is then reported as failed")
    parser.add_argument("--max-bytes", metavar="N",
                        help="give up on a file that decodes more than N bytes of stream data "
                        "(e.g. 67108864, or 64M; K, M and G count 1024s)")
    parser.add_argument("--jobs", "-j", type=int, metavar="N",
                        help="files converted at once (default: CPU count)")
    parser.add_argument("--processes", action="store_true",
                        help="convert on worker processes instead of threads, so that a crash "
                        "costs one worker")
    parser.add_argument("--info", action="store_true",
                        help="print each file's information as a JSON line instead of "
                        "converting it ('vellox info FILE...' says the same)")
    noise = parser.add_mutually_exclusive_group()
    noise.add_argument("--quiet", "-q", action="store_true",
                       help="no progress bar and no summary")
    noise.add_argument("--verbose", "-v", action="store_true",
                       help="report every file, with its time")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser


# ------------------------------------------------------------ page lists

PAGE_PART = re.compile(r"(?P<single>\d+)|-(?P<last>\d+)|(?P<first>\d+)-(?P<end>\d*)")


def parse_pages(text: str) -> list[Union[int, range, slice]]:
    """``--pages`` as the API's page list: "1-3,7,10-,-1" is pages 1 to 3,
    7, 10 to the end and the last one, numbered from 1."""
    parts: list[Union[int, range, slice]] = []
    for piece in text.split(","):
        piece = piece.strip()
        match = PAGE_PART.fullmatch(piece)
        if match is None:
            raise UsageError(f"--pages: {piece!r} is not a page, a range like 2-5 or 7-, "
                             "or a page from the end like -1")
        numbers = [int(v) for v in match.groupdict().values() if v]
        if 0 in numbers:
            raise UsageError("--pages: pages are numbered from 1")
        if match["single"]:
            parts.append(int(match["single"]) - 1)
        elif match["last"]:
            parts.append(-int(match["last"]))
        elif match["end"]:
            first, end = int(match["first"]), int(match["end"])
            if first > end:
                raise UsageError(f"--pages: {piece}: the range ends before it starts")
            parts.append(range(first - 1, end))
        else:
            parts.append(slice(int(match["first"]) - 1, None))
    return parts


# ------------------------------------------------------------ limits

SIZE = re.compile(r"(?P<number>\d+)(?P<unit>[KkMmGg]?)(?:i?[Bb])?")


def parse_limits(args: argparse.Namespace) -> tuple[Optional[float], Optional[int]]:
    """``--timeout`` and ``--max-bytes`` as the API's limits."""
    timeout: Optional[float] = None
    max_bytes: Optional[int] = None
    if args.timeout is not None:
        try:
            timeout = float(args.timeout)
        except ValueError:
            raise UsageError(f"--timeout: {args.timeout!r} is not a number of seconds") from None
        if not (0 < timeout < float("inf")):
            raise UsageError(f"--timeout: {args.timeout} is not a positive number of seconds")
    if args.max_bytes is not None:
        match = SIZE.fullmatch(args.max_bytes.strip())
        if match is None:
            raise UsageError(f"--max-bytes: {args.max_bytes!r} is not a number of bytes "
                             "(like 67108864 or 64M)")
        scale = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30}[match["unit"].lower()]
        max_bytes = int(match["number"]) * scale
        if max_bytes <= 0:
            raise UsageError("--max-bytes must be at least 1")
    return timeout, max_bytes


# ------------------------------------------------------------ inputs

@dataclass
class Job:
    """One PDF to convert: where it comes from, what to call it in messages,
    and its output path relative to the output directory."""
    source: Union[str, bytes]  # a path, or the bytes read from standard input
    shown: str
    relative: Path
    problem: Optional[str] = None  # set when the input cannot be converted at all


def collect(inputs: Sequence[str]) -> list[Job]:
    """The PDFs to convert, each once, in the order given; directories are
    searched recursively. Inputs that are missing or hold no PDF are jobs
    with a problem, reported as failures of their own."""
    jobs: list[Job] = []
    seen: set[str] = set()

    def add(job: Job, key: str) -> None:
        if key not in seen:
            seen.add(key)
            jobs.append(job)

    for text in inputs:
        if text == STDIO:
            if STDIO not in seen:
                add(Job(sys.stdin.buffer.read(), "<stdin>", Path("stdin")), STDIO)
            continue
        path = Path(text)
        if path.is_dir():
            found = sorted(p for p in path.rglob("*")
                           if p.suffix.lower() == ".pdf" and p.is_file())
            if not found:
                add(Job(text, text, Path(path.name), "no PDF files in this directory"),
                    os.path.realpath(text))
            for p in found:
                add(Job(str(p), str(p), p.relative_to(path)), os.path.realpath(p))
        else:
            # Anything else is read as it is (a file, a pipe, a device); a
            # missing or unreadable one fails on its own when it is read.
            add(Job(text, text, Path(path.name)), os.path.realpath(text))
    return jobs


# ------------------------------------------------------------ outputs

def write_atomically(target: Path, text: str) -> None:
    """Write `text` so that `target` is either the old file or the whole new
    one, never a partial write: a temporary file beside it, then a rename.
    The file is created with mode 0666 less the umask, as any new file."""
    target.parent.mkdir(parents=True, exist_ok=True)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0)
    while True:
        tmp = target.parent / f".{target.name}.{secrets.token_hex(6)}.tmp"
        try:
            fd = os.open(tmp, flags, 0o666)
            break
        except FileExistsError:
            continue
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


def blocked_by(path: Path) -> Optional[Path]:
    """The closest existing ancestor of `path` (or `path` itself) that is not
    a directory, when that is why nothing can be created below it."""
    for candidate in [path, *path.parents]:
        if candidate.exists() or candidate.is_symlink():
            return None if candidate.is_dir() else candidate
    return None


def prepare_directory(out: Path) -> None:
    """Create the output directory, or say in one line why it cannot be."""
    if out.exists() and not out.is_dir():
        raise UsageError(f"output {out} exists and is not a directory")
    try:
        out.mkdir(parents=True, exist_ok=True)
    except OSError as exc:
        raise OutputError(f"cannot create output directory {out}: {reason(out, exc)}") from None
    if not os.access(out, os.W_OK | os.X_OK):
        raise OutputError(f"cannot write into output directory {out}: permission denied")


def reason(path: Path, exc: OSError) -> str:
    blocker = blocked_by(path.parent if path.parent != path else path)
    if exc.errno in (errno.EEXIST, errno.ENOTDIR) and blocker is not None:
        return f"{blocker} is not a directory"
    return (exc.strerror or str(exc)).lower() if exc.strerror else str(exc)


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


def json_line(record: dict[str, Any]) -> str:
    return json.dumps(record, ensure_ascii=False, separators=(",", ":")) + "\n"


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


# ------------------------------------------------------------ running

class Runner:
    """Converts the jobs, reports each one, and counts the failures."""

    def __init__(self, args: argparse.Namespace, jobs: list[Job]) -> None:
        self.args = args
        self.jobs = jobs
        self.pages = parse_pages(args.pages) if args.pages else None
        self.timeout, self.max_bytes = parse_limits(args)
        self.format: Format = "dict" if args.info or self.json_lines() else args.format
        self.progress = Progress(len(jobs), sys.stderr, not args.quiet and not args.verbose)
        self.failed = 0

    def json_lines(self) -> bool:
        return self.args.format == "json" and self.many() and self.to_stdout()

    def many(self) -> bool:
        return len(self.args.inputs) > 1 or any(Path(i).is_dir() for i in self.args.inputs
                                                if i != STDIO)

    def to_stdout(self) -> bool:
        return self.args.output in (None, STDIO)

    def fail(self, job: Job, text: str) -> None:
        self.failed += 1
        self.progress.message(f"{PROG}: {job.shown}: {text}")

    def explain(self, job: Job, exc: BaseException) -> str:
        """The failure text; a page list past a file's end says its length."""
        if isinstance(exc, IndexError) and self.pages is not None:
            try:
                count = info(job.source, self.args.password)["page_count"]
            except (ValueError, OSError):
                return describe(exc)
            return f"--pages {self.args.pages}: the document has {count} " \
                   f"page{'' if count == 1 else 's'}"
        return describe(exc)

    def results(self):  # type: ignore[no-untyped-def]
        """(job, result or exception, seconds) for each job, in order."""
        todo = [job for job in self.jobs if job.problem is None]
        if self.args.info:
            for job in todo:
                start = time.perf_counter()
                try:
                    result: Any = info(job.source, self.args.password, timeout=self.timeout,
                                       max_bytes=self.max_bytes)
                except (Exception, PanicException) as exc:  # noqa: BLE001
                    result = exc
                yield job, result, time.perf_counter() - start
            return
        timed = run([job.source for job in todo], self.format, self.args.password,
                    self.args.jobs, self.pages, self.args.processes, self.timeout,
                    self.max_bytes, self.args.order)
        done = iter(zip(todo, timed))
        for job in self.jobs:
            if job.problem is not None:
                yield job, None, 0.0
            else:
                doing, (_, result, seconds) = next(done)
                yield doing, result, seconds

    def verbose(self, text: str) -> None:
        if self.args.verbose:
            self.progress.message(f"{PROG}: {text}")

    # One input, to standard output or to -o.
    def single(self) -> int:
        (job, result, seconds), = self.results()
        if job.problem is not None or isinstance(result, BaseException):
            self.fail(job, job.problem or self.explain(job, result))
            return 1
        if self.args.info:
            write_stdout(json_line({"path": job.shown, **result}))
            self.verbose(f"{job.shown}: ok ({seconds:.3f} s)")
            return 0
        if self.to_stdout():
            write_stdout(result)
            self.verbose(f"{job.shown}: ok ({seconds:.3f} s)")
            return 0
        out = Path(self.args.output)
        if self.args.output.endswith(("/", os.sep)) or out.is_dir():
            prepare_directory(out)
            out = out / job.relative.with_suffix(EXTENSIONS[self.args.format])
        try:
            write_atomically(out, result)
        except OSError as exc:
            raise OutputError(f"cannot write {out}: {reason(out, exc)}") from None
        self.verbose(f"{job.shown} -> {out} ({seconds:.3f} s)")
        return 0

    # Many inputs as JSON Lines (converted, or their information).
    def lines(self) -> int:
        for job, result, seconds in self.results():
            if job.problem is not None or isinstance(result, BaseException):
                text = job.problem or self.explain(job, result)
                write_stdout(json_line({"path": job.shown, "error": text}))
                self.fail(job, text)
            else:
                write_stdout(json_line({"path": job.shown, **result}))
                self.verbose(f"{job.shown}: ok ({seconds:.3f} s)")
            self.progress.step()
        self.progress.clear()
        return 1 if self.failed else 0

    # Many inputs into an output directory.
    def batch(self) -> int:
        out_dir = Path(self.args.output)
        targets: dict[Path, Job] = {}
        for job in self.jobs:
            target = out_dir / job.relative.with_suffix(EXTENSIONS[self.args.format])
            if target in targets and job.problem is None:
                raise UsageError(f"{targets[target].shown} and {job.shown} would both be "
                                 f"written to {target}")
            targets.setdefault(target, job)
        prepare_directory(out_dir)
        start = time.perf_counter()
        for job, result, seconds in self.results():
            target = out_dir / job.relative.with_suffix(EXTENSIONS[self.args.format])
            if job.problem is not None or isinstance(result, BaseException):
                self.fail(job, job.problem or self.explain(job, result))
            else:
                try:
                    write_atomically(target, result)
                except OSError as exc:
                    if exc.errno in FATAL_WRITE_ERRORS:
                        raise OutputError(f"cannot write into {out_dir}: "
                                          f"{reason(target, exc)}") from None
                    self.failed += 1
                    self.progress.message(f"{PROG}: {target}: cannot write: "
                                          f"{reason(target, exc)}")
                else:
                    self.verbose(f"{job.shown} -> {target} ({seconds:.3f} s)")
            self.progress.step()
        self.progress.clear()
        if not self.args.quiet:
            elapsed = time.perf_counter() - start
            total = len(self.jobs)
            print(f"{PROG}: {total - self.failed} of {total} files converted into {out_dir} "
                  f"in {elapsed:.2f} s" + (f", {self.failed} failed" if self.failed else ""),
                  file=sys.stderr)
        return 1 if self.failed else 0


def subcommand(argv: list[str]) -> list[str]:
    """``vellox info FILE...`` is ``vellox --info FILE...``, unless there is
    a file or directory called ``info`` here, which is then converted as it
    always was (``--info`` says it without that doubt)."""
    if argv and argv[0] == "info" and not os.path.lexists("info"):
        return ["--info", *argv[1:]]
    return argv


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(subcommand(list(sys.argv[1:] if argv is None else argv)))
    try:
        if args.jobs is not None and args.jobs < 1:
            raise UsageError("--jobs must be at least 1")
        if args.info and (args.pages or args.output not in (None, STDIO)):
            raise UsageError("info writes JSON lines to standard output; "
                             "--pages and -o do not apply")
        runner = Runner(args, collect(args.inputs))
        if args.info or runner.json_lines():
            return runner.lines()
        if not runner.many():
            return runner.single()
        if runner.to_stdout():
            raise UsageError("several inputs need an output directory (-o OUT), "
                             "or -f json for JSON Lines on standard output")
        return runner.batch()
    except UsageError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        return 2
    except OutputError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        return 1
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


if __name__ == "__main__":
    raise SystemExit(main())
