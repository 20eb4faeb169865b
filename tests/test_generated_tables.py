"""The committed CJK tables are what scripts/gen_cjk_tables.py makes from
the CMap resources in ../shared/data now."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).parents[1]
RESOURCES = ROOT / ".." / "shared" / "data" / "cmap-resources"
GENERATED = ["cidcmap_tables.cpp", "collection_tables.cpp"]


@pytest.mark.skipif(not RESOURCES.is_dir(), reason=f"CMap resources not found at {RESOURCES}")
def test_cjk_tables_are_up_to_date(tmp_path):
    subprocess.run([sys.executable, str(ROOT / "scripts" / "gen_cjk_tables.py"), "--out", str(tmp_path)],
                   check=True, capture_output=True)
    for name in GENERATED:
        fresh = (tmp_path / name).read_bytes()
        committed = (ROOT / "core" / "src" / name).read_bytes()
        assert fresh == committed, f"core/src/{name} differs from what the script generates"
