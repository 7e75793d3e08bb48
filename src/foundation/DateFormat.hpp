#pragma once

#include <string>
#include <string_view>

#include "foundation/JSON.hpp"

namespace velmora::DateFormat {

// Formats a date with an ICU pattern ("yyyyMMdd_HHmmss") in the POSIX locale
// and the Gregorian calendar. With a zone id the wall clock of that zone is
// used (an id ICU does not know leaves the current zone); without one, the
// current zone.
std::string format(Date date, std::string_view pattern, std::string_view zoneID = {});

inline constexpr std::string_view tokyo = "Asia/Tokyo";

}  // namespace velmora::DateFormat
