#!/usr/bin/env python3
"""Files per second on several cores: vellox on threads, parse_many on
threads and on processes, PyMuPDF on a process pool.

    python bench/parallel.py [DIR_OR_FILE ...] [--jobs N] [--copies K] [--rounds R]
    python bench/bench.py --parallel [...]    # the same

Runs over the shared sample corpus by default. The files are those that
both vellox and PyMuPDF open without a password (a file that needs one is
left out: parse_many takes one password for all its items); they are read
into memory once. Two workloads:

- "corpus": every file once; each configuration converts it `--passes`
  times a round, each pass timed on its own, and the median pass counts.
- "copies": the files repeated K times (`--copies`, default 20), converted
  in one go a round, so a pool has time to warm up and the run is long
  enough to measure against the noise of a shared machine.

Configurations, each over the same list of PDFs:

- vellox, threads=1 and threads=N: a ThreadPoolExecutor of that many
  threads mapping `vellox.parse_to_markdown` (the form of bench.py) or
  `vellox.parse` (`dict`) over the bytes. The package releases the
  interpreter lock while it extracts.
- parse_many, threads and processes: `vellox.parse_many(paths, form,
  jobs=N)` and the same with `processes=True`, over the files' paths (as
  users call it); each call starts its own pool, which is part of its cost.
- PyMuPDF, 1 process: the calling process opens each file from bytes and
  calls `page.get_text()` on every page, as bench.py's PyMuPDF tool does.
- PyMuPDF, N processes: the same function in a `ProcessPoolExecutor` of N
  workers, the way its users parallelise (its objects are not
  thread-safe). The pool is started and warmed before timing; each worker
  reads the files once when it starts, so only an index travels to it and
  the text comes back.

N is the CPU count unless `--jobs` says otherwise. Every round runs every
configuration once, in a rotating order, so a change of load hits them
alike; the figure is the median over rounds. Before and after every round
a control that also runs without the interpreter lock, hashlib.sha256 on
1 and N threads, says whether the process had N free cores: when it does
not scale, neither can anything else, and the round's figures say little.
The load average is printed with the control.

Printed: seconds, files/s and pages/s (pages as vellox counts them) per
configuration; the speed-up of N threads (or processes) over one; the
margin over PyMuPDF (its time divided by vellox's) on one core and on N.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import statistics
import sys
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parent))
from corpus import SAMPLE_FILES as DEFAULT_CORPUS  # noqa: E402


def load_average() -> str:
    one, five, fifteen = os.getloadavg()
    return f"load average {one:.2f} {five:.2f} {fifteen:.2f}"


def control(jobs: int) -> float:
    """How much faster hashlib.sha256 (which releases the interpreter lock on
    large buffers) hashes 4*jobs blocks of 16 MiB on `jobs` threads than on
    one: about `jobs` when that many cores are free."""
    blob = b"x" * (16 << 20)
    best = {}
    for threads in (1, jobs, 1, jobs):
        with ThreadPoolExecutor(max_workers=threads) as pool:
            start = time.perf_counter()
            list(pool.map(lambda _: hashlib.sha256(blob).digest(), range(4 * jobs)))
            elapsed = time.perf_counter() - start
        best[threads] = min(best.get(threads, elapsed), elapsed)
    return best[1] / best[jobs]


# --- PyMuPDF, in this process or in a worker -------------------------------

def import_pymupdf():
    try:
        import pymupdf
    except ImportError:
        import fitz as pymupdf
    return pymupdf


def pymupdf_text(data: bytes) -> str:
    """Every page's text, as bench.py's PyMuPDF tool extracts it."""
    pymupdf = import_pymupdf()
    with pymupdf.open(stream=data, filetype="pdf") as doc:
        return "\f".join(page.get_text() for page in doc)


_WORKER_FILES: list[bytes] = []


def worker_start(paths: list[str]) -> None:
    """A PyMuPDF worker process: import the library and read the files."""
    import_pymupdf()
    _WORKER_FILES[:] = [Path(p).read_bytes() for p in paths]


def worker_convert(index: int) -> str:
    return pymupdf_text(_WORKER_FILES[index])


def worker_ready(_: int) -> bool:
    time.sleep(0.05)  # long enough that every worker gets one
    return True


# --- the files -----------------------------------------------------------------

def find_files(inputs: list[str]) -> list[Path]:
    files: list[Path] = []
    for text in inputs:
        path = Path(text)
        if path.is_dir():
            files.extend(sorted(p for p in path.rglob("*") if p.suffix.lower() == ".pdf"))
        elif path.is_file():
            files.append(path)
        else:
            sys.exit(f"parallel: no such file or directory: {text}")
    return files


def usable(paths: list[Path]) -> tuple[list[Path], list[bytes], list[int], list[str]]:
    """The files both tools open without a password, their bytes and vellox's
    page counts, and what was left out and why."""
    import vellox
    kept, blobs, pages, left_out = [], [], [], []
    for path in paths:
        data = path.read_bytes()
        try:
            count = len(vellox.parse(data)["pages"])
        except ValueError as exc:
            left_out.append(f"{path.name} (vellox: {exc})")
            continue
        try:
            pymupdf_text(data)
        except Exception as exc:  # noqa: BLE001 - any failure leaves the file out
            left_out.append(f"{path.name} (PyMuPDF: {exc})")
            continue
        kept.append(path)
        blobs.append(data)
        pages.append(count)
    return kept, blobs, pages, left_out


# --- the configurations ----------------------------------------------------------

Run = Callable[[list[int]], None]  # converts the files at these indices


def configurations(paths: list[Path], blobs: list[bytes], jobs: int,
                   pool: ProcessPoolExecutor) -> dict[str, Run]:
    import vellox

    text_paths = [str(p) for p in paths]

    def on_threads(threads: int, convert: Callable[[bytes], object]) -> Run:
        def run(indices: list[int]) -> None:
            with ThreadPoolExecutor(max_workers=threads) as executor:
                for _ in executor.map(lambda i: convert(blobs[i]), indices):
                    pass
        return run

    def many(form: str, processes: bool) -> Run:
        def run(indices: list[int]) -> None:
            items = [text_paths[i] for i in indices]
            for _, result in vellox.parse_many(items, form, jobs=jobs, processes=processes):
                if isinstance(result, BaseException):
                    raise result
        return run

    def pymupdf_here(indices: list[int]) -> None:
        for i in indices:
            pymupdf_text(blobs[i])

    def pymupdf_pool(indices: list[int]) -> None:
        for _ in pool.map(worker_convert, indices, chunksize=2):
            pass

    return {
        "vellox markdown, 1 thread": on_threads(1, vellox.parse_to_markdown),
        f"vellox markdown, {jobs} threads": on_threads(jobs, vellox.parse_to_markdown),
        "vellox dict, 1 thread": on_threads(1, vellox.parse),
        f"vellox dict, {jobs} threads": on_threads(jobs, vellox.parse),
        f"parse_many markdown, {jobs} threads": many("markdown", False),
        f"parse_many markdown, {jobs} processes": many("markdown", True),
        f"parse_many dict, {jobs} threads": many("dict", False),
        f"parse_many dict, {jobs} processes": many("dict", True),
        "PyMuPDF, 1 process": pymupdf_here,
        f"PyMuPDF, {jobs} processes": pymupdf_pool,
    }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("inputs", nargs="*", help=f"PDF files or directories (default: {DEFAULT_CORPUS})")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1,
                        help="threads and processes (default: the CPU count)")
    parser.add_argument("--copies", type=int, default=20,
                        help="copies of the files in the long workload (default 20)")
    parser.add_argument("--passes", type=int, default=10,
                        help="timed passes a round over the files once (default 10)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds (default 5)")
    parser.add_argument("--only", default="",
                        help="comma-separated substrings: run only the configurations named so")
    args = parser.parse_args(argv)
    if args.jobs < 2:
        sys.exit("parallel: --jobs must be at least 2 (this machine has "
                 f"{os.cpu_count()} CPUs)")

    paths, blobs, pages, left_out = usable(find_files(args.inputs or [str(DEFAULT_CORPUS)]))
    if not paths:
        sys.exit("parallel: no file that both vellox and PyMuPDF open")
    import vellox
    print(f"{len(paths)} files, {sum(pages)} pages; {len(left_out)} left out"
          + (": " + "; ".join(left_out) if left_out else ""))
    print(f"N = {args.jobs} ({os.cpu_count()} CPUs); vellox "
          f"{getattr(vellox, '__version__', '?')}, PyMuPDF "
          f"{getattr(import_pymupdf(), '__version__', '?')}, Python {sys.version.split()[0]}")

    once = list(range(len(paths)))
    workloads = {"corpus": once, f"copies x{args.copies}": once * args.copies}
    with ProcessPoolExecutor(max_workers=args.jobs, initializer=worker_start,
                             initargs=([str(p) for p in paths],)) as pool:
        list(pool.map(worker_ready, range(4 * args.jobs)))  # every worker started
        runs = configurations(paths, blobs, args.jobs, pool)
        if args.only:
            wanted = args.only.split(",")
            runs = {k: v for k, v in runs.items() if any(w in k for w in wanted)}
        for run in runs.values():  # untimed: caches, allocators, the workers' imports
            run(once)
        # times[workload][configuration]: one median per round
        times: dict[str, dict[str, list[float]]] = {w: {c: [] for c in runs} for w in workloads}
        controls: list[float] = []
        names = list(runs)
        for r in range(args.rounds):
            controls.append(control(args.jobs))
            print(f"round {r + 1}: control {controls[-1]:.2f}x, {load_average()}", flush=True)
            order = names[r % len(names):] + names[:r % len(names)]
            for workload, indices in workloads.items():
                passes = args.passes if workload == "corpus" else 1
                for name in order:
                    samples = []
                    for _ in range(passes):
                        start = time.perf_counter()
                        runs[name](indices)
                        samples.append(time.perf_counter() - start)
                    times[workload][name].append(statistics.median(samples))
        controls.append(control(args.jobs))
        print(f"end: control {controls[-1]:.2f}x, {load_average()}")

    n = args.jobs
    print(f"\ncontrol (hashlib.sha256, {n} threads vs 1), before each round and at the end: "
          + " ".join(f"{c:.2f}x" for c in controls))
    for workload, indices in workloads.items():
        nfiles = len(indices)
        npages = sum(pages[i] for i in indices)
        print(f"\n{workload}: {nfiles} files, {npages} pages; median of {args.rounds} rounds "
              "(min to max)")
        print(f"{'configuration':<34} {'seconds':>24} {'files/s':>9} {'pages/s':>9}")
        med = {}
        for name, samples in times[workload].items():
            med[name] = statistics.median(samples)
            print(f"{name:<34} {med[name]:>8.4f} ({min(samples):.4f} to {max(samples):.4f}) "
                  f"{nfiles / med[name]:>9.0f} {npages / med[name]:>9.0f}")

        def ratio(a: str, b: str) -> str:
            return f"{med[a] / med[b]:.2f}x" if a in med and b in med else "-"

        print(f"speed-up, {n} vs 1: vellox markdown "
              f"{ratio('vellox markdown, 1 thread', f'vellox markdown, {n} threads')}, "
              f"vellox dict {ratio('vellox dict, 1 thread', f'vellox dict, {n} threads')}, "
              f"PyMuPDF {ratio('PyMuPDF, 1 process', f'PyMuPDF, {n} processes')}")
        print(f"margin over PyMuPDF (its time / vellox markdown's): 1 core "
              f"{ratio('PyMuPDF, 1 process', 'vellox markdown, 1 thread')}, "
              f"{n} cores {ratio(f'PyMuPDF, {n} processes', f'vellox markdown, {n} threads')}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
