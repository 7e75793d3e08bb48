#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/JSON.hpp"

namespace velmora::CaptureNaming {

// "<host>_<title>_<yyyyMMdd_HHmmss>" for a capture or print of a web page.
// The host is the brand's English name when there is no URL or no host; an
// empty title is "ページ". Each part is made safe as a file name and cut
// where a word ends within its length (host 40, title 80 UTF-8 bytes); the
// date is in the current time zone. Never fails.
std::string stem(const std::optional<std::string>& url, std::string_view title, Date date);

// The name of one part of a capture of `count` parts: the stem alone for a
// single part, otherwise the stem and the one-based number as "_%03d"
// ("_001", "_010", "_1000"). index is zero-based.
std::string part(std::string_view stem, int64_t index, int64_t count);

}  // namespace velmora::CaptureNaming
