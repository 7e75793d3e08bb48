#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/OCRMode.hpp"
#include "foundation/RawValue.hpp"
#include "recognition/page/RecognitionRecords.hpp"

namespace velmora {

enum class RegionKind { printedCandidate, handwrittenCandidate, unknown };

std::string_view rawValue(RegionKind k);
template <>
std::optional<RegionKind> fromRaw<RegionKind>(std::string_view raw);
void to_json(Json& j, RegionKind k);
void from_json(const Json& j, RegionKind& k);

// The recogniser names stored in every page result. They are stored
// identifiers, so they never change with the engine underneath.
namespace OCRRoute {
inline constexpr std::string_view standard = "Vision.VNRecognizeTextRequest.accurate.r3";
inline constexpr std::string_view verticalReflow = "Vision.vertical.reflow-r1";
inline constexpr std::string_view annotation = "Vision.annotation.geometry-r4.0";
inline constexpr std::string_view automatic = "auto-router-c1";
}  // namespace OCRRoute

// One recognised text region. The box is in fractions of the upright page
// image, origin at the bottom-left, y upwards: (x, y) is the lower-left corner.
struct TextRegion {
    std::string text;
    float confidence = 0;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    RegionKind kind = RegionKind::unknown;
    std::optional<std::vector<OCRSourceBox>> sourceBoxes;
    std::optional<std::vector<VerticalResearch::Candidate>> verticalCandidates;
    std::optional<AnnotationEvidence> annotationEvidence;
    std::optional<bool> proofreadingInstruction;

    TextRegion() = default;
    TextRegion(std::string text, float confidence, double x, double y, double width, double height,
               RegionKind kind = RegionKind::unknown,
               std::optional<std::vector<OCRSourceBox>> sourceBoxes = std::nullopt,
               std::optional<std::vector<VerticalResearch::Candidate>> verticalCandidates = std::nullopt,
               std::optional<AnnotationEvidence> annotationEvidence = std::nullopt,
               std::optional<bool> proofreadingInstruction = std::nullopt)
        : text(std::move(text)), confidence(confidence), x(x), y(y), width(width), height(height), kind(kind),
          sourceBoxes(std::move(sourceBoxes)), verticalCandidates(std::move(verticalCandidates)),
          annotationEvidence(std::move(annotationEvidence)), proofreadingInstruction(proofreadingInstruction) {}

    static constexpr float lowConfidenceThreshold = 0.8f;

    bool lowConfidence() const { return confidence < lowConfidenceThreshold; }
    // The boxes a preview draws: the assembled source boxes when there are
    // any (an empty list draws nothing), else the region's own box.
    std::vector<OCRSourceBox> displayBoxes() const;

    bool operator==(const TextRegion&) const = default;
};

void to_json(Json& j, const TextRegion& r);
void from_json(const Json& j, TextRegion& r);

// The result of one page. Only values built in code take the default route:
// a stored result without "route" is refused.
struct PageResult {
    static constexpr std::string_view defaultRoute = OCRRoute::standard;

    int64_t page = 0;
    std::vector<TextRegion> regions;
    double elapsedSeconds = 0;
    int64_t pixelWidth = 0;
    int64_t pixelHeight = 0;
    std::string route{defaultRoute};
    std::optional<uint32_t> sourceOrientation;
    std::optional<int64_t> sourcePixelWidth;
    std::optional<int64_t> sourcePixelHeight;
    std::optional<double> processingScale;
    std::optional<AutoPresentation> autoPresentation;

    PageResult() = default;
    PageResult(int64_t page, std::vector<TextRegion> regions, double elapsedSeconds, int64_t pixelWidth,
               int64_t pixelHeight, std::string route = std::string(defaultRoute),
               std::optional<uint32_t> sourceOrientation = std::nullopt,
               std::optional<int64_t> sourcePixelWidth = std::nullopt,
               std::optional<int64_t> sourcePixelHeight = std::nullopt,
               std::optional<double> processingScale = std::nullopt,
               std::optional<AutoPresentation> autoPresentation = std::nullopt)
        : page(page), regions(std::move(regions)), elapsedSeconds(elapsedSeconds), pixelWidth(pixelWidth),
          pixelHeight(pixelHeight), route(std::move(route)), sourceOrientation(sourceOrientation),
          sourcePixelWidth(sourcePixelWidth), sourcePixelHeight(sourcePixelHeight), processingScale(processingScale),
          autoPresentation(std::move(autoPresentation)) {}

    // The page's result text everywhere: region texts joined by "\n".
    std::string text() const;

    bool operator==(const PageResult&) const = default;
};

void to_json(Json& j, const PageResult& p);
void from_json(const Json& j, PageResult& p);

}  // namespace velmora
