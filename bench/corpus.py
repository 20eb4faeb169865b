"""The shared corpora beside this repository, and the passwords their
README files give: one reader for every benchmark and comparison script.

Each corpus folder under ../shared/corpus has a README.md with a table of
its files; the "password" column says what opens an encrypted file, in one
of a few forms ("foo", "asdfzxcv (user)", "user foo, owner bar", "empty user
password; owner asdfzxcv").
"""

from __future__ import annotations

import functools
import re
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
CORPORA = REPO / ".." / "shared" / "corpus"
SAMPLE_FILES = CORPORA / "sample-files"
ALL_CORPORA = [CORPORA / "sample-files", CORPORA / "pypdf-resources",
               CORPORA / "pdfminer-samples"]


def readme_password(cell: str) -> str | None:
    """The password that opens a file, from the password column of a corpus
    README: "foo", "asdfzxcv (user)", "user foo, owner bar", or "empty user
    password; owner asdfzxcv" (opens without one)."""
    cell = cell.strip()
    if not cell or cell.startswith("empty user password"):
        return None
    m = re.match(r"user (\S+?),", cell)
    if m:
        return m.group(1)
    return cell.split()[0]


@functools.lru_cache(maxsize=None)
def corpus_passwords(folder: Path) -> dict[str, str]:
    """File name -> password, from the table in the folder's README.md."""
    readme = folder / "README.md"
    if not readme.is_file():
        return {}
    header: list[str] = []
    found: dict[str, str] = {}
    for line in readme.read_text(encoding="utf-8").splitlines():
        if not line.startswith("|"):
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        # The header row names the columns; a file whose password is the
        # word "password" (pypdf-resources' crazyones-encrypted-256.pdf)
        # must not be taken for one.
        if cells[0] == "file" and "password" in cells:
            header = cells
            continue
        if header and len(cells) == len(header) and cells[0].endswith(".pdf"):
            password = readme_password(cells[header.index("password")])
            if password is not None:
                found[cells[0]] = password
    return found


def password_for(path: Path) -> str | None:
    """The password its folder's README gives for `path`, or None."""
    return corpus_passwords(path.resolve().parent).get(path.name)
