#!/usr/bin/env python3
"""Writes a long text document for the benchmark: a few hundred pages of
paragraphs, headings and a ruled table per chapter, made by reportlab (a real
producer: compressed page content, standard and embedded-free Type1 fonts).

    python bench/make_long_doc.py OUT.pdf [--pages N]

The output is deterministic for a given page count and is not committed.
"""

from __future__ import annotations

import argparse
import random

from reportlab.lib import colors
from reportlab.lib.pagesizes import A4
from reportlab.lib.styles import getSampleStyleSheet
from reportlab.platypus import PageBreak, Paragraph, SimpleDocTemplate, Spacer, Table, TableStyle

WORDS = ("the of and to in is that for it as with was on be by this are from at or an which "
         "document stream page object font table image text layout decoder reference cross "
         "section value number array dictionary string name operator content filter width "
         "height matrix glyph encoding unicode mapping resource catalogue tree node leaf "
         "compression deflate window length distance literal symbol header trailer offset").split()


def sentence(rng: random.Random) -> str:
    words = [rng.choice(WORDS) for _ in range(rng.randint(6, 18))]
    return " ".join(words).capitalize() + "."


def build(path: str, pages: int) -> None:
    rng = random.Random(1951)
    styles = getSampleStyleSheet()
    story = []
    # A chapter (45 paragraphs and a table) fills about five pages of A4.
    chapters = max(1, pages // 5)
    for chapter in range(chapters):
        story.append(Paragraph(f"Chapter {chapter + 1}: {sentence(rng)[:-1]}", styles["Heading1"]))
        for _ in range(45):
            story.append(Paragraph(" ".join(sentence(rng) for _ in range(rng.randint(3, 7))),
                                   styles["BodyText"]))
            story.append(Spacer(1, 4))
        rows = [["Item", "Count", "Width", "Note"]]
        rows += [[f"item {i}", str(rng.randint(1, 999)), f"{rng.random() * 100:.2f}",
                  rng.choice(WORDS)] for i in range(8)]
        table = Table(rows)
        table.setStyle(TableStyle([("GRID", (0, 0), (-1, -1), 0.5, colors.black)]))
        story.append(table)
        story.append(PageBreak())
    SimpleDocTemplate(path, pagesize=A4, invariant=1, title="Long benchmark document").build(story)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out")
    parser.add_argument("--pages", type=int, default=300, help="approximate page count")
    args = parser.parse_args()
    build(args.out, args.pages)


if __name__ == "__main__":
    main()
