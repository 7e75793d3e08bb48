#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "foundation/JSON.hpp"
#include "foundation/ProductDefaults.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// The one persisted preferences record, "preferences.json".
struct AppPreferences {
    enum class Panel { right, bottom };
    enum class SaveMode { ask, automatic };

    int64_t schemaVersion = 1;
    ProductDefaults product;
    double rightPanelPreferredWidth = 320;
    double bottomPanelPreferredHeight = 300;
    double ocrPreviewPreferredWidth = 360;
    Panel panel = Panel::right;
    SaveMode saveMode = SaveMode::ask;
    std::optional<UUID> destinationID;
    int64_t mobileWidth = 430;
    bool lazyLoad = true;
    bool automaticOCR = true;
    int64_t logDays = 30;
    int64_t historyDays = 0;
    bool restoreTabs = false;
    std::optional<UUID> restoreEpoch;

    struct Read;
    // The tolerant reader of the settings store: every key on its own, a
    // missing or bad value replaced by its default and reported as partial.
    // Fails only for bytes that are not JSON (JSON::DecodeError), a top level
    // that is not an object (invalidInput), a schema version other than 1
    // (settingsChanged), or a product block that does not decode
    // (JSON::DecodeError) or validate (invalidInput).
    static Read decode(const std::vector<uint8_t>& bytes);

    bool operator==(const AppPreferences&) const = default;
};

struct AppPreferences::Read {
    AppPreferences value;
    bool partial = false;
};

std::string_view rawValue(AppPreferences::Panel p);
std::string_view rawValue(AppPreferences::SaveMode m);
template <>
std::optional<AppPreferences::Panel> fromRaw<AppPreferences::Panel>(std::string_view raw);
template <>
std::optional<AppPreferences::SaveMode> fromRaw<AppPreferences::SaveMode>(std::string_view raw);

// Strict, for generic decoding only; the store reads with decode().
void to_json(Json& j, const AppPreferences& p);
void from_json(const Json& j, AppPreferences& p);

}  // namespace velmora
