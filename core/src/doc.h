// An opened document, and the extraction pipeline over its pages.
#pragma once

#include <string>
#include <vector>

#include "object.h"
#include "pagetree.h"
#include "resolver.h"
#include "result.h"
#include "serialize.h"

namespace vellox_core {

struct Document {
    Resolver resolver;
    std::string version;

    // `data` is borrowed for the life of the Document.
    static Result<Document> parse_with_password(ByteView data, ByteView password);

    Result<Dictionary> catalog() const;
    Result<std::vector<Page>> pages() const;
    Result<ExtractedDoc> extract() const;
};

}  // namespace vellox_core
