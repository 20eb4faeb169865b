"""Makes sample.pdf, the example used in the README: a few lines of text and
a small ruled table, drawn with reportlab (pip install reportlab).

    python examples/make_sample.py
"""

from pathlib import Path

from reportlab.lib.pagesizes import A4
from reportlab.pdfgen import canvas

OUT = Path(__file__).with_name("sample.pdf")

ROWS = [
    ["Format", "Function", "Returns"],
    ["dict", "parse", "nested dicts and lists"],
    ["JSON", "parse_to_json", "indented JSON text"],
    ["Markdown", "parse_to_markdown", "text with pipe tables"],
    ["HTML", "parse_to_html", "a standalone page"],
]
COLUMNS = [72, 172, 302, 482]  # x of the vertical rules
ROW_HEIGHT = 22


def main() -> None:
    # invariant=1 leaves out the creation date and random ID, so the file is
    # the same byte for byte each time it is made.
    c = canvas.Canvas(str(OUT), pagesize=A4, invariant=1)
    c.setTitle("vellox sample")
    c.setFont("Helvetica-Bold", 16)
    c.drawString(72, 770, "vellox sample document")
    c.setFont("Helvetica", 11)
    text = [
        "This page was made with reportlab to show what vellox extracts:",
        "the lines of text in reading order, and the ruled table below.",
    ]
    for i, line in enumerate(text):
        c.drawString(72, 740 - 16 * i, line)

    top = 680
    bottom = top - ROW_HEIGHT * len(ROWS)
    c.setLineWidth(0.8)
    for r in range(len(ROWS) + 1):
        y = top - r * ROW_HEIGHT
        c.line(COLUMNS[0], y, COLUMNS[-1], y)
    for x in COLUMNS:
        c.line(x, top, x, bottom)
    for r, row in enumerate(ROWS):
        c.setFont("Helvetica-Bold" if r == 0 else "Helvetica", 10)
        for col, cell in enumerate(row):
            c.drawString(COLUMNS[col] + 6, top - (r + 1) * ROW_HEIGHT + 7, cell)

    c.setFont("Helvetica-Oblique", 10)
    c.drawString(72, bottom - 30, "Every call holds the GIL; use vellox.parse_many for many files.")
    c.showPage()
    c.save()


if __name__ == "__main__":
    main()
