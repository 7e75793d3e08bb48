#include "recognition/handwriting/AnnotationOCR.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include <cairo.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Task.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "recognition/standard/StandardReading.hpp"

namespace velmora::AnnotationOCR {

namespace {

struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

struct Area {
    double x = 0, y = 0, width = 0, height = 0;
};

// A page box in raster pixels, top-left origin, not rounded.
Area inRaster(const FeatureRaster& r, const OCRSourceBox& b) {
    return {b.x * r.width, (1 - (b.y + b.height)) * r.height, b.width * r.width, b.height * r.height};
}

// Rounded outward to whole pixels and clipped to the raster.
PixelRect whole(const FeatureRaster& r, const Area& a) {
    PixelRect p;
    p.left = static_cast<int>(std::max(std::floor(a.x), 0.0));
    p.top = static_cast<int>(std::max(std::floor(a.y), 0.0));
    p.right = static_cast<int>(std::min(std::ceil(a.x + a.width), double(r.width)));
    p.bottom = static_cast<int>(std::min(std::ceil(a.y + a.height), double(r.height)));
    return p;
}

bool ink(const uint8_t* p, int below) { return std::min({p[0], p[1], p[2]}) < below; }

bool stop(const std::function<bool()>& cancelled) { return cancelled() || isCurrentTaskCancelled(); }

}  // namespace

FeatureRaster featureRaster(const RasterImage& image) {
    const double scale = std::min(featureLongSide / std::max(image.width(), image.height()), 1.0);
    FeatureRaster r;
    r.width = std::max(1, static_cast<int>(scale * image.width()));
    r.height = std::max(1, static_cast<int>(scale * image.height()));

    // The page as a cairo surface (premultiplied native pixels).
    cairo_surface_t* source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width(), image.height());
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, r.width, r.height);
    struct Release {
        cairo_surface_t* a;
        cairo_surface_t* b;
        ~Release() {
            cairo_surface_destroy(a);
            cairo_surface_destroy(b);
        }
    } release{source, target};
    if (cairo_surface_status(source) != CAIRO_STATUS_SUCCESS || cairo_surface_status(target) != CAIRO_STATUS_SUCCESS) {
        raise(ErrorCase::renderFailed);
    }
    cairo_surface_flush(source);
    unsigned char* data = cairo_image_surface_get_data(source);
    const int stride = cairo_image_surface_get_stride(source);
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* p = image.pixels() + std::ptrdiff_t(y) * image.rowStride();
        auto* row = reinterpret_cast<uint32_t*>(data + std::ptrdiff_t(y) * stride);
        if (image.channels() == 3) {
            // Opaque: premultiplying leaves every channel as it is.
            for (int x = 0; x < image.width(); ++x, p += 3) {
                row[x] = (255u << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
            }
            continue;
        }
        for (int x = 0; x < image.width(); ++x, p += image.channels()) {
            const uint32_t a = image.channels() == 4 ? p[3] : 255;
            auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
            row[x] = (a << 24) | (pre(p[0]) << 16) | (pre(p[1]) << 8) | pre(p[2]);
        }
    }
    cairo_surface_mark_dirty(source);

    cairo_t* cr = cairo_create(target);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, double(r.width) / image.width(), double(r.height) / image.height());
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    const cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status != CAIRO_STATUS_SUCCESS) raise(ErrorCase::renderFailed);

    // On white every pixel is opaque, so premultiplied equals straight.
    cairo_surface_flush(target);
    const unsigned char* out = cairo_image_surface_get_data(target);
    const int outStride = cairo_image_surface_get_stride(target);
    r.rgba.resize(std::size_t(r.width) * r.height * 4);
    for (int y = 0; y < r.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(out + std::ptrdiff_t(y) * outStride);
        for (int x = 0; x < r.width; ++x) {
            uint8_t* q = r.rgba.data() + (std::size_t(y) * r.width + x) * 4;
            q[0] = uint8_t(row[x] >> 16), q[1] = uint8_t(row[x] >> 8), q[2] = uint8_t(row[x]), q[3] = 255;
        }
    }
    return r;
}

std::optional<Angle> refinedAngle(const FeatureRaster& raster, const OCRSourceBox& line, std::size_t n) {
    if (n < 2 || n > 8) return std::nullopt;
    const PixelRect rect = whole(raster, inRaster(raster, line));
    if (rect.empty()) return std::nullopt;
    const double sliceWidth = double(rect.width()) / double(n);
    if (sliceWidth < 5.0) return std::nullopt;

    struct Point {
        double x, y;
    };
    std::vector<Point> points;
    for (std::size_t i = 0; i < n; ++i) {
        const int x0 = static_cast<int>(rect.left + rect.width() * double(i) / double(n));
        const int x1 = static_cast<int>(rect.left + rect.width() * double(i + 1) / double(n));
        std::vector<int> rows(static_cast<std::size_t>(rect.height()), 0);
        int total = 0;
        for (int y = rect.top; y < rect.bottom; ++y) {
            for (int x = x0; x < x1; ++x) rows[std::size_t(y - rect.top)] += ink(raster.at(x, y), 150);
            total += rows[std::size_t(y - rect.top)];
        }
        if (total < 8) continue;
        int running = 0;
        for (int row = 0; row < rect.height(); ++row) {
            running += rows[std::size_t(row)];
            if (running * 100 >= total * 97) {
                points.push_back({(x0 + x1) * 0.5, double(rect.top + row)});
                break;
            }
        }
    }
    if (points.size() < 2) return std::nullopt;
    std::vector<double> slopes;
    for (std::size_t i = 0; i < points.size(); ++i) {
        for (std::size_t j = i + 1; j < points.size(); ++j) {
            slopes.push_back((points[j].y - points[i].y) / (points[j].x - points[i].x));
        }
    }
    std::sort(slopes.begin(), slopes.end());
    const double slope = slopes[slopes.size() / 2];
    const double degrees = std::atan(slope) * -180 / M_PI;
    if (std::fabs(degrees) > 25) return std::nullopt;
    return Angle{degrees, std::atan(1.5 / sliceWidth) * 180 / M_PI};
}

double redFraction(const FeatureRaster& raster, const OCRSourceBox& line) {
    const PixelRect rect = whole(raster, inRaster(raster, line));
    if (rect.empty()) return 0;
    std::size_t inked = 0, red = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            const uint8_t* p = raster.at(x, y);
            if (!ink(p, 170)) continue;
            ++inked;
            if (p[0] > p[1] + 45 && p[0] > p[2] + 45) ++red;
        }
    }
    return inked ? double(red) / double(inked) : 0;
}

bool nearbyStroke(const FeatureRaster& raster, const OCRSourceBox& line, const std::vector<OCRSourceBox>& lines) {
    const Area own = inRaster(raster, line);
    const double pad = std::max(own.height, 4.0);
    const PixelRect search = whole(raster, {own.x - pad, own.y - pad, own.width + 2 * pad, own.height + 2 * pad});
    if (search.empty() || double(search.width()) * search.height() >= 300000) return false;

    std::vector<Area> text;
    for (const OCRSourceBox& b : lines) {
        const Area a = inRaster(raster, b);
        const Area grown{a.x - 2, a.y - 2, a.width + 4, a.height + 4};
        const bool meets = grown.x <= search.right && search.left <= grown.x + grown.width && grown.y <= search.bottom &&
                           search.top <= grown.y + grown.height;
        if (meets) text.push_back(grown);
    }
    auto inText = [&](int x, int y) {
        return std::any_of(text.begin(), text.end(), [&](const Area& a) {
            return x >= a.x && x < a.x + a.width && y >= a.y && y < a.y + a.height;
        });
    };
    const int minRun = std::max(static_cast<int>(pad * 0.6), 8);
    const int maxRun = std::max(minRun + 1, static_cast<int>(pad * 4));
    for (int y = search.top; y < search.bottom; y += 2) {
        int run = 0;
        for (int x = search.left; x < search.right; ++x) {
            if (ink(raster.at(x, y), 150) && !inText(x, y)) {
                ++run;
                continue;
            }
            if (run >= minRun && run <= maxRun) return true;
            run = 0;
        }
    }
    return false;
}

std::optional<double> inkAngle(const FeatureRaster& raster, const OCRSourceBox& line, std::size_t characters,
                               const std::vector<OCRSourceBox>& others, const std::vector<OCRSourceBox>& aside,
                               bool envelopes) {
    const PixelRect rect = whole(raster, inRaster(raster, line));
    // The box of a slanted line reaches over its neighbours' ink, which
    // belongs to their lines. Punctuation sits in a corner of its em: its
    // ink would pull its slice's middle down to the baseline.
    std::vector<PixelRect> elsewhere;
    auto leaveOut = [&](const OCRSourceBox& b) {
        const PixelRect p = whole(raster, inRaster(raster, b));
        if (p.left < rect.right && rect.left < p.right && p.top < rect.bottom && rect.top < p.bottom) {
            elsewhere.push_back(p);
        }
    };
    for (const OCRSourceBox& b : others) {
        if (!(b == line)) leaveOut(b);
    }
    for (const OCRSourceBox& b : aside) leaveOut(b);
    auto theirs = [&](int x, int y) {
        return std::any_of(elsewhere.begin(), elsewhere.end(), [&](const PixelRect& p) {
            return x >= p.left && x < p.right && y >= p.top && y < p.bottom;
        });
    };
    if (rect.empty()) return std::nullopt;
    // One slice per character, at least 5 pixels wide.
    const std::size_t n =
        std::min(std::max<std::size_t>(characters, 2), static_cast<std::size_t>(rect.width() / 5));
    if (n < 2) return std::nullopt;
    struct Point {
        double x, y;
    };
    // Per slice the middle of its ink and the ink's top and bottom rows.
    std::vector<Point> middles, tops, bottoms;
    for (std::size_t i = 0; i < n; ++i) {
        const int x0 = static_cast<int>(rect.left + rect.width() * double(i) / double(n));
        const int x1 = static_cast<int>(rect.left + rect.width() * double(i + 1) / double(n));
        double sum = 0;
        int count = 0, top = rect.bottom, bottom = rect.top;
        for (int y = rect.top; y < rect.bottom; ++y) {
            for (int x = x0; x < x1; ++x) {
                if (!ink(raster.at(x, y), 150) || theirs(x, y)) continue;
                sum += y, ++count;
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
        if (count < 8) continue;
        const double middle = (x0 + x1) * 0.5;
        middles.push_back({middle, sum / count});
        tops.push_back({middle, double(top)});
        bottoms.push_back({middle, double(bottom)});
    }
    if (middles.size() < 2) return std::nullopt;
    auto slope = [](const std::vector<Point>& points) {
        std::vector<double> slopes;
        for (std::size_t i = 0; i < points.size(); ++i) {
            for (std::size_t j = i + 1; j < points.size(); ++j) {
                slopes.push_back((points[j].y - points[i].y) / (points[j].x - points[i].x));
            }
        }
        std::nth_element(slopes.begin(), slopes.begin() + std::ptrdiff_t(slopes.size() / 2), slopes.end());
        return slopes[slopes.size() / 2];
    };
    double lean = slope(middles);
    if (envelopes) {
        // A slant lifts the tops, the middles and the bottoms of the ink
        // alike; a printed glyph's shape moves one of them (a small kana's
        // top, a hook's bottom, a heavy stroke's middle) and not the others.
        std::array<double, 3> three{slope(tops), lean, slope(bottoms)};
        std::sort(three.begin(), three.end());
        lean = three[1];
    }
    // Rows grow downwards on the raster. The raster keeps the page's aspect
    // ratio, so its angle is the page's.
    return std::atan(lean) * -180 / M_PI;
}

namespace {

// A kanji or a full-size kana: printed, its ink fills the middle of its em.
// Latin letters and digits (an x-height, ascenders, descenders), small kana
// and the long vowel mark stand at heights of their own.
bool fillsItsEm(char32_t c) {
    static constexpr std::u32string_view small = U"ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶ";
    if (small.find(c) != std::u32string_view::npos) return false;
    return (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3FFFF);
}

}  // namespace

double spread(const std::vector<double>& values, double height) {
    if (values.size() < 3 || !(height > 0)) return 0;
    double mean = 0;
    for (double v : values) mean += v;
    mean /= double(values.size());
    double sum = 0;
    for (double v : values) sum += (v - mean) * (v - mean);
    return std::sqrt(sum / double(values.size())) / height;
}

Features measure(const RecognizedTextObservation& line, const FeatureRaster& raster,
                 const std::vector<OCRSourceBox>& lines, int64_t uprightWidth, int64_t uprightHeight,
                 bool useContext) {
    const auto W = static_cast<double>(uprightWidth), H = static_cast<double>(uprightHeight);
    // The i-th character is the i-th grapheme cluster; its box is that of
    // the recognised symbol whose range covers it. Tesseract's symbol boxes
    // are ink boxes, and printed kana, kanji and punctuation sit at
    // different heights of the em: the bottoms of a perfect printed line
    // spread widely. Each character therefore stands for the middle of its
    // ink, which stays on one line for printed Japanese and moves with a
    // hand's jitter; only kanji and full-size kana are measured:
    // punctuation sits in a corner of its em, and Latin letters, digits,
    // small kana and the long vowel mark at heights of their own.
    const std::u16string text16 = Unicode::toUTF16(line.text);
    const std::vector<std::size_t> bounds = Unicode::graphemeBoundaries16(text16);
    struct Mark {
        double x, middle, height;
    };
    std::vector<Mark> marks;
    std::vector<OCRSourceBox> punctuation;
    for (const RecognizedCharacter& c : line.characters) {
        const std::vector<char32_t> scalars = Unicode::scalars(c.text);
        if (!scalars.empty() && Unicode::isPunctuationOrWhiteSpace(scalars.front())) punctuation.push_back(c.box);
    }
    for (std::size_t i = 0; i + 1 < bounds.size() && i < measuredCharacters; ++i) {
        const auto start = static_cast<int64_t>(bounds[i]);
        const RecognizedCharacter* symbol = nullptr;
        for (const RecognizedCharacter& c : line.characters) {
            if (c.range.location <= start && start < c.range.location + c.range.length) {
                symbol = &c;
                break;
            }
        }
        if (!symbol) continue;
        const std::vector<char32_t> scalars = Unicode::scalars(symbol->text);
        if (scalars.empty() || !fillsItsEm(scalars.front())) continue;
        const OCRSourceBox& b = symbol->box;
        marks.push_back({b.x + b.width / 2, b.y + b.height / 2, b.height});
    }

    Features f;
    // The line's direction. Tesseract fits the baselines of one block with
    // one shared slope (the page's skew), so the edge it reports does not
    // follow a single line written at a slant, and its symbol boxes on such
    // a line are rough. The line's own ink does: the middles of its ink in
    // slices across the line. The reported edge serves when the ink cannot
    // tell: on a line of fewer than slantCharacters measured characters (the
    // short last line of a paragraph, "す。", a heading of two, a page
    // number) the middles lean as the glyphs' shapes put them, as far as a
    // hand's slant. Where something else tells of a hand, a free-hand
    // stroke beside the line or the red of a proofreader's pen, the ink's
    // lean is taken as its slant.
    const OCRSourceBox& box = line.boundingBox;
    f.nearbyStroke = nearbyStroke(raster, box, lines);
    f.redFraction = redFraction(raster, box);
    double slope = 0;
    const bool hand = f.nearbyStroke || f.redFraction >= 0.5;
    const bool slantShows = marks.size() >= slantCharacters || hand;
    const auto inked = slantShows ? inkAngle(raster, line.boundingBox, static_cast<std::size_t>(bounds.size() - 1),
                                             lines, punctuation, !hand)
                                  : std::nullopt;
    if (inked) {
        f.angle = *inked;
        // Degrees on the page to a slope in page fractions.
        slope = std::tan(*inked * M_PI / 180) * W / H;
    } else {
        const double dx = (line.topRight.x - line.topLeft.x) * W;
        const double dy = (line.topRight.y - line.topLeft.y) * H;
        f.angle = std::atan2(dy, dx) * 180 / M_PI;
        const double run = line.topRight.x - line.topLeft.x;
        slope = run == 0 ? 0 : (line.topRight.y - line.topLeft.y) / run;
    }
    f.angleUncertainty = 0;

    std::vector<double> residuals, heights;
    for (const Mark& m : marks) {
        residuals.push_back(m.middle - slope * (m.x - box.x));
        heights.push_back(m.height);
    }
    f.characterCount = static_cast<int64_t>(bounds.empty() ? 0 : bounds.size() - 1);
    // The bottoms of the ink of a few printed glyphs are their shapes, not
    // a slant either: the refinement stands in only where the ink angle
    // could not be had on a line that could show a slant.
    if (useContext && slantShows && !inked && std::fabs(f.angle) < 1.5) {
        if (const auto refined = refinedAngle(raster, box, static_cast<std::size_t>(f.characterCount))) {
            f.angle = refined->degrees;
            f.angleUncertainty = refined->uncertainty;
        }
    }
    f.baselineVariation = spread(residuals, box.height);
    f.heightVariation = spread(heights, box.height);
    return f;
}

PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled, bool useContext, AnnotationClassificationStrategy strategy,
                     AnnotationStage2Strategy stage2Strategy, bool horizontalLinesOnly) {
    const UptimeClock& clock = RecognitionClock::current();
    const double start = clock.seconds();
    auto check = [&] {
        if (stop(cancelled)) raise(ErrorCase::cancelled);
        if (clock.seconds() - start > timeLimitSeconds) raise(ErrorCase::budgetExceeded);
    };
    check();
    if (!image) raise(ErrorCase::invalidInput);
    const int64_t width = image.width(), height = image.height();
    if (settings.preprocessing != "none" || width > largestSide || height > largestSide ||
        width * height > largestPixels) {
        raise(ErrorCase::budgetExceeded);
    }
    const RasterImage upright = OCRGeometry::oriented(image, orientation);
    OCRSettings standard = settings;
    standard.mode = OCRMode::standard;
    TextRequest request = OCREngine::request(standard);
    request.horizontalLinesOnly = horizontalLinesOnly;
    const std::vector<RecognizedTextObservation> observations = OCREngine::perform(request, upright, 1);
    check();
    if (observations.size() > mostObservations) raise(ErrorCase::budgetExceeded);

    const FeatureRaster raster = featureRaster(upright);
    std::vector<OCRSourceBox> boxes;
    for (const RecognizedTextObservation& o : observations) boxes.push_back(o.boundingBox);

    std::vector<TextRegion> regions;
    for (const RecognizedTextObservation& o : observations) {
        check();
        if (o.text.empty()) continue;
        const Features f = measure(o, raster, boxes, upright.width(), upright.height(), useContext);
        const Classification c = classify(f, o.text, o.confidence, useContext, strategy);
        regions.emplace_back(o.text, o.confidence, o.boundingBox.x, o.boundingBox.y, o.boundingBox.width,
                             o.boundingBox.height, c.kind, std::nullopt, std::nullopt, c.evidence, c.instruction);
    }
    check();

    std::vector<Rect> printed;
    for (const TextRegion& r : regions) {
        if (r.kind == RegionKind::printedCandidate) printed.push_back({r.x, r.y, r.width, r.height});
    }
    std::vector<AnnotationStage2Item> items;
    std::vector<std::size_t> from;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const TextRegion& r = regions[i];
        if (r.kind != RegionKind::handwrittenCandidate) continue;
        AnnotationStage2Item item;
        item.text = r.text;
        item.box = {r.x, r.y, r.width, r.height};
        if (r.annotationEvidence) {
            item.features.nearbyStroke = r.annotationEvidence->nearbyStroke;
            const auto& reasons = r.annotationEvidence->reasons;
            item.features.geometrySupport = std::any_of(reasons.begin(), reasons.end(), [](const std::string& s) {
                return s == "slanted-baseline" || s == "irregular-character-geometry" ||
                       s == "short-multiple-geometry-support";
            });
        }
        item.features.targetProximity =
            AnnotationStage2Classifier::distance(item.box, printed) <= AnnotationStage2Classifier::targetDistance;
        item.features.marginPosition =
            item.box.minX() <= 0.1 || item.box.maxX() >= 0.9 || item.box.minY() <= 0.1 || item.box.maxY() >= 0.9;
        item.classification = AnnotationStage2Classifier::classify(item.text, item.features, stage2Strategy);
        items.push_back(std::move(item));
        from.push_back(i);
    }
    using S = AnnotationStage2Strategy;
    std::set<std::size_t> composed;
    if (stage2Strategy == S::contextualComposition || stage2Strategy == S::conservativeComposition ||
        stage2Strategy == S::r4NoteProtectedComposition || stage2Strategy == S::r4HighConfidenceComposition) {
        composed = AnnotationStage2Classifier::compositionIndices(items, stage2Strategy);
    }
    for (std::size_t k = 0; k < items.size(); ++k) {
        regions[from[k]].proofreadingInstruction =
            items[k].classification == AnnotationInstructionClass::proofreadingInstruction || composed.count(k) > 0;
    }

    return PageResult(page, std::move(regions), clock.seconds() - start, upright.width(), upright.height(),
                      std::string(OCRRoute::annotation), orientation, width, height, 1.0);
}

}  // namespace velmora::AnnotationOCR
