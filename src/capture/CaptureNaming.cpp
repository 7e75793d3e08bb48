#include "capture/CaptureNaming.hpp"

#include <glib.h>

#include <cstdio>

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

// Cleaned as a file name and cut within maxBytes where a word ends; a part
// that cleans or cuts to nothing is the brand's name instead.
std::string component(std::string_view text, std::size_t maxBytes) {
    const std::string clean = SecureDirectory::safeStem(text);
    std::string cut(Unicode::cutAtWord(clean, Unicode::truncateGraphemes(clean, maxBytes).size()));
    // One character can be longer than the whole limit (a letter with many
    // combining marks); the cut then leaves nothing.
    if (cut.empty()) cut = ProductBrand::current().englishIdentifier;
    return cut;
}

}  // namespace

std::string stem(const std::optional<std::string>& url, std::string_view title, Date date) {
    const std::string host = hostOf(url).value_or(ProductBrand::current().englishIdentifier);
    const std::string site = component(host, 40);
    const std::string page = component(title.empty() ? "ページ" : title, 80);
    return site + "_" + page + "_" + DateFormat::format(date, "yyyyMMdd_HHmmss");
}

std::string part(std::string_view stem, int64_t index, int64_t count) {
    std::string name(stem);
    if (count < 2) return name;
    // The number is index + 1 computed so that no index, however wrong,
    // overflows: unsigned from 0 up, signed below.
    char suffix[32];
    if (index >= 0) std::snprintf(suffix, sizeof suffix, "_%03llu", static_cast<unsigned long long>(index) + 1);
    else std::snprintf(suffix, sizeof suffix, "_%03lld", static_cast<long long>(index) + 1);
    return name + suffix;
}

}  // namespace velmora::CaptureNaming
