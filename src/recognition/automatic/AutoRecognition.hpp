#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Raster.hpp"
#include "recognition/automatic/AutoOCR.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"

namespace velmora {

// The recogniser of the automatic mode: a horizontal pass with the
// handwriting recogniser, the column probe, the vertical recogniser where
// the probe found columns, and one list of regions in reading order.
namespace AutoOCR {

// A page's time on the recognition clock, checked between passes.
inline constexpr double timeLimitSeconds = 120;
// Pixels of margin around a vertical block before it is cut out.
inline constexpr int blockMargin = 4;
// The share of a horizontal region a vertical one with the same text must
// cover for the horizontal one to be a duplicate.
inline constexpr double duplicateOverlap = 0.55;
// Groups whose tops lie this close are on one row and read left to right,
// blocks of vertical text right to left.
inline constexpr double sameRow = 0.035;
// Pixels of paper around a horizontal line hidden from the vertical reader.
inline constexpr double whiteMargin = 2;

// Recognises one page as stored (orientation 1 = upright). A page found
// horizontal comes back as the standard mode reads it, one found vertical as
// the vertical mode reads it; a page whose ink alone shows columns is read
// vertically first, and horizontally only beside what that reading took in.
// On a mixed page every piece of text is read once: the vertical reader does
// not see the lines taken for horizontal text, and the horizontal regions
// lying where it read are left out. A page that no verdict reads is read
// vertically before it is given up (and comes back empty only when that
// reads nothing either). Throws cancelled
// when the predicate or the current task asks to stop at a check,
// budgetExceeded after 120 seconds at a check or for more than 8 vertical
// blocks, renderFailed when a block cannot be cut out; the passes' own
// errors, a vertical pass's CancellationError included, pass through.
PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled);

// A vertical block (page fractions) as the pixel rectangle that is cut out:
// 4 pixels of margin, whole pixels outwards, clipped to the image; rows from
// the top.
Rect blockPixels(const Rect& block, int64_t width, int64_t height);

// A region recognised in a cut-out placed on the page, the cut-out being
// `crop` in page fractions. The result always carries its source boxes.
TextRegion map(const TextRegion& region, const Rect& crop);

// Whether two texts say the same thing: equal or one inside the other once
// composed and rid of all white space; never for an empty text, and never by
// containment when the shorter has under 2 characters.
bool equivalent(std::string_view a, std::string_view b);

// The horizontal regions no vertical region duplicates, each a group of its
// own, and the non-empty vertical groups, in reading order. A horizontal
// region is a duplicate when a vertical region with the same text overlaps
// it by 0.55 or more, or when the blocks the vertical groups read (the
// union of each group's regions with text) cover 0.55 or more of it
// whatever their text.
std::vector<TextRegion> merge(const std::vector<TextRegion>& horizontal,
                              const std::vector<std::vector<TextRegion>>& vertical);

// "detected" with any handwritten region, else "uncertain" with any
// undecided one, else "none".
std::string handwritingStatus(const std::vector<TextRegion>& horizontal);

}  // namespace AutoOCR
}  // namespace velmora
