"""vellox: fast PDF text, table and image extraction with a C++ core.

Each function takes the bytes of one PDF file and an optional password and
returns the extracted document in one form:

- ``parse``: a dict (version, and per page: size, text lines with positions,
  the ruled table, the images, and whether the page needs OCR);
- ``parse_to_json``: the same tree as indented JSON text;
- ``parse_to_markdown``: Markdown text;
- ``parse_to_html``: a standalone HTML document.

Core errors raise ``ValueError`` with a text such as
``"InvalidHeader: no %PDF- header"``. Every call holds the interpreter lock;
``parse_many`` spreads many files over worker processes.
"""

from vellox._vellox import (
    PanicException,
    parse,
    parse_to_html,
    parse_to_json,
    parse_to_markdown,
)
from vellox.batch import FORMATS, convert, parse_many

__version__ = "0.1.0"

__all__ = [
    "parse",
    "parse_to_json",
    "parse_to_html",
    "parse_to_markdown",
    "parse_many",
    "convert",
    "FORMATS",
    "PanicException",
    "__version__",
]
