#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/JSON.hpp"

namespace velmora::CaptureNaming {

// "<host>_<title>_<yyyyMMdd_HHmmss>" for a capture or print of a web page.
// The host is the brand's English name when there is no URL or no host; an
// empty title is "ページ". Each part is made safe as a file name and cut to
// whole characters (host 40, title 80 UTF-8 bytes); the date is in the
// current time zone. Never fails.
std::string stem(const std::optional<std::string>& url, std::string_view title, Date date);

}  // namespace velmora::CaptureNaming
