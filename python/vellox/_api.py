"""The package's conversion functions, over the native entry points that
run with the interpreter lock released."""

from __future__ import annotations

import os
from typing import Literal, Optional, Union, overload

from vellox import _native
from vellox._types import Document, Format, Info, Order, Pages, Source

__all__ = ["parse", "parse_to_json", "parse_to_markdown", "parse_to_html", "convert", "info"]

Data = Union[bytes, bytearray, memoryview]

_ACCEPTED = ("bytes, a bytes-like object, a path (str or os.PathLike) "
             "or a binary file object")


def load(data: Source) -> Data:
    """The bytes of the PDF `data` names, read once. Bytes-like objects are
    passed on as they are: the native code reads ``bytes`` in place and
    copies any other buffer once."""
    if isinstance(data, (bytes, bytearray, memoryview)):
        return data
    if isinstance(data, (str, os.PathLike)):
        with open(data, "rb") as f:
            return f.read()
    read = getattr(data, "read", None)
    if callable(read):
        chunk = read()
        if isinstance(chunk, str):
            raise TypeError("data is a text file object; open the file in binary mode ('rb')")
        if not isinstance(chunk, (bytes, bytearray, memoryview)):
            raise TypeError(f"data.read() returned '{type(chunk).__name__}', not bytes")
        return chunk
    try:
        memoryview(data)  # array.array, mmap, NumPy arrays...
    except TypeError:
        raise TypeError(f"data must be {_ACCEPTED}, not '{type(data).__name__}'") from None
    return data  # type: ignore[return-value]


def parse(data: Source, password: Optional[str] = None, *,
          pages: Optional[Pages] = None, order: Order = "reading") -> Document:
    """The document as a dict: its version and, for each page asked for (every
    page by default), its number, size, text lines with positions, ruled
    table, images and whether it needs OCR.

    ``order="reading"`` (the default) gives each page's lines in reading
    order: columns down and left to right, what spans them where it falls,
    a table row by row; ``order="position"`` gives them top to bottom
    across the whole page, as the first versions did. The other functions
    take ``order`` too."""
    return _native.extract(load(data), password, format="dict", pages=pages, order=order)


def parse_to_json(data: Source, password: Optional[str] = None, *,
                  pages: Optional[Pages] = None, order: Order = "reading") -> str:
    """The tree ``parse`` returns, as indented JSON text."""
    return _native.extract(load(data), password, format="json", pages=pages, order=order)


def parse_to_markdown(data: Source, password: Optional[str] = None, *,
                      pages: Optional[Pages] = None, order: Order = "reading") -> str:
    """The document as Markdown: each page opens with ``<!-- page N -->``,
    pages are separated by ``---``."""
    return _native.extract(load(data), password, format="markdown", pages=pages, order=order)


def parse_to_html(data: Source, password: Optional[str] = None, *,
                  pages: Optional[Pages] = None, order: Order = "reading") -> str:
    """The document as a standalone HTML page, a ``<section>`` per page."""
    return _native.extract(load(data), password, format="html", pages=pages, order=order)


@overload
def convert(data: Source, format: Literal["dict"], password: Optional[str] = None, *,
            pages: Optional[Pages] = None, order: Order = "reading") -> Document: ...


@overload
def convert(data: Source, format: Literal["markdown", "json", "html", "text"] = "markdown",
            password: Optional[str] = None, *, pages: Optional[Pages] = None,
            order: Order = "reading") -> str: ...


def convert(data: Source, format: Format = "markdown", password: Optional[str] = None, *,
            pages: Optional[Pages] = None, order: Order = "reading") -> Union[Document, str]:
    """The PDF in one of the forms of ``FORMATS``: ``"text"`` is each page's
    lines joined by line feeds, pages separated by form feeds; ``"dict"`` is
    what ``parse`` returns."""
    return _native.extract(load(data), password, format=format, pages=pages, order=order)


def info(data: Source, password: Optional[str] = None) -> Info:
    """Version, page count, encryption, title, author and the other document
    information, each page's size and rotation, and the outline, read
    without interpreting any page."""
    return _native.info(load(data), password)
