"""vellox: fast PDF text, table and image extraction with a C++ core.

Each function takes a PDF (its bytes or any bytes-like object, a path, or a
binary file object), an optional password and optionally the pages to read,
and returns the extracted document in one form:

- ``parse``: a dict (version, and per page: its number, size, text lines
  with positions, the ruled table, the images, and whether it needs OCR);
- ``parse_to_json``: the same tree as indented JSON text;
- ``parse_to_markdown``: Markdown text;
- ``parse_to_html``: a standalone HTML document;
- ``convert``: any of these, or plain text, by name;
- ``info``: metadata, page sizes and the outline, without extraction.

Core errors raise ``ValueError`` with a text such as
``"InvalidHeader: no %PDF- header"``. ``timeout=`` (seconds) and
``max_bytes=`` (bytes decoded from the file's streams) limit a call, for
files you do not trust: past either, it raises
``ValueError("LimitExceeded: ...")``. The extraction runs with the
interpreter lock released, so threads convert in parallel; ``parse_many``
converts many files on threads (or processes).
"""

from vellox._api import convert, info, parse, parse_to_html, parse_to_json, parse_to_markdown
from vellox._types import (
    FORMATS,
    ORDERS,
    Document,
    Format,
    Image,
    Info,
    Line,
    Order,
    OutlineItem,
    Page,
    PageInfo,
    Pages,
    Source,
    Table,
)
from vellox._vellox import PanicException
from vellox.batch import WorkerDied, parse_many

__version__ = "0.1.0"

__all__ = [
    "parse",
    "parse_to_json",
    "parse_to_html",
    "parse_to_markdown",
    "convert",
    "info",
    "parse_many",
    "FORMATS",
    "Format",
    "ORDERS",
    "Order",
    "Source",
    "Pages",
    "Document",
    "Page",
    "Line",
    "Table",
    "Image",
    "Info",
    "PageInfo",
    "OutlineItem",
    "PanicException",
    "WorkerDied",
    "__version__",
]
