#include "recognition/page/RecognitionRecords.hpp"

#include "foundation/Raster.hpp"

namespace velmora {

namespace {

constexpr std::array<std::pair<AutoResolved, std::string_view>, 4> autoResolvedNames{{
    {AutoResolved::standard, "standard"},
    {AutoResolved::vertical, "vertical"},
    {AutoResolved::mixed, "mixed"},
    {AutoResolved::uncertainStandardFallback, "uncertainStandardFallback"},
}};

constexpr std::array<std::pair<VerticalResearch::Method, std::string_view>, 2> methodNames{{
    {VerticalResearch::Method::column, "column"},
    {VerticalResearch::Method::reflow, "reflow"},
}};

template <typename E, std::size_t N>
std::string_view nameOf(const std::array<std::pair<E, std::string_view>, N>& names, E value) {
    for (const auto& [v, name] : names) {
        if (v == value) return name;
    }
    return {};
}

template <typename E, std::size_t N>
std::optional<E> valueOf(const std::array<std::pair<E, std::string_view>, N>& names, std::string_view raw) {
    for (const auto& [v, name] : names) {
        if (name == raw) return v;
    }
    return std::nullopt;
}

template <typename E>
E decodeRaw(const Json& j, std::string_view what) {
    if (!j.is_string()) throw JSON::DecodeError(std::string(what) + ": expected a string");
    auto value = fromRaw<E>(j.get_ref<const std::string&>());
    if (!value) throw JSON::DecodeError(std::string(what) + ": unknown value " + j.get<std::string>());
    return *value;
}

template <typename B>
void boxToJSON(Json& j, const B& b) {
    j = Json::object();
    j["x"] = b.x;
    j["y"] = b.y;
    j["width"] = b.width;
    j["height"] = b.height;
}

template <typename B>
void boxFromJSON(const Json& j, B& b, std::string_view what) {
    JSON::requireObject(j, what);
    b.x = JSON::requireDouble(j, "x");
    b.y = JSON::requireDouble(j, "y");
    b.width = JSON::requireDouble(j, "width");
    b.height = JSON::requireDouble(j, "height");
}

}  // namespace

void to_json(Json& j, const OCRSourceBox& b) { boxToJSON(j, b); }
void from_json(const Json& j, OCRSourceBox& b) { boxFromJSON(j, b, "source box"); }

std::string_view rawValue(AutoResolved r) { return nameOf(autoResolvedNames, r); }

template <>
std::optional<AutoResolved> fromRaw<AutoResolved>(std::string_view raw) {
    return valueOf(autoResolvedNames, raw);
}

void to_json(Json& j, AutoResolved r) { j = std::string(rawValue(r)); }
void from_json(const Json& j, AutoResolved& r) { r = decodeRaw<AutoResolved>(j, "automatic outcome"); }

std::string AutoPresentation::label() const {
    switch (resolved) {
    case AutoResolved::standard:
        return "自動判定：標準";
    case AutoResolved::vertical:
        return "自動判定：縦書き";
    case AutoResolved::mixed:
        return "自動判定：混在";
    case AutoResolved::uncertainStandardFallback:
        return "自動判定：標準（判定不確実）";
    }
    return "自動判定：標準";
}

void to_json(Json& j, const AutoPresentation& p) {
    j = Json::object();
    j["resolved"] = p.resolved;
    j["handwriting"] = p.handwriting;
}

void from_json(const Json& j, AutoPresentation& p) {
    JSON::requireObject(j, "automatic presentation");
    p.resolved = JSON::require<AutoResolved>(j, "resolved");
    p.handwriting = JSON::requireString(j, "handwriting");
}

void to_json(Json& j, const AnnotationEvidence& e) {
    j = Json::object();
    j["version"] = e.version;
    j["angleDegrees"] = e.angleDegrees;
    JSON::putOptional(j, "angleUncertainty", e.angleUncertainty);
    j["baselineVariation"] = e.baselineVariation;
    j["heightVariation"] = e.heightVariation;
    j["redFraction"] = e.redFraction;
    j["nearbyStroke"] = e.nearbyStroke;
    j["reasons"] = e.reasons;
}

void from_json(const Json& j, AnnotationEvidence& e) {
    JSON::requireObject(j, "annotation evidence");
    e.version = JSON::requireString(j, "version");
    e.angleDegrees = JSON::requireDouble(j, "angleDegrees");
    e.angleUncertainty = std::nullopt;
    auto it = j.find("angleUncertainty");
    if (it != j.end() && !it->is_null()) e.angleUncertainty = JSON::requireDouble(j, "angleUncertainty");
    e.baselineVariation = JSON::requireDouble(j, "baselineVariation");
    e.heightVariation = JSON::requireDouble(j, "heightVariation");
    e.redFraction = JSON::requireDouble(j, "redFraction");
    e.nearbyStroke = JSON::requireBool(j, "nearbyStroke");
    e.reasons = JSON::require<std::vector<std::string>>(j, "reasons");
}

namespace VerticalResearch {

std::string_view rawValue(Method m) { return nameOf(methodNames, m); }

void to_json(Json& j, Method m) { j = std::string(rawValue(m)); }
void from_json(const Json& j, Method& m) { m = decodeRaw<Method>(j, "vertical method"); }

Box::Box(const Rect& pixels, int64_t imageWidth, int64_t imageHeight) {
    const double w = static_cast<double>(imageWidth);
    const double h = static_cast<double>(imageHeight);
    x = pixels.minX() / w;
    y = 1.0 - pixels.maxY() / h;
    width = (pixels.maxX() - pixels.minX()) / w;
    height = (pixels.maxY() - pixels.minY()) / h;
}

Box::Box(const Rect& pixels, const RasterImage& image) : Box(pixels, image.width(), image.height()) {}

void to_json(Json& j, const Box& b) { boxToJSON(j, b); }
void from_json(const Json& j, Box& b) { boxFromJSON(j, b, "vertical box"); }

void to_json(Json& j, const Candidate& c) {
    j = Json::object();
    j["id"] = c.id;
    j["text"] = c.text;
    j["confidence"] = JSON::float32(c.confidence);
    j["source"] = c.source;
    j["column"] = c.column;
}

void from_json(const Json& j, Candidate& c) {
    JSON::requireObject(j, "vertical candidate");
    c.id = JSON::requireInt(j, "id");
    c.text = JSON::requireString(j, "text");
    c.confidence = JSON::requireFloat(j, "confidence");
    c.source = JSON::require<std::vector<Box>>(j, "source");
    c.column = JSON::requireInt(j, "column");
}

}  // namespace VerticalResearch

template <>
std::optional<VerticalResearch::Method> fromRaw<VerticalResearch::Method>(std::string_view raw) {
    return valueOf(methodNames, raw);
}

}  // namespace velmora
