// Rebuilding the cross-reference data of a damaged file from its body.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "object.h"
#include "resolver.h"
#include "result.h"
#include "xref.h"

namespace vellox_core {

// What one pass over the file body finds.
struct ObjectScan {
    // An in-file entry for every "num gen obj" header (the last one of a
    // number wins, as the newest revision of an incrementally updated file
    // does), and the trailer: the last "trailer" dictionary or
    // cross-reference stream dictionary, with /Root, /Info, /Encrypt and /ID
    // taken from older ones where it lacks them. Empty when there is none.
    Xref xref;
    // Objects whose dictionary says /Type /ObjStm, in file order.
    std::vector<std::uint32_t> object_streams;
    // Objects whose dictionary says /Type /Catalog, the last in the file
    // first.
    std::vector<std::uint32_t> catalogs;
    // Objects whose dictionary says /Type /Page, in file order.
    std::vector<std::uint32_t> pages;
};

// Scans `data` once for object headers and trailers. Stream bodies are
// stepped over, so that the bytes of an embedded file or of an uncompressed
// image never pass for objects. InvalidXref "no objects found" when there is
// not one header, "too many objects" past limits::kMaxScannedObjects.
Result<ObjectScan> scan_objects(ByteView data);

// Adds to `table` a compressed entry for every object stored in the object
// streams the scan listed, unless the number is defined again further on in
// the file. The streams are read through `resolver`, so in an encrypted file
// its decryptor must be installed first; the objects that fail to read add
// nothing.
void add_object_stream_entries(Xref& table, std::span<const std::uint32_t> object_streams,
                               const Resolver& resolver);

// The objects stored in object streams (the compressed entries of the
// resolver's table) whose dictionary says /Type /Catalog: for a damaged
// object-stream file whose trailers name no usable catalog. Every object
// stream the table uses is read once, each member up to the next.
std::vector<std::uint32_t> catalogs_in_object_streams(const Resolver& resolver);

}  // namespace vellox_core
