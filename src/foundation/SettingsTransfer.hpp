#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/PortableSettings.hpp"
#include "foundation/ProductBrand.hpp"

namespace velmora {

// The settings export file: the portable settings in a small envelope, and
// the strict reader that accepts a file only when it is small, well formed,
// complete and within the value sets.
struct SettingsTransfer {
    int64_t schemaVersion = 1;
    Date exportedAt{};
    std::string appVersion = Phase0::version();
    PortableSettings settings;

    static constexpr std::size_t maximumBytes = 131072;
    // "Characters" are the grapheme clusters the user sees.
    static constexpr std::size_t maximumAppVersionCharacters = 120;

    struct Parsed;

    // The envelope and whether the file held keys this system does not
    // recognise. The first failing check decides the error: too long or not
    // an envelope is invalidInput, malformed JSON or a wrong type is a
    // JSON::DecodeError, another format version or an over-long app version
    // is settingsChanged, a value outside its set is invalidInput.
    static Parsed parse(const std::vector<uint8_t>& data);
    // Reads a file the user chose: its extension (any case) must be one the
    // brand accepts, and it must be a regular file of at most maximumBytes,
    // opened once through its folder without following a link or waiting on
    // a FIFO.
    static Parsed read(const std::filesystem::path& url, const ProductBrand& brand = ProductBrand::current());
    // The same with a call between the size check and the read; it exists
    // only so a test can grow the file there, and production passes none.
    static Parsed read(const std::filesystem::path& url, const ProductBrand& brand,
                       const std::function<void()>& afterSizeCheck);

    bool operator==(const SettingsTransfer&) const = default;
};

struct SettingsTransfer::Parsed {
    SettingsTransfer transfer;
    bool extraKeys = false;
};

void to_json(Json& j, const SettingsTransfer& t);
void from_json(const Json& j, SettingsTransfer& t);

}  // namespace velmora
