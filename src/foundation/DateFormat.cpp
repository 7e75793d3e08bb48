#include "foundation/DateFormat.hpp"

#include <memory>
#include <stdexcept>

#include <unicode/gregocal.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

namespace velmora::DateFormat {

std::string format(Date date, std::string_view pattern, std::string_view zoneID) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale posix("en_US_POSIX");
    icu::SimpleDateFormat formatter(icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size()))),
                                    posix, status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU date formatter is unavailable");
    auto* calendar = new icu::GregorianCalendar(posix, status);
    if (U_FAILURE(status)) {
        delete calendar;
        throw std::runtime_error("ICU Gregorian calendar is unavailable");
    }
    formatter.adoptCalendar(calendar);
    if (!zoneID.empty()) {
        std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(
            icu::UnicodeString::fromUTF8(icu::StringPiece(zoneID.data(), static_cast<int32_t>(zoneID.size())))));
        if (zone && *zone != icu::TimeZone::getUnknown()) formatter.adoptTimeZone(zone.release());
    } else {
        formatter.adoptTimeZone(icu::TimeZone::detectHostTimeZone());
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString out;
    formatter.format(static_cast<UDate>(ms), out);
    std::string text;
    out.toUTF8String(text);
    return text;
}

}  // namespace velmora::DateFormat
