#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/Raster.hpp"

namespace velmora {

// A second way of reading vertical text, for comparison with the reflow: the
// same columns and glyphs (without the re-cut of tall glyphs), each glyph
// read by itself on a small cut-out by the standard pass. One request per
// glyph. Stateless; runs on the caller's thread.
namespace VerticalExperiment {

struct Column {
    int64_t x = 0;  // leftmost pixel column
    int64_t width = 0;
    std::string text;  // the glyphs' texts, top to bottom, without separator
    int64_t glyphCount = 0;

    bool operator==(const Column&) const = default;
};

void to_json(Json& j, const Column& c);
void from_json(const Json& j, Column& c);

// Pixels of margin around each glyph's cut-out, clipped to the page.
inline constexpr int margin = 4;

// The columns of an upright page, right to left. Bounded like the reflow:
// a page over 8192 × 16384 or 16,777,216 pixels, more than 128 columns or
// more than 4096 glyphs is budgetExceeded, and more than 60 seconds on the
// recognition clock is loadTimeout.
std::vector<Column> recognize(const RasterImage& image);

}  // namespace VerticalExperiment
}  // namespace velmora
