#pragma once

#include <cstdint>
#include <functional>

#include "foundation/Raster.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/engine/TextRequest.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "recognition/standard/StandardReading.hpp"

namespace velmora {

// The single entry through which one page image is recognised: it chooses
// the reading for the settings' mode, and every reading lies below it (the
// request and the languages in engine/, the standard pass that the other
// readings also use in standard/). Stateless as far as callers can tell and
// re-entrant: any number of threads may recognise at once. Each thread keeps
// its own initialised recognisers, one per configuration (languages,
// correction, custom words), because initialising one costs far more than
// recognising a strip.
namespace OCREngine {

// Recognises one page. The automatic, handwriting and vertical modes go to
// their own recognisers (AutoOCR, AnnotationOCR, VerticalProduct), whose results and errors come
// back unchanged; the standard mode to the standard pass. A page read in the
// standard or vertical mode whose text runs the other way (see ModeFit)
// fails with looksVertical or looksHorizontal, which name the mode that
// reads it. A page that holds ink (GreyPage::holdsInk) but whose text comes
// back empty, in any mode, fails with emptyResult: recognition failed on it,
// and it is never taken for a page read as empty, as does a page with ink
// too thin to hold a line of text. A page without ink comes back empty.
PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled);

}  // namespace OCREngine
}  // namespace velmora
