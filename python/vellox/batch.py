"""Converting many files at once: on threads (the default), or on worker
processes for callers who want a crash to cost one worker, not the caller."""

from __future__ import annotations

import collections
import os
import time
from typing import TYPE_CHECKING, Any, Iterable, Iterator, Optional, Union

from vellox._api import check_limits, convert, load
from vellox._types import FORMATS, ORDERS, Format, Order, Pages, Source
from vellox._vellox import PanicException

# The pools are imported where a batch starts: multiprocessing and
# concurrent.futures take some 25 ms and 2 MB to import, which every
# `import vellox` (every worker process among them) would pay for.
if TYPE_CHECKING:
    from concurrent.futures import Executor, Future

__all__ = ["parse_many", "WorkerDied"]

Item = Union[str, "os.PathLike[str]", "os.PathLike[bytes]", bytes, bytearray, memoryview]


class WorkerDied(RuntimeError):
    """A worker process ended abnormally while converting a file."""


def convert_timed(item: Source, format: Format, password: Optional[str],
                  pages: Optional[Pages], timeout: Optional[float] = None,
                  max_bytes: Optional[int] = None, order: Order = "reading") -> tuple[Any, float]:
    """The result of one item (or the exception it raised, as a value, so
    that one bad file never stops a batch) and the seconds it took."""
    start = time.perf_counter()
    try:
        result: Any = convert(item, format, password, pages=pages, timeout=timeout,
                              max_bytes=max_bytes, order=order)
    except (Exception, PanicException) as exc:  # noqa: BLE001 - reported per file
        result = exc
    return result, time.perf_counter() - start


def check_items(items: Any) -> None:
    if isinstance(items, (str, bytes, bytearray, memoryview, os.PathLike)):
        raise TypeError(
            f"parse_many takes an iterable of paths or bytes, not one "
            f"'{type(items).__name__}'; for a single file pass [item]")


def parse_many(
    items: Iterable[Item],
    format: Format = "markdown",
    password: Optional[str] = None,
    jobs: Optional[int] = None,
    *,
    pages: Optional[Pages] = None,
    processes: bool = False,
    timeout: Optional[float] = None,
    max_bytes: Optional[int] = None,
    order: Order = "reading",
) -> Iterator[tuple[Item, Any]]:
    """Convert many PDFs, given as paths or as bytes.

    Yields ``(item, result_or_exception)`` pairs in the order of ``items``:
    the result in ``format`` (one of ``FORMATS``) or the exception that
    converting that item raised (``ValueError`` for a broken PDF,
    ``OSError`` for an unreadable file, ``IndexError`` for ``pages`` past
    its end). One failing item does not stop the others.

    ``jobs`` conversions run at once (default: the number of CPUs), on
    threads: the extraction releases the interpreter lock, so threads use
    every core and the results need no pickling. ``processes=True`` uses
    worker processes instead, so that a crash of the native code costs one
    worker (its item yields ``WorkerDied``) rather than this process.
    The workers start from a fork server, not forked from this process,
    so a script using them keeps its top-level work under
    ``if __name__ == "__main__":``. ``jobs=1`` converts in the calling
    thread. Results are produced lazily, with at most ``WINDOW_PER_JOB``
    (32) items per worker in flight, so a long iterable does not fill
    memory. ``order`` is the order of each page's lines, as in ``parse``.

    ``timeout`` (seconds) and ``max_bytes`` (decoded bytes) limit each
    item's conversion as they limit ``parse``: an item past either yields
    its ``ValueError("LimitExceeded: ...")`` like any other failure.
    """
    timed = run(items, format, password, jobs, pages, processes, timeout, max_bytes, order)
    return ((item, result) for item, result, _ in timed)


def run(items: Iterable[Item], format: Format, password: Optional[str], jobs: Optional[int],
        pages: Optional[Pages], processes: bool, timeout: Optional[float] = None,
        max_bytes: Optional[int] = None,
        order: Order = "reading") -> Iterator[tuple[Item, Any, float]]:
    """``parse_many`` with each item's conversion time, which the command
    line reports. The arguments are checked at once, not on the first item."""
    check_items(items)
    limits = check_limits(timeout, max_bytes)
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}; expected one of {', '.join(FORMATS)}")
    if order not in ORDERS:
        raise ValueError(f"unknown order {order!r}; expected 'reading' or 'position'")
    if jobs is None:
        jobs = os.cpu_count() or 1
    if jobs < 1:
        raise ValueError("jobs must be at least 1")
    return _run(items, format, password, jobs, pages, processes, limits, order)


# The checked timeout and max_bytes of each item's conversion.
Limits = tuple[Optional[float], Optional[int]]


def _run(items: Iterable[Item], format: Format, password: Optional[str], jobs: int,
         pages: Optional[Pages], processes: bool,
         limits: Limits, order: Order) -> Iterator[tuple[Item, Any, float]]:
    if jobs == 1:
        for item in items:
            yield (item, *convert_timed(item, format, password, pages, *limits, order))
        return
    if processes:
        yield from _on_processes(iter(items), format, password, pages, jobs, limits, order)
    else:
        yield from _on_threads(iter(items), format, password, pages, jobs, limits, order)


_END = object()

# Items in flight per worker. Results come back in input order, so while
# the oldest item is still converting, the others' results wait for it; a
# window of a few items per worker then stalls every worker but one behind
# one large file (a 100-page book among one-page letters takes as long as
# fifty of them). A wider window keeps the workers busy past such a file,
# and still bounds how many results are held at once.
WINDOW_PER_JOB = 32


def _on_threads(todo: Iterator[Item], format: Format, password: Optional[str],
                pages: Optional[Pages], jobs: int,
                limits: Limits, order: Order) -> Iterator[tuple[Item, Any, float]]:
    from concurrent.futures import ThreadPoolExecutor

    window = jobs * WINDOW_PER_JOB
    pending: collections.deque[tuple[Item, Future[tuple[Any, float]]]] = collections.deque()
    with ThreadPoolExecutor(max_workers=jobs, thread_name_prefix="vellox") as pool:
        try:
            while True:
                while len(pending) < window:
                    item = next(todo, _END)
                    if item is _END:
                        break
                    pending.append((item, pool.submit(convert_timed, item, format, password,
                                                      pages, *limits, order)))  # type: ignore[arg-type]
                if not pending:
                    return
                item, future = pending.popleft()
                yield (item, *future.result())
        finally:
            for _, future in pending:
                future.cancel()


def _for_worker(item: Item) -> Item:
    """What is sent to a worker process: a path as text, bytes as they are;
    a file object is read here, since it cannot travel."""
    if isinstance(item, (str, os.PathLike)):
        return os.fsdecode(item)
    if isinstance(item, bytes):
        return item
    return bytes(load(item))


def _new_pool(jobs: int) -> Executor:
    """A pool whose workers are not forked from the caller. A process forked
    while another of its threads holds a lock (the allocator's, the import
    lock, a logging handler's) starts with that lock held and no thread to
    release it, and the worker hangs the first time it needs it; a caller
    with busy threads of its own would meet this at random. A fork server is
    a clean single-threaded process started for the purpose, and workers
    forked from it inherit nothing of the caller's state; where there is
    none (Windows), workers start as new interpreters."""
    import multiprocessing
    from concurrent.futures import ProcessPoolExecutor

    method = "forkserver" if "forkserver" in multiprocessing.get_all_start_methods() else "spawn"
    return ProcessPoolExecutor(max_workers=jobs, mp_context=multiprocessing.get_context(method))


def _on_processes(todo: Iterator[Item], format: Format, password: Optional[str],
                  pages: Optional[Pages], jobs: int,
                  limits: Limits, order: Order) -> Iterator[tuple[Item, Any, float]]:
    from concurrent.futures import Future
    from concurrent.futures.process import BrokenProcessPool

    window = jobs * WINDOW_PER_JOB
    redo: collections.deque[Item] = collections.deque()  # items to run again, first
    pending: collections.deque[tuple[Item, Future[Any]]] = collections.deque()  # input order
    careful = 0  # how many of the next items run one at a time
    pool = _new_pool(jobs)
    # A slice is sent as itself; a generator of pages is read once, here.
    sent_pages = pages if pages is None or isinstance(pages, (int, range, slice)) else list(pages)

    def submit(item: Item) -> Future[Any]:
        try:
            return pool.submit(convert_timed, _for_worker(item), format, password, sent_pages,
                               *limits, order)
        except BrokenProcessPool as exc:  # the pool broke since the last look
            future: Future[Any] = Future()
            future.set_exception(exc)
            return future
        except OSError as exc:  # a file object that could not be read
            future = Future()
            future.set_result((exc, 0.0))
            return future

    try:
        while True:
            limit = 1 if careful else window
            while len(pending) < limit:
                item = redo.popleft() if redo else next(todo, _END)
                if item is _END:
                    break
                pending.append((item, submit(item)))  # type: ignore[arg-type]
            if not pending:
                return
            item, future = pending.popleft()
            try:
                result, seconds = future.result()
            except BrokenProcessPool:
                # A worker that dies takes the whole pool down, and every
                # item in flight fails with it. Start a new pool; an item that
                # was running alone is the culprit, otherwise run the items
                # that were in flight again one at a time to find it.
                pool.shutdown(wait=False, cancel_futures=True)
                pool = _new_pool(jobs)
                if not careful:
                    redo.extendleft(reversed([item] + [p for p, _ in pending]))
                    pending.clear()
                    careful = len(redo)
                    continue
                result, seconds = WorkerDied("worker process died while converting this file"), 0.0
            if careful:
                careful -= 1
            yield item, result, seconds
    finally:
        pool.shutdown(wait=True, cancel_futures=True)
