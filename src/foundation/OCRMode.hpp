#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"

namespace velmora {

// Which recogniser runs. The declaration order is the order the settings
// screens list the choices in.
enum class OCRMode { standard, vertical, handwriting, automatic };

inline constexpr std::array<OCRMode, 4> allOCRModes{OCRMode::standard, OCRMode::vertical, OCRMode::handwriting,
                                                    OCRMode::automatic};

std::string_view rawValue(OCRMode m);
template <>
std::optional<OCRMode> fromRaw<OCRMode>(std::string_view raw);
std::string settingsLabel(OCRMode m);
void to_json(Json& j, OCRMode m);
void from_json(const Json& j, OCRMode& m);

}  // namespace velmora
