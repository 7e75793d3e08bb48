#include "recognition/page/OCRGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/BrindlexError.hpp"

namespace velmora::OCRGeometry {

bool isQuarterTurn(uint32_t orientation) { return orientation >= 5 && orientation <= 8; }

Size uprightSize(Size stored, uint32_t orientation) {
    return isQuarterTurn(orientation) ? Size{stored.height, stored.width} : stored;
}

AffineTransform orientationTransform(Size size, uint32_t orientation) {
    const double w = size.width;
    const double h = size.height;
    switch (orientation) {
        case 2: return {-1, 0, 0, 1, w, 0};
        case 3: return {-1, 0, 0, -1, w, h};
        case 4: return {1, 0, 0, -1, 0, h};
        case 5: return {0, 1, 1, 0, 0, 0};
        case 6: return {0, 1, -1, 0, h, 0};
        case 7: return {0, -1, -1, 0, h, w};
        case 8: return {0, -1, 1, 0, 0, w};
        default: return {};
    }
}

RasterImage oriented(const RasterImage& image, uint32_t orientation) {
    if (orientation < 2 || orientation > 8) return image;
    if (!image) raise(ErrorCase::renderFailed);

    const int width = image.width();
    const int height = image.height();
    const int channels = image.channels();
    const Size upright = uprightSize({double(width), double(height)}, orientation);
    const AffineTransform t = orientationTransform({double(width), double(height)}, orientation);

    // Every coefficient is 0 or ±1, so the centre (x + ½, y + ½) of a stored
    // pixel lands on the centre of exactly one upright pixel, whose index is
    // the integer part. Folding the halves into the offsets keeps it exact:
    // a negative coefficient sum moves the index back by one.
    const auto ia = static_cast<int64_t>(t.a), ib = static_cast<int64_t>(t.b);
    const auto ic = static_cast<int64_t>(t.c), id = static_cast<int64_t>(t.d);
    const int64_t ox = static_cast<int64_t>(t.tx) - (ia + ic < 0 ? 1 : 0);
    const int64_t oy = static_cast<int64_t>(t.ty) - (ib + id < 0 ? 1 : 0);

    const int outWidth = static_cast<int>(upright.width);
    const int outHeight = static_cast<int>(upright.height);
    GdkPixbuf* out = gdk_pixbuf_new(GDK_COLORSPACE_RGB, channels == 4, 8, outWidth, outHeight);
    if (!out) raise(ErrorCase::renderFailed);
    RasterImage result = RasterImage::adopt(out);

    uint8_t* dst = gdk_pixbuf_get_pixels(out);
    const std::ptrdiff_t dstStride = gdk_pixbuf_get_rowstride(out);
    const uint8_t* src = image.pixels();
    const std::ptrdiff_t srcStride = image.rowStride();
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = src + srcStride * y;
        for (int64_t x = 0; x < width; ++x) {
            const int64_t ux = ia * x + ic * y + ox;
            const int64_t uy = ib * x + id * y + oy;
            std::memcpy(dst + dstStride * uy + channels * ux, row + channels * x, static_cast<std::size_t>(channels));
        }
    }
    return result;
}

Rect imageFrame(Size image, Size viewport, double zoom) {
    if (!(image.width > 0) || !(image.height > 0)) return {};
    const double fit =
        std::min(std::max(viewport.width, 1.0) / image.width, std::max(viewport.height, 1.0) / image.height);
    const double z = std::isfinite(zoom) ? std::clamp(zoom, 0.5, 4.0) : 1.0;
    const double scale = fit * z;
    const double w = image.width * scale;
    const double h = image.height * scale;
    return {std::max((viewport.width - w) * 0.5, 0.0), std::max((viewport.height - h) * 0.5, 0.0), w, h};
}

Rect preview(const OCRSourceBox& box, const Rect& frame) {
    const double fw = frame.maxX() - frame.minX();
    const double fh = frame.maxY() - frame.minY();
    return {frame.minX() + fw * box.x, frame.minY() + (1 - box.y - box.height) * fh, fw * box.width,
            fh * box.height};
}

}  // namespace velmora::OCRGeometry
