#include "recognition/vertical/VerticalPage.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <numbers>

#include <leptonica/allheaders.h>

#include "foundation/BrindlexError.hpp"

namespace velmora::VerticalPage {

namespace {

struct PixDestroy {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
struct BoxaDestroy {
    void operator()(BOXA* b) const { boxaDestroy(&b); }
};
using Pix = std::unique_ptr<PIX, PixDestroy>;

bool dark(uint8_t grey) { return grey < darkBelow; }

Pix darkMask(const GreyPage& page) {
    Pix mask(pixCreate(page.width, page.height, 1));
    if (!mask) raise(ErrorCase::budgetExceeded);
    l_uint32* data = pixGetData(mask.get());
    const int wpl = pixGetWpl(mask.get());
    // 32 pixels to a word, the first in the word's highest bit.
    for (int y = 0; y < page.height; ++y) {
        l_uint32* line = data + static_cast<std::ptrdiff_t>(wpl) * y;
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        for (int x0 = 0; x0 < page.width; x0 += 32) {
            const int end = std::min(x0 + 32, page.width);
            l_uint32 word = 0;
            for (int x = x0; x < end; ++x) word |= static_cast<l_uint32>(dark(row[x])) << (31 - (x - x0));
            line[x0 / 32] = word;
        }
    }
    return mask;
}

int median(std::vector<int> values) {
    if (values.empty()) return 0;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

GreyPage withoutSpecks(const GreyPage& page) {
    if (page.width < 1 || page.height < 1) return page;
    const Pix mask = darkMask(page);
    std::unique_ptr<BOXA, BoxaDestroy> boxes(pixConnCompBB(mask.get(), 8));
    if (!boxes) return page;
    // Pieces of a few pixels are specks whatever the page; the typical
    // piece is measured without them.
    std::vector<int> sizes;
    const int count = boxaGetCount(boxes.get());
    int smallest = 1 << 30;
    for (int i = 0; i < count; ++i) {
        l_int32 x = 0, y = 0, w = 0, h = 0;
        if (boxaGetBoxGeometry(boxes.get(), i, &x, &y, &w, &h) != 0) continue;
        if (std::max(w, h) > 3) sizes.push_back(std::max(w, h));
        smallest = std::min(smallest, std::max(w, h));
    }
    const int speck = std::max(2, median(sizes) / 8);
    // A clean page holds no piece that small: its pieces are not searched
    // again.
    if (smallest > speck) return page;
    l_int32 changed = 0;
    Pix kept(pixSelectBySize(mask.get(), speck, speck, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GT, &changed));
    if (!kept || !changed) return page;
    GreyPage out = page;
    // The dark pixels of the mask that the kept pieces leave out, word by
    // word: few words of a page hold a speck.
    const l_uint32* all = pixGetData(mask.get());
    const l_uint32* data = pixGetData(kept.get());
    const int wpl = pixGetWpl(kept.get());
    for (int y = 0; y < out.height; ++y) {
        const l_uint32* inked = all + static_cast<std::ptrdiff_t>(wpl) * y;
        const l_uint32* line = data + static_cast<std::ptrdiff_t>(wpl) * y;
        uint8_t* row = out.pixels.data() + static_cast<std::size_t>(y) * out.width;
        for (int w = 0; w < wpl; ++w) {
            l_uint32 specks = inked[w] & ~line[w];
            while (specks) {
                const int bit = std::countl_zero(specks);
                row[w * 32 + bit] = 255;
                specks &= ~(l_uint32{1} << (31 - bit));
            }
        }
    }
    return out;
}

double columnSkew(const GreyPage& page) {
    // Every other row's dark pixels, measured from the middle row so that
    // a shear keeps the page's centre in place: per row, its distance from
    // the middle and where its dark pixels end in xs.
    std::vector<int> xs;
    std::vector<std::pair<int, std::size_t>> rows;
    for (int y = 0; y < page.height; y += 2) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        const std::size_t before = xs.size();
        for (int x = 0; x < page.width; ++x) {
            if (dark(row[x])) xs.push_back(x);
        }
        if (xs.size() > before) rows.emplace_back(y - page.height / 2, xs.size());
    }
    if (xs.empty()) return 0;
    const int margin = static_cast<int>(std::ceil(page.height * std::tan(largestSkew * std::numbers::pi / 180))) + 1;
    std::vector<int> bins(static_cast<std::size_t>(page.width + 2 * margin), 0);
    const auto last = static_cast<std::ptrdiff_t>(bins.size()) - 1;
    // Rounding half away from zero, as std::lround, without its call: the
    // difference of a value and its truncation is exact.
    const auto nearest = [](double v) {
        auto r = static_cast<std::ptrdiff_t>(v);
        const double fraction = v - static_cast<double>(r);
        if (fraction >= 0.5) r += 1;
        if (fraction <= -0.5) r -= 1;
        return r;
    };
    // How sharply the projection along the angle gathers: the sum of the
    // squared counts, largest when the columns stand straight along it. A
    // row's pixels all move by the same whole number of bins, its shift
    // rounded once: the margin keeps every shifted position positive, where
    // a whole number added changes no rounding.
    const auto sharpness = [&](double degrees) {
        std::fill(bins.begin(), bins.end(), 0);
        const double t = std::tan(degrees * std::numbers::pi / 180);
        std::size_t from = 0;
        for (const auto& [y, to] : rows) {
            const std::ptrdiff_t shift = nearest(margin - y * t);
            if (xs[from] + shift < 0 || xs[to - 1] + shift > last) {
                for (std::size_t i = from; i < to; ++i) {
                    bins[static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(xs[i] + shift, 0, last))] += 1;
                }
            } else {
                int* shifted = bins.data() + shift;
                for (std::size_t i = from; i < to; ++i) shifted[xs[i]] += 1;
            }
            from = to;
        }
        double sum = 0;
        for (int b : bins) sum += static_cast<double>(b) * b;
        return sum;
    };
    double best = 0, bestScore = sharpness(0);
    const auto search = [&](double from, double to, double step) {
        for (double a = from; a <= to + 1e-9; a += step) {
            const double score = sharpness(a);
            if (score > bestScore) {
                bestScore = score;
                best = a;
            }
        }
    };
    search(-largestSkew, largestSkew, 0.1);
    const double coarse = best;
    search(coarse - 0.1, coarse + 0.1, 0.02);
    return best;
}

GreyPage rotated(const GreyPage& page, double degrees) {
    Pix grey(pixCreate(page.width, page.height, 8));
    if (!grey) raise(ErrorCase::budgetExceeded);
    for (int y = 0; y < page.height; ++y) {
        l_uint32* line = pixGetData(grey.get()) + static_cast<std::ptrdiff_t>(pixGetWpl(grey.get())) * y;
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        for (int x = 0; x < page.width; ++x) SET_DATA_BYTE(line, x, row[x]);
    }
    Pix turned(pixRotate(grey.get(), static_cast<l_float32>(degrees * std::numbers::pi / 180), L_ROTATE_AREA_MAP,
                         L_BRING_IN_WHITE, 0, 0));
    if (!turned || pixGetWidth(turned.get()) != page.width || pixGetHeight(turned.get()) != page.height) {
        raise(ErrorCase::renderFailed);
    }
    GreyPage out = page;
    for (int y = 0; y < out.height; ++y) {
        const l_uint32* line = pixGetData(turned.get()) + static_cast<std::ptrdiff_t>(pixGetWpl(turned.get())) * y;
        uint8_t* row = out.pixels.data() + static_cast<std::size_t>(y) * out.width;
        for (int x = 0; x < out.width; ++x) row[x] = static_cast<uint8_t>(GET_DATA_BYTE(line, x));
    }
    return out;
}

Rect Prepared::onPage(const Rect& r) const {
    if (turned == 0) return r;
    // Turning back by -turned about the centre.
    const double a = -turned * std::numbers::pi / 180;
    const double c = std::cos(a), s = std::sin(a);
    const double cx = grey.width / 2.0, cy = grey.height / 2.0;
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const auto& [x, y] : {std::pair{r.minX(), r.minY()}, {r.maxX(), r.minY()}, {r.minX(), r.maxY()},
                               {r.maxX(), r.maxY()}}) {
        // Clockwise on a page whose y runs downwards.
        const double px = cx + (x - cx) * c - (y - cy) * s;
        const double py = cy + (x - cx) * s + (y - cy) * c;
        minX = std::min(minX, px), maxX = std::max(maxX, px);
        minY = std::min(minY, py), maxY = std::max(maxY, py);
    }
    minX = std::clamp(std::floor(minX), 0.0, double(grey.width));
    maxX = std::clamp(std::ceil(maxX), 0.0, double(grey.width));
    minY = std::clamp(std::floor(minY), 0.0, double(grey.height));
    maxY = std::clamp(std::ceil(maxY), 0.0, double(grey.height));
    return Rect{minX, minY, maxX - minX, maxY - minY};
}

Prepared prepare(const GreyPage& page) {
    Prepared out;
    out.grey = withoutSpecks(page);
    const double skew = columnSkew(out.grey);
    const double drift = std::abs(std::tan(skew * std::numbers::pi / 180)) * page.height;
    if (drift > 2) {
        out.grey = rotated(out.grey, skew);
        out.turned = skew;
    }
    return out;
}

std::vector<bool> inkColumns(const GreyPage& page) {
    std::vector<int> counts(static_cast<std::size_t>(page.width), 0);
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        for (int x = 0; x < page.width; ++x) counts[static_cast<std::size_t>(x)] += dark(row[x]);
    }
    std::vector<bool> flags(counts.size());
    for (std::size_t x = 0; x < counts.size(); ++x) flags[x] = counts[x] > 2;
    return flags;
}

std::vector<ColumnRange> columns(const GreyPage& page) {
    const std::vector<bool> flags = inkColumns(page);
    std::vector<ColumnRange> pieces;
    for (int x = 0; x < page.width; ++x) {
        if (!flags[static_cast<std::size_t>(x)]) continue;
        if (!pieces.empty() && pieces.back().end == x) {
            pieces.back().end = x + 1;
        } else {
            pieces.push_back({x, x + 1});
        }
    }
    if (pieces.empty()) return pieces;
    // The typical column: the width of the run that holds the middle of the
    // page's ink columns, runs taken from narrow to wide.
    std::vector<ColumnRange> byWidth = pieces;
    std::sort(byWidth.begin(), byWidth.end(), [](const ColumnRange& a, const ColumnRange& b) {
        return a.end - a.start < b.end - b.start;
    });
    int total = 0;
    for (const ColumnRange& p : pieces) total += p.end - p.start;
    int seen = 0, typical = 1;
    for (const ColumnRange& p : byWidth) {
        seen += p.end - p.start;
        if (seen * 2 >= total) {
            typical = p.end - p.start;
            break;
        }
    }
    std::vector<ColumnRange> out{pieces.front()};
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        ColumnRange& current = out.back();
        const ColumnRange& next = pieces[i];
        const int gap = next.start - current.end;
        const int width = next.end - current.start;
        if (gap * 2 < typical && width * 10 <= typical * 13) {
            current.end = next.end;
        } else {
            out.push_back(next);
        }
    }
    return out;
}

}  // namespace velmora::VerticalPage
