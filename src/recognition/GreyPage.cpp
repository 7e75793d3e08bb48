#include "recognition/GreyPage.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include <leptonica/allheaders.h>

#include "foundation/BrindlexError.hpp"

namespace velmora {

namespace {

struct PixDestroy {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
struct BoxaDestroy {
    void operator()(BOXA* b) const { boxaDestroy(&b); }
};

}  // namespace

GreyPage GreyPage::from(const RasterImage& image) {
    GreyPage page;
    page.width = image.width();
    page.height = image.height();
    const int channels = image.channels();
    const uint8_t* pixels = image.pixels();
    const std::ptrdiff_t stride = image.rowStride();
    page.pixels.resize(static_cast<std::size_t>(page.width) * static_cast<std::size_t>(page.height));
    uint8_t* dst = page.pixels.data();
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* p = pixels + stride * y;
        for (int x = 0; x < page.width; ++x, p += channels) {
            uint32_t luma = (299u * p[0] + 587u * p[1] + 114u * p[2] + 500u) / 1000u;
            if (channels == 4) {
                const uint32_t a = p[3];
                luma = (luma * a + 255u * (255u - a) + 127u) / 255u;
            }
            *dst++ = static_cast<uint8_t>(luma);
        }
    }
    return page;
}

uint8_t GreyPage::inkThreshold() const {
    std::array<double, 256> histogram{};
    for (uint8_t v : pixels) histogram[v] += 1;
    const double total = static_cast<double>(pixels.size());
    double sum = 0;
    for (int i = 0; i < 256; ++i) sum += i * histogram[i];
    double below = 0, sumBelow = 0, best = -1;
    int threshold = 127;
    for (int t = 0; t < 256; ++t) {
        below += histogram[t];
        if (below == 0) continue;
        const double above = total - below;
        if (above == 0) break;
        sumBelow += t * histogram[t];
        const double meanBelow = sumBelow / below;
        const double meanAbove = (sum - sumBelow) / above;
        const double between = below * above * (meanBelow - meanAbove) * (meanBelow - meanAbove);
        if (between > best) {
            best = between;
            threshold = t;
        }
    }
    return static_cast<uint8_t>(threshold);
}

int GreyPage::medianInkHeight() const {
    if (width < 1 || height < 1) return 0;
    const uint8_t threshold = inkThreshold();
    std::unique_ptr<PIX, PixDestroy> ink(pixCreate(width, height, 1));
    if (!ink) fail(ErrorCase::budgetExceeded);
    l_uint32* data = pixGetData(ink.get());
    const int wordsPerLine = pixGetWpl(ink.get());
    for (int y = 0; y < height; ++y) {
        l_uint32* line = data + static_cast<std::ptrdiff_t>(wordsPerLine) * y;
        const uint8_t* row = pixels.data() + static_cast<std::ptrdiff_t>(width) * y;
        for (int x = 0; x < width; ++x) {
            if (row[x] <= threshold) SET_DATA_BIT(line, x);
        }
    }
    std::unique_ptr<BOXA, BoxaDestroy> boxes(pixConnCompBB(ink.get(), 8));
    if (!boxes) return 0;
    std::vector<int> heights;
    const int count = boxaGetCount(boxes.get());
    for (int i = 0; i < count; ++i) {
        l_int32 bx = 0, by = 0, bw = 0, bh = 0;
        if (boxaGetBoxGeometry(boxes.get(), i, &bx, &by, &bw, &bh) != 0) continue;
        if (bh >= 3 && bh * 2 < height && bw * 2 < width) heights.push_back(bh);
    }
    if (heights.size() < 3) return 0;
    auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
    std::nth_element(heights.begin(), middle, heights.end());
    return *middle;
}

GreyPage GreyPage::scaled(double factor) const {
    GreyPage out;
    out.width = std::max(1, static_cast<int>(std::lround(width * factor)));
    out.height = std::max(1, static_cast<int>(std::lround(height * factor)));
    out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    const double sx = static_cast<double>(width) / out.width;
    const double sy = static_cast<double>(height) / out.height;
    // Each target pixel averages the source area it covers, partial source
    // pixels weighted by the part covered.
    for (int y = 0; y < out.height; ++y) {
        const double y0 = y * sy, y1 = std::min((y + 1) * sy, static_cast<double>(height));
        for (int x = 0; x < out.width; ++x) {
            const double x0 = x * sx, x1 = std::min((x + 1) * sx, static_cast<double>(width));
            double sum = 0, area = 0;
            for (int yy = static_cast<int>(y0); yy < static_cast<int>(std::ceil(y1)); ++yy) {
                const double wy = std::min<double>(yy + 1, y1) - std::max<double>(yy, y0);
                if (wy <= 0) continue;
                const uint8_t* row = pixels.data() + static_cast<std::ptrdiff_t>(width) * yy;
                for (int xx = static_cast<int>(x0); xx < static_cast<int>(std::ceil(x1)); ++xx) {
                    const double wx = std::min<double>(xx + 1, x1) - std::max<double>(xx, x0);
                    if (wx <= 0) continue;
                    sum += wx * wy * row[xx];
                    area += wx * wy;
                }
            }
            out.pixels[static_cast<std::size_t>(y) * out.width + x] =
                static_cast<uint8_t>(area > 0 ? std::lround(sum / area) : 255);
        }
    }
    return out;
}

GreyPage GreyPage::forRecognition() const {
    const int ink = medianInkHeight();
    if (ink <= largestInkHeight) return *this;
    return scaled(static_cast<double>(largestInkHeight) / ink);
}

}  // namespace velmora
