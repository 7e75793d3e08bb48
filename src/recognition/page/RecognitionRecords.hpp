#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Geometry.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"

namespace velmora {

class RasterImage;

// One box on a page, in fractions of the upright page image with the origin
// at the bottom-left, like region boxes.
struct OCRSourceBox {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const OCRSourceBox&) const = default;
};

void to_json(Json& j, const OCRSourceBox& b);
void from_json(const Json& j, OCRSourceBox& b);

// The outcome of the automatic layout decision.
enum class AutoResolved { standard, vertical, mixed, uncertainStandardFallback };

inline constexpr std::array<AutoResolved, 4> allAutoResolved{
    AutoResolved::standard, AutoResolved::vertical, AutoResolved::mixed, AutoResolved::uncertainStandardFallback};

std::string_view rawValue(AutoResolved r);
template <>
std::optional<AutoResolved> fromRaw<AutoResolved>(std::string_view raw);
void to_json(Json& j, AutoResolved r);
void from_json(const Json& j, AutoResolved& r);

// What a page result records about the automatic decision. `handwriting` is
// "none", "uncertain" or "detected".
struct AutoPresentation {
    AutoResolved resolved = AutoResolved::standard;
    std::string handwriting = "none";

    // Shown above the result; depends on the outcome alone.
    std::string label() const;

    bool operator==(const AutoPresentation&) const = default;
};

void to_json(Json& j, const AutoPresentation& p);
void from_json(const Json& j, AutoPresentation& p);

// The geometry evidence the handwriting classifier attaches to each region.
struct AnnotationEvidence {
    static constexpr std::string_view currentVersion = "annotation-geometry-r4.0";

    std::string version{currentVersion};
    double angleDegrees = 0;
    std::optional<double> angleUncertainty;
    double baselineVariation = 0;
    double heightVariation = 0;
    double redFraction = 0;
    bool nearbyStroke = false;
    std::vector<std::string> reasons;

    bool operator==(const AnnotationEvidence&) const = default;
};

void to_json(Json& j, const AnnotationEvidence& e);
void from_json(const Json& j, AnnotationEvidence& e);

namespace VerticalResearch {

enum class Method { column, reflow };

std::string_view rawValue(Method m);
void to_json(Json& j, Method m);
void from_json(const Json& j, Method& m);

// A rectangle in page fractions with the origin at the bottom-left.
struct Box {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    Box() = default;
    Box(double x, double y, double width, double height) : x(x), y(y), width(width), height(height) {}
    // From a pixel rectangle whose origin is the top-left of an image of the
    // given pixel size.
    Box(const Rect& pixels, int64_t imageWidth, int64_t imageHeight);
    Box(const Rect& pixels, const RasterImage& image);

    bool operator==(const Box&) const = default;
};

void to_json(Json& j, const Box& b);
void from_json(const Json& j, Box& b);

// One region the standard recogniser found on a strip of a vertical column.
struct Candidate {
    int64_t id = 0;
    std::string text;
    float confidence = 0;
    std::vector<Box> source;
    int64_t column = 0;

    bool operator==(const Candidate&) const = default;
};

void to_json(Json& j, const Candidate& c);
void from_json(const Json& j, Candidate& c);

}  // namespace VerticalResearch

template <>
std::optional<VerticalResearch::Method> fromRaw<VerticalResearch::Method>(std::string_view raw);

}  // namespace velmora
