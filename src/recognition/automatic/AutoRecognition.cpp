#include "recognition/automatic/AutoRecognition.hpp"

#include <algorithm>
#include <cmath>

#include <unicode/uchar.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Task.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/automatic/ModeFit.hpp"
#include "recognition/handwriting/AnnotationOCR.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/page/LineText.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "recognition/engine/RecognitionProgress.hpp"
#include "recognition/vertical/VerticalProduct.hpp"

namespace velmora::AutoOCR {

namespace {

template <typename B>
B placed(const B& b, const Rect& crop) {
    B out = b;
    out.x = crop.x + b.x * crop.width;
    out.y = crop.y + b.y * crop.height;
    out.width = b.width * crop.width;
    out.height = b.height * crop.height;
    return out;
}

std::string withoutWhiteSpace(std::string_view text) {
    std::string out;
    for (char32_t c : Unicode::scalars(Unicode::nfc(text))) {
        if (!u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE)) Unicode::appendScalar(out, c);
    }
    return out;
}

// Whether the page text of the regions, trimmed of white space at both
// ends (the ideographic space included), is empty: exactly when it holds
// nothing but white space.
bool blank(const std::vector<TextRegion>& regions) {
    PageResult r;
    r.regions = regions;
    return withoutWhiteSpace(r.text()).empty();
}

Rect unionBox(const std::vector<TextRegion>& group) {
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const TextRegion& region : group) {
        const Rect b = box(region);
        minX = std::min(minX, b.minX());
        minY = std::min(minY, b.minY());
        maxX = std::max(maxX, b.maxX());
        maxY = std::max(maxY, b.maxY());
    }
    return Rect{minX, minY, maxX - minX, maxY - minY};
}

// Groups on one row read left to right, but blocks of vertical text beside
// each other right to left, as their columns do.
bool before(const Rect& a, bool aVertical, const Rect& b, bool bVertical) {
    if (std::abs(a.maxY() - b.maxY()) <= sameRow) {
        return aVertical && bVertical ? a.maxX() > b.maxX() : a.minX() < b.minX();
    }
    return a.maxY() > b.maxY();
}

// How much of the box the boxes (which do not overlap one another) cover,
// as a share of its area.
double coveredShare(const Rect& box, const std::vector<Rect>& by) {
    const double area = box.width * box.height;
    if (area <= 0) return 0;
    double covered = 0;
    for (const Rect& b : by) {
        const double w = std::min(box.maxX(), b.maxX()) - std::max(box.minX(), b.minX());
        const double h = std::min(box.maxY(), b.maxY()) - std::max(box.minY(), b.minY());
        if (w > 0 && h > 0) covered += w * h;
    }
    return std::min(covered / area, 1.0);
}

// The page with the boxes (page fractions) and a few pixels around them
// painted paper white.
RasterImage whitened(const RasterImage& image, const std::vector<Rect>& boxes) {
    if (boxes.empty()) return image;
    GreyPage grey = GreyPage::from(image);
    const double w = grey.width, h = grey.height;
    for (const Rect& b : boxes) {
        const int x0 = static_cast<int>(std::max(std::floor(b.minX() * w) - whiteMargin, 0.0));
        const int x1 = static_cast<int>(std::min(std::ceil(b.maxX() * w) + whiteMargin, w));
        const int y0 = static_cast<int>(std::max(std::floor((1 - b.maxY()) * h) - whiteMargin, 0.0));
        const int y1 = static_cast<int>(std::min(std::ceil((1 - b.minY()) * h) + whiteMargin, h));
        for (int y = y0; y < y1; ++y) {
            std::fill_n(grey.pixels.data() + static_cast<std::size_t>(y) * grey.width + x0, std::max(x1 - x0, 0), 255);
        }
    }
    std::vector<uint8_t> rgb(grey.pixels.size() * 3);
    for (std::size_t i = 0; i < grey.pixels.size(); ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey.pixels[i];
    RasterImage out = RasterImage::fromPixels(grey.width, grey.height, 3, rgb);
    if (!out) raise(ErrorCase::renderFailed);
    return out;
}

// The probe's blocks, each grown by a pixel of the probe's raster on every
// side: the probe sees the page at most probeLongSide pixels long, and the
// ink of a column's edge may lie up to one of its pixels outside the block.
std::vector<Rect> grown(const std::vector<Rect>& blocks, const RasterImage& page) {
    const double side = std::max(page.width(), page.height());
    const double dx = 1 / std::min(probeLongSide, side) * side / page.width();
    const double dy = 1 / std::min(probeLongSide, side) * side / page.height();
    std::vector<Rect> out;
    for (const Rect& b : blocks) out.push_back({b.x - dx, b.y - dy, b.width + 2 * dx, b.height + 2 * dy});
    return out;
}

// The pieces of ink of text size whose middles lie outside the boxes (page
// fractions).
std::size_t piecesOutside(const RasterImage& page, const std::vector<Rect>& boxes) {
    const GreyPage grey = GreyPage::from(page);
    std::size_t out = 0;
    for (const GreyPage::InkPiece& p : grey.inkPieces()) {
        if (std::max(p.width, p.height) < GreyPage::smallestInk) continue;
        const double x = (p.x + p.width / 2.0) / grey.width, y = 1 - (p.y + p.height / 2.0) / grey.height;
        const bool inside = std::any_of(boxes.begin(), boxes.end(), [&](const Rect& b) {
            return b.minX() <= x && x <= b.maxX() && b.minY() <= y && y <= b.maxY();
        });
        out += inside ? 0 : 1;
    }
    return out;
}

// Cuts a pixel rectangle (rows from the top) out of an image as an image of
// its own.
RasterImage cut(const RasterImage& image, int left, int top, int width, int height) {
    if (!image || width <= 0 || height <= 0) raise(ErrorCase::renderFailed);
    GdkPixbuf* sub = gdk_pixbuf_new_subpixbuf(image.pixbuf(), left, top, width, height);
    if (!sub) raise(ErrorCase::renderFailed);
    GdkPixbuf* copy = gdk_pixbuf_copy(sub);
    g_object_unref(sub);
    if (!copy) raise(ErrorCase::renderFailed);
    return RasterImage::adopt(copy);
}

}  // namespace

Rect blockPixels(const Rect& block, int64_t width, int64_t height) {
    const double wo = double(width), ho = double(height);
    const double x = block.minX() * wo - blockMargin, y = (1 - block.maxY()) * ho - blockMargin;
    // Fractions of the page seldom give whole pixels back exactly; an edge
    // a rounding error away from a whole pixel is that pixel.
    constexpr double slack = 1e-6;
    const double left = std::max(std::floor(x + slack), 0.0), top = std::max(std::floor(y + slack), 0.0);
    const double right = std::min(std::ceil(x + std::abs(block.width) * wo + 2 * blockMargin - slack), wo);
    const double bottom = std::min(std::ceil(y + std::abs(block.height) * ho + 2 * blockMargin - slack), ho);
    return Rect{left, top, std::max(right - left, 0.0), std::max(bottom - top, 0.0)};
}

TextRegion map(const TextRegion& region, const Rect& crop) {
    TextRegion out = region;
    out.x = crop.x + region.x * crop.width;
    out.y = crop.y + region.y * crop.height;
    out.width = region.width * crop.width;
    out.height = region.height * crop.height;
    std::vector<OCRSourceBox> boxes;
    for (const OCRSourceBox& b : region.displayBoxes()) boxes.push_back(placed(b, crop));
    out.sourceBoxes = std::move(boxes);
    if (out.verticalCandidates) {
        for (VerticalResearch::Candidate& candidate : *out.verticalCandidates) {
            for (VerticalResearch::Box& b : candidate.source) b = placed(b, crop);
        }
    }
    return out;
}

bool equivalent(std::string_view a, std::string_view b) {
    const std::string x = withoutWhiteSpace(a), y = withoutWhiteSpace(b);
    if (x.empty() || y.empty()) return false;
    if (x == y) return true;
    const std::string& shorter = x.size() <= y.size() ? x : y;
    const std::string& longer = x.size() <= y.size() ? y : x;
    if (Unicode::graphemeCount(shorter) < 2) return false;
    return longer.find(shorter) != std::string::npos;
}

std::vector<TextRegion> merge(const std::vector<TextRegion>& horizontal,
                              const std::vector<std::vector<TextRegion>>& vertical) {
    std::vector<const TextRegion*> references;
    for (const auto& group : vertical) {
        for (const TextRegion& region : group) {
            if (!region.text.empty()) references.push_back(&region);
        }
    }
    // Where the vertical reader read: each group's regions with text, as one
    // block.
    std::vector<Rect> read;
    for (const auto& group : vertical) {
        std::vector<TextRegion> withText;
        for (const TextRegion& region : group) {
            if (!region.text.empty()) withText.push_back(region);
        }
        if (!withText.empty()) read.push_back(unionBox(withText));
    }
    std::vector<std::vector<TextRegion>> groups;
    std::vector<bool> verticalGroup;
    for (const TextRegion& h : horizontal) {
        const bool duplicate = std::any_of(references.begin(), references.end(), [&](const TextRegion* v) {
            return overlap(box(*v), box(h)) >= duplicateOverlap && equivalent(h.text, v->text);
        });
        // Text the vertical reader read is not read again: a horizontal
        // region lying mostly within a block it read is that block's text
        // misread sideways.
        if (duplicate || coveredShare(box(h), read) >= duplicateOverlap) continue;
        groups.push_back({h});
        verticalGroup.push_back(false);
    }
    for (const auto& group : vertical) {
        if (group.empty()) continue;
        groups.push_back(group);
        verticalGroup.push_back(true);
    }

    // The comparison treats tops within 0.035 as one row, which is not
    // transitive; the standard sorts are undefined for such an order, so an
    // insertion sort keeps the result the same on every run.
    std::vector<std::pair<Rect, std::size_t>> order;
    for (std::size_t i = 0; i < groups.size(); ++i) order.emplace_back(unionBox(groups[i]), i);
    for (std::size_t i = 1; i < order.size(); ++i) {
        auto item = order[i];
        std::size_t j = i;
        while (j > 0 && before(item.first, verticalGroup[item.second], order[j - 1].first,
                               verticalGroup[order[j - 1].second])) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = item;
    }
    std::vector<TextRegion> out;
    for (const auto& [rect, index] : order) {
        for (TextRegion& region : groups[index]) out.push_back(std::move(region));
    }
    return out;
}

std::string handwritingStatus(const std::vector<TextRegion>& horizontal) {
    const auto any = [&](RegionKind kind) {
        return std::any_of(horizontal.begin(), horizontal.end(), [&](const TextRegion& r) { return r.kind == kind; });
    };
    if (any(RegionKind::handwrittenCandidate)) return "detected";
    if (any(RegionKind::unknown)) return "uncertain";
    return "none";
}

PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled) {
    const UptimeClock& clock = RecognitionClock::current();
    const double start = clock.seconds();
    const auto check = [&] {
        if (cancelled()) raise(ErrorCase::cancelled);
        if (isCurrentTaskCancelled()) raise(ErrorCase::cancelled);
        RecognitionProgress::stopIfAsked();
        if (clock.seconds() - start > timeLimitSeconds) raise(ErrorCase::budgetExceeded);
    };
    check();
    if (!image) raise(ErrorCase::invalidInput);
    const RasterImage upright = OCRGeometry::oriented(image, orientation);

    OCRSettings handwriting = settings;
    handwriting.mode = OCRMode::handwriting;
    const auto readHorizontally = [&](const RasterImage& source, bool horizontalLinesOnly) {
        return AnnotationOCR::recognize(source, 1, page, handwriting, cancelled, true, AnnotationOCR::productStrategy,
                                        AnnotationOCR::productStage2Strategy, horizontalLinesOnly);
    };
    OCRSettings vertical = settings;
    vertical.mode = OCRMode::vertical;
    const auto result = [&](std::vector<TextRegion> regions, AutoResolved resolved, std::optional<double> scale,
                            const std::string& handwritingSeen) {
        return PageResult(page, std::move(regions), clock.seconds() - start, upright.width(), upright.height(),
                          std::string(version), orientation, image.width(), image.height(), scale,
                          AutoPresentation{resolved, handwritingSeen});
    };

    // Reading the whole page horizontally costs about as much as reading it
    // vertically, and on a page of columns it reads them only to leave them
    // out. A page whose ink alone shows columns is read vertically first,
    // as the vertical mode reads it; what lies beside the text that reading
    // took in decides whether the page is vertical, and only that is read
    // horizontally. Any other outcome is left to the reading of the whole
    // page.
    const ProbePage probed = probePage(upright);
    if (const Probe bare = probe(probed, {}, cancelled); bare.resolved == AutoResolved::vertical) {
        PageResult v = VerticalProduct::recognize(upright, 1, page, vertical, cancelled);
        check();
        std::vector<Rect> read = grown(bare.vertical, upright);
        const int w = static_cast<int>(upright.width()), h = static_cast<int>(upright.height());
        for (const TextRegion& column : v.regions) {
            // A column of text stands solid, one character below the next;
            // lines of horizontal text read down as a column stand a line's
            // spacing apart and are no text this reading took in. A column
            // is taken with the ruby beside it, which it leaves out.
            if (column.text.empty() || ModeFit::ofColumns({column}, w, h).solid < ModeFit::goodSolid) continue;
            read.push_back({column.x - column.width / 2, column.y, 2 * column.width, column.height});
        }
        // Too few pieces of ink beside it for the characters that make a
        // page mixed: each character is a piece of its own at least.
        const auto nothingBeside = [&] {
            if (piecesOutside(upright, read) < decisionCharacters) return true;
            const PageResult beside = readHorizontally(whitened(upright, read), true);
            check();
            return probe(probed, beside.regions, cancelled).resolved == AutoResolved::vertical;
        };
        if (!blank(v.regions) && nothingBeside()) {
            return result(std::move(v.regions), AutoResolved::vertical, v.processingScale, "none");
        }
    }

    // The page read as the standard mode reads it, every line it lays out
    // kept: a page found horizontal is given as that mode gives it. The
    // probe leaves out what is no strong line of horizontal text, and the
    // vertical readings what lies within their blocks.
    const PageResult horizontal = readHorizontally(upright, false);
    check();

    const Probe found = probe(probed, horizontal.regions, cancelled);
    AutoResolved resolved = found.resolved;
    std::vector<TextRegion> regions;
    std::optional<double> scale = horizontal.processingScale;
    bool readVertically = false;
    switch (resolved) {
        case AutoResolved::vertical: {
            PageResult v = VerticalProduct::recognize(upright, 1, page, vertical, cancelled);
            regions = std::move(v.regions);
            scale = v.processingScale;
            readVertically = true;
            break;
        }
        case AutoResolved::mixed: {
            // The vertical reader does not see the lines taken for
            // horizontal text, so that no text is read by both.
            const RasterImage source = whitened(upright, found.horizontal);
            const double wo = upright.width(), ho = upright.height();
            std::vector<std::vector<TextRegion>> groups;
            for (const Rect& block : found.vertical) {
                check();
                const Rect pixels = blockPixels(block, upright.width(), upright.height());
                const double left = pixels.x, top = pixels.y, right = pixels.maxX(), bottom = pixels.maxY();
                const RasterImage piece = cut(source, int(left), int(top), int(right - left), int(bottom - top));
                PageResult v = VerticalProduct::recognize(piece, 1, page, vertical, cancelled);
                const Rect crop{left / wo, 1 - bottom / ho, (right - left) / wo, (bottom - top) / ho};
                std::vector<TextRegion> group;
                for (const TextRegion& region : v.regions) group.push_back(map(region, crop));
                groups.push_back(std::move(group));
            }
            regions = merge(horizontal.regions, groups);
            break;
        }
        case AutoResolved::standard:
        case AutoResolved::uncertainStandardFallback:
            regions = horizontal.regions;
            break;
    }
    check();

    if (blank(regions) && !blank(horizontal.regions)) {
        regions = horizontal.regions;
        resolved = AutoResolved::uncertainStandardFallback;
    }
    // A page with ink that neither verdict read, such as one column or two
    // of vertical text alone, is read vertically before it is given up. An
    // uncertain page read as nothing but lines standing taller than wide
    // holds no line of horizontal text: those are columns read across.
    const auto columnsOnly = [&] {
        const double w = upright.width(), h = upright.height();
        return resolved == AutoResolved::uncertainStandardFallback &&
               std::all_of(regions.begin(), regions.end(), [&](const TextRegion& r) {
                   return LineText::isBlank(r.text) || r.height * h > r.width * w;
               });
    };
    if ((blank(regions) || columnsOnly()) && !readVertically) {
        PageResult v = VerticalProduct::recognize(upright, 1, page, vertical, cancelled);
        if (!blank(v.regions)) {
            regions = std::move(v.regions);
            scale = v.processingScale;
            resolved = AutoResolved::vertical;
        }
        check();
    }
    // What the page is said to hold is what the result shows of the
    // handwriting pass: a line left out as noise, or as text the vertical
    // reader read (a line across the columns, slanted as no printed line
    // is), is nothing of the page.
    std::vector<TextRegion> shown;
    for (const TextRegion& line : horizontal.regions) {
        if (std::find(regions.begin(), regions.end(), line) != regions.end()) shown.push_back(line);
    }
    return result(std::move(regions), resolved, scale, handwritingStatus(shown));
}

}  // namespace velmora::AutoOCR
