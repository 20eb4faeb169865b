"""The reading forms through real renderers.

The Markdown of every file of the shared corpora goes through markdown-it
(CommonMark, with the pipe tables of GitHub's dialect, which vellox writes):
what it shows must be vellox's text, with the headings vellox found and no
list, quote, code, link, emphasis or raw HTML that the page did not have. The
HTML of multi-page files goes through headless Chromium, whose own layout
must put the page sections one after the other and every line of text inside
its section.
"""

from __future__ import annotations

import html
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import pdfgen
import vellox

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
from corpus import ALL_CORPORA, CORPORA, corpus_passwords  # noqa: E402

FILES = sorted(p for folder in ALL_CORPORA if folder.is_dir() for p in folder.glob("*.pdf"))
needs_corpus = pytest.mark.skipif(not FILES, reason=f"shared corpora not found at {CORPORA}")

OCR_NOTICE = "[scanned page \u2014 text extraction requires OCR]"
PAGE_COMMENT = re.compile(r"<!-- page (\d+) -->\n?")


def normalized(text: str) -> str:
    # CommonMark replaces U+0000 with U+FFFD; whitespace is the renderer's
    # to collapse.
    return " ".join(text.replace("\0", "\ufffd").split())


# ------------------------------------------------------------ Markdown

def rendered_pages(markdown: str) -> list[dict]:
    """Each page as markdown-it reads it: its number, its visible text and
    its headings as (level, text); fails on any construct vellox must not
    produce."""
    from markdown_it import MarkdownIt

    tokens = MarkdownIt("commonmark").enable("table").parse(markdown)
    pages: list[dict] = []
    breaks = 0
    heading = 0
    cells: list[str] = []
    for i, token in enumerate(tokens):
        kind = token.type
        if kind == "html_block":
            match = PAGE_COMMENT.fullmatch(token.content)
            assert match, f"raw HTML block {token.content!r}"
            pages.append({"number": int(match.group(1)), "pieces": [], "headings": []})
        elif kind == "hr":
            breaks += 1
        elif kind == "heading_open":
            heading = int(token.tag[1])
        elif kind == "tr_close":
            pages[-1]["pieces"].append("\t".join(cells))
            cells = []
        elif kind == "inline":
            text = ""
            for child in token.children or []:
                if child.type == "text":
                    text += child.content
                elif child.type == "softbreak":
                    text += " "
                elif child.type == "hardbreak":
                    text += "\n"
                elif child.type in ("em_open", "em_close") and token.content == f"_{OCR_NOTICE}_":
                    pass
                else:
                    pytest.fail(f"inline {child.type} in {token.content!r}")
            if text == OCR_NOTICE:
                continue
            parent = tokens[i - 1].type
            if parent in ("th_open", "td_open"):
                cells.append(text)
            else:
                assert parent in ("paragraph_open", "heading_open"), parent
                pages[-1]["pieces"].append(text)
                if heading:
                    pages[-1]["headings"].append((heading, normalized(text)))
        elif kind == "heading_close":
            heading = 0
        elif kind not in ("paragraph_open", "paragraph_close", "table_open", "table_close",
                          "thead_open", "thead_close", "tbody_open", "tbody_close", "tr_open",
                          "th_open", "th_close", "td_open", "td_close"):
            pytest.fail(f"{kind} in the rendered Markdown: {token.content!r}")
    assert breaks == max(len(pages) - 1, 0)
    return pages


class Headings(html.parser.HTMLParser):
    """The headings of vellox's HTML, page by page."""

    def __init__(self) -> None:
        super().__init__()
        self.pages: list[list[tuple[int, str]]] = []
        self.level = 0

    def handle_starttag(self, tag, attrs):
        if tag == "section":
            self.pages.append([])
        elif tag in ("h1", "h2", "h3"):
            self.level = int(tag[1])
            self.pages[-1].append((self.level, ""))

    def handle_endtag(self, tag):
        if tag in ("h1", "h2", "h3"):
            self.level = 0

    def handle_data(self, data):
        if self.level:
            level, text = self.pages[-1][-1]
            self.pages[-1][-1] = (level, text + data)


def check_markdown_round_trip(data: bytes, password: str | None = None) -> None:
    markdown = vellox.parse_to_markdown(data, password)
    texts = vellox.convert(data, "text", password).split("\f")
    parser = Headings()
    parser.feed(vellox.parse_to_html(data, password))
    pages = rendered_pages(markdown)
    assert len(pages) == len(texts) == len(parser.pages)
    for page, text, headings in zip(pages, texts, parser.pages):
        assert normalized(" ".join(page["pieces"])) == normalized(text), f"page {page['number']}"
        assert page["headings"] == [(level, normalized(text)) for level, text in headings], \
            f"page {page['number']}"


def opened(path: Path) -> tuple[bytes, str | None]:
    data = path.read_bytes()
    password = corpus_passwords(path.parent).get(path.name)
    try:
        vellox.info(data, password)
    except ValueError as exc:
        pytest.skip(f"vellox does not open it: {exc}")
    return data, password


@needs_corpus
@pytest.mark.parametrize("path", FILES, ids=[f"{p.parent.name}/{p.name}" for p in FILES])
def test_markdown_renders_as_the_text(path):
    pytest.importorskip("markdown_it", reason="markdown-it-py not installed")
    data, password = opened(path)
    check_markdown_round_trip(data, password)


def pdf_string(text: str) -> bytes:
    raw = text.encode("cp1252")
    return raw.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)")


# Lines that CommonMark would read as syntax if they were written raw.
SYNTAX_LINES = [
    "# 3 Results", "- AOAAAAAAAAAA -", "1. Introduction", "2) second", "> quoted", "+ plus",
    "* star", "---", "===", "~~~ fence", "```code", "    four spaces", "a *b* _c_ **d** __e__",
    "`code` ``x``", "[link](http://x.org) ![img](y.png) [ref]", "<b>bold</b> <http://x.org>",
    "back\\slash\\ \\*", "&amp; &copy; &#169; &#xA9; AT&T", "| a | b |", "| --- | --- |",
    "trailing #", "<!-- not a comment -->", "exam-", "ple",
]


def test_markdown_of_syntax_lines_renders_as_written():
    pytest.importorskip("markdown_it", reason="markdown-it-py not installed")
    ops = pdfgen.text_ops([(72, 760 - 20 * i, pdf_string(t)) for i, t in enumerate(SYNTAX_LINES)])
    data = pdfgen.document([ops])
    check_markdown_round_trip(data)
    # Nothing was dropped on the way.
    text = vellox.convert(data, "text")
    for line in SYNTAX_LINES:
        assert line.strip() in text


# ------------------------------------------------------------ HTML

# Writes where Chromium laid out each page section and each line of text
# (the rectangles of every text node's line boxes) into the document.
LAYOUT_SCRIPT = """<script>
(function () {
  const out = [];
  const range = document.createRange();
  for (const section of document.querySelectorAll("section.page")) {
    const r = section.getBoundingClientRect();
    const lines = [];
    const walker = document.createTreeWalker(section, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      if (!node.textContent.trim()) continue;
      range.selectNodeContents(node);
      for (const b of range.getClientRects()) {
        if (b.width > 0 && b.height > 0) lines.push([b.left, b.top, b.right, b.bottom]);
      }
    }
    out.push({page: section.id, box: [r.left, r.top, r.right, r.bottom], lines: lines});
  }
  const pre = document.createElement("pre");
  pre.id = "vellox-layout";
  pre.textContent = JSON.stringify(out);
  document.body.appendChild(pre);
})();
</script>
"""

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
HTML_FILES = ["sample-files/GeoTopo-komprimiert.pdf",
              "pypdf-resources/Seige_of_Vicksburg_Sample_OCR.pdf",
              "sample-files/pdflatex-4-pages.pdf"]


def chromium_layout(page_html: str, tmp_path: Path) -> list[dict]:
    document = tmp_path / "doc.html"
    document.write_text(page_html.replace("</body>", LAYOUT_SCRIPT + "</body>"), encoding="utf-8")
    # Not under the sanitizer runtime that the test command preloads for a
    # sanitized vellox: Chromium is not built for it.
    env = {k: v for k, v in os.environ.items()
           if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    result = subprocess.run(
        [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
         f"--user-data-dir={tmp_path / 'profile'}", "--window-size=1000,800", "--dump-dom",
         document.as_uri()],
        capture_output=True, text=True, timeout=180, env=env)
    match = re.search(r'<pre id="vellox-layout">(.*?)</pre>', result.stdout, re.S)
    assert match, f"no layout from chromium: {result.stderr[-2000:]}"
    return json.loads(html.unescape(match.group(1)))


@needs_corpus
@pytest.mark.skipif(CHROMIUM is None, reason="chromium not installed (apt-get install chromium)")
@pytest.mark.parametrize("name", HTML_FILES)
def test_html_pages_do_not_overlap_and_hold_their_lines(name, tmp_path):
    path = CORPORA / name
    data, password = opened(path)
    layout = chromium_layout(vellox.parse_to_html(data, password), tmp_path)
    assert [s["page"] for s in layout] == [f"page-{n}" for n in range(1, len(layout) + 1)]
    assert len(layout) >= 2
    slack = 0.5  # CSS pixels of rounding
    previous_bottom = float("-inf")
    for section in layout:
        left, top, right, bottom = section["box"]
        assert top >= previous_bottom - slack, f"{section['page']} overlaps the page before"
        previous_bottom = bottom
        for x0, y0, x1, y1 in section["lines"]:
            assert left - slack <= x0 and x1 <= right + slack, (section["page"], x0, x1)
            assert top - slack <= y0 and y1 <= bottom + slack, (section["page"], y0, y1)
    assert sum(len(s["lines"]) for s in layout) > 10 * len(layout)
