#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace velmora {

// A 128-bit identifier; its text form is upper case, as stored in records and
// used for folder names.
class UUID {
public:
    UUID() = default;  // the nil UUID
    explicit UUID(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A new random (version 4) identifier from the kernel's random source.
    static UUID random();
    // Canonical 8-4-4-4-12 hexadecimal text, either case.
    static std::optional<UUID> parse(std::string_view text);

    std::string text() const;
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    auto operator<=>(const UUID&) const = default;

private:
    std::array<uint8_t, 16> bytes_{};
};

void to_json(nlohmann::json& j, const UUID& u);
void from_json(const nlohmann::json& j, UUID& u);

}  // namespace velmora
