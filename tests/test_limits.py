"""timeout= and max_bytes=: the limits a caller puts on a call, on every
package function, on parse_many and on the command line."""

from __future__ import annotations

import json
import math
import subprocess
import sys
import time
import zlib

import pytest

import pdfgen
import vellox

MIB = 1 << 20


def compressed_repeat(unit: bytes, count: int) -> bytes:
    """zlib data of `unit` repeated `count` times, made a mebibyte at a time."""
    z = zlib.compressobj(9)
    per_chunk = max(1, MIB // len(unit))
    parts = []
    while count > 0:
        n = min(count, per_chunk)
        parts.append(z.compress(unit * n))
        count -= n
    parts.append(z.flush())
    return b"".join(parts)


def flate_pages(content: bytes, pages: int) -> bytes:
    """`pages` pages that all draw the one Flate content stream `content`."""
    kids = b" ".join(b"%d 0 R" % (4 + i) for i in range(pages))
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [%s] /Count %d /MediaBox [0 0 612 792] >>" % (kids, pages),
        pdfgen.stream(content, b"/Filter /FlateDecode "),
    ]
    objects += [b"<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>"] * pages
    return pdfgen.build(objects)


# 64 MiB of spaces in some 64 KB: decoding writes a thousand bytes per byte read.
BOMB = flate_pages(compressed_repeat(b" ", 64 * MIB), 1)
# 20 pages of 1,000,000 operations each: seconds of work from 14 KB.
SLOW = flate_pages(compressed_repeat(b"0 0 m ", 1_000_000), 20)
OVER_1_MIB = "LimitExceeded: decoded data over 1048576 bytes"

CALLS = {
    "parse": lambda data, **kw: vellox.parse(data, **kw),
    "parse_to_json": lambda data, **kw: vellox.parse_to_json(data, **kw),
    "parse_to_markdown": lambda data, **kw: vellox.parse_to_markdown(data, **kw),
    "parse_to_html": lambda data, **kw: vellox.parse_to_html(data, **kw),
    "convert-text": lambda data, **kw: vellox.convert(data, "text", **kw),
    "convert-dict": lambda data, **kw: vellox.convert(data, "dict", **kw),
}


@pytest.mark.parametrize("name", CALLS)
def test_a_bomb_fails_with_the_maximum_in_the_message(name):
    start = time.process_time()
    with pytest.raises(ValueError) as info:
        CALLS[name](BOMB, max_bytes=MIB)
    assert str(info.value) == OVER_1_MIB
    # It stopped while inflating: the whole stream takes several times this.
    assert time.process_time() - start < 0.5


@pytest.mark.parametrize("timeout, text", [(0.05, "0.05"), (0.1, "0.1")])
def test_a_slow_file_stops_on_time(timeout, text):
    start = time.process_time()
    with pytest.raises(ValueError) as info:
        vellox.parse_to_markdown(SLOW, timeout=timeout)
    assert str(info.value) == f"LimitExceeded: time limit of {text} s"
    # CPU time is at most the call's wall time; generous, the machine is shared.
    assert time.process_time() - start < timeout + 0.25


def test_an_integral_timeout_is_written_as_an_integer():
    with pytest.raises(ValueError) as info:
        vellox.parse(SLOW, timeout=1)
    assert str(info.value) == "LimitExceeded: time limit of 1 s"


def test_limits_not_reached_change_nothing():
    data = pdfgen.document([pdfgen.text_ops([(72, 720, b"page %d" % n)]) for n in range(1, 4)],
                           image=pdfgen.gray_image())
    for name, call in CALLS.items():
        assert call(data, timeout=60, max_bytes=1 << 40) == call(data), name
    assert vellox.info(data, timeout=60, max_bytes=MIB) == vellox.info(data)
    # The bomb's limit of its own size passes, one byte less does not.
    assert vellox.parse(BOMB, max_bytes=64 * MIB)["pages"][0]["lines"] == []
    with pytest.raises(ValueError, match="^LimitExceeded: decoded data over 67108863 bytes$"):
        vellox.parse(BOMB, max_bytes=64 * MIB - 1)


BAD_LIMITS = [
    ({"timeout": 0}, ValueError, "timeout must be a positive number of seconds, not 0"),
    ({"timeout": -1.5}, ValueError, "timeout must be a positive number of seconds, not -1.5"),
    ({"timeout": math.nan}, ValueError, "timeout must be a positive number of seconds, not nan"),
    ({"timeout": math.inf}, ValueError, "timeout must be a positive number of seconds, not inf"),
    ({"timeout": "1"}, TypeError, "timeout must be a number of seconds (int or float), not 'str'"),
    ({"timeout": True}, TypeError, "timeout must be a number of seconds (int or float), "
                                   "not 'bool'"),
    ({"max_bytes": 0}, ValueError, "max_bytes must be a positive int, not 0"),
    ({"max_bytes": -1}, ValueError, "max_bytes must be a positive int, not -1"),
    ({"max_bytes": 1.5}, TypeError, "max_bytes must be an int, not 'float'"),
    ({"max_bytes": "64M"}, TypeError, "max_bytes must be an int, not 'str'"),
    ({"max_bytes": False}, TypeError, "max_bytes must be an int, not 'bool'"),
]


@pytest.mark.parametrize("kwargs, kind, message", BAD_LIMITS)
def test_bad_limits_are_refused_before_any_work(tmp_path, kwargs, kind, message):
    missing = tmp_path / "missing.pdf"  # opening it would raise FileNotFoundError
    calls = [*CALLS.values(), lambda data, **kw: vellox.info(data, **kw),
             lambda data, **kw: vellox.parse_many([data], **kw)]
    for call in calls:
        with pytest.raises(kind) as info:
            call(missing, **kwargs)
        assert str(info.value) == message


def test_info_takes_the_limits():
    metadata = b"<x:xmpmeta><dc:title><rdf:Alt><rdf:li>From XMP</rdf:li></rdf:Alt></dc:title>" \
               b"</x:xmpmeta>" + b" " * 4096
    data = pdfgen.build([
        b"<< /Type /Catalog /Pages 2 0 R /Metadata 3 0 R >>",
        b"<< /Type /Pages /Kids [] /Count 0 >>",
        pdfgen.stream(metadata, b"/Type /Metadata /Subtype /XML "),
    ])
    assert vellox.info(data, max_bytes=MIB)["title"] == "From XMP"
    with pytest.raises(ValueError, match="^LimitExceeded: decoded data over 1000 bytes$"):
        vellox.info(data, max_bytes=1000)


@pytest.mark.parametrize("processes", [False, True])
def test_parse_many_applies_the_limits_to_each_file(processes):
    good = pdfgen.HELLO
    results = list(vellox.parse_many([good, BOMB, good], format="text", jobs=2,
                                     processes=processes, max_bytes=MIB, timeout=30))
    assert [item for item, _ in results] == [good, BOMB, good]
    assert results[0][1] == results[2][1] == vellox.convert(good, "text")
    assert isinstance(results[1][1], ValueError) and str(results[1][1]) == OVER_1_MIB
    results = list(vellox.parse_many([SLOW, good], format="text", jobs=2, processes=processes,
                                     timeout=0.1))
    assert isinstance(results[0][1], ValueError)
    assert str(results[0][1]) == "LimitExceeded: time limit of 0.1 s"
    assert results[1][1] == vellox.convert(good, "text")


def run_cli(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "vellox", *map(str, args)], cwd=cwd,
                          capture_output=True, text=True, encoding="utf-8", timeout=120)


def test_the_command_line_reports_a_file_over_its_limit_as_failed(tmp_path):
    (tmp_path / "in").mkdir()
    (tmp_path / "in" / "good.pdf").write_bytes(pdfgen.HELLO)
    (tmp_path / "in" / "bomb.pdf").write_bytes(BOMB)
    (tmp_path / "in" / "slow.pdf").write_bytes(SLOW)

    one = run_cli(tmp_path / "in" / "bomb.pdf", "--max-bytes", "1M")
    assert one.returncode == 1
    assert one.stderr == f"vellox: {tmp_path / 'in' / 'bomb.pdf'}: {OVER_1_MIB}\n"

    slow = run_cli(tmp_path / "in" / "slow.pdf", "--timeout", "0.05", "-f", "text")
    assert slow.returncode == 1
    assert slow.stderr.endswith(": LimitExceeded: time limit of 0.05 s\n")

    lines = run_cli(tmp_path / "in", "-f", "json", "--max-bytes", "1048576", "--timeout", "30")
    assert lines.returncode == 1
    records = {json.loads(line)["path"].rsplit("/", 1)[-1]: json.loads(line)
               for line in lines.stdout.splitlines()}
    assert records["bomb.pdf"]["error"] == OVER_1_MIB
    assert records["good.pdf"]["pages"][0]["lines"][0]["text"] == "Hello vellox"

    batch = run_cli(tmp_path / "in", "-o", tmp_path / "out", "--max-bytes", "1M", "-q")
    assert batch.returncode == 1
    assert (tmp_path / "out" / "good.md").exists()
    assert not (tmp_path / "out" / "bomb.md").exists()


@pytest.mark.parametrize("option, value, message", [
    ("--timeout", "0", "--timeout: 0 is not a positive number of seconds"),
    ("--timeout", "-2", "--timeout: -2 is not a positive number of seconds"),
    ("--timeout", "soon", "--timeout: 'soon' is not a number of seconds"),
    ("--max-bytes", "12X", "--max-bytes: '12X' is not a number of bytes (like 67108864 or 64M)"),
    ("--max-bytes", "0", "--max-bytes must be at least 1"),
])
def test_the_command_line_refuses_bad_limits(tmp_path, option, value, message):
    path = tmp_path / "good.pdf"
    path.write_bytes(pdfgen.HELLO)
    result = run_cli(path, f"{option}={value}")
    assert result.returncode == 2
    assert result.stderr == f"vellox: {message}\n"
