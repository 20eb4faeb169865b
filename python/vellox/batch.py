"""Converting many files at once, on a pool of worker processes."""

from __future__ import annotations

import collections
import os
from concurrent.futures import Future, ProcessPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from typing import Any, Iterable, Iterator, Union

from vellox._vellox import (
    PanicException,
    parse,
    parse_to_html,
    parse_to_json,
    parse_to_markdown,
)

PathLike = Union[str, "os.PathLike[str]"]

#: The output forms ``convert`` and ``parse_many`` know.
FORMATS = ("markdown", "json", "html", "text", "dict")


def page_texts(document: dict) -> str:
    """Plain text of a ``parse`` result: each page's lines joined by line
    feeds, pages separated by form feeds."""
    return "\f".join(
        "\n".join(line["text"] for line in page["lines"]) for page in document["pages"]
    )


def convert(data: bytes, format: str = "markdown", password: str | None = None) -> Any:
    """Convert the bytes of one PDF to ``format`` (one of ``FORMATS``)."""
    if format == "markdown":
        return parse_to_markdown(data, password)
    if format == "json":
        return parse_to_json(data, password)
    if format == "html":
        return parse_to_html(data, password)
    if format == "text":
        return page_texts(parse(data, password))
    if format == "dict":
        return parse(data, password)
    raise ValueError(f"unknown format {format!r}; expected one of {', '.join(FORMATS)}")


def _convert_file(path: str, format: str, password: str | None) -> Any:
    """Worker body: the result, or the exception as a value so that one bad
    file never stops a batch."""
    try:
        with open(path, "rb") as f:
            data = f.read()
        return convert(data, format, password)
    except (Exception, PanicException) as exc:  # noqa: BLE001 - reported per file
        return exc


class WorkerDied(RuntimeError):
    """A worker process ended abnormally while converting a file."""


def parse_many(
    paths: Iterable[PathLike],
    format: str = "markdown",
    password: str | None = None,
    jobs: int | None = None,
) -> Iterator[tuple[PathLike, Any]]:
    """Convert many PDF files on a pool of worker processes.

    Yields ``(path, result_or_exception)`` pairs in the order of ``paths``:
    the result of ``format`` (``"markdown"``, ``"json"``, ``"html"``,
    ``"text"`` or ``"dict"``) or the exception that converting that file
    raised (``ValueError`` for a broken PDF, ``OSError`` for an unreadable
    file). One failing file does not stop the others.

    Every ``parse*`` call keeps the interpreter lock held from start to end,
    so threads do not make conversions run in parallel: this function is the
    way to use several cores. ``jobs`` is the number of worker processes
    (default: the number of CPUs); with ``jobs=1`` the files are converted in
    this process. Results are produced lazily, with a bounded number of files
    in flight, so a long list does not fill memory.
    """
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}; expected one of {', '.join(FORMATS)}")
    if jobs is None:
        jobs = os.cpu_count() or 1
    if jobs < 1:
        raise ValueError("jobs must be at least 1")
    paths = list(paths)
    if jobs == 1 or len(paths) <= 1:
        for path in paths:
            yield path, _convert_file(os.fspath(path), format, password)
        return
    yield from _pooled(paths, format, password, min(jobs, len(paths)))


def _pooled(paths: list, format: str, password: str | None, jobs: int) -> Iterator[tuple]:
    window = jobs * 4  # files in flight: keeps the workers busy, memory bounded
    todo = iter(paths)
    redo: collections.deque = collections.deque()  # files to run again, first
    pending: collections.deque = collections.deque()  # (path, future), input order
    careful = 0  # how many of the next files run one at a time
    pool = ProcessPoolExecutor(max_workers=jobs)

    def submit(path: Any) -> Future:
        try:
            return pool.submit(_convert_file, os.fspath(path), format, password)
        except BrokenProcessPool as exc:  # the pool broke since the last look
            future: Future = Future()
            future.set_exception(exc)
            return future

    try:
        while True:
            limit = 1 if careful else window
            while len(pending) < limit:
                path = redo.popleft() if redo else next(todo, _END)
                if path is _END:
                    break
                pending.append((path, submit(path)))
            if not pending:
                return
            path, future = pending.popleft()
            try:
                result = future.result()
            except BrokenProcessPool:
                # A worker that dies takes the whole pool down, and every
                # file in flight fails with it. Start a new pool; a file that
                # was running alone is the culprit, otherwise run the files
                # that were in flight again one at a time to find it.
                pool.shutdown(wait=False, cancel_futures=True)
                pool = ProcessPoolExecutor(max_workers=jobs)
                if not careful:
                    redo.extendleft(reversed([path] + [p for p, _ in pending]))
                    pending.clear()
                    careful = len(redo)
                    continue
                result = WorkerDied("worker process died while converting this file")
            if careful:
                careful -= 1
            yield path, result
    finally:
        pool.shutdown(wait=True, cancel_futures=True)


_END = object()
