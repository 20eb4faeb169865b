// Page interpretation: one walk over a page's content that follows the form
// XObjects it draws and the appearances of its annotations, and gathers
// what a reader sees: the text runs, the ruling lines and the images drawn.
#pragma once

#include <span>
#include <vector>

#include "content.h"
#include "font.h"
#include "image.h"
#include "pagetree.h"
#include "resolver.h"
#include "result.h"
#include "tables.h"
#include "text.h"

namespace vellox_core {

struct PageDrawing {
    std::vector<TextRun> runs;
    Segments rules;
    // Images drawn inside forms and appearances, and inline images; the
    // page's own image XObjects are listed from its resources.
    DrawnImages images;
};

// Interprets the page's content with one graphics state (the CTM and the
// text parameters, saved by q and restored by Q), then the normal
// appearance of each printed annotation:
// - Do of a form XObject interprets its content: its /Matrix concatenated
//   with the CTM in force, its own /Resources (those of the content that
//   draws it when it has none), in a graphics state of its own, so that the
//   drawing content's state is as before once it returns. Forms nest; a
//   form that is being drawn already (a cycle), one nested deeper than
//   kMaxFormDepth, one past the page's budgets, or one that cannot be read
//   is skipped and the page goes on. Each form's content is decoded and
//   parsed once per page, however often it is drawn.
// - An annotation is drawn when it is printed (its /F has the Print flag
//   and not Hidden) or is a form field's widget that is not hidden (field
//   values are what a reader reads on screen and paper alike, and
//   pdftotext shows them; only SF424_page2.pdf of the corpus has a widget
//   without the flag). Its appearance stream (/AP /N, the state /AS names
//   when that is a dictionary) is drawn as a form whose /BBox, transformed
//   by its /Matrix, is mapped onto the annotation's /Rect. Link and Popup
//   annotations give nothing. A text field without an appearance stream
//   (a form relying on /NeedAppearances, like form_evince.pdf) shows its
//   /V value in its /Rect at the /DA font size. Annotations give text and
//   images, not rules: a widget's frame is no table.
// Text drawn twice at almost the same place (faked bold, shadows) is kept
// once (drop_overprinted).
// Fails only where page_content fails for the page's own content.
Result<PageDrawing> interpret_page(const Resolver& resolver, const Page& page, FontCache& fonts);

// One content stream alone, with `fonts` and no resources: the same walk,
// where Do draws nothing. For the tests and the content fuzz harness.
PageDrawing interpret_content(ByteView content, const FontMap& fonts);

}  // namespace vellox_core
