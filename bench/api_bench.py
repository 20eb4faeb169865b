#!/usr/bin/env python3
"""Times the package's entry points the way users call them.

    python bench/api_bench.py pages  [LONG.pdf]    # info and one page vs the whole document
    python bench/api_bench.py threads [DIR ...]    # 1 vs 2 threads; parse_many threads vs processes

`pages` times, on one long document held in memory (by default the 296-page
document of `python bench/make_long_doc.py /tmp/long.pdf`), vellox.info,
vellox.parse(pages=[0]), vellox.parse and vellox.parse_to_markdown: each
call is repeated and the median, fastest and slowest of the repeats are
printed, in milliseconds.

`threads` converts every PDF of the directories (by default the shared
sample corpus; files that fail are left out) to Markdown and to dicts from
bytes in memory, with a ThreadPoolExecutor of 1 and then 2 threads, each
pass converting every file once; then it runs vellox.parse_many over the
paths with jobs=2 on threads and on processes, and with jobs=1. Each
figure is the median of several rounds, with the spread, and the load
average before and after is printed: the machine is shared, so numbers
taken while others compile mean little. As a control, hashlib.sha256 over
a large buffer (which also runs without the interpreter lock) is timed on 1
and 2 threads: when it does not speed up either, the machine did not give
this process a second core.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import statistics
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import vellox

HERE = Path(__file__).resolve().parent
CORPUS = HERE.parent.parent / "shared" / "corpus" / "sample-files"


def load() -> str:
    one, five, fifteen = os.getloadavg()
    return f"load average {one:.2f} {five:.2f} {fifteen:.2f}"


def spread(samples: list[float], unit: float = 1000.0, digits: int = 2) -> str:
    med = statistics.median(samples) * unit
    lo, hi = min(samples) * unit, max(samples) * unit
    return f"{med:.{digits}f} (min {lo:.{digits}f}, max {hi:.{digits}f})"


def time_calls(call, repeat: int) -> list[float]:
    call()  # warm the file and the allocator
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        samples.append(time.perf_counter() - start)
    return samples


def bench_pages(path: Path, repeat: int) -> None:
    data = path.read_bytes()
    count = vellox.info(data)["page_count"]
    print(f"{path} ({count} pages, {len(data)} bytes), {repeat} repeats, {load()}")
    calls = {
        "info": lambda: vellox.info(data),
        "parse(pages=[0])": lambda: vellox.parse(data, pages=[0]),
        "parse(pages=[-1])": lambda: vellox.parse(data, pages=[-1]),
        "parse": lambda: vellox.parse(data),
        "parse_to_markdown": lambda: vellox.parse_to_markdown(data),
    }
    results = {name: time_calls(call, repeat) for name, call in calls.items()}
    full = statistics.median(results["parse"])
    print(f"{'call':<20} {'ms: median (min, max)':<32} parse / call")
    for name, samples in results.items():
        ratio = full / statistics.median(samples)
        print(f"{name:<20} {spread(samples):<32} {ratio:.1f}x")
    print(load())


def corpus(dirs: list[Path]) -> list[tuple[Path, bytes]]:
    files = []
    for d in dirs:
        for path in sorted(d.rglob("*.pdf")):
            data = path.read_bytes()
            try:
                vellox.parse_to_markdown(data)
            except ValueError:
                continue
            files.append((path, data))
    return files


def control(rounds: int) -> str:
    blob = b"x" * (16 << 20)
    per_threads: dict[int, list[float]] = {}
    for threads in (1, 2) * rounds:
        with ThreadPoolExecutor(max_workers=threads) as pool:
            start = time.perf_counter()
            list(pool.map(lambda _: hashlib.sha256(blob).digest(), range(8)))
            per_threads.setdefault(threads, []).append(time.perf_counter() - start)
    one, two = (statistics.median(per_threads[n]) for n in (1, 2))
    return f"control: hashlib.sha256 on 2 threads {one / two:.2f}x as fast as on 1"


def bench_threads(dirs: list[Path], passes: int, rounds: int) -> None:
    print(control(rounds))
    files = corpus(dirs)
    datas = [data for _, data in files] * passes
    print(f"{len(files)} files x {passes} passes = {len(datas)} conversions a round, "
          f"{rounds} rounds, {os.cpu_count()} CPUs, {load()}")
    for form in ("markdown", "dict"):
        per_threads = {}
        for threads in (1, 2, 1, 2):  # interleaved, so a change in load hits both
            with ThreadPoolExecutor(max_workers=threads) as pool:
                list(pool.map(lambda d: vellox.convert(d, form), datas[:len(files)]))  # warm
                for _ in range(rounds):
                    start = time.perf_counter()
                    list(pool.map(lambda d: vellox.convert(d, form), datas))
                    per_threads.setdefault(threads, []).append(time.perf_counter() - start)
        one, two = (statistics.median(per_threads[n]) for n in (1, 2))
        print(f"{form:<9} 1 thread {spread(per_threads[1], 1.0, 3)} s, "
              f"2 threads {spread(per_threads[2], 1.0, 3)} s: speed-up {one / two:.2f}x")
    paths = [path for path, _ in files] * passes
    many = {}
    for label, kwargs in [("threads, jobs=2", {"jobs": 2}),
                          ("processes, jobs=2", {"jobs": 2, "processes": True}),
                          ("jobs=1", {"jobs": 1})]:
        for form in ("markdown", "dict"):
            samples = []
            for _ in range(rounds):
                start = time.perf_counter()
                for _, result in vellox.parse_many(paths, form, **kwargs):
                    assert not isinstance(result, BaseException), result
                samples.append(time.perf_counter() - start)
            many[(label, form)] = samples
            print(f"parse_many {label:<18} {form:<9} {spread(samples, 1.0, 3)} s")
    print(control(rounds))
    print(load())


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="what", required=True)
    p = sub.add_parser("pages")
    p.add_argument("path", nargs="?", type=Path, default=Path("/tmp/long.pdf"))
    p.add_argument("--repeat", type=int, default=50)
    t = sub.add_parser("threads")
    t.add_argument("dirs", nargs="*", type=Path, default=[CORPUS])
    t.add_argument("--passes", type=int, default=10)
    t.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    if args.what == "pages":
        if not args.path.exists():
            print(f"{args.path} not found: python bench/make_long_doc.py {args.path}",
                  file=sys.stderr)
            return 2
        bench_pages(args.path, args.repeat)
    else:
        bench_threads(args.dirs, args.passes, args.rounds)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
