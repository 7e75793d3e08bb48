#include "foundation/OCRMode.hpp"

namespace velmora {

namespace {

struct ModeEntry {
    OCRMode mode;
    std::string_view raw;
    const char* label;
};

constexpr std::array<ModeEntry, 4> modes{{
    {OCRMode::standard, "standard", "標準"},
    {OCRMode::vertical, "vertical", "縦書き"},
    {OCRMode::handwriting, "handwriting", "手書き・校正指示"},
    {OCRMode::automatic, "automatic", "自動"},
}};

}  // namespace

std::string_view rawValue(OCRMode m) {
    for (const auto& e : modes) {
        if (e.mode == m) return e.raw;
    }
    return {};
}

template <>
std::optional<OCRMode> fromRaw<OCRMode>(std::string_view raw) {
    for (const auto& e : modes) {
        if (e.raw == raw) return e.mode;
    }
    return std::nullopt;
}

std::string settingsLabel(OCRMode m) {
    for (const auto& e : modes) {
        if (e.mode == m) return e.label;
    }
    return {};
}

void to_json(Json& j, OCRMode m) { j = std::string(rawValue(m)); }

void from_json(const Json& j, OCRMode& m) {
    if (!j.is_string()) throw JSON::DecodeError("OCR mode: expected a string");
    auto parsed = fromRaw<OCRMode>(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("OCR mode: unknown value " + j.get<std::string>());
    m = *parsed;
}

}  // namespace velmora
