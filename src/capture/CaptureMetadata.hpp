#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

    // The metadata of a tall PNG of a page: the address without user,
    // password, query and fragment (none unless it is http or https, any
    // case), the title cut to its first 300 characters (grapheme clusters),
    // format "PNG" and no page count. Never fails.
    static CaptureMetadata normal(const std::optional<std::string>& url, std::string_view title);

    bool operator==(const CaptureMetadata&) const = default;
};

// "url" and "pageCount" are left out when absent; "title" and "format" are
// required when reading.
void to_json(Json& j, const CaptureMetadata& m);
void from_json(const Json& j, CaptureMetadata& m);

}  // namespace velmora
