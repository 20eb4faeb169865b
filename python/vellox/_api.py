"""The package's conversion functions, over the native entry points that
run with the interpreter lock released."""

from __future__ import annotations

import math
import numbers
import operator
import os
from typing import Any, Literal, Optional, Union, overload

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
    return data


def check_limits(timeout: Optional[float],
                 max_bytes: Optional[int]) -> tuple[Optional[float], Optional[int]]:
    """``timeout`` and ``max_bytes`` as the native code takes them (a float
    of seconds, an int of bytes, or None for no limit), or the ``TypeError``
    or ``ValueError`` a bad value deserves, raised before any work."""
    seconds: Optional[float] = None
    if timeout is not None:
        if isinstance(timeout, bool) or not isinstance(timeout, numbers.Real):
            raise TypeError("timeout must be a number of seconds (int or float), "
                            f"not '{type(timeout).__name__}'")
        seconds = float(timeout)
        if not (seconds > 0 and math.isfinite(seconds)):
            raise ValueError(f"timeout must be a positive number of seconds, not {timeout!r}")
        if isinstance(timeout, numbers.Integral):
            seconds = float(int(timeout))
    count: Optional[int] = None
    if max_bytes is not None:
        if isinstance(max_bytes, bool):
            raise TypeError("max_bytes must be an int, not 'bool'")
        try:
            count = operator.index(max_bytes)
        except TypeError:
            raise TypeError(f"max_bytes must be an int, not '{type(max_bytes).__name__}'") \
                from None
        if count <= 0:
            raise ValueError(f"max_bytes must be a positive int, not {max_bytes!r}")
    return seconds, count


def _extract(data: Source, password: Optional[str], format: str, pages: Optional[Pages],
             timeout: Optional[float], max_bytes: Optional[int], order: Order) -> Any:
    seconds, count = check_limits(timeout, max_bytes)
    return _native.extract(load(data), password, format=format, pages=pages, timeout=seconds,
                           max_bytes=count, order=order)


def parse(data: Source, password: Optional[str] = None, *, pages: Optional[Pages] = None,
          timeout: Optional[float] = None, max_bytes: Optional[int] = None,
          order: Order = "reading") -> Document:
    """The document as a dict: its version and, for each page asked for (every
    page by default), its number, size, text lines with positions, ruled
    table, images and whether it needs OCR.

    ``timeout`` (seconds) and ``max_bytes`` (bytes decoded from the file's
    streams, all together) limit the call: past either, it raises
    ``ValueError("LimitExceeded: ...")``. Every function here takes them.

    ``order="reading"`` (the default) gives each page's lines in reading
    order: columns down and left to right, what spans them where it falls,
    a table row by row; ``order="position"`` gives them top to bottom
    across the whole page, as the first versions did. The other extraction
    functions take ``order`` too."""
    return _extract(data, password, "dict", pages, timeout, max_bytes, order)


def parse_to_json(data: Source, password: Optional[str] = None, *,
                  pages: Optional[Pages] = None, timeout: Optional[float] = None,
                  max_bytes: Optional[int] = None, order: Order = "reading") -> str:
    """The tree ``parse`` returns, as indented JSON text."""
    return _extract(data, password, "json", pages, timeout, max_bytes, order)


def parse_to_markdown(data: Source, password: Optional[str] = None, *,
                      pages: Optional[Pages] = None, timeout: Optional[float] = None,
                      max_bytes: Optional[int] = None, order: Order = "reading") -> str:
    """The document as Markdown: paragraphs, headings (``#`` to ``###``) and
    the ruled table in place, text escaped so that it renders as written;
    each page opens with ``<!-- page N -->``, pages are separated by
    ``---``."""
    return _extract(data, password, "markdown", pages, timeout, max_bytes, order)


def parse_to_html(data: Source, password: Optional[str] = None, *,
                  pages: Optional[Pages] = None, timeout: Optional[float] = None,
                  max_bytes: Optional[int] = None, order: Order = "reading") -> str:
    """The document as a standalone HTML page titled with the document's
    title: a ``<section id="page-N">`` per page, as wide as the page and
    growing with its paragraphs, headings and table."""
    return _extract(data, password, "html", pages, timeout, max_bytes, order)


@overload
def convert(data: Source, format: Literal["dict"], password: Optional[str] = None, *,
            pages: Optional[Pages] = None, timeout: Optional[float] = None,
            max_bytes: Optional[int] = None, order: Order = "reading") -> Document: ...


@overload
def convert(data: Source, format: Literal["markdown", "json", "html", "text"] = "markdown",
            password: Optional[str] = None, *, pages: Optional[Pages] = None,
            timeout: Optional[float] = None, max_bytes: Optional[int] = None,
            order: Order = "reading") -> str: ...


def convert(data: Source, format: Format = "markdown", password: Optional[str] = None, *,
            pages: Optional[Pages] = None, timeout: Optional[float] = None,
            max_bytes: Optional[int] = None, order: Order = "reading") -> Union[Document, str]:
    """The PDF in one of the forms of ``FORMATS``: ``"text"`` is the
    paragraphs separated by blank lines (a table's rows with tab-separated
    cells), pages separated by form feeds; ``"dict"`` is what ``parse``
    returns."""
    return _extract(data, password, format, pages, timeout, max_bytes, order)


def info(data: Source, password: Optional[str] = None, *, timeout: Optional[float] = None,
         max_bytes: Optional[int] = None) -> Info:
    """Version, page count, encryption, title, author and the other document
    information, each page's size and rotation, and the outline, read
    without interpreting any page (within ``timeout`` and ``max_bytes`` as
    ``parse``)."""
    seconds, count = check_limits(timeout, max_bytes)
    return _native.info(load(data), password, timeout=seconds, max_bytes=count)
