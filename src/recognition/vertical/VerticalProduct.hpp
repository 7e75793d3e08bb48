#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/Raster.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "recognition/vertical/VerticalResearch.hpp"

namespace velmora {

// The vertical mode ("縦書き") as the rest of the system sees it: one region
// per text column, right to left, each tied to the glyph boxes it was read
// from. Stateless; runs on the caller's thread.
namespace VerticalProduct {

// Refuses preprocessing other than "none" (unsupportedMode) before anything
// else; polls `cancelled` before and after the research (cancelled). The
// research's own errors, CancellationError among them, pass through.
PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled);

// One region per column, right to left, also for a column that gave no
// text (empty, confidence 0, a zero rectangle).
std::vector<TextRegion> columnRegions(const VerticalResearch::Result& result);

}  // namespace VerticalProduct
}  // namespace velmora
