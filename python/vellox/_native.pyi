"""Extraction with the interpreter lock released (`vellox._native`)."""

from typing import Any, Optional, Union

from vellox._types import Info, Order, Pages

def extract(data: Union[bytes, bytearray, memoryview], password: Optional[str] = None, *,
            format: str = "dict", pages: Optional[Pages] = None,
            timeout: Optional[float] = None, max_bytes: Optional[int] = None,
            order: Order = "reading") -> Any:
    """Extract a PDF in one of the forms markdown, json, html, text or dict, with the interpreter lock released, within `timeout` seconds and `max_bytes` decoded bytes when given; order 'reading' (columns and blocks) or 'position' (top to bottom)."""

def info(data: Union[bytes, bytearray, memoryview], password: Optional[str] = None, *,
         timeout: Optional[float] = None, max_bytes: Optional[int] = None) -> Info:
    """Read a PDF's metadata, page sizes and outline without interpreting any page."""
