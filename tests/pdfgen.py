"""Small hand-made PDFs for the tests: objects are written in order and the
cross-reference table is computed from their real offsets."""

from __future__ import annotations


def stream(data: bytes, extra: bytes = b"") -> bytes:
    return b"<< /Length %d %s>>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def build(objects: list[bytes], root: int | None = 1, trailer: bytes = b"",
          version: bytes = b"1.4") -> bytes:
    """Object i (1-based) is objects[i-1]; the trailer names `root` as /Root."""
    out = bytearray(b"%PDF-" + version + b"\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    start = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d " % (len(objects) + 1)
    if root is not None:
        out += b"/Root %d 0 R " % root
    out += trailer + b">>\nstartxref\n%d\n%%%%EOF\n" % start
    return bytes(out)


FONT = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"


def text_ops(lines: list[tuple[float, float, bytes]]) -> bytes:
    ops = b""
    for x, y, text in lines:
        ops += b"BT /F1 12 Tf %g %g Td (%s) Tj ET\n" % (x, y, text)
    return ops


def document(pages: list[bytes], media_box: bytes = b"[0 0 612 792]",
             image: bytes | None = None) -> bytes:
    """One page per content stream in `pages`, all sharing Helvetica as /F1
    and, when given, the image XObject stream `image` as /Im0."""
    n = len(pages)
    # 1 catalog, 2 pages, 3 font, 4 image (or null), then page/content pairs
    kids = b" ".join(b"%d 0 R" % (5 + 2 * i) for i in range(n))
    resources = b"<< /Font << /F1 3 0 R >>"
    if image is not None:
        resources += b" /XObject << /Im0 4 0 R >>"
    resources += b" >>"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [%s] /Count %d /MediaBox %s >>" % (kids, n, media_box),
        FONT,
        image if image is not None else b"null",
    ]
    for i, content in enumerate(pages):
        objects.append(b"<< /Type /Page /Parent 2 0 R /Resources %s /Contents %d 0 R >>"
                       % (resources, 6 + 2 * i))
        objects.append(stream(content))
    return build(objects)


def gray_image(width: int = 4, height: int = 2) -> bytes:
    return stream(bytes(range(width * height)),
                  b"/Type /XObject /Subtype /Image /Width %d /Height %d "
                  b"/ColorSpace /DeviceGray /BitsPerComponent 8 " % (width, height))


HELLO = document([text_ops([(72, 720, b"Hello vellox"), (72, 700, b"second line")])])
