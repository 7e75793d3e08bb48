#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/Raster.hpp"
#include "recognition/automatic/AutoOCR.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"

namespace velmora {

struct RecognizedTextObservation;

// Whether a page read in the standard or the vertical mode was read in the
// mode that fits it. Read in the other direction a page does not come back
// empty: the horizontal reader takes a row across columns of vertical text
// for a line (or a table's row), the vertical reader a slice down lines of
// horizontal text for a column, and both return text of about the page's
// length. What tells such a reading apart is its shape: the characters of a
// line of text stand solid, each beside the next, while those read across
// the grain stand a line's spacing apart, one from each line or column; and
// the models are unsure of much of it. A reading that is poor that way is
// then set against the page's layout, judged as the automatic mode judges
// it (the column probe over the horizontal lines), and against a reading in
// the other direction; only a page that is confidently of the other
// orientation is refused. A page with both (mixed) is refused only when
// the lines it shows beside its columns stand apart as rows read across
// columns do.
namespace ModeFit {

// How a reading looks, over its characters.
struct Reading {
    std::size_t characters = 0;
    // Mean confidence per character, 0 to 1.
    double confidence = 0;
    // The share of the characters that stand solid beside a neighbour
    // along the reading's direction (less than half a character away).
    double solid = 0;
};

// A horizontal reading: its lines, with their characters' boxes (fractions
// of the upright page of this size).
Reading ofLines(const std::vector<RecognizedTextObservation>& lines, int width, int height);
// A vertical reading: its columns, with their glyphs' boxes in reading order.
Reading ofColumns(const std::vector<TextRegion>& columns, int width, int height);

// A reading that is not one of text in its mode's direction: nearly nothing
// of the characters the ink shows, most of them unsure, or most of them
// standing apart.
bool poor(const Reading& reading, int cells);
// A reading that is one: most of the characters the ink shows, sure enough,
// nearly all standing solid.
bool good(const Reading& reading, int cells);

inline constexpr double poorConfidence = 0.5;
inline constexpr double poorSolid = 0.6;
inline constexpr double goodConfidence = 0.65;
inline constexpr double goodSolid = 0.8;

// The lines of a horizontal reading that the column probe counted as
// horizontal text: strong lines crossing no two of its columns, outside its
// blocks of columns.
Reading besideColumns(const std::vector<RecognizedTextObservation>& lines, const AutoOCR::Probe& probe, int width,
                      int height);

// The reason a page read in a single mode is refused, or none. `read` is
// the mode's result, `lines` the standard mode's lines (none in the
// vertical mode) and `reading` how it looks; `cells` the character cells of
// the upright page (GreyPage::characterCells), which the caller counts once
// for this and its own checks. The other direction is read only when the
// reading is poor. Never for the automatic and handwriting modes.
std::optional<ErrorCase> misfit(const RasterImage& image, uint32_t orientation, const OCRSettings& settings,
                                const PageResult& read, const std::vector<RecognizedTextObservation>& lines,
                                const Reading& reading, int cells);

}  // namespace ModeFit
}  // namespace velmora
