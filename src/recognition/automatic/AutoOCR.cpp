#include "recognition/automatic/AutoOCR.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/BrindlexError.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/vertical/VerticalPage.hpp"
#include "recognition/vertical/VerticalTiers.hpp"

namespace velmora::AutoOCR {

namespace {

struct ColumnRun {
    int start = 0;
    int end = 0;
};

bool strong(const TextRegion& r) {
    return Unicode::graphemeCount(r.text) >= strongCharacters && r.height * strongAspect < r.width &&
           r.confidence >= strongConfidence;
}

// Paper white over the region's box and a margin, widened to whole pixels.
void paintOut(GreyPage& raster, const TextRegion& r) {
    const double w = raster.width, h = raster.height;
    const double left = r.x * w - paintMargin;
    const double top = (1 - r.y - r.height) * h - paintMargin;
    const double right = left + r.width * w + 2 * paintMargin;
    const double bottom = top + r.height * h + 2 * paintMargin;
    const int x0 = static_cast<int>(std::max(std::floor(left), 0.0));
    const int y0 = static_cast<int>(std::max(std::floor(top), 0.0));
    const int x1 = static_cast<int>(std::min(std::ceil(right), w));
    const int y1 = static_cast<int>(std::min(std::ceil(bottom), h));
    for (int y = y0; y < y1; ++y) {
        std::fill_n(raster.pixels.data() + static_cast<std::size_t>(y) * raster.width + x0, std::max(x1 - x0, 0), 255);
    }
}

// The page with its paper brought to white, greys darkened in proportion:
// the probe's marks and ink are measured against white paper, and on grey
// paper (a scan, a photograph, recycled stock) every pixel would be a mark.
// The paper is the page's middle grey, since most of a page is paper.
GreyPage onWhitePaper(GreyPage page) {
    if (page.pixels.empty()) return page;
    std::vector<uint8_t> values = page.pixels;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    const int paper = *middle;
    if (paper >= 250 || paper < lightestPaper) return page;
    for (uint8_t& v : page.pixels) v = static_cast<uint8_t>(std::min(255, v * 255 / paper));
    return page;
}

// The height of the page's typical character: the median height of its
// pieces of ink, leaving out pieces far taller than wide (a rule, a bar, a
// long stroke), which are no characters.
int typicalCharacter(const GreyPage& raster) {
    std::vector<int> heights;
    for (const GreyPage::InkPiece& p : raster.inkPieces()) {
        if (p.height >= 3 && p.height * 2 < raster.height && p.height <= 3 * p.width) heights.push_back(p.height);
    }
    if (heights.size() < 3) return 0;
    auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
    std::nth_element(heights.begin(), middle, heights.end());
    return *middle;
}

}  // namespace

Rect box(const TextRegion& region) { return {region.x, region.y, region.width, region.height}; }

double overlap(const Rect& a, const Rect& b) {
    const double left = std::max(a.minX(), b.minX());
    const double right = std::min(a.maxX(), b.maxX());
    const double bottom = std::max(a.minY(), b.minY());
    const double top = std::min(a.maxY(), b.maxY());
    if (right < left || top < bottom) return 0;
    const double shared = (right - left) * (top - bottom);
    const double smaller = std::min((a.maxX() - a.minX()) * (a.maxY() - a.minY()),
                                    (b.maxX() - b.minX()) * (b.maxY() - b.minY()));
    return shared / std::max(1e-7, smaller);
}

AutoResolved decision(std::size_t horizontalCharacters, std::size_t columns) {
    if (columns >= decisionColumns) {
        return horizontalCharacters < decisionCharacters ? AutoResolved::vertical : AutoResolved::mixed;
    }
    if (columns == 0 && horizontalCharacters >= decisionCharacters) return AutoResolved::standard;
    return AutoResolved::uncertainStandardFallback;
}

namespace {

// The column candidates of a band of a probe raster, in its pixels (rows
// from the top): runs of ink columns of a column's width whose ink runs down far
// enough, and solidly: vertical text is set solid, one character below the
// next, while the cells of a table's column, or the starts of a list's
// lines, stand a line's spacing apart.
std::vector<Rect> candidates(const GreyPage& raster, int character, int pageHeight,
                             const std::function<bool()>& cancelled) {
    const int w = raster.width, h = raster.height;
    std::vector<int> counts(static_cast<std::size_t>(w), 0);
    for (int y = 0; y < h; ++y) {
        if (cancelled && y % pollEveryRows == 0 && cancelled()) raise(ErrorCase::cancelled);
        const uint8_t* row = raster.pixels.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) counts[static_cast<std::size_t>(x)] += row[x] <= inkAtMost;
    }

    std::vector<ColumnRun> runs;
    int last = -1;
    for (int x = 0; x < w; ++x) {
        if (counts[static_cast<std::size_t>(x)] < inkColumnCount) continue;
        if (last >= 0 && x - last < runJoinBelow) {
            runs.back().end = x + 1;
        } else {
            runs.push_back({x, x + 1});
        }
        last = x;
    }

    std::vector<Rect> out;
    for (const ColumnRun& run : runs) {
        const int width = run.end - run.start;
        if (width < narrowestColumn || width > widestColumn * w) continue;
        int first = -1, lastRow = -1;
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = raster.pixels.data() + static_cast<std::size_t>(y) * w;
            const auto ink = std::count_if(row + run.start, row + run.end, [](uint8_t v) { return v <= inkAtMost; });
            if (ink >= rowInk) {
                if (first < 0) first = y;
                lastRow = y;
            }
        }
        if (first < 0) continue;
        const int span = lastRow - first + 1;
        if (span < spanInWidths * width || span < shortestSpan * pageHeight || span < columnCharacters * character) {
            continue;
        }
        // Thin strokes of small type grow faint on the probe's raster: any
        // mark counts here.
        int marked = 0;
        for (int y = first; y <= lastRow; ++y) {
            const uint8_t* row = raster.pixels.data() + static_cast<std::size_t>(y) * w;
            marked += std::any_of(row + run.start, row + run.end, [](uint8_t v) { return v <= markAtMost; }) ? 1 : 0;
        }
        if (marked < solidRows * span) continue;
        out.push_back({static_cast<double>(run.start), static_cast<double>(first), static_cast<double>(width),
                       static_cast<double>(span)});
    }
    return out;
}

}  // namespace

ProbePage probePage(const RasterImage& image) {
    if (!image) raise(ErrorCase::renderFailed);
    const double W = image.width(), H = image.height();
    const double s = std::min(probeLongSide / std::max(W, H), 1.0);
    const int w = std::max(static_cast<int>(s * W), 1);
    const int h = std::max(static_cast<int>(s * H), 1);
    ProbePage page;
    page.raster = GreyPage::from(image);
    if (w != page.raster.width || h != page.raster.height) page.raster = page.raster.resized(w, h);
    page.raster = onWhitePaper(std::move(page.raster));
    // A column of vertical text holds several characters one below the
    // other; the strokes of one character of a line are no column.
    page.character = typicalCharacter(page.raster);
    // A page laid askew is probed turned upright, as the columns lean; boxes
    // found on the turned raster are turned back.
    page.skew = VerticalPage::columnSkew(page.raster);
    return page;
}

Probe probe(const RasterImage& image, const std::vector<TextRegion>& horizontal,
            const std::function<bool()>& cancelled) {
    return probe(probePage(image), horizontal, cancelled);
}

Probe probe(const ProbePage& page, const std::vector<TextRegion>& horizontal, const std::function<bool()>& cancelled) {
    GreyPage raster = page.raster;
    const int w = raster.width, h = raster.height;
    const int character = page.character;
    const double skew = page.skew;
    const bool turn = std::abs(std::tan(skew * std::numbers::pi / 180)) * h > 2;
    const auto columnsOf = [&](const GreyPage& g, const std::function<bool()>& poll) {
        VerticalPage::Prepared upright;
        upright.grey = turn ? VerticalPage::rotated(g, skew) : g;
        upright.turned = turn ? skew : 0;
        // The columns of two tiers need not stand on one grid (a heading in
        // the upper tier moves its columns across): measured over the whole
        // height, a column of one tier and the one beside it in the other
        // would be one run of ink too wide for a column. Each tier is
        // measured alone.
        std::vector<VerticalResearch::Run> bands = VerticalTiers::tiers(upright.grey, character);
        if (bands.empty()) bands.push_back({0, upright.grey.height});  // still polled on a blank page
        std::vector<Rect> out;
        for (const VerticalResearch::Run& rows : bands) {
            for (Rect c : candidates(VerticalTiers::band(upright.grey, rows), character, h, poll)) {
                c.y += rows.start;
                out.push_back(upright.onPage(c));
            }
        }
        return out;
    };
    const auto pixels = [&](const TextRegion& r) {
        return Rect{r.x * w, (1 - r.y - r.height) * h, r.width * w, r.height * h};
    };

    std::vector<const TextRegion*> strongRegions;
    for (const TextRegion& r : horizontal) {
        if (strong(r)) strongRegions.push_back(&r);
    }
    // A horizontal line that runs across two or more columns of vertical
    // text is those columns misread row by row, character by character: no
    // line of horizontal text lies across columns of vertical text. It is
    // neither painted out nor counted.
    if (!strongRegions.empty()) {
        const std::vector<Rect> solid = columnsOf(raster, nullptr);
        std::erase_if(strongRegions, [&](const TextRegion* r) {
            const Rect b = pixels(*r);
            const auto crossed = std::count_if(solid.begin(), solid.end(), [&](const Rect& c) {
                return c.minX() < b.maxX() && b.minX() < c.maxX() && c.minY() < b.maxY() && b.minY() < c.maxY();
            });
            return crossed >= 2;
        });
    }
    for (const TextRegion* r : strongRegions) paintOut(raster, *r);

    std::vector<Rect> columns;
    for (const Rect& c : columnsOf(raster, cancelled)) {
        columns.push_back({c.x / w, 1 - c.maxY() / h, c.width / w, c.height / h});
    }
    std::stable_sort(columns.begin(), columns.end(), [](const Rect& a, const Rect& b) { return a.minX() < b.minX(); });
    std::vector<Rect> blocks;
    // Left to right, the columns of two tiers take turns: a column joins
    // the latest block of its own band of rows.
    for (const Rect& c : columns) {
        const auto joined = std::find_if(blocks.rbegin(), blocks.rend(), [&](const Rect& b) {
            const double gap = c.minX() - b.maxX();
            const double shared = std::min(b.maxY(), c.maxY()) - std::max(b.minY(), c.minY());
            const double smaller = std::min(b.maxY() - b.minY(), c.maxY() - c.minY());
            return gap < blockGap && shared > blockOverlap * smaller;
        });
        if (joined == blocks.rend()) {
            blocks.push_back(c);
            continue;
        }
        Rect& b = *joined;
        const double minX = std::min(b.minX(), c.minX()), minY = std::min(b.minY(), c.minY());
        const double maxX = std::max(b.maxX(), c.maxX()), maxY = std::max(b.maxY(), c.maxY());
        b = {minX, minY, maxX - minX, maxY - minY};
    }
    if (blocks.size() > maximumBlocks) raise(ErrorCase::budgetExceeded);

    std::size_t characters = 0;
    for (const TextRegion* r : strongRegions) {
        const Rect rb = box(*r);
        const bool inBlock = std::any_of(blocks.begin(), blocks.end(), [&](const Rect& b) { return overlap(rb, b) > 0.5; });
        if (!inBlock) characters += Unicode::graphemeCount(r->text);
    }
    std::vector<Rect> lines;
    for (const TextRegion* r : strongRegions) lines.push_back(box(*r));
    return {decision(characters, columns.size()), blocks, lines};
}

}  // namespace velmora::AutoOCR
