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

}  // namespace

std::string validatedURL(std::string_view text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) raise(ErrorCase::invalidInput);
    std::string candidate = trimmed(text);
    // Encoded: the address keeps its escapes as typed; characters that need
    // one (spaces, Japanese text) are escaped when it is written back.
    GUri* uri = g_uri_parse(candidate.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (!uri) raise(ErrorCase::invalidInput);
    std::unique_ptr<GUri, decltype(&g_uri_unref)> holder(uri, g_uri_unref);
    // GUri lower-cases the scheme, so "HTTPS" is accepted here.
    std::string_view scheme = g_uri_get_scheme(uri);
    if (scheme != "http" && scheme != "https") raise(ErrorCase::invalidInput);
    const char* host = g_uri_get_host(uri);
    if (!host || !*host) raise(ErrorCase::invalidInput);
    // Any user information, even an empty one before "@", is refused.
    if (g_uri_get_userinfo(uri) || g_uri_get_user(uri) || g_uri_get_password(uri)) raise(ErrorCase::invalidInput);
    char* text_ = g_uri_to_string(uri);
    if (!text_) raise(ErrorCase::invalidInput);
    std::string out(text_);
    g_free(text_);
    return out;
}

}  // namespace velmora::WebAddress
