#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/ProductBrand.hpp"

namespace velmora {

// A small settings document (format version, mobile page width, event-log
// retention and the custom recognition dictionary) with the check that
// decides whether such a document may be imported. Nothing in the system
// writes or reads it yet; its allowed values follow the preferences'.
struct PublicSettings {
    int64_t schemaVersion = 1;
    int64_t mobileWidth = 430;
    int64_t logRetentionDays = 30;
    std::vector<std::string> dictionary = Phase0::dictionary();

    static constexpr std::size_t maximumWords = 1000;
    static constexpr std::size_t maximumWordBytes = 256;

    // Decodes the document (a decoding error passes on unchanged) and returns
    // it as it is, only if every value lies within the rules; otherwise
    // invalidInput. Nothing is trimmed or removed.
    static PublicSettings importAllowed(const std::vector<uint8_t>& data);

    bool operator==(const PublicSettings&) const = default;
};

// All four keys are required when decoding.
void to_json(Json& j, const PublicSettings& s);
void from_json(const Json& j, PublicSettings& s);

}  // namespace velmora
