#include "capture/CapturePlan.hpp"

#include <algorithm>
#include <cmath>

#include "foundation/BrindlexError.hpp"
#include "foundation/CaptureBudget.hpp"
#include "capture/CaptureOutcome.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

namespace velmora {

namespace {

int64_t times(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) raise(ErrorCase::dimensionOverflow);
    return r;
}

}  // namespace

void CaptureObservation::observeTile(int64_t bytesPerRow, int64_t bitsPerPixel) {
    tileBytesPerRow = std::max(tileBytesPerRow, bytesPerRow);
    tileBitsPerPixel = std::max(tileBitsPerPixel, bitsPerPixel);
}

int64_t CapturePlan::wholeViewport(double viewportHeight) {
    // 2^63 as a double: anything at or past it has no 64-bit integer.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(viewportHeight) || viewportHeight < 0 || viewportHeight >= limit) return 0;
    return static_cast<int64_t>(std::trunc(viewportHeight));
}

CapturePlan CapturePlan::make(const Inputs& in) {
    if (in.width < 1 || in.documentHeight < 1) raise(ErrorCase::budgetExceeded);
    if (in.documentHeight > in.maximumHeight) throw PageTooTall(in.maximumHeight);
    CapturePlan p;
    p.width = in.width;
    p.scale = in.scale;
    p.viewportHeight = wholeViewport(in.viewportHeight);
    p.documentHeight = in.documentHeight;
    p.plannedHeight = in.documentHeight;
    p.budget = in.budget;
    p.pixelWidth = times(in.width, in.scale);
    // A view too low for the margin keeps at least one row per tile.
    p.margin = std::clamp<int64_t>((p.viewportHeight - 1) / 2, 0, seamMargin);
    const int64_t tileRows = times(p.viewportHeight, in.scale);
    p.estimatedBytes = CaptureBudget::estimate(p.pixelWidth, times(in.documentHeight, in.scale), tileRows);
    p.split = in.budget < p.estimatedBytes;
    if (!p.split) {
        p.partHeight = in.documentHeight;
    } else {
        // One tile per part: the rows one view yields clear of its edges.
        p.partHeight = std::min(in.documentHeight, std::max<int64_t>(p.innerTileRows(), 1));
        const int64_t partBytes = CaptureBudget::estimate(p.pixelWidth, times(p.partHeight, in.scale), tileRows);
        if (in.budget < partBytes) raise(ErrorCase::budgetExceeded);
    }
    // H ≤ maximumHeight and P ≥ 1, so the sum cannot overflow.
    p.partCount = (in.documentHeight + p.partHeight - 1) / p.partHeight;
    return p;
}

std::optional<std::string> CapturePlan::splitReason() const {
    if (!split) return std::nullopt;
    return std::string(memoryBudgetReason);
}

CapturePartSpan CapturePlan::part(int64_t index) const {
    const int64_t top = index * partHeight;
    return CapturePartSpan{index, top, std::min(documentHeight - top, partHeight)};
}

std::vector<CapturePartSpan> CapturePlan::parts() const {
    std::vector<CapturePartSpan> all;
    all.reserve(static_cast<std::size_t>(partCount));
    for (int64_t k = 0; k < partCount; ++k) all.push_back(part(k));
    return all;
}

std::vector<CaptureTile> CapturePlan::tiles(const CapturePartSpan& part) const {
    std::vector<CaptureTile> all;
    for (int64_t y = part.top; y < part.end();) {
        all.push_back(tile(part, y));
        y += all.back().rows;
    }
    return all;
}

CaptureTile CapturePlan::tile(const CapturePartSpan& part, int64_t top) const {
    const int64_t lastTarget = std::max<int64_t>(0, documentHeight - viewportHeight);
    const int64_t target = std::clamp<int64_t>(top - margin, 0, lastTarget);
    // The view's last row that is clear of its lower edge; at the last scroll
    // position that edge is the document's end.
    const int64_t clearEnd = target == lastTarget ? target + viewportHeight : target + viewportHeight - margin;
    return CaptureTile{top, std::max<int64_t>(std::min(part.end(), clearEnd) - top, 1), target};
}

CapturePlan CapturePlan::shortened(int64_t tileTop, int64_t height) const {
    if (height >= documentHeight || height <= tileTop) {
        throw CaptureOutcome::PageFault(CaptureOutcome::heightChangedDuringSave);
    }
    CapturePlan p = *this;
    p.documentHeight = height;
    p.partCount = (height + partHeight - 1) / partHeight;
    return p;
}

TilePlacement CapturePlan::place(const CapturePartSpan& part, const CaptureTile& tile, int64_t actual,
                                 int64_t textureWidth, int64_t textureHeight) const {
    if (textureWidth != pixelWidth) throw CaptureOutcome::PageFault(CaptureOutcome::snapshotFailed);
    const int64_t offset = tile.top - actual;
    // The tile's last row must be inside the snapshot: offset + rows ≤ the
    // snapshot's height in CSS pixels, compared in device pixels.
    if (offset < 0 || tile.rows < 1 || (offset + tile.rows) * scale > textureHeight) {
        throw CaptureOutcome::PageFault(CaptureOutcome::snapshotFailed);
    }
    return TilePlacement{offset * scale, (tile.top - part.top) * scale, tile.rows * scale};
}

std::map<std::string, int64_t> CapturePlan::memoryPlan(const CaptureObservation& observed) const {
    // Each figure is a factor of the estimate, which did not overflow.
    const int64_t surface = pixelWidth * plannedHeight * scale * surfaceBytesPerPixel;
    const int64_t tileReserve = pixelWidth * viewportHeight * scale * CaptureBudget::bytesPerTilePixel;
    return {
        {"budgetBytes", budget},
        {"estimatedBytes", estimatedBytes},
        {"singleRGBASurfaceBytes", surface},
        {"estimatedSurfaceCopies", surfaceCopies},
        {"tileReserveBytes", tileReserve},
        {"otherReserveBytes", CaptureBudget::fixedOverhead},
        {"observedCanvasBytesPerRow", observed.canvasBytesPerRow},
        {"observedTileBytesPerRow", observed.tileBytesPerRow},
        {"observedTileBitsPerPixel", observed.tileBitsPerPixel},
        {"simultaneouslyRetainedTiles", retainedTiles},
    };
}

PlannedCapture planCapture(const CapturePlan::Inputs& inputs, WebCaptureDiagnostic* diagnostic,
                           ExpectedOutputs* lifecycle, const std::filesystem::path& output,
                           const FreeSpace& freeSpace) {
    using Metric = WebCaptureDiagnosticMetric;
    if (diagnostic) {
        diagnostic->record(WebCaptureDiagnosticStage::plan,
                           {{Metric::documentHeight, static_cast<double>(inputs.documentHeight)},
                            {Metric::innerWidth, static_cast<double>(inputs.innerWidth ? inputs.innerWidth : inputs.width)},
                            {Metric::clientWidth, static_cast<double>(inputs.width)},
                            {Metric::scale, static_cast<double>(inputs.scale)},
                            {Metric::viewportHeight, static_cast<double>(CapturePlan::wholeViewport(inputs.viewportHeight))}});
    }
    const CapturePlan plan = CapturePlan::make(inputs);
    if (diagnostic) {
        diagnostic->record(WebCaptureDiagnosticStage::plan,
                           {{Metric::partCount, static_cast<double>(plan.partCount)},
                            {Metric::budgetBytes, static_cast<double>(plan.budget)},
                            {Metric::estimatedBytes, static_cast<double>(plan.estimatedBytes)}});
    }
    if (lifecycle) lifecycle->expect(plan.partCount);
    if (diagnostic) diagnostic->record(WebCaptureDiagnosticStage::destination);
    SecureDirectory folder(output, true);
    // The whole page's estimate also for a split page: the parts together
    // are as large as the page.
    if (static_cast<uint64_t>(plan.estimatedBytes) >= freeSpace.available(folder)) raise(ErrorCase::saveFailed);
    return PlannedCapture{plan, std::move(folder)};
}

}  // namespace velmora
