"""The native extension module (`vellox._vellox`)."""

from vellox._types import Document as Document
from vellox._types import Image as Image
from vellox._types import Line as Line
from vellox._types import Page as Page
from vellox._types import Table as Table

__all__: list[str]

class PanicException(BaseException):
    """An internal failure of the native library (a bug, not a bad PDF)."""

def parse(data: bytes, password: str | None = None) -> Document:
    """Parse a PDF and return the extracted document as a native Python dict."""

def parse_to_json(data: bytes, password: str | None = None) -> str:
    """Parse a PDF and return its extracted form as pretty JSON."""

def parse_to_html(data: bytes, password: str | None = None) -> str:
    """Parse a PDF and render it to a standalone HTML document."""

def parse_to_markdown(data: bytes, password: str | None = None) -> str:
    """Parse a PDF and render it to Markdown."""
