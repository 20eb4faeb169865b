// Object streams: the index of objects packed into one stream.
#pragma once

#include <cstdint>
#include <vector>

#include "object.h"
#include "result.h"

namespace vellox_core {

struct ObjStm {
    std::vector<std::uint32_t> nums;
    std::vector<std::uint64_t> offsets;  // relative to `first`
    Bytes data;                          // the decoded stream data
    std::uint64_t first = 0;

    static Result<ObjStm> parse(const Dictionary& dict, Bytes data);
};

}  // namespace vellox_core
