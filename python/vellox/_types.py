"""The types of the package's arguments and results.

The results are plain dicts and lists; these ``TypedDict`` classes describe
them for type checkers (at run time they are ordinary dicts). A coordinate
is a ``float``, or ``None`` where the file made it infinite or NaN.
"""

from __future__ import annotations

import os
from typing import Iterable, Literal, Optional, Protocol, TypedDict, Union

__all__ = [
    "Format",
    "FORMATS",
    "Order",
    "ORDERS",
    "Source",
    "Pages",
    "BinaryReader",
    "Line",
    "Table",
    "Image",
    "Page",
    "Document",
    "PageInfo",
    "OutlineItem",
    "Info",
]

#: A name of an output form.
Format = Literal["markdown", "json", "html", "text", "dict"]

#: The output forms ``convert`` and ``parse_many`` know.
FORMATS: tuple[Format, ...] = ("markdown", "json", "html", "text", "dict")


#: The order of each page's lines: ``"reading"`` reads columns down and
#: left to right, with tables row by row; ``"position"`` is top to bottom
#: across the whole page.
Order = Literal["reading", "position"]

#: The orders the functions take.
ORDERS: tuple[Order, ...] = ("reading", "position")


class BinaryReader(Protocol):
    """A binary file object: ``read()`` returns the rest of the file as bytes."""

    def read(self) -> bytes: ...


#: What a PDF can be given as: its bytes (or any bytes-like object), a path,
#: or a binary file object. A ``str`` is always a path.
Source = Union[bytes, bytearray, memoryview, str, "os.PathLike[str]", "os.PathLike[bytes]",
               BinaryReader]

#: Which pages to read: 0-based indices (negative ones count from the end),
#: ranges and slices, alone or in an iterable.
Pages = Union[int, range, slice, Iterable[Union[int, range, slice]]]


class Line(TypedDict):
    text: str
    x: Optional[float]
    y: Optional[float]


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
    page: int
    width: Optional[float]
    height: Optional[float]
    rotation: Literal[0, 90, 180, 270]
    lines: list[Line]
    needs_ocr: bool
    tables: list[Table]
    images: list[Image]


class Document(TypedDict):
    version: str
    pages: list[Page]


class PageInfo(TypedDict):
    page: int
    width: Optional[float]
    height: Optional[float]
    rotation: int


class OutlineItem(TypedDict):
    level: int
    title: str
    page: Optional[int]


class Info(TypedDict):
    version: str
    page_count: int
    encryption: Optional[str]  # "RC4-40", "RC4-128", "AES-128", "AES-256" or None
    title: Optional[str]
    author: Optional[str]
    subject: Optional[str]
    keywords: Optional[str]
    creator: Optional[str]
    producer: Optional[str]
    created: Optional[str]
    modified: Optional[str]
    pages: list[PageInfo]
    outline: list[OutlineItem]
