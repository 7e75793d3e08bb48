#include "recognition/vertical/VerticalProduct.hpp"

#include <algorithm>
#include <limits>

#include "foundation/BrindlexError.hpp"
#include "recognition/page/OCRGeometry.hpp"

namespace velmora::VerticalProduct {

std::vector<TextRegion> columnRegions(const VerticalResearch::Result& result) {
    std::vector<TextRegion> regions;
    regions.reserve(result.columns.size());
    for (std::size_t i = 0; i < result.columns.size(); ++i) {
        std::string text;
        float confidence = std::numeric_limits<float>::infinity();
        std::vector<VerticalResearch::Candidate> candidates;
        std::vector<OCRSourceBox> boxes;
        for (const VerticalResearch::Candidate& c : result.candidates) {
            if (c.column != static_cast<int64_t>(i)) continue;
            text += c.text;
            confidence = std::min(confidence, c.confidence);
            for (const VerticalResearch::Box& b : c.source) boxes.push_back({b.x, b.y, b.width, b.height});
            candidates.push_back(c);
        }
        if (candidates.empty()) confidence = 0;
        double minX = 0, minY = 0, maxX = 0, maxY = 0;
        for (std::size_t k = 0; k < boxes.size(); ++k) {
            const OCRSourceBox& b = boxes[k];
            minX = k == 0 ? b.x : std::min(minX, b.x);
            minY = k == 0 ? b.y : std::min(minY, b.y);
            maxX = k == 0 ? b.x + b.width : std::max(maxX, b.x + b.width);
            maxY = k == 0 ? b.y + b.height : std::max(maxY, b.y + b.height);
        }
        regions.emplace_back(std::move(text), confidence, minX, minY, maxX - minX, maxY - minY, RegionKind::unknown,
                             std::move(boxes), std::move(candidates));
    }
    return regions;
}

PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled) {
    if (settings.preprocessing != "none") raise(ErrorCase::unsupportedMode);
    if (cancelled()) raise(ErrorCase::cancelled);
    const RasterImage upright = OCRGeometry::oriented(image, orientation);
    const VerticalResearch::Result research =
        VerticalResearch::recognize(upright, VerticalResearch::Method::reflow, cancelled, settings);
    if (cancelled()) raise(ErrorCase::cancelled);
    return PageResult(page, columnRegions(research), research.seconds, upright.width(), upright.height(),
                      std::string(OCRRoute::verticalReflow), orientation, image.width(), image.height(), 1.0);
}

}  // namespace velmora::VerticalProduct
