#include "foundation/Base64.hpp"

#include <glib.h>

namespace velmora::Base64 {

namespace {

bool inAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    return c == '+' ? 62 : 63;
}

}  // namespace

std::string encode(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return {};
    gchar* text = g_base64_encode(bytes.data(), bytes.size());
    std::string out(text);
    g_free(text);
    return out;
}

std::optional<std::vector<uint8_t>> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    if (text.empty()) return std::vector<uint8_t>{};
    std::size_t padding = 0;
    if (text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        if (!inAlphabet(text[i])) return std::nullopt;
    }
    // The bits of the last character that fall after the data must be zero:
    // otherwise "YY==" and "YQ==" would both be read as "a".
    const char last = text[text.size() - padding - 1];
    if ((padding == 2 && (sextet(last) & 0x0F) != 0) || (padding == 1 && (sextet(last) & 0x03) != 0)) {
        return std::nullopt;
    }
    // g_base64_decode needs a NUL-terminated string.
    const std::string terminated(text);
    gsize length = 0;
    guchar* raw = g_base64_decode(terminated.c_str(), &length);
    std::vector<uint8_t> out(raw, raw + length);
    g_free(raw);
    return out;
}

}  // namespace velmora::Base64
