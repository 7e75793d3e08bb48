#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "foundation/Geometry.hpp"
#include "foundation/Raster.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "recognition/page/RecognitionRecords.hpp"

namespace velmora {

// The automatic mode's decision, page by page, between horizontal text,
// vertical text and both: from the confident lines of a horizontal pass and a
// fast probe of the page for tall, narrow columns of ink once those lines are
// painted out. Boxes are fractions of the upright page, origin bottom-left,
// y up. Stateless.
namespace AutoOCR {

// The router's version, also the route of every automatic page result.
inline constexpr std::string_view version = OCRRoute::automatic;
inline constexpr std::size_t maximumBlocks = 8;

struct Probe {
    AutoResolved resolved = AutoResolved::uncertainStandardFallback;
    // The vertical text blocks, left to right; at most maximumBlocks.
    std::vector<Rect> vertical;
    // The boxes of the strong horizontal lines taken for horizontal text
    // (painted out before the columns were counted), in their order.
    std::vector<Rect> horizontal;

    bool operator==(const Probe&) const = default;
};

// The probe's fixed values.
inline constexpr double probeLongSide = 1000;
inline constexpr uint8_t inkAtMost = 159;
inline constexpr std::size_t strongCharacters = 3;
inline constexpr double strongAspect = 1.8;
inline constexpr float strongConfidence = 0.4f;
inline constexpr double paintMargin = 2;
inline constexpr int inkColumnCount = 8;
inline constexpr int pollEveryRows = 64;
inline constexpr int runJoinBelow = 6;
inline constexpr int narrowestColumn = 5;
inline constexpr double widestColumn = 0.12;
inline constexpr int rowInk = 2;
inline constexpr int spanInWidths = 4;
inline constexpr double shortestSpan = 0.18;
// A column candidate is at least this many times as tall as the page's
// typical piece of ink.
inline constexpr int columnCharacters = 3;
// Paper darker than this is taken for a dark picture, not grey paper, and
// is not brought to white.
inline constexpr int lightestPaper = 128;
// The share of a column candidate's rows that hold a mark (a grey value up
// to 210).
inline constexpr double solidRows = 0.65;
inline constexpr uint8_t markAtMost = 210;
inline constexpr double blockGap = 0.18;
inline constexpr double blockOverlap = 0.6;
inline constexpr std::size_t decisionCharacters = 12;
inline constexpr std::size_t decisionColumns = 2;

Rect box(const TextRegion& region);

// The area both share over the smaller one's area (at least 1e-7); 0 when
// they do not meet, 1 when one lies inside the other.
double overlap(const Rect& a, const Rect& b);

// Two or more columns make a page vertical (few confident horizontal
// characters) or mixed (12 or more); no column makes it standard with 12 or
// more characters; anything else, a single column included, is uncertain.
AutoResolved decision(std::size_t horizontalCharacters, std::size_t columns);

// Probes the upright page against the regions of a horizontal pass over it.
// A page laid up to a few degrees askew is probed turned upright. A column
// candidate is a solid one, its characters set one below the next; a strong
// line lying across two or more such columns is those columns misread row by
// row and is neither painted out nor counted. Throws renderFailed without an
// image, cancelled when the predicate (polled before every 64th row of the
// ink count) asks to stop, and budgetExceeded for more than 8 vertical
// blocks.
Probe probe(const RasterImage& image, const std::vector<TextRegion>& horizontal,
            const std::function<bool()>& cancelled);

// The page as the probe sees it (grey, its long side brought down to
// probeLongSide, on white paper, its type's size and its lean), prepared
// once for the probes of one page against different horizontal passes.
struct ProbePage {
    GreyPage raster;
    int character = 0;
    double skew = 0;
};
ProbePage probePage(const RasterImage& image);
Probe probe(const ProbePage& page, const std::vector<TextRegion>& horizontal, const std::function<bool()>& cancelled);

}  // namespace AutoOCR
}  // namespace velmora
