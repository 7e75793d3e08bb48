#pragma once

#include <cstdint>

#include "foundation/JSON.hpp"

namespace velmora {

// The widths a capture measured before its first tile: what it asked for,
// what the window and the web view offered, and what the page laid out.
// View widths are whole points, page widths CSS pixels.
struct CaptureGeometry {
    int64_t requestedWidth = 0;
    int64_t windowContentWidth = 0;
    int64_t webViewVisibleWidth = 0;
    int64_t webViewBoundsWidth = 0;
    int64_t webViewFrameWidth = 0;
    int64_t scrollViewBoundsWidth = 0;
    int64_t scrollDocumentWidth = 0;
    int64_t innerWidth = 0;
    int64_t clientWidth = 0;
    int64_t scrollWidth = 0;
    double devicePixelRatio = 1;
    int64_t snapshotRectWidth = 0;
    int64_t outputPixelWidth = 0;
    int64_t scale = 1;

    // Whether the page has taken the requested width: a width the capture
    // supports (280 to 4096), a page whose inner width is within one pixel
    // of it and not narrower than its client width, and a view that shows
    // at least the requested width less one point.
    static bool isReady(int64_t requested, int64_t inner, int64_t client, double visible);

    bool operator==(const CaptureGeometry&) const = default;
};

void to_json(Json& j, const CaptureGeometry& g);
void from_json(const Json& j, CaptureGeometry& g);

}  // namespace velmora
