#!/usr/bin/env python3
"""Time and peak memory of vellox on hostile files, with and without limits.

    python bench/bombs.py [--timeout S] [--max-bytes N] [--keep DIR]

Builds, in memory, two small valid PDFs that cost a reader much more than
their size:

- "flate bomb": one page whose content stream is 800 MiB of spaces,
  Flate-compressed at level 9 (about 800 KB): decoding it writes a
  thousand bytes for every byte read.
- "slow file": `--pages` pages (default 30) that all draw the same content
  stream of `--ops` tiny operations (default 1,000,000 times `0 0 m `,
  a file of about 14 KB): the stream is stored once but
  interpreted for every page, 30 million operations in all.

plus examples/sample.pdf as the ordinary case. Each file is converted by
`vellox.parse_to_markdown` in a fresh child process, which reports the
wall time of the call, its outcome (the length of the text, or the error)
and the process's peak resident set size (VmHWM, else `ru_maxrss`). The
parent gives a child `--kill-after` seconds (default 600) before killing
it, so this script ends even if a call would not.

Every file runs once without limits. When the package's functions take
`timeout=` and `max_bytes=` (looked up in the signature of
`vellox.parse_to_markdown`), each file runs once more with the values of
`--timeout` (seconds, default 1) and `--max-bytes` (default 64 MiB)
passed through; a keyword the functions do not take is reported and not
passed. `--keep DIR` also writes the files there.
"""

from __future__ import annotations

import argparse
import inspect
import json
import os
import resource
import subprocess
import sys
import time
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
SAMPLE = REPO / "examples" / "sample.pdf"
MIB = 1 << 20


def pdf_file(content: bytes, pages: int) -> bytes:
    """A valid PDF of `pages` pages that all draw the one Flate content
    stream `content` (already compressed), with a Helvetica font so that the
    page has resources like a real one."""
    objects: list[bytes] = []
    first_page = 5
    kids = " ".join(f"{first_page + i} 0 R" for i in range(pages))
    objects.append(b"<< /Type /Catalog /Pages 2 0 R >>")
    objects.append(f"<< /Type /Pages /Kids [{kids}] /Count {pages} >>".encode())
    objects.append(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    objects.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(content)
                   + content + b"\nendstream")
    for _ in range(pages):
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                       b"/Resources << /Font << /F1 3 0 R >> >> /Contents 4 0 R >>")
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)
    return bytes(out)


def compressed_repeat(unit: bytes, count: int) -> bytes:
    """zlib at level 9 of `unit` repeated `count` times, without ever holding
    the repeated text."""
    z = zlib.compressobj(9)
    chunk_units = max(1, MIB // len(unit))
    parts = []
    left = count
    while left > 0:
        n = min(left, chunk_units)
        parts.append(z.compress(unit * n))
        left -= n
    parts.append(z.flush())
    return b"".join(parts)


def flate_bomb() -> bytes:
    return pdf_file(compressed_repeat(b" ", 800 * MIB), pages=1)


def slow_file(ops: int, pages: int) -> bytes:
    return pdf_file(compressed_repeat(b"0 0 m ", ops), pages=pages)


def peak_mib() -> float:
    """This process's peak resident set size in MiB (VmHWM: that of this
    address space, unlike ru_maxrss, which a forked child inherits)."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def child(path: str, kwargs: dict) -> None:
    """Runs in a fresh process: one call, then a JSON line on stdout."""
    import vellox
    data = Path(path).read_bytes()
    before = peak_mib()
    start = time.perf_counter()
    try:
        text = vellox.parse_to_markdown(data, **kwargs)
        outcome = f"ok, {len(text)} characters"
    except Exception as exc:  # noqa: BLE001 - the outcome is what is measured
        outcome = f"{type(exc).__name__}: {exc}"
    elapsed = time.perf_counter() - start
    print(json.dumps({"seconds": elapsed, "peak": peak_mib(), "before": before,
                      "outcome": outcome}))


def measure(path: Path, kwargs: dict, kill_after: float) -> dict:
    command = [sys.executable, str(Path(__file__).resolve()), "--child", str(path),
               json.dumps(kwargs)]
    start = time.perf_counter()
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=kill_after)
    except subprocess.TimeoutExpired:
        return {"seconds": time.perf_counter() - start, "peak": None, "before": None,
                "outcome": f"killed after {kill_after:.0f} s"}
    lines = done.stdout.strip().splitlines()
    if done.returncode != 0 or not lines:
        return {"seconds": time.perf_counter() - start, "peak": None, "before": None,
                "outcome": f"child exit {done.returncode}: {done.stderr.strip()[-200:]}"}
    return json.loads(lines[-1])


def supported_limits(wanted: dict) -> tuple[dict, list[str]]:
    """The limits parse_to_markdown takes, and the names it does not."""
    import vellox
    params = inspect.signature(vellox.parse_to_markdown).parameters
    takes_any = any(p.kind is inspect.Parameter.VAR_KEYWORD for p in params.values())
    passed = {k: v for k, v in wanted.items() if k in params or takes_any}
    return passed, [k for k in wanted if k not in passed]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--timeout", type=float, default=1.0,
                        help="timeout= passed to vellox when it takes one (seconds, default 1)")
    parser.add_argument("--max-bytes", type=int, default=64 * MIB,
                        help="max_bytes= passed to vellox when it takes one (default 64 MiB)")
    parser.add_argument("--ops", type=int, default=1_000_000,
                        help="operations in the slow file's content stream (default 1,000,000)")
    parser.add_argument("--pages", type=int, default=30,
                        help="pages of the slow file, each drawing that stream (default 30)")
    parser.add_argument("--kill-after", type=float, default=600.0,
                        help="seconds before a child is killed (default 600)")
    parser.add_argument("--keep", type=Path, help="also write the files to this directory")
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], json.loads(args.child[1]))
        return 0

    import vellox
    limits, missing = supported_limits({"timeout": args.timeout, "max_bytes": args.max_bytes})
    print(f"vellox {getattr(vellox, '__version__', '?')}, Python {sys.version.split()[0]}, "
          f"load average {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    if missing:
        print(f"vellox.parse_to_markdown takes no {', '.join(missing)}=: "
              + ("running without limits only" if not limits else "not passed"))

    start = time.perf_counter()
    files = {
        "examples/sample.pdf": SAMPLE.read_bytes(),
        "flate bomb (800 MiB of spaces)": flate_bomb(),
        f"slow file ({args.ops:,} x '0 0 m ', {args.pages} pages)": slow_file(args.ops, args.pages),
    }
    print(f"built the files in {time.perf_counter() - start:.1f} s")
    workdir = args.keep
    if workdir is None:
        import tempfile
        workdir = Path(tempfile.mkdtemp(prefix="vellox-bombs-"))
    workdir.mkdir(parents=True, exist_ok=True)

    runs = [("no limits", {})]
    if limits:
        runs.append((", ".join(f"{k}={v}" for k, v in limits.items()), limits))
    print(f"\n{'file':<44} {'size':>10} {'limits':<32} {'seconds':>8} {'peak MiB':>9} "
          f"{'at start':>9}  outcome")
    for index, (name, data) in enumerate(files.items()):
        path = workdir / f"file{index}.pdf"
        path.write_bytes(data)
        for label, kwargs in runs:
            r = measure(path, kwargs, args.kill_after)
            peak = f"{r['peak']:.0f}" if r["peak"] is not None else "-"
            before = f"{r['before']:.0f}" if r["before"] is not None else "-"
            print(f"{name:<44} {len(data):>10,} {label:<32} {r['seconds']:>8.2f} {peak:>9} "
                  f"{before:>9}  {r['outcome']}", flush=True)
        if args.keep is None:
            path.unlink()
    if args.keep is None:
        workdir.rmdir()
    print("\nseconds: the call alone (a killed child: until it was killed); peak MiB: the "
          "child's peak resident set size; at start: its size before the call.")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
