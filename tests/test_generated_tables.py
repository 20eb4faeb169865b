"""The generated glyph and standard-font tables in core/src are what
scripts/gen_font_tables.py makes now from ../shared/data, byte for byte, and
the generator gives the same bytes on every run."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
SCRIPT = ROOT / "scripts" / "gen_font_tables.py"
DATA = ROOT / ".." / "shared" / "data"
OUTPUTS = ("agl_tables.inc", "std14_tables.inc")

pytestmark = pytest.mark.skipif(
    not (DATA / "agl" / "glyphlist.txt").is_file(), reason=f"shared data not found at {DATA}"
)


def generate(out: Path) -> None:
    out.mkdir()
    subprocess.run([sys.executable, str(SCRIPT), "--out", str(out)], check=True)


def test_committed_tables_are_current():
    result = subprocess.run(
        [sys.executable, str(SCRIPT), "--check"], capture_output=True, text=True
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_generator_is_deterministic(tmp_path):
    generate(tmp_path / "a")
    generate(tmp_path / "b")
    for name in OUTPUTS:
        first = (tmp_path / "a" / name).read_bytes()
        assert first == (tmp_path / "b" / name).read_bytes(), name
        assert first == (ROOT / "core" / "src" / name).read_bytes(), name


def test_check_reports_a_stale_table(tmp_path):
    generate(tmp_path / "out")
    stale = tmp_path / "out" / "std14_tables.inc"
    stale.write_text(stale.read_text().replace("667", "668", 1))
    result = subprocess.run(
        [sys.executable, str(SCRIPT), "--check", "--out", str(tmp_path / "out")],
        capture_output=True, text=True,
    )
    assert result.returncode == 1
    assert "std14_tables.inc" in result.stdout and "agl_tables.inc" not in result.stdout
