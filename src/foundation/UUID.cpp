#include "foundation/UUID.hpp"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "foundation/JSON.hpp"

namespace velmora {

UUID UUID::random() {
    std::array<uint8_t, 16> b{};
    std::size_t got = 0;
    while (got < b.size()) {
        ssize_t n = getrandom(b.data() + got, b.size() - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        got += static_cast<std::size_t>(n);
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    return UUID(b);
}

std::optional<UUID> UUID::parse(std::string_view s) {
    if (s.size() != 36) return std::nullopt;
    std::array<uint8_t, 16> b{};
    std::size_t bi = 0;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < s.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int hi = hex(s[i]), lo = hex(s[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        b[bi++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return UUID(b);
}

std::string UUID::text() const {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[bytes_[i] >> 4];
        out += digits[bytes_[i] & 0x0F];
    }
    return out;
}

void to_json(nlohmann::json& j, const UUID& u) { j = u.text(); }

void from_json(const nlohmann::json& j, UUID& u) {
    if (!j.is_string()) throw JSON::DecodeError("UUID: expected a string");
    auto parsed = UUID::parse(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("UUID: malformed " + j.get<std::string>());
    u = *parsed;
}

}  // namespace velmora
