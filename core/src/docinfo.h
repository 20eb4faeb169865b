// What a document says about itself, read without interpreting any page:
// version, encryption, the document information dictionary (with XMP
// metadata where it is silent), each page's size and rotation, and the
// outline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc.h"
#include "object.h"
#include "result.h"

namespace vellox_core {

struct PageGeometry {
    double width = 0;  // media box, in points, as ExtractedDoc reports it
    double height = 0;
    std::int64_t rotation = 0;  // /Rotate, 0..359
};

struct OutlineEntry {
    std::uint32_t level = 1;  // 1 for the top level
    std::string title;
    std::optional<std::size_t> page;  // 0-based; nothing when it leads nowhere here
};

struct DocInfo {
    std::string version;
    // "RC4-40", "RC4-128" (RC4 with another key length says its length),
    // "AES-128" or "AES-256"; nothing for a file that is not encrypted.
    std::optional<std::string> encryption;
    std::optional<std::string> title;
    std::optional<std::string> author;
    std::optional<std::string> subject;
    std::optional<std::string> keywords;
    std::optional<std::string> creator;
    std::optional<std::string> producer;
    std::optional<std::string> created;   // ISO 8601
    std::optional<std::string> modified;  // ISO 8601
    std::vector<PageGeometry> pages;
    std::vector<OutlineEntry> outline;
};

// Fails only where opening and extracting would (the page tree); damaged
// metadata or outline entries are left out instead.
Result<DocInfo> read_doc_info(const Document& doc);

// The document's title: its information dictionary's /Title, else the XMP
// metadata's dc:title (as read_doc_info reads them); empty when it has none
// or they cannot be read. Costs a dictionary lookup for most files, and
// decoding the metadata stream for the others.
std::string read_title(const Document& doc);

// A PDF text string as UTF-8: UTF-16BE (or, as some producers write it,
// UTF-16LE) after a byte-order mark, UTF-8 after its mark (PDF 2.0), else
// PDFDocEncoding. Language escapes (ESC ... ESC) of UTF-16 are dropped.
std::string decode_text_string(ByteView bytes);

// "D:YYYYMMDDHHmmSSOHH'mm'" as ISO 8601; every part after the year is
// optional, and so is the "D:" prefix. Nothing when it is not such a date.
std::optional<std::string> pdf_date_to_iso(std::string_view text);

// dc:title (the x-default alternative, else the first) and dc:creator (the
// names of the sequence, joined by ", ") of an XMP packet.
struct XmpText {
    std::optional<std::string> title;
    std::optional<std::string> creator;
};
XmpText scan_xmp(std::string_view packet);

// The method an /Encrypt dictionary names, from /V, /Length and the crypt
// filter's /CFM.
std::optional<std::string> encryption_method(const Dictionary& encrypt);

}  // namespace vellox_core
