#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Raster.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using namespace velmora::OCRGeometry;

namespace {

// Every pixel a different colour (and alpha): red = x, green = y.
RasterImage numbered(int width, int height, int channels) {
    return test::makeImage(width, height, channels, [channels](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(y);
        p[2] = static_cast<uint8_t>(x * 7 + y * 13);
        if (channels == 4) p[3] = static_cast<uint8_t>(255 - x - 16 * y);
    });
}

// Where the stored pixel (x, y) of a w × h image belongs upright, written out
// from what each orientation code means rather than from the transform table.
std::pair<int, int> expectedUpright(uint32_t o, int x, int y, int w, int h) {
    switch (o) {
        case 2: return {w - 1 - x, y};                  // mirrored left to right
        case 3: return {w - 1 - x, h - 1 - y};          // half turn
        case 4: return {x, h - 1 - y};                  // mirrored top to bottom
        case 5: return {y, x};                          // transposed
        case 6: return {h - 1 - y, x};                  // a quarter turn clockwise
        case 7: return {h - 1 - y, w - 1 - x};          // transversed
        case 8: return {y, w - 1 - x};                  // a quarter turn anticlockwise
        default: return {x, y};
    }
}

}  // namespace

TEST(OCRGeometry, OrientedIsPixelExactForEveryOrientation) {
    for (int channels : {3, 4}) {
        const int w = 5, h = 3;
        const RasterImage stored = numbered(w, h, channels);
        for (uint32_t o = 1; o <= 8; ++o) {
            SCOPED_TRACE(testing::Message() << "orientation " << o << ", channels " << channels);
            const RasterImage up = oriented(stored, o);
            const bool quarter = o >= 5;
            ASSERT_EQ(up.width(), quarter ? h : w);
            ASSERT_EQ(up.height(), quarter ? w : h);
            ASSERT_EQ(up.channels(), channels);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const auto [ux, uy] = expectedUpright(o, x, y, w, h);
                    EXPECT_EQ(test::pixelAt(up, ux, uy), test::pixelAt(stored, x, y)) << x << "," << y;
                }
            }
            // The transform table says the same thing about pixel centres.
            const AffineTransform t = orientationTransform({double(w), double(h)}, o);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const Point c = t.apply({x + 0.5, y + 0.5});
                    const auto [ux, uy] = expectedUpright(o, x, y, w, h);
                    EXPECT_DOUBLE_EQ(c.x, ux + 0.5);
                    EXPECT_DOUBLE_EQ(c.y, uy + 0.5);
                }
            }
        }
    }
}

TEST(OCRGeometry, OrientedAgreesWithTheDecodersOwnRotation) {
    // A JPEG carrying each orientation tag: turning the stored image upright
    // here must give exactly what the image loader's preview shows.
    test::TempDir dir;
    const RasterImage art = test::makeImage(40, 24, 3, [](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x < 20 ? 250 : 10);
        p[1] = static_cast<uint8_t>(y < 8 ? 240 : 30);
        p[2] = static_cast<uint8_t>((x + y) % 2 ? 200 : 60);
    });
    for (uint16_t o = 1; o <= 8; ++o) {
        SCOPED_TRACE(testing::Message() << "orientation " << o);
        const auto file = dir / ("o" + std::to_string(o) + ".jpg");
        test::writeJPEG(file, art, o);
        const Raster::SourceImage source = Raster::image(file);
        ASSERT_EQ(source.orientation, o);
        const RasterImage mine = oriented(source.image, source.orientation);
        const RasterImage theirs = Raster::preview(file);
        ASSERT_EQ(mine.width(), theirs.width());
        ASSERT_EQ(mine.height(), theirs.height());
        for (int y = 0; y < mine.height(); ++y) {
            for (int x = 0; x < mine.width(); ++x) {
                ASSERT_EQ(test::pixelAt(mine, x, y), test::pixelAt(theirs, x, y)) << x << "," << y;
            }
        }
    }
}

TEST(OCRGeometry, UprightImagesAreReturnedThemselves) {
    const RasterImage image = numbered(4, 2, 3);
    for (uint32_t o : {1u, 0u, 9u, 255u}) {
        EXPECT_EQ(oriented(image, o).pixbuf(), image.pixbuf()) << o;
        EXPECT_EQ(orientationTransform({4, 2}, o), AffineTransform{}) << o;
    }
    EXPECT_NE(oriented(image, 3).pixbuf(), image.pixbuf());
    EXPECT_EQ((uprightSize({1000, 2000}, 6)), (Size{2000, 1000}));
    EXPECT_EQ((uprightSize({1000, 2000}, 3)), (Size{1000, 2000}));
}

TEST(OCRGeometry, TransformTableMapsCorners) {
    // The stored top-left corner of a 10 × 20 image goes where each
    // orientation's display puts it.
    const Size s{10, 20};
    EXPECT_EQ(orientationTransform(s, 6).apply({0, 0}), (Point{20, 0}));  // top-right
    EXPECT_EQ(orientationTransform(s, 8).apply({0, 0}), (Point{0, 10}));  // bottom-left
    EXPECT_EQ(orientationTransform(s, 3).apply({0, 0}), (Point{10, 20}));
    EXPECT_EQ(orientationTransform(s, 7).apply({0, 0}), (Point{20, 10}));
    EXPECT_EQ(orientationTransform(s, 5).apply({0, 0}), (Point{0, 0}));
    EXPECT_EQ(orientationTransform(s, 2).apply({0, 0}), (Point{10, 0}));
    EXPECT_EQ(orientationTransform(s, 4).apply({0, 0}), (Point{0, 20}));
}

TEST(OCRGeometry, ImageFrameFitsCentresAndPins) {
    EXPECT_EQ(imageFrame({1000, 500}, {500, 500}, 1), (Rect{0, 125, 500, 250}));
    // Zoom is clamped to 4 and the frame pinned at the top-left once larger.
    EXPECT_EQ(imageFrame({1000, 500}, {500, 500}, 10), (Rect{0, 0, 2000, 1000}));
    EXPECT_EQ(imageFrame({1000, 500}, {500, 500}, 0.1), (Rect{125, 187.5, 250, 125}));
    EXPECT_EQ(imageFrame({1000, 500}, {500, 500}, std::numeric_limits<double>::quiet_NaN()),
              (Rect{0, 125, 500, 250}));
    EXPECT_EQ(imageFrame({1000, 500}, {500, 500}, std::numeric_limits<double>::infinity()),
              (Rect{0, 125, 500, 250}));
    EXPECT_EQ(imageFrame({0, 500}, {500, 500}, 1), (Rect{}));
    EXPECT_EQ(imageFrame({100, -1}, {500, 500}, 1), (Rect{}));
    // A collapsed viewport still gives a finite frame of at least one point.
    const Rect tiny = imageFrame({100, 100}, {0, 0}, 1);
    EXPECT_EQ(tiny, (Rect{0, 0, 1, 1}));
}

TEST(OCRGeometry, PreviewTurnsThePageOriginToTheTopLeft) {
    EXPECT_EQ(preview({0, 0, 1, 0.1}, {0, 0, 100, 200}), (Rect{0, 180, 100, 20}));
    EXPECT_EQ(preview({0.25, 0.5, 0.5, 0.25}, {10, 20, 100, 200}), (Rect{35, 70, 50, 50}));
}
