#pragma once

#include <cstdint>
#include <string>

#include "foundation/AppPreferences.hpp"
#include "foundation/JSON.hpp"
#include "foundation/ProductDefaults.hpp"

namespace velmora {

// The part of the preferences a user can carry to another machine: save
// mode, panel position, capture width and switches, retention periods and
// the product options. Window sizes, the output folder and the tab
// restoration belong to this machine and stay out.
struct PortableSettings {
    AppPreferences::SaveMode saveMode = AppPreferences::SaveMode::ask;
    AppPreferences::Panel panel = AppPreferences::Panel::right;
    int64_t mobileWidth = 430;
    bool lazyLoad = true;
    bool automaticOCR = true;
    int64_t historyDays = 0;
    int64_t logDays = 30;
    ProductDefaults product;

    PortableSettings() = default;
    explicit PortableSettings(const AppPreferences& preferences);

    // invalidInput for mobileWidth, historyDays or logDays outside its set
    // (in that order); then the product options' own check.
    void validate() const;
    // The given record with the eight portable fields replaced, after the
    // checks of validate().
    AppPreferences applying(const AppPreferences& preferences) const;
    // Nine lines shown before anything is applied.
    std::string summary() const;

    bool operator==(const PortableSettings&) const = default;
};

// All eight keys are required; decoding checks the enumerations' raw values
// but no value set (readers call validate()).
void to_json(Json& j, const PortableSettings& s);
void from_json(const Json& j, PortableSettings& s);

}  // namespace velmora
