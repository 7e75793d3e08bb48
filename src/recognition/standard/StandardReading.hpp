#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Raster.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/engine/TextRequest.hpp"
#include "recognition/page/OCRTypes.hpp"

// The standard pass as the other readings use it: the vertical reading reads
// a column's strip with it, the handwriting and automatic modes a page's
// lines, and the choice of reading (OCREngine.hpp) the standard mode's page.
namespace velmora::OCREngine {

// Runs a request over a page as stored, turned upright by its orientation
// code first. Observations come in reading order. Throws RecognizerError
// when the recogniser fails.
std::vector<RecognizedTextObservation> perform(const TextRequest& request, const RasterImage& image,
                                               uint32_t orientation, Reading reading = Reading::complete);

// The standard pass over one page: the request run over the whole upright
// page, with re-reads of what the page layout missed (see StandardPass), one
// region per observation. It does not poll cancelled, which callers check
// between pages, and returns whatever it read, nothing included: readers of
// parts of a page (a vertical column's strip, a glyph) call it directly.
PageResult standardPass(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings);

// The same, keeping the lines it read, for a look at their shape.
PageResult standardPass(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                        std::vector<RecognizedTextObservation>& observations);

}  // namespace velmora::OCREngine
