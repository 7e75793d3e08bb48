#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "foundation/Raster.hpp"
#include "recognition/handwriting/AnnotationClassification.hpp"
#include "recognition/handwriting/AnnotationStage2.hpp"
#include "recognition/engine/TextRequest.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"

namespace velmora {

// The handwriting mode ("手書き・校正指示"): one standard run over the page,
// every line measured (angle, baseline and height spread, red ink, a
// free-hand stroke beside it), classified as printed, handwritten or
// undecided, and the handwritten lines that ask for a change of the printed
// text marked as proofreading instructions. Stateless; runs on the caller's
// thread.
namespace AnnotationOCR {

inline constexpr AnnotationClassificationStrategy productStrategy =
    AnnotationClassificationStrategy::shortAnnotationRescue;
inline constexpr AnnotationStage2Strategy productStage2Strategy =
    AnnotationStage2Strategy::r4HighConfidenceComposition;

inline constexpr double timeLimitSeconds = 60;
inline constexpr std::size_t mostObservations = 512;
inline constexpr int64_t largestSide = 16384;
inline constexpr int64_t largestPixels = 16777216;
inline constexpr double featureLongSide = 1600;
inline constexpr std::size_t measuredCharacters = 2048;

// The page as the measures see it: drawn on white, at most 1600 pixels on
// its long side, RGBA rows of 4 × width bytes.
struct FeatureRaster {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    const uint8_t* at(int x, int y) const { return rgba.data() + (std::size_t(y) * width + x) * 4; }
};

FeatureRaster featureRaster(const RasterImage& upright);

struct Angle {
    double degrees = 0;
    double uncertainty = 0;
};

// The angle of a short line (2 to 8 characters) from the bottoms of its ink,
// slice by slice; nothing when too few slices hold ink or the angle is over
// 25 degrees.
std::optional<Angle> refinedAngle(const FeatureRaster& raster, const OCRSourceBox& line, std::size_t characters);
// The angle of a line (degrees, rising to the right) from the middles of its
// ink in one slice per character, leaving out ink inside the other lines'
// boxes and inside the boxes set aside (the line's punctuation); with
// envelopes, the middle one of that lean and those of the ink's tops and
// bottoms. Nothing when fewer than two slices hold ink.
std::optional<double> inkAngle(const FeatureRaster& raster, const OCRSourceBox& line, std::size_t characters,
                               const std::vector<OCRSourceBox>& others = {},
                               const std::vector<OCRSourceBox>& aside = {}, bool envelopes = false);
// The fewest characters (kanji and full-size kana) whose ink tells a line's
// slant: the middles of up to three printed glyphs stand wherever their
// shapes put them (a small kana low, a digit one high, ン's sweep), as far
// from level as a hand's slant.
inline constexpr std::size_t slantCharacters = 4;
// The red share of the line's ink.
double redFraction(const FeatureRaster& raster, const OCRSourceBox& line);
// Whether a dark run that belongs to no text line lies near the line.
bool nearbyStroke(const FeatureRaster& raster, const OCRSourceBox& line, const std::vector<OCRSourceBox>& lines);
// The population standard deviation over the height; 0 for fewer than 3
// values or no height.
double spread(const std::vector<double>& values, double height);

// Measures one observed line of an upright page of the given pixel size.
Features measure(const RecognizedTextObservation& line, const FeatureRaster& raster,
                 const std::vector<OCRSourceBox>& lines, int64_t uprightWidth, int64_t uprightHeight, bool useContext);

// Refuses preprocessing other than "none", a side over 16384 pixels or more
// than 16,777,216 pixels, more than 512 lines and more than 60 seconds on the
// recognition clock (budgetExceeded); polls `cancelled` and the current task
// (cancelled). With horizontalLinesOnly the run keeps only the lines laid
// out as upright, left-to-right text (the automatic mode reads the rest
// vertically).
PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled, bool useContext = true,
                     AnnotationClassificationStrategy strategy = productStrategy,
                     AnnotationStage2Strategy stage2Strategy = productStage2Strategy,
                     bool horizontalLinesOnly = false);

}  // namespace AnnotationOCR
}  // namespace velmora
