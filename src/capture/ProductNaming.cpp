#include "capture/ProductNaming.hpp"

#include "capture/CaptureNaming.hpp"
#include "foundation/DateFormat.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace ProductNaming {

std::string stem(const std::optional<std::string>& url, std::string_view title, std::string_view pattern,
                 Date date) {
    if (pattern == "site-title-date") return CaptureNaming::stem(url, title, date);
    const std::string when = DateFormat::format(date, "yyyyMMdd_HHmmss", DateFormat::tokyo);
    if (pattern == "title-date") {
        const std::string clean = SecureDirectory::safeStem(title);
        return std::string(Unicode::cutAtWord(clean, Unicode::prefixGraphemes(clean, 60).size())) + "_" + when;
    }
    return ProductBrand::current().englishIdentifier + "_" + when;
}

}  // namespace ProductNaming

}  // namespace velmora
