#include "capture/WebAddress.hpp"

#include <glib.h>

#include <memory>

#include "foundation/BrindlexError.hpp"

namespace velmora::WebAddress {

namespace {

// Swift's notion of whitespace and newlines: the Unicode separators (the
// ideographic space of Japanese input among them), tab to carriage return,
// and NEL.
bool isTrimmed(gunichar c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    switch (g_unichar_type(c)) {
    case G_UNICODE_SPACE_SEPARATOR:
    case G_UNICODE_LINE_SEPARATOR:
    case G_UNICODE_PARAGRAPH_SEPARATOR:
        return true;
    default:
        return false;
    }
}

std::string trimmed(std::string_view text) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end && isTrimmed(g_utf8_get_char(begin))) begin = g_utf8_next_char(begin);
    while (end > begin) {
        const char* last = g_utf8_find_prev_char(begin, end);
        if (!last || !isTrimmed(g_utf8_get_char(last))) break;
        end = last;
    }
    return std::string(begin, end);
}

// An address that passed every check: http or https, a host, no user
// information.
struct Parsed {
    std::unique_ptr<GUri, decltype(&g_uri_unref)> uri{nullptr, g_uri_unref};
    std::string scheme;
    std::string host;
    int port = -1;

    static Parsed of(const std::string& text) {
        Parsed a;
        a.uri.reset(g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, nullptr));
        if (!a.uri) raise(ErrorCase::invalidInput);
        // GUri lower-cases the scheme, so "HTTPS" is accepted here.
        a.scheme = g_uri_get_scheme(a.uri.get());
        if (a.scheme != "http" && a.scheme != "https") raise(ErrorCase::invalidInput);
        const char* host = g_uri_get_host(a.uri.get());
        if (!host || !*host) raise(ErrorCase::invalidInput);
        a.host = host;
        // Any user information, even an empty one before "@", is refused.
        GUri* u = a.uri.get();
        if (g_uri_get_userinfo(u) || g_uri_get_user(u) || g_uri_get_password(u)) raise(ErrorCase::invalidInput);
        a.port = g_uri_get_port(u);
        return a;
    }
};

}  // namespace

std::string validatedURL(std::string_view text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) raise(ErrorCase::invalidInput);
    std::string candidate = trimmed(text);
    // Encoded: the address keeps its escapes as typed; characters that need
    // one (spaces, Japanese text) are escaped when it is written back.
    const Parsed checked = Parsed::of(candidate);
    char* joined = g_uri_to_string(checked.uri.get());
    if (!joined) raise(ErrorCase::invalidInput);
    std::string out(joined);
    g_free(joined);
    // GUri decodes escapes in the host but writes the host back as it is, so
    // "ex%40ample.com" would come back as "ex@ample.com" (a user name and
    // another host) and "ex%3Aample.com" as text that no longer parses. The
    // text handed on must name what was checked.
    const Parsed returned = Parsed::of(out);
    if (returned.scheme != checked.scheme || returned.host != checked.host || returned.port != checked.port)
        raise(ErrorCase::invalidInput);
    return out;
}

std::optional<std::string> shownHost(std::string_view address) {
    const std::string text(address);
    std::unique_ptr<GUri, decltype(&g_uri_unref)> uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr),
                                                      g_uri_unref);
    if (!uri) return std::nullopt;
    const char* host = g_uri_get_host(uri.get());
    if (!host || !*host) return std::nullopt;
    std::string shown(host);
    // GUri gives an international name in its ASCII form; a person reads it
    // as written.
    if (g_hostname_is_ascii_encoded(host)) {
        if (char* unicode = g_hostname_to_unicode(host)) {
            shown = unicode;
            g_free(unicode);
        }
    }
    if (shown.find(':') != std::string::npos) shown = "[" + shown + "]";
    const int port = g_uri_get_port(uri.get());
    const std::string_view scheme = g_uri_get_scheme(uri.get());
    const int own = scheme == "https" ? 443 : scheme == "http" ? 80 : -1;
    if (port < 0 || port == own) return shown;
    return shown + ":" + std::to_string(port);
}

}  // namespace velmora::WebAddress
