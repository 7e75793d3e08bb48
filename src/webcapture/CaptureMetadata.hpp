#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/JSON.hpp"

namespace velmora {

// What was captured, recorded with every output of a capture or print: in the
// publication journal and in the capture history.
struct CaptureMetadata {
    // The page address as recorded; absent when it was not a web address
    // worth keeping.
    std::optional<std::string> url;
    std::string title;
    // "PNG", "PDF" or "PDF + PNG".
    std::string format;
    std::optional<int64_t> pageCount;

    bool operator==(const CaptureMetadata&) const = default;
};

// "url" and "pageCount" are left out when absent; "title" and "format" are
// required when reading.
void to_json(Json& j, const CaptureMetadata& m);
void from_json(const Json& j, CaptureMetadata& m);

}  // namespace velmora
