#include "recognition/page/GreyPage.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <optional>

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
        if (channels == 3) {
            // A grey pixel's luma is its grey: the weights sum to 1000.
            for (int x = 0; x < page.width; ++x, p += 3) {
                *dst++ = p[0] == p[1] && p[1] == p[2]
                             ? p[0]
                             : static_cast<uint8_t>((299u * p[0] + 587u * p[1] + 114u * p[2] + 500u) / 1000u);
            }
            continue;
        }
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

namespace {

// Paper that is nowhere darker than this holds no ink, only noise or tint;
// Otsu's method would still split it in two.
constexpr uint8_t lightestInk = 160;

// The count of each grey level. Four partial counts let consecutive pixels
// of the same grey (most of a page is paper) be counted without waiting on
// one another.
std::array<uint32_t, 256> histogramOf(const std::vector<uint8_t>& pixels) {
    std::array<std::array<uint32_t, 256>, 4> parts{};
    const std::size_t n = pixels.size();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        parts[0][pixels[i]] += 1;
        parts[1][pixels[i + 1]] += 1;
        parts[2][pixels[i + 2]] += 1;
        parts[3][pixels[i + 3]] += 1;
    }
    for (; i < n; ++i) parts[0][pixels[i]] += 1;
    std::array<uint32_t, 256> out{};
    for (int v = 0; v < 256; ++v) out[v] = parts[0][v] + parts[1][v] + parts[2][v] + parts[3][v];
    return out;
}

// Otsu's threshold of a histogram of `total` pixels.
uint8_t otsu(const std::array<uint32_t, 256>& counts, double total) {
    std::array<double, 256> histogram{};
    for (int i = 0; i < 256; ++i) histogram[i] = counts[i];
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

// The threshold at or below which a pixel is ink, or none on a page
// without contrast.
std::optional<uint8_t> inkLevel(const std::vector<uint8_t>& pixels) {
    if (pixels.empty()) return std::nullopt;
    const std::array<uint32_t, 256> counts = histogramOf(pixels);
    int darkest = 0;
    while (counts[darkest] == 0) ++darkest;
    if (darkest > lightestInk) return std::nullopt;
    return otsu(counts, static_cast<double>(pixels.size()));
}

// The page as a mask of its letters (black on white), each pixel judged
// against the ground about it rather than at the page's one threshold:
// white letters on a coloured slide, or on the lighter half of a gradient,
// are then letters, not holes in one piece of ink or paper. The ground of a
// tile is the median of the commonest greys of it and its neighbours (a
// tile a bold letter fills takes theirs); a pixel is a letter's when it
// stands out from its ground, either way, by half the contrast of the
// tenth of the pixels about it that stand out most.
GreyPage lettersOnTheirGrounds(const GreyPage& page) {
    const int width = page.width, height = page.height;
    const int tile = std::max(16, std::min(width, height) / 20);
    const int across = (width + tile - 1) / tile, down = (height + tile - 1) / tile;
    const auto tileAt = [&](int tx, int ty) { return static_cast<std::size_t>(ty) * across + tx; };
    const auto eachPixel = [&](int tx, int ty, const auto& f) {
        for (int y = ty * tile; y < std::min((ty + 1) * tile, height); ++y) {
            for (int x = tx * tile; x < std::min((tx + 1) * tile, width); ++x) {
                f(static_cast<std::size_t>(y) * width + x);
            }
        }
    };
    const auto around = [&](int tx, int ty, const auto& f) {
        for (int y = std::max(ty - 1, 0); y <= std::min(ty + 1, down - 1); ++y) {
            for (int x = std::max(tx - 1, 0); x <= std::min(tx + 1, across - 1); ++x) f(tileAt(x, y));
        }
    };
    std::vector<int> commonest(static_cast<std::size_t>(across) * down);
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            std::array<int, 256> levels{};
            eachPixel(tx, ty, [&](std::size_t i) { levels[page.pixels[i]] += 1; });
            commonest[tileAt(tx, ty)] = static_cast<int>(std::max_element(levels.begin(), levels.end()) - levels.begin());
        }
    }
    std::vector<int> ground(commonest.size());
    std::vector<std::array<uint32_t, 256>> offsets(commonest.size());
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            std::vector<int> levels;
            around(tx, ty, [&](std::size_t t) { levels.push_back(commonest[t]); });
            std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 2), levels.end());
            const int g = levels[levels.size() / 2];
            ground[tileAt(tx, ty)] = g;
            auto& off = offsets[tileAt(tx, ty)];
            off.fill(0);
            eachPixel(tx, ty, [&](std::size_t i) { off[static_cast<std::size_t>(std::abs(page.pixels[i] - g))] += 1; });
        }
    }
    GreyPage out;
    out.width = width;
    out.height = height;
    out.pixels.assign(page.pixels.size(), 255);
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            std::array<uint64_t, 256> off{};
            around(tx, ty, [&](std::size_t t) {
                for (int k = 0; k < 256; ++k) off[k] += offsets[t][k];
            });
            const uint64_t standing = std::accumulate(off.begin() + GreyPage::letterContrast, off.end(), uint64_t{0});
            int contrast = 255;
            for (uint64_t seen = 0; contrast > 2 * GreyPage::letterContrast && (seen + off[contrast]) * 10 <= standing;) {
                seen += off[contrast--];
            }
            const int least = std::max(contrast / 2, GreyPage::letterContrast);
            const int g = ground[tileAt(tx, ty)];
            eachPixel(tx, ty, [&](std::size_t i) {
                if (std::abs(page.pixels[i] - g) >= least) out.pixels[i] = 0;
            });
        }
    }
    return out;
}
}  // namespace

uint8_t GreyPage::inkThreshold() const { return otsu(histogramOf(pixels), static_cast<double>(pixels.size())); }

std::vector<uint8_t> GreyPage::inkMask() const {
    std::vector<uint8_t> mask(pixels.size(), 0);
    const std::optional<uint8_t> threshold = inkLevel(pixels);
    if (!threshold) return mask;
    for (std::size_t i = 0; i < pixels.size(); ++i) mask[i] = pixels[i] <= *threshold ? 1 : 0;
    return mask;
}

std::vector<GreyPage::InkPiece> GreyPage::inkPieces() const {
    std::vector<InkPiece> out;
    if (width < 1 || height < 1) return out;
    const std::optional<uint8_t> threshold = inkLevel(pixels);
    if (!threshold) return out;
    std::unique_ptr<PIX, PixDestroy> ink(pixCreate(width, height, 1));
    if (!ink) raise(ErrorCase::budgetExceeded);
    l_uint32* data = pixGetData(ink.get());
    const int wordsPerLine = pixGetWpl(ink.get());
    // The mask is packed 32 pixels to a word, the first pixel in the word's
    // highest bit, as the image library stores a one-bit image.
    l_uint32 any = 0;
    for (int y = 0; y < height; ++y) {
        l_uint32* line = data + static_cast<std::ptrdiff_t>(wordsPerLine) * y;
        const uint8_t* row = pixels.data() + static_cast<std::ptrdiff_t>(width) * y;
        for (int x0 = 0; x0 < width; x0 += 32) {
            const int end = std::min(x0 + 32, width);
            l_uint32 word = 0;
            for (int x = x0; x < end; ++x) word |= static_cast<l_uint32>(row[x] <= *threshold) << (31 - (x - x0));
            line[x0 / 32] = word;
            any |= word;
        }
    }
    if (!any) return out;
    std::unique_ptr<BOXA, BoxaDestroy> boxes(pixConnCompBB(ink.get(), 8));
    if (!boxes) return out;
    const int count = boxaGetCount(boxes.get());
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        l_int32 bx = 0, by = 0, bw = 0, bh = 0;
        if (boxaGetBoxGeometry(boxes.get(), i, &bx, &by, &bw, &bh) != 0) continue;
        out.push_back({bx, by, bw, bh});
    }
    return out;
}

bool GreyPage::holdsInk() const {
    const std::vector<InkPiece> pieces = inkPieces();
    return std::any_of(pieces.begin(), pieces.end(),
                       [](const InkPiece& p) { return std::max(p.width, p.height) >= smallestInk; });
}

int GreyPage::characterCells() const {
    if (width < 1 || height < 1) return 0;
    std::vector<InkPiece> pieces = lettersOnTheirGrounds(*this).inkPieces();
    std::erase_if(pieces, [](const InkPiece& p) { return std::max(p.width, p.height) < smallestInk; });
    if (pieces.empty()) return 0;
    std::vector<int> heights;
    heights.reserve(pieces.size());
    for (const InkPiece& p : pieces) heights.push_back(p.height);
    auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
    std::nth_element(heights.begin(), middle, heights.end());
    const int largest = 3 * *middle;
    const auto text = std::count_if(pieces.begin(), pieces.end(), [&](const InkPiece& p) {
        return p.height <= largest && p.width <= largest;
    });
    return static_cast<int>(text) / piecesPerCharacter;
}

int GreyPage::medianInkHeight() const { return medianHeight(inkPieces()); }

int GreyPage::medianHeight(const std::vector<InkPiece>& pieces) const {
    std::vector<int> heights;
    for (const InkPiece& piece : pieces) {
        if (piece.height >= 3 && piece.height * 2 < height && piece.width * 2 < width) heights.push_back(piece.height);
    }
    if (heights.size() < 3) return 0;
    auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
    std::nth_element(heights.begin(), middle, heights.end());
    return *middle;
}

GreyPage GreyPage::scaled(double factor) const {
    return resized(static_cast<int>(std::lround(width * factor)), static_cast<int>(std::lround(height * factor)));
}

GreyPage GreyPage::resized(int toWidth, int toHeight) const {
    GreyPage out;
    out.width = std::max(1, toWidth);
    out.height = std::max(1, toHeight);
    out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    const double sx = static_cast<double>(width) / out.width;
    const double sy = static_cast<double>(height) / out.height;

    if (out.width > width || out.height > height) {
        // Enlarging: bilinear between the four nearest source pixel centres,
        // with the column positions worked out once.
        struct Tap {
            int x0, x1;
            float t;
        };
        std::vector<Tap> columns(static_cast<std::size_t>(out.width));
        for (int x = 0; x < out.width; ++x) {
            const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, static_cast<double>(width - 1));
            const int x0 = static_cast<int>(fx);
            columns[static_cast<std::size_t>(x)] = {x0, std::min(x0 + 1, width - 1), static_cast<float>(fx - x0)};
        }
        for (int y = 0; y < out.height; ++y) {
            const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, static_cast<double>(height - 1));
            const int y0 = static_cast<int>(fy);
            const int y1 = std::min(y0 + 1, height - 1);
            const auto ty = static_cast<float>(fy - y0);
            const uint8_t* r0 = pixels.data() + static_cast<std::ptrdiff_t>(width) * y0;
            const uint8_t* r1 = pixels.data() + static_cast<std::ptrdiff_t>(width) * y1;
            uint8_t* dst = out.pixels.data() + static_cast<std::ptrdiff_t>(out.width) * y;
            for (const Tap& c : columns) {
                const float top = r0[c.x0] + (r0[c.x1] - r0[c.x0]) * c.t;
                const float bottom = r1[c.x0] + (r1[c.x1] - r1[c.x0]) * c.t;
                *dst++ = static_cast<uint8_t>(top + (bottom - top) * ty + 0.5f);
            }
        }
        return out;
    }

    // Shrinking: every target pixel averages the source area it covers, a
    // partly covered source pixel weighted by the part covered. The average
    // is separable: rows are shrunk first, then columns.
    struct Span {
        int first = 0;
        std::vector<float> weights;
    };
    auto spans = [](int source, int target, double step) {
        std::vector<Span> out(static_cast<std::size_t>(target));
        for (int i = 0; i < target; ++i) {
            const double a = i * step, b = std::min((i + 1) * step, static_cast<double>(source));
            Span& span = out[static_cast<std::size_t>(i)];
            span.first = static_cast<int>(a);
            for (int k = span.first; k < static_cast<int>(std::ceil(b)); ++k) {
                const double w = std::min<double>(k + 1, b) - std::max<double>(k, a);
                span.weights.push_back(static_cast<float>(std::max(w, 0.0) / (b - a)));
            }
        }
        return out;
    };
    const std::vector<Span> across = spans(width, out.width, sx);
    const std::vector<Span> down = spans(height, out.height, sy);
    std::vector<float> narrow(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels.data() + static_cast<std::ptrdiff_t>(width) * y;
        float* dst = narrow.data() + static_cast<std::ptrdiff_t>(out.width) * y;
        for (const Span& span : across) {
            float sum = 0;
            for (std::size_t k = 0; k < span.weights.size(); ++k) sum += span.weights[k] * row[span.first + k];
            *dst++ = sum;
        }
    }
    for (int y = 0; y < out.height; ++y) {
        const Span& span = down[static_cast<std::size_t>(y)];
        uint8_t* dst = out.pixels.data() + static_cast<std::ptrdiff_t>(out.width) * y;
        for (int x = 0; x < out.width; ++x) {
            float sum = 0;
            for (std::size_t k = 0; k < span.weights.size(); ++k) {
                sum += span.weights[k] * narrow[static_cast<std::size_t>(span.first + static_cast<int>(k)) * out.width + x];
            }
            dst[x] = static_cast<uint8_t>(std::clamp(sum + 0.5f, 0.0f, 255.0f));
        }
    }
    return out;
}

namespace {

// The least difference in grey between a ground and the light ink on it
// for the ink to be read as letters rather than a tint of the ground.
constexpr int groundContrast = 64;
// How many solid squares (about a letter) a light panel on a ground spans
// each way, at the least.
constexpr int panelSize = 4;

// The level at or below which this share (in percent) of the levels lies.
int percentile(std::vector<uint8_t>& levels, std::size_t percent) {
    auto at = levels.begin() + static_cast<std::ptrdiff_t>(std::min(levels.size() * percent / 100, levels.size() - 1));
    std::nth_element(levels.begin(), at, levels.end());
    return *at;
}

// The pixels a flood marked and the box they span.
struct Extent {
    std::size_t pixels = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Marks `to` the pixels of the w × h marks that are marked `from`, that
// `joins` admits and that join (sx, sy), 8- or 4-connected. A row's run is
// marked at once and only the runs next to it wait, so that a page-wide
// ground needs no more memory than its rows.
template <typename Joins>
Extent flood(std::vector<uint8_t>& marks, int w, int h, int sx, int sy, uint8_t from, uint8_t to, bool eight,
             const Joins& joins) {
    Extent e{0, sx, sy, sx, sy};
    const auto open = [&](int x, int y) { return marks[static_cast<std::size_t>(y) * w + x] == from && joins(x, y); };
    std::vector<std::pair<int, int>> waiting{{sx, sy}};
    while (!waiting.empty()) {
        const auto [x, y] = waiting.back();
        waiting.pop_back();
        if (!open(x, y)) continue;
        int l = x, r = x;
        while (l > 0 && open(l - 1, y)) --l;
        while (r + 1 < w && open(r + 1, y)) ++r;
        std::fill(marks.begin() + static_cast<std::ptrdiff_t>(y) * w + l,
                  marks.begin() + static_cast<std::ptrdiff_t>(y) * w + r + 1, to);
        e.pixels += static_cast<std::size_t>(r - l + 1);
        e.left = std::min(e.left, l), e.right = std::max(e.right, r);
        e.top = std::min(e.top, y), e.bottom = std::max(e.bottom, y);
        const int a = eight ? std::max(l - 1, 0) : l, b = eight ? std::min(r + 1, w - 1) : r;
        for (const int ny : {y - 1, y + 1}) {
            if (ny < 0 || ny >= h) continue;
            bool inRun = false;
            for (int i = a; i <= b; ++i) {
                const bool o = open(i, ny);
                if (o && !inRun) waiting.emplace_back(i, ny);
                inRun = o;
            }
        }
    }
    return e;
}

// Whether the pixels marked `as` in the w × h marks hold a square of the
// side. A ground does: somewhere a square of its ink as large as the page's
// letters. Strokes are thinner than the letters they make, rules thinner
// still, however large the letter or long the rule.
bool holdsSquare(const std::vector<uint8_t>& marks, int w, int h, uint8_t as, int side) {
    // For each column, the rows down to this one with a run of the side
    // ending there.
    std::vector<int> rows(static_cast<std::size_t>(w), 0);
    for (int y = 0; y < h; ++y) {
        int across = 0;
        for (int x = 0; x < w; ++x) {
            across = marks[static_cast<std::size_t>(y) * w + x] == as ? across + 1 : 0;
            int& r = rows[static_cast<std::size_t>(x)];
            r = across >= side ? r + 1 : 0;
            if (r >= side) return true;
        }
    }
    return false;
}

// Takes the ground that the piece of ink `ground` of `page` is, if it is
// one, onto `out.letters`, lightened, and its letters off `out.rest`. A
// ground is a solid piece (see holdsSquare) at least half of whose filled shape
// is its own ink, the rest pieces of light ink it encloses. A hole as large
// as half of it either way is paper it frames (a light panel on a dark
// page) and stays, as does what lies outside it within its box. `solid` is
// the side of the square of ink that makes a piece solid; `part` marks a
// band of a larger piece, taken on its own.
void takeGround(const GreyPage& page, GreyPage::Grounds& out, const GreyPage::InkPiece& ground, uint8_t threshold,
                int solid, bool part = false) {
    const int w = ground.width, h = ground.height;
    const auto index = [&](int x, int y) {
        return static_cast<std::size_t>(ground.y + y) * page.width + static_cast<std::size_t>(ground.x + x);
    };
    const auto dark = [&](int x, int y) { return page.pixels[index(x, y)] <= threshold; };
    enum : uint8_t { unknown, ink, outside, hole, framed };
    std::vector<uint8_t> kind(static_cast<std::size_t>(w) * h, unknown);
    const auto any = [](int, int) { return true; };
    // The ground's own pixels, found from one on its top row.
    int seed = 0;
    while (seed < w && !dark(seed, 0)) ++seed;
    if (seed == w) return;
    const Extent own = flood(kind, w, h, seed, 0, unknown, ink, true, dark);
    const std::size_t inkPixels = own.pixels;
    // Another piece of ink within the box was found: the box is left alone,
    // but for the band of a grid's header row whose cells are shaded apart,
    // light borders between them: each cell across the band is a ground.
    if (own.left != 0 || own.top != 0 || own.right != w - 1 || own.bottom != h - 1) {
        if (!part || own.bottom != h - 1) return;
        std::vector<uint8_t> cells(static_cast<std::size_t>(w) * h, unknown);
        for (int x = 0; x < w;) {
            int from = x;
            while (from < w && (!dark(from, 0) || cells[static_cast<std::size_t>(from)] != unknown)) ++from;
            if (from == w) break;
            const Extent e = flood(cells, w, h, from, 0, unknown, ink, true, dark);
            if (e.top == 0 && e.bottom == h - 1 && (e.left > 0 || e.right < w - 1) && e.right - e.left + 1 >= solid) {
                takeGround(page, out, {ground.x + e.left, ground.y, e.right - e.left + 1, h}, threshold, solid, true);
            }
            x = e.right + 1;
        }
        return;
    }
    if (!holdsSquare(kind, w, h, ink, solid)) return;
    // What is not the ground, 4-connected: what reaches the box's edge is
    // outside it, the rest its holes.
    const auto unknownAt = [&](int x, int y) { return kind[static_cast<std::size_t>(y) * w + x] == unknown; };
    for (int x = 0; x < w; ++x) {
        if (unknownAt(x, 0)) flood(kind, w, h, x, 0, unknown, outside, false, any);
        if (unknownAt(x, h - 1)) flood(kind, w, h, x, h - 1, unknown, outside, false, any);
    }
    for (int y = 0; y < h; ++y) {
        if (unknownAt(0, y)) flood(kind, w, h, 0, y, unknown, outside, false, any);
        if (unknownAt(w - 1, y)) flood(kind, w, h, w - 1, y, unknown, outside, false, any);
    }
    // A ground ends in an edge: paper, or another colour, just beyond it.
    // One that fades into what lies beyond (a gradient crossing the
    // threshold) is no ground of its own; its letters are judged on the
    // ground about them (see onOwnGrounds).
    std::vector<uint8_t> beyond;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if ((x > 0 && x + 1 < w && y > 0 && y + 1 < h) || kind[static_cast<std::size_t>(y) * w + x] != ink) continue;
            for (const auto& [dx, dy] : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}}) {
                // Past the box's sides: within them, light letters cut by the
                // edge of a fading ground reach out of it too.
                const int nx = x + dx, ny = y + dy;
                if (nx >= 0 && ny >= 0 && nx < w && ny < h) continue;
                // A few pixels on, past the edge's own blur.
                const int px = ground.x + x + 3 * dx, py = ground.y + y + 3 * dy;
                if (px >= 0 && py >= 0 && px < page.width && py < page.height) {
                    beyond.push_back(page.pixels[static_cast<std::size_t>(py) * page.width + px]);
                }
            }
        }
    }
    if (!beyond.empty() && percentile(beyond, 50) <= threshold + groundContrast / 2) return;
    std::size_t holePixels = 0;
    int lightPieces = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (!unknownAt(x, y)) continue;
            const Extent e = flood(kind, w, h, x, y, unknown, hole, false, any);
            const int hw = e.right - e.left + 1, hh = e.bottom - e.top + 1;
            // A light panel on the ground (a table on a dark slide) is no
            // letter: several letters tall and wide, all of its box but its
            // own dark text light. A bold letter's ring (ロ, 四) holds the
            // ground in it.
            bool panel = hw >= panelSize * solid && hh >= panelSize * solid;
            if (panel) {
                std::size_t light = 0;
                for (int y = e.top; y <= e.bottom; ++y) {
                    for (int x = e.left; x <= e.right; ++x) light += dark(x, y) ? 0 : 1;
                }
                panel = light * 4 >= static_cast<std::size_t>(hw) * hh * 3;
            }
            if ((hw * 2 > w && hh * 2 > h) || panel) {
                flood(kind, w, h, x, y, hole, framed, false, any);
                continue;
            }
            holePixels += e.pixels;
            if (std::max(hw, hh) >= GreyPage::smallestInk) lightPieces += 1;
        }
    }
    if (holePixels > inkPixels && !part) {
        // A table's grid joined to its dark header row: more paper than
        // ink, but a band of rows at least half ink across the grid's width
        // (its letters the rest), as high as a solid square, is a ground of
        // its own.
        int from = -1;
        for (int y = 0; y <= h; ++y) {
            int across = 0;
            for (int x = 0; y < h && x < w; ++x) across += kind[static_cast<std::size_t>(y) * w + x] == ink ? 1 : 0;
            const bool band = y < h && across * 2 >= w;
            if (band && from < 0) from = y;
            if (band || from < 0) continue;
            if (y - from >= solid) {
                takeGround(page, out, {ground.x, ground.y + from, w, y - from}, threshold, solid, true);
            }
            from = -1;
        }
        return;
    }
    // A header row's cell may hold a word of two letters: the row's band
    // is a ground already.
    if (lightPieces < (part ? 1 : GreyPage::fewestLightPieces) || holePixels > inkPixels) return;
    std::vector<uint8_t> groundLevels, lightLevels;
    groundLevels.reserve(inkPixels);
    lightLevels.reserve(holePixels);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t k = kind[static_cast<std::size_t>(y) * w + x];
            if (k == ink) groundLevels.push_back(page.pixels[index(x, y)]);
            if (k == hole) lightLevels.push_back(page.pixels[index(x, y)]);
        }
    }
    // The lighter of the ground's greys (a band and a bar of two colours
    // may meet as one piece) turns to paper, the light ink to black, the
    // edges of the letters between.
    const int paper = percentile(groundLevels, 90);
    const int letters = percentile(lightLevels, 90);
    if (letters - paper < groundContrast) return;
    if (out.letters.pixels.empty()) {
        out.letters.width = page.width;
        out.letters.height = page.height;
        out.letters.pixels.assign(page.pixels.size(), 255);
    }
    // Letters darker than the ground (dark text on the same coloured
    // slide as white text) are of the ground's ink at the threshold, and
    // would be painted over with it: each is judged against the ground
    // about it, the median grey of the ground's pixels in its tile (tiles of
    // a couple of letters, within which a gradient barely changes). Like
    // the light letters they stand groundContrast off it (a faint rule or
    // border between a bar's items is no letter), and are set dark at the
    // contrast of the tenth of them that stand out most. On the band of a
    // table's grid what is darker than the ground is the grid's rules,
    // which stay off the letters.
    const int tile = 2 * solid;
    const int across = (w + tile - 1) / tile, down = (h + tile - 1) / tile;
    std::vector<int> local(static_cast<std::size_t>(across) * down, 0);
    std::vector<uint8_t> darker;
    for (int ty = 0; !part && ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            std::vector<uint8_t> levels;
            for (int y = ty * tile; y < std::min((ty + 1) * tile, h); ++y) {
                for (int x = tx * tile; x < std::min((tx + 1) * tile, w); ++x) {
                    if (kind[static_cast<std::size_t>(y) * w + x] == ink) levels.push_back(page.pixels[index(x, y)]);
                }
            }
            const int g = levels.empty() ? 0 : percentile(levels, 50);
            // Where two colours of a ground meet (a band and a bar), the
            // darker is no letter on the lighter: a tile is judged only
            // when most of its ground is flat.
            const auto flat = std::count_if(levels.begin(), levels.end(),
                                            [&](uint8_t v) { return std::abs(v - g) <= GreyPage::flatGround; });
            if (static_cast<std::size_t>(flat) * 2 < levels.size()) continue;
            local[static_cast<std::size_t>(ty) * across + tx] = g;
            for (const uint8_t v : levels) {
                if (g - v >= groundContrast) darker.push_back(static_cast<uint8_t>(g - v));
            }
        }
    }
    const int half = groundContrast / 2;
    const int darkContrast = darker.empty() ? 0 : std::max(percentile(darker, 90), groundContrast);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t k = kind[static_cast<std::size_t>(y) * w + x];
            if (k != ink && k != hole) continue;
            const int v = page.pixels[index(x, y)];
            int turned = (letters - v) * 255 / (letters - paper);
            if (k == ink && darkContrast > 0) {
                const int off = local[static_cast<std::size_t>(y / tile) * across + x / tile] - v;
                turned = std::min(turned, 255 - (off - half) * 255 / (darkContrast - half));
            }
            out.letters.pixels[index(x, y)] = static_cast<uint8_t>(std::clamp(turned, 0, 255));
            out.rest.pixels[index(x, y)] = static_cast<uint8_t>(paper);
        }
    }
    out.boxes.push_back(ground);
}

}  // namespace

GreyPage::Grounds GreyPage::darkGrounds() const {
    Grounds out;
    out.rest = *this;
    const std::optional<uint8_t> threshold = inkLevel(pixels);
    if (!threshold) return out;
    // The side of the square of ink that makes a piece solid.
    const std::vector<InkPiece> pieces = inkPieces();
    const int solid = std::max(thinnestGround, medianHeight(pieces));
    for (const InkPiece& piece : pieces) {
        if (std::min(piece.width, piece.height) < solid) continue;
        takeGround(*this, out, piece, *threshold, solid);
    }
    return out;
}

GreyPage GreyPage::onOwnGrounds(const std::vector<InkPiece>& taken) const {
    // Tiles a twentieth of the page's shorter side: a few lines of text each,
    // more ground than letters unless a large title fills one.
    const int tile = std::max(16, std::min(width, height) / 20);
    const int across = (width + tile - 1) / tile, down = (height + tile - 1) / tile;
    const auto tileAt = [&](int tx, int ty) { return static_cast<std::size_t>(ty) * across + tx; };
    // The grounds' boxes keep their painted grey, which is no ground of
    // the letters about them: their pixels are left out of every count.
    std::vector<uint8_t> kept(pixels.size(), 0);
    for (const InkPiece& p : taken) {
        for (int y = std::max(p.y, 0); y < std::min(p.y + p.height, height); ++y) {
            std::fill_n(kept.begin() + static_cast<std::ptrdiff_t>(y) * width + std::max(p.x, 0),
                        std::max(0, std::min(p.x + p.width, width) - std::max(p.x, 0)), uint8_t{1});
        }
    }
    const auto eachPixel = [&](int tx, int ty, const auto& f) {
        for (int y = ty * tile; y < std::min((ty + 1) * tile, height); ++y) {
            for (int x = tx * tile; x < std::min((tx + 1) * tile, width); ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                if (!kept[i]) f(x, y, pixels[i]);
            }
        }
    };
    // Each tile's commonest grey, then the median of those about it: a
    // tile that a bold letter fills takes its neighbours' ground.
    std::vector<int> commonest(static_cast<std::size_t>(across) * down);
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            // By bins of eight greys: a gradient spreads a tile's ground
            // over a few greys, antialiased letters keep theirs.
            std::array<int, 32> counts{};
            std::array<int, 256> levels{};
            int seen = 0;
            eachPixel(tx, ty, [&](int, int, uint8_t v) { counts[v / 8] += 1, levels[v] += 1, ++seen; });
            // Mostly a ground's box: no ground of its own.
            const int area = (std::min((tx + 1) * tile, width) - tx * tile) * (std::min((ty + 1) * tile, height) - ty * tile);
            if (seen * 4 < area) {
                commonest[tileAt(tx, ty)] = -1;
                continue;
            }
            const int bin = static_cast<int>(std::max_element(counts.begin(), counts.end()) - counts.begin());
            const int common = static_cast<int>(
                std::max_element(levels.begin() + bin * 8, levels.begin() + bin * 8 + 8) - levels.begin());
            // A ground is flat: most of the tile within a few greys of it.
            // Wood, cloth or shadow in a photograph is no ground of letters.
            int flat = 0;
            for (int v = std::max(common - flatGround, 0); v <= std::min(common + flatGround, 255); ++v) flat += levels[v];
            commonest[tileAt(tx, ty)] = common <= paperGround && flat * 2 < seen ? 255 : common;
        }
    }
    const auto around = [&](int tx, int ty, const auto& f) {
        for (int y = std::max(ty - 1, 0); y <= std::min(ty + 1, down - 1); ++y) {
            for (int x = std::max(tx - 1, 0); x <= std::min(tx + 1, across - 1); ++x) f(x, y);
        }
    };
    std::vector<int> ground(commonest.size());
    bool coloured = false;
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            std::vector<int> levels;
            around(tx, ty, [&](int x, int y) {
                if (commonest[tileAt(x, y)] >= 0) levels.push_back(commonest[tileAt(x, y)]);
            });
            if (commonest[tileAt(tx, ty)] < 0 || levels.empty()) {
                ground[tileAt(tx, ty)] = 255;
                continue;
            }
            std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 2), levels.end());
            ground[tileAt(tx, ty)] = levels[levels.size() / 2];
            coloured = coloured || (ground[tileAt(tx, ty)] <= paperGround && commonest[tileAt(tx, ty)] <= paperGround);
        }
    }
    if (!coloured) return *this;
    // Each tile's pixels lighter and darker than its ground, by how much.
    std::vector<std::array<uint32_t, 256>> lighter(commonest.size()), darker(commonest.size());
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            const int g = ground[tileAt(tx, ty)];
            auto& l = lighter[tileAt(tx, ty)];
            auto& d = darker[tileAt(tx, ty)];
            l.fill(0);
            d.fill(0);
            eachPixel(tx, ty, [&](int, int, uint8_t v) { (v >= g ? l[v - g] : d[g - v]) += 1; });
        }
    }
    GreyPage out = *this;
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            const int g = ground[tileAt(tx, ty)];
            if (g > paperGround) continue;
            // Where a coloured region meets paper (a sheet on a desk, a
            // panel's side) the paper would stand out as letters: the tiles
            // along the meeting stay as they are.
            bool besidePaper = false;
            around(tx, ty, [&](int x, int y) {
                const std::size_t t = tileAt(x, y);
                besidePaper = besidePaper || (commonest[t] > paperGround && ground[t] > paperGround);
            });
            if (besidePaper) continue;
            // The letters about the tile are on the side of the ground that
            // more pixels stand out on; their contrast is how far the
            // tenth of them that stand out most do.
            std::array<uint32_t, 256> light{}, dark{};
            around(tx, ty, [&](int x, int y) {
                for (int k = 0; k < 256; ++k) {
                    light[k] += lighter[tileAt(x, y)][k];
                    dark[k] += darker[tileAt(x, y)][k];
                }
            });
            const auto standing = [](const std::array<uint32_t, 256>& h) {
                return std::accumulate(h.begin() + letterContrast, h.end(), uint64_t{0});
            };
            const bool lightLetters = standing(light) > standing(dark);
            const std::array<uint32_t, 256>& side = lightLetters ? light : dark;
            const uint64_t letters = standing(side);
            // A tile of paper beside a coloured region (its ground that of
            // the region) stands out whole; a tile that a bold letter fills
            // keeps some of its ground.
            const std::array<uint32_t, 256>& own = (lightLetters ? lighter : darker)[tileAt(tx, ty)];
            const uint64_t ownPixels = std::accumulate(lighter[tileAt(tx, ty)].begin(), lighter[tileAt(tx, ty)].end(),
                                                       std::accumulate(darker[tileAt(tx, ty)].begin(),
                                                                       darker[tileAt(tx, ty)].end(), uint64_t{0}));
            if (standing(own) * 4 > ownPixels * 3) continue;
            int contrast = 255;
            for (uint64_t seen = 0; contrast > 2 * letterContrast && (seen + side[contrast]) * 10 <= letters;) {
                seen += side[contrast--];
            }
            eachPixel(tx, ty, [&](int x, int y, uint8_t v) {
                const int off = lightLetters ? v - g : g - v;
                const int half = letterContrast / 2;
                const int turned = 255 - (off - half) * 255 / std::max(contrast - half, 1);
                out.pixels[static_cast<std::size_t>(y) * width + x] = static_cast<uint8_t>(std::clamp(turned, 0, 255));
            });
        }
    }
    return out;
}

GreyPage GreyPage::forRecognition() const {
    // A page darker than paper over most of its area (noise, a photograph)
    // holds no letters to size the page by: its ink falls apart into specks
    // a few pixels high, and bringing those up to a letter's height would
    // give the layout nine times the pixels of noise to search.
    const std::array<uint32_t, 256> greys = histogramOf(pixels);
    const uint64_t dark = std::accumulate(greys.begin(), greys.begin() + lightestInk, uint64_t{0});
    if (dark * 2 > pixels.size()) return *this;
    const int ink = medianInkHeight();
    if (ink == 0) return *this;
    double factor = std::min(static_cast<double>(readingInkHeight) / ink, largestEnlargement);
    const double area = static_cast<double>(width) * height;
    if (factor > 1 && area * factor * factor > largestReadingPixels) {
        factor = std::max(1.0, std::sqrt(largestReadingPixels / area));
    }
    // Ink within a third of the size reads as well as at the size itself and
    // is not worth a resampling.
    GreyPage out = factor >= 0.75 && factor <= 4.0 / 3.0 ? *this : scaled(factor);
    const double readInk = ink * static_cast<double>(out.height) / height;
    out.resolution = std::clamp(static_cast<int>(std::lround(readInk * resolutionPerInkPixel)), 70, 2400);
    return out;
}

}  // namespace velmora
