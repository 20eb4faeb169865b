// An opened document, and the extraction pipeline over its pages.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "budget.h"
#include "object.h"
#include "pagetree.h"
#include "reading_order.h"
#include "resolver.h"
#include "result.h"
#include "serialize.h"

namespace vellox_core {

enum class ImageDetail : std::uint8_t { Full, PresenceOnly };

// How a call extracts its pages.
struct ExtractOptions {
    // With ImageDetail::PresenceOnly the pages list no images; only
    // needs_ocr is set as it would be. That is all the Markdown and HTML
    // forms show of images, and it spares decoding the images of every page
    // that has text.
    ImageDetail images = ImageDetail::Full;
    // The caller's limits on the call (0: none), checked where the work
    // happens (budget.h): seconds from the start of the call, and bytes
    // decoded from streams in all (content, forms, fonts, images, object
    // streams). Passing one fails the call with ErrorKind::LimitExceeded.
    double time_limit = 0;
    std::uint64_t max_decoded_bytes = 0;
    // The order of each page's lines and its blocks (reading_order.h).
    ReadingOrder order = ReadingOrder::Columns;
};

struct Document {
    Resolver resolver;
    std::string version;

    // `data` is borrowed for the life of the Document, and so is `budget`
    // when given: it is charged with the work of opening (cross-reference
    // and object streams decoded) and stays the budget of everything done
    // with the Document afterwards (resolver.budget), so that a call's
    // limits count from its very start.
    static Result<Document> parse_with_password(ByteView data, ByteView password,
                                                Budget* budget = nullptr);

    Result<Dictionary> catalog() const;
    Result<std::vector<Page>> pages() const;
    Result<ExtractedDoc> extract(const ExtractOptions& options = {}) const;
    // The pages `chosen` (indices into `pages`, this document's pages(), each
    // below its size; resolve_pages makes them) in that order: only they are
    // interpreted, so one page of a long document costs about one page.
    // The limits of `options` count from here, unless the Document was
    // opened with a budget: that one (made from the same limits by the
    // caller, before the opening) is then the call's.
    Result<ExtractedDoc> extract_pages(const std::vector<Page>& pages,
                                       std::span<const std::size_t> chosen,
                                       const ExtractOptions& options) const;
};

}  // namespace vellox_core
