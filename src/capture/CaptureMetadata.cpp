#include "capture/CaptureMetadata.hpp"

#include <glib.h>

#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

constexpr std::size_t maximumTitleCharacters = 300;

// Scheme, host, port and path of an http or https address, as text; the
// rest (user, password, query, fragment) is what must not be kept. Parsed
// and rebuilt without decoding, so the path keeps its escapes.
std::optional<std::string> pageAddress(const std::string& url) {
    if (url.find('\0') != std::string::npos) return std::nullopt;
    constexpr GUriFlags flags = G_URI_FLAGS_ENCODED;
    GUri* parsed = g_uri_parse(url.c_str(), flags, nullptr);
    if (!parsed) return std::nullopt;
    std::optional<std::string> text;
    // GUri gives the scheme in lower case, so "HTTPS" is accepted too.
    const std::string scheme = g_uri_get_scheme(parsed) ? g_uri_get_scheme(parsed) : "";
    if (scheme == "http" || scheme == "https") {
        GUri* kept = g_uri_build(flags, g_uri_get_scheme(parsed), nullptr, g_uri_get_host(parsed),
                                 g_uri_get_port(parsed), g_uri_get_path(parsed), nullptr, nullptr);
        char* rebuilt = g_uri_to_string(kept);
        text = rebuilt;
        g_free(rebuilt);
        g_uri_unref(kept);
    }
    g_uri_unref(parsed);
    // An address is printable ASCII (the path's own characters come back
    // escaped, a host in punycode); anything else, such as a host with a
    // blank, is no address to record.
    if (text) {
        for (unsigned char c : *text) {
            if (c <= 0x20 || c >= 0x7F) return std::nullopt;
        }
    }
    return text;
}

}  // namespace

CaptureMetadata CaptureMetadata::normal(const std::optional<std::string>& url, std::string_view title) {
    CaptureMetadata m;
    if (url) m.url = pageAddress(*url);
    m.title = std::string(Unicode::prefixGraphemes(title, maximumTitleCharacters));
    m.format = "PNG";
    return m;
}

void to_json(Json& j, const CaptureMetadata& m) {
    j = Json::object();
    JSON::putOptional(j, "url", m.url);
    j["title"] = m.title;
    j["format"] = m.format;
    JSON::putOptional(j, "pageCount", m.pageCount);
}

void from_json(const Json& j, CaptureMetadata& m) {
    JSON::requireObject(j, "capture metadata");
    m.url.reset();
    if (auto it = j.find("url"); it != j.end() && !it->is_null()) m.url = JSON::requireString(j, "url");
    m.title = JSON::requireString(j, "title");
    m.format = JSON::requireString(j, "format");
    m.pageCount.reset();
    if (auto it = j.find("pageCount"); it != j.end() && !it->is_null()) m.pageCount = JSON::requireInt(j, "pageCount");
}

}  // namespace velmora
