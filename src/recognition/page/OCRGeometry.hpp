#pragma once

#include <cstdint>

#include "foundation/Geometry.hpp"
#include "foundation/Raster.hpp"
#include "recognition/page/RecognitionRecords.hpp"

namespace velmora {

// Maps boxes and images between a page as stored, the upright page the
// recognisers see and the preview on screen. Stateless; callable from any
// thread.
namespace OCRGeometry {

// The foundation's size, named here too for the callers of this namespace.
using Size = velmora::Size;

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

// (x, y) ↦ (a·x + c·y + tx, b·x + d·y + ty).
struct AffineTransform {
    double a = 1;
    double b = 0;
    double c = 0;
    double d = 1;
    double tx = 0;
    double ty = 0;

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }

    bool operator==(const AffineTransform&) const = default;
};

// Whether an orientation code turns the page a quarter (5 to 8), so the
// upright page has the stored height as its width.
bool isQuarterTurn(uint32_t orientation);

// The upright size of a stored image of the given size.
Size uprightSize(Size stored, uint32_t orientation);

// Maps a point of the stored image (top-left origin, y down, in pixels) to
// the same point of the upright image. Codes other than 2 to 8 are upright.
AffineTransform orientationTransform(Size size, uint32_t orientation);

// The image turned upright, pixel for pixel (no resampling): every stored
// pixel lands on the upright pixel its centre maps to. An upright image
// (code 1, or any code outside 2 to 8) is returned itself, without a copy.
RasterImage oriented(const RasterImage& image, uint32_t orientation);

// Where the page image is drawn in a preview viewport: fitted, then zoomed
// (0.5 to 4; 1 when the zoom is not a number), centred while it fits and
// pinned to the top-left corner once it is larger. An empty image gets the
// zero rectangle.
Rect imageFrame(Size image, Size viewport, double zoom);

// A page box (fractions, bottom-left origin) in the preview's coordinates
// (top-left origin, y down) inside the given image frame.
Rect preview(const OCRSourceBox& box, const Rect& imageFrame);

}  // namespace OCRGeometry
}  // namespace velmora
