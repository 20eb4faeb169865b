"""The generated tables in core/src are what their scripts make now from
../shared/data, byte for byte: the glyph and standard-font tables
(scripts/gen_font_tables.py, which also gives the same bytes on every run)
and the CJK CMap and collection tables (scripts/gen_cjk_tables.py)."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
SCRIPT = ROOT / "scripts" / "gen_font_tables.py"
DATA = ROOT / ".." / "shared" / "data"
OUTPUTS = ("agl_tables.inc", "std14_tables.inc")

CJK_SCRIPT = ROOT / "scripts" / "gen_cjk_tables.py"
CJK_OUTPUTS = ("cidcmap_tables.cpp", "collection_tables.cpp")

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


@pytest.mark.skipif(not (DATA / "cmap-resources").is_dir(),
                    reason=f"CMap resources not found at {DATA / 'cmap-resources'}")
def test_cjk_tables_are_current(tmp_path):
    subprocess.run([sys.executable, str(CJK_SCRIPT), "--out", str(tmp_path)],
                   check=True, capture_output=True)
    for name in CJK_OUTPUTS:
        fresh = (tmp_path / name).read_bytes()
        committed = (ROOT / "core" / "src" / name).read_bytes()
        assert fresh == committed, f"core/src/{name} differs from what the script generates"
