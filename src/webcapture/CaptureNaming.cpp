#include "webcapture/CaptureNaming.hpp"

#include <glib.h>

#include "foundation/DateFormat.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"

namespace velmora::CaptureNaming {

namespace {

std::optional<std::string> hostOf(const std::optional<std::string>& url) {
    if (!url) return std::nullopt;
    GUri* uri = g_uri_parse(url->c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri) return std::nullopt;
    std::optional<std::string> host;
    if (const char* h = g_uri_get_host(uri); h && *h) host = h;
    g_uri_unref(uri);
    return host;
}

}  // namespace

std::string stem(const std::optional<std::string>& url, std::string_view title, Date date) {
    const std::string host = hostOf(url).value_or(ProductBrand::current().englishIdentifier);
    const std::string site(Unicode::truncateGraphemes(SecureDirectory::safeStem(host), 40));
    const std::string page(Unicode::truncateGraphemes(SecureDirectory::safeStem(title.empty() ? "ページ" : title), 80));
    return site + "_" + page + "_" + DateFormat::format(date, "yyyyMMdd_HHmmss");
}

}  // namespace velmora::CaptureNaming
