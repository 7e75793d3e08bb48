#pragma once

#include <string>
#include <vector>

#include "recognition/page/OCRTypes.hpp"

namespace velmora {

// Which regions of a handwriting-mode page the user sees and exports: all,
// all but the handwritten candidates, or only the handwritten lines decided
// to be proofreading instructions.
struct AnnotationFilter {
    bool includeHandwriting = true;
    bool instructionsOnly = false;

    // "true-false" for the defaults.
    std::string key() const;
    // The regions that pass, in order, unchanged.
    std::vector<TextRegion> regions(const std::vector<TextRegion>& all) const;

    bool operator==(const AnnotationFilter&) const = default;
};

}  // namespace velmora
