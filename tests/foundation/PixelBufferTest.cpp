#include <png.h>

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/PixelBuffer.hpp"
#include "foundation/Raster.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using test::caseOf;

namespace {

// A PNG decoded by libpng into straight RGBA, whatever its colour type.
struct Decoded {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hadAlpha = false;
    std::vector<uint8_t> rgba;
};

Decoded decode(const std::vector<uint8_t>& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        ADD_FAILURE() << "not a PNG: " << image.message;
        return {};
    }
    Decoded d;
    d.width = image.width;
    d.height = image.height;
    d.hadAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    d.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, d.rgba.data(), 0, nullptr)) {
        ADD_FAILURE() << "PNG does not decode: " << image.message;
        return {};
    }
    return d;
}

uint8_t premultiply(unsigned c, unsigned a) { return static_cast<uint8_t>((c * a + 127) / 255); }

void put(PixelBuffer& b, int64_t x, int64_t y, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    uint8_t* p = b.row(y) + x * 4;
    p[0] = blue;
    p[1] = green;
    p[2] = red;
    p[3] = alpha;
}

}  // namespace

TEST(PixelBuffer, SizesAndRefusals) {
    PixelBuffer small(3, 2);
    EXPECT_EQ(small.bytesPerRow(), 12);
    EXPECT_EQ(small.byteCount(), 24u);
    // New buffers are transparent, so they are not opaque.
    EXPECT_FALSE(small.opaque());
    std::memset(small.data(), 0xff, small.byteCount());
    EXPECT_TRUE(small.opaque());
    small.row(1)[11] = 0xfe;  // the last pixel's alpha
    EXPECT_FALSE(small.opaque());

    EXPECT_EQ(caseOf([] { PixelBuffer(0, 5); }), ErrorCase::dimensionOverflow);
    EXPECT_EQ(caseOf([] { PixelBuffer(5, -1); }), ErrorCase::dimensionOverflow);
    EXPECT_EQ(caseOf([] { PixelBuffer(int64_t{1} << 31, 1); }), ErrorCase::dimensionOverflow);
    EXPECT_EQ(caseOf([] { PixelBuffer(2147483647, 2147483647); }), ErrorCase::dimensionOverflow);
    // Forty terabytes: a valid size the system will not hand out.
    EXPECT_EQ(caseOf([] { PixelBuffer(1000000, 10000000); }), ErrorCase::budgetExceeded);
}

TEST(PixelBuffer, CopyRowsPlacesRowsAndRefusesOutsideTheBuffer) {
    PixelBuffer b(2, 4);
    // Three source rows with a wider stride: 8 pixel bytes and 4 of padding.
    std::vector<uint8_t> source(12 * 3);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i + 1);
    b.copyRows(1, source.data(), 12, 3);
    EXPECT_EQ(b.row(0)[0], 0);
    EXPECT_EQ(b.row(1)[0], 1);
    EXPECT_EQ(b.row(1)[7], 8);
    EXPECT_EQ(b.row(2)[0], 13);
    EXPECT_EQ(b.row(3)[7], 32);

    // Tightly packed source rows go in one copy.
    std::vector<uint8_t> packed(8 * 2, 0x55);
    b.copyRows(0, packed.data(), 8, 2);
    EXPECT_EQ(b.row(1)[7], 0x55);
    EXPECT_EQ(b.row(2)[0], 13);

    const std::vector<uint8_t> before(b.data(), b.data() + b.byteCount());
    EXPECT_EQ(caseOf([&] { b.copyRows(2, source.data(), 12, 3); }), ErrorCase::renderFailed);
    EXPECT_EQ(caseOf([&] { b.copyRows(-1, source.data(), 12, 1); }), ErrorCase::renderFailed);
    EXPECT_EQ(caseOf([&] { b.copyRows(0, source.data(), 7, 1); }), ErrorCase::renderFailed);
    EXPECT_EQ(caseOf([&] { b.copyRows(0, nullptr, 8, 1); }), ErrorCase::renderFailed);
    EXPECT_EQ(std::vector<uint8_t>(b.data(), b.data() + b.byteCount()), before);

    // Cropped to its first rows, which keep their bytes.
    b.keepRows(3);
    EXPECT_EQ(b.height(), 3);
    EXPECT_EQ(b.byteCount(), 24u);
    EXPECT_EQ(b.row(2)[0], 13);
    EXPECT_EQ(caseOf([&] { b.keepRows(4); }), ErrorCase::renderFailed);
    EXPECT_EQ(caseOf([&] { b.keepRows(0); }), ErrorCase::renderFailed);
    EXPECT_EQ(b.height(), 3);
}

// Every premultiplied value with every alpha comes back as its straight
// colour, rounded, so premultiplying the decoded pixel gives the source.
TEST(PixelBufferPNG, TranslucentPixelsComeBackExactly) {
    PixelBuffer b(256, 256);
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; ++c) {
            // Column c holds premultiplied component min(c, a); the other two
            // components vary so the channel order is seen too.
            const int v = std::min(c, a);
            put(b, c, a, static_cast<uint8_t>(v), static_cast<uint8_t>(v / 2), static_cast<uint8_t>(a - v), static_cast<uint8_t>(a));
        }
    }
    const Decoded d = decode(Raster::png(b));
    ASSERT_EQ(d.width, 256u);
    ASSERT_EQ(d.height, 256u);
    EXPECT_TRUE(d.hadAlpha);
    int mismatches = 0;
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; ++c) {
            const uint8_t* px = d.rgba.data() + (static_cast<std::size_t>(a) * 256 + c) * 4;
            const uint8_t* src = b.row(a) + c * 4;
            ASSERT_EQ(px[3], a);
            if (a == 0) {
                mismatches += px[0] != 0 || px[1] != 0 || px[2] != 0;
                continue;
            }
            const int v = std::min(c, a);
            mismatches += px[0] != (v * 255 + a / 2) / a;
            mismatches += premultiply(px[0], a) != src[2] || premultiply(px[1], a) != src[1] ||
                          premultiply(px[2], a) != src[0];
        }
    }
    EXPECT_EQ(mismatches, 0);

    // Colour above its alpha is not premultiplied colour; it is clamped.
    PixelBuffer bad(1, 1);
    put(bad, 0, 0, 200, 10, 0, 100);
    const Decoded clamped = decode(Raster::png(bad));
    EXPECT_EQ(clamped.rgba, (std::vector<uint8_t>{255, 26, 0, 100}));
}

// A part of a 30,000-pixel page at scale 2 is taller than any cairo surface;
// it is made, filled, encoded and decoded without loss.
TEST(PixelBufferPNG, TallOpaquePartDecodesPixelExact) {
    constexpr int64_t width = 780;
    constexpr int64_t height = 60000;
    PixelBuffer b(width, height);
    auto colour = [](int64_t x, int64_t y, uint8_t* c) {
        // Bands of 100 rows plus a per-column ramp: every row and column differs.
        c[0] = static_cast<uint8_t>(y / 100 * 37);
        c[1] = static_cast<uint8_t>(x);
        c[2] = static_cast<uint8_t>(y ^ x);
    };
    for (int64_t y = 0; y < height; ++y) {
        uint8_t* r = b.row(y);
        for (int64_t x = 0; x < width; ++x) {
            uint8_t c[3];
            colour(x, y, c);
            r[x * 4] = c[2];
            r[x * 4 + 1] = c[1];
            r[x * 4 + 2] = c[0];
            r[x * 4 + 3] = 255;
        }
    }
    const std::vector<uint8_t> encoded = Raster::png(b);
    const Decoded d = decode(encoded);
    ASSERT_EQ(d.width, width);
    ASSERT_EQ(d.height, height);
    EXPECT_FALSE(d.hadAlpha);
    int64_t mismatches = 0;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* r = d.rgba.data() + y * width * 4;
        for (int64_t x = 0; x < width; ++x) {
            uint8_t c[3];
            colour(x, y, c);
            mismatches += r[x * 4] != c[0] || r[x * 4 + 1] != c[1] || r[x * 4 + 2] != c[2] || r[x * 4 + 3] != 255;
        }
    }
    EXPECT_EQ(mismatches, 0);
}
