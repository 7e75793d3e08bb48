#pragma once

#include <string>
#include <vector>

#include "foundation/Raster.hpp"

namespace velmora::sweep {

// Pages no reading is made for, drawn at run time: empty, tiny and
// lopsided images, ink without text, text turned, at sizes far from a
// book's, mixed orientations, a photograph-like image, a table of figures.
// Each reading of one must end in text or a refusal with its reason.
std::vector<std::string> hostilePageNames();

// The page of that name; an unknown name is a fault of the caller.
RasterImage hostilePage(const std::string& name);

}  // namespace velmora::sweep
