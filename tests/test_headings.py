"""Heading detection on documents whose headings are known: written with
LibreOffice's heading styles, pdflatex's sections and reportlab's sample
styles (core/tests/fixtures/headings, made by make_fixtures.sh there)."""

from __future__ import annotations

import html.parser
from collections import Counter
from pathlib import Path

import vellox

FIXTURES = Path(__file__).resolve().parents[1] / "core" / "tests" / "fixtures" / "headings"


class Headings(html.parser.HTMLParser):
    def __init__(self) -> None:
        super().__init__()
        self.found: list[tuple[int, str]] = []
        self.level = 0

    def handle_starttag(self, tag, attrs):
        if tag in ("h1", "h2", "h3"):
            self.level = int(tag[1])
            self.found.append((self.level, ""))

    def handle_endtag(self, tag):
        self.level = 0

    def handle_data(self, data):
        if self.level:
            self.found[-1] = (self.level, self.found[-1][1] + data)


def known() -> dict[str, list[tuple[int, str]]]:
    out: dict[str, list[tuple[int, str]]] = {}
    for line in (FIXTURES / "headings.txt").read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            name, level, text = line.split("\t")
            out.setdefault(name, []).append((int(level), text))
    return out


def found(name: str) -> list[tuple[int, str]]:
    parser = Headings()
    parser.feed(vellox.parse_to_html(FIXTURES / name))
    return parser.found


def test_precision_and_recall_on_documents_with_known_headings():
    true_positives = false_positives = false_negatives = right_level = 0
    for name, expected in known().items():
        got = found(name)
        expected_texts = Counter(text for _, text in expected)
        got_texts = Counter(text for _, text in got)
        true_positives += sum((expected_texts & got_texts).values())
        false_positives += sum((got_texts - expected_texts).values())
        false_negatives += sum((expected_texts - got_texts).values())
        right_level += len(set(expected) & set(got))
    precision = true_positives / (true_positives + false_positives)
    recall = true_positives / (true_positives + false_negatives)
    print(f"headings: precision {precision:.3f}, recall {recall:.3f}, "
          f"{right_level} of {true_positives} found at their level")
    # pdflatex sets the author and the date at \subsection's size (false
    # positives) and \subsubsection at the body's (a miss), and its
    # "1.2.1" heading joins the paragraph block under it. reportlab's title
    # and first section heading, both set at 18 points ten units apart, form
    # one block of the reading order and so one heading (a miss of two, a
    # false positive of one). Everything else is found, at its level.
    assert (true_positives, false_positives, false_negatives) == (26, 3, 3)
    assert right_level == true_positives


def test_running_headers_and_page_numbers_are_not_headings():
    for name in known():
        texts = [text for _, text in found(name)]
        assert not any(t.startswith("Page ") for t in texts), name
    # Set at 14-point bold on every page, above the body's 10.
    assert "ACME Water Board" not in [t for _, t in found("reportlab-headings.pdf")]
    # LibreOffice's header repeats the title at body size: one heading only.
    assert [t for _, t in found("libreoffice-headings.pdf")].count("Field Notes on River Gauges") == 1
