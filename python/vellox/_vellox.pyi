"""The native extension module (`vellox._vellox`)."""

from typing import Literal, TypedDict

__all__: list[str]

class Line(TypedDict):
    text: str
    x: float | None
    y: float | None

class Table(TypedDict):
    rows: int
    cols: int
    cells: list[list[str]]

class Image(TypedDict):
    name: str
    format: Literal["Jpeg", "Jpeg2000", "Ccitt", "Jbig2", "Raw"]
    width: int
    height: int
    bits_per_component: int
    color_space: str

class Page(TypedDict):
    width: float | None
    height: float | None
    rotation: Literal[0, 90, 180, 270]
    lines: list[Line]
    needs_ocr: bool
    tables: list[Table]
    images: list[Image]

class Document(TypedDict):
    version: str
    pages: list[Page]

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
