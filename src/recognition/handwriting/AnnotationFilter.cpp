#include "recognition/handwriting/AnnotationFilter.hpp"

namespace velmora {

std::string AnnotationFilter::key() const {
    return std::string(includeHandwriting ? "true" : "false") + "-" + (instructionsOnly ? "true" : "false");
}

std::vector<TextRegion> AnnotationFilter::regions(const std::vector<TextRegion>& all) const {
    std::vector<TextRegion> out;
    for (const TextRegion& r : all) {
        const bool handwritten = r.kind == RegionKind::handwrittenCandidate;
        if (!includeHandwriting && handwritten) continue;
        if (instructionsOnly && !(handwritten && r.proofreadingInstruction.value_or(false))) continue;
        out.push_back(r);
    }
    return out;
}

}  // namespace velmora
