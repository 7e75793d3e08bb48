#include "recognition/automatic/ModeFit.hpp"

#include <algorithm>

#include "foundation/Unicode.hpp"
#include "recognition/automatic/AutoOCR.hpp"
#include "recognition/page/LineText.hpp"
#include "recognition/standard/StandardReading.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/vertical/VerticalProduct.hpp"

namespace velmora::ModeFit {

namespace {

// Two characters stand solid when the blank between them along the line is
// under half the larger one's size across it.
constexpr double solidGap = 0.5;

struct Span {
    double from = 0, to = 0;  // along the reading direction
    double size = 0;          // across it
};

// How many of the spans, in reading order, stand solid beside the one
// before or after them.
std::size_t solidSpans(const std::vector<Span>& spans) {
    std::size_t n = 0;
    for (std::size_t k = 0; k < spans.size(); ++k) {
        bool solid = false;
        for (const std::size_t j : {k - 1, k + 1}) {
            if (j >= spans.size()) continue;
            const Span& a = j < k ? spans[j] : spans[k];
            const Span& b = j < k ? spans[k] : spans[j];
            solid = solid || b.from - a.to < solidGap * std::max(a.size, b.size);
        }
        n += solid ? 1 : 0;
    }
    return n;
}

// A reading of `count` characters from their sums of confidence and of
// solid standing.
Reading summed(double count, double weighted, double solid) {
    Reading r;
    r.characters = static_cast<std::size_t>(count);
    if (count > 0) {
        r.confidence = weighted / count;
        r.solid = solid / count;
    }
    return r;
}

}  // namespace

Reading ofLines(const std::vector<RecognizedTextObservation>& lines, int width, int height) {
    double weighted = 0, solid = 0, count = 0;
    for (const RecognizedTextObservation& line : lines) {
        std::vector<Span> spans;
        for (const RecognizedCharacter& c : line.characters) {
            if (LineText::isBlank(c.text)) continue;
            spans.push_back({c.box.x * width, (c.box.x + c.box.width) * width, c.box.height * height});
        }
        std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
        count += static_cast<double>(spans.size());
        weighted += static_cast<double>(spans.size()) * line.confidence;
        solid += static_cast<double>(solidSpans(spans));
    }
    return summed(count, weighted, solid);
}

Reading ofColumns(const std::vector<TextRegion>& columns, int width, int height) {
    double weighted = 0, solid = 0, count = 0;
    for (const TextRegion& column : columns) {
        const double characters = static_cast<double>(Unicode::graphemeCount(column.text));
        if (characters == 0) continue;
        // The column's confidence is its least sure piece's; its pieces'
        // own tell how sure the reader is of most of it.
        double sure = 0, read = 0;
        if (column.verticalCandidates) {
            for (const VerticalResearch::Candidate& c : *column.verticalCandidates) {
                const double n = static_cast<double>(Unicode::graphemeCount(c.text));
                sure += n * c.confidence;
                read += n;
            }
        }
        weighted += read > 0 ? characters * sure / read : characters * column.confidence;
        count += characters;
        // The glyphs, top to bottom (page fractions run upwards).
        std::vector<Span> spans;
        for (const OCRSourceBox& b : column.displayBoxes()) {
            spans.push_back({(1 - b.y - b.height) * height, (1 - b.y) * height, b.width * width});
        }
        std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
        if (!spans.empty()) solid += characters * static_cast<double>(solidSpans(spans)) / spans.size();
    }
    return summed(count, weighted, solid);
}

bool poor(const Reading& reading, int cells) {
    // A tenth of the ink's character cells: a page read to nearly nothing.
    if (reading.characters * 10 < static_cast<std::size_t>(std::max(cells, 0))) return true;
    return reading.confidence < poorConfidence || reading.solid < poorSolid;
}

bool good(const Reading& reading, int cells) {
    // The cells count the pieces of ink of a kanji or two over, so a
    // reading of a page holds at least half as many characters.
    return reading.characters * 2 >= static_cast<std::size_t>(std::max(cells, 1)) &&
           reading.confidence >= goodConfidence && reading.solid >= goodSolid;
}

Reading besideColumns(const std::vector<RecognizedTextObservation>& lines, const AutoOCR::Probe& probe, int width,
                      int height) {
    std::vector<RecognizedTextObservation> beside;
    for (const RecognizedTextObservation& o : lines) {
        const Rect box{o.boundingBox.x, o.boundingBox.y, o.boundingBox.width, o.boundingBox.height};
        const auto same = [&](const Rect& r) { return r == box; };
        const auto within = [&](const Rect& b) { return AutoOCR::overlap(box, b) > 0.5; };
        if (std::any_of(probe.horizontal.begin(), probe.horizontal.end(), same) &&
            std::none_of(probe.vertical.begin(), probe.vertical.end(), within)) {
            beside.push_back(o);
        }
    }
    return ofLines(beside, width, height);
}

std::optional<ErrorCase> misfit(const RasterImage& image, uint32_t orientation, const OCRSettings& settings,
                                const PageResult& read, const std::vector<RecognizedTextObservation>& lines,
                                const Reading& reading, int cells) {
    if (settings.mode != OCRMode::standard && settings.mode != OCRMode::vertical) return std::nullopt;
    if (cells == 0 || !poor(reading, cells)) return std::nullopt;
    const RasterImage upright = OCRGeometry::oriented(image, orientation);
    const int width = static_cast<int>(upright.width()), height = static_cast<int>(upright.height());
    const auto never = [] { return false; };
    if (settings.mode == OCRMode::standard) {
        // The probe's verdict with the lines this mode read: a row misread
        // across columns is no strong line, and the columns stand out.
        const AutoOCR::Probe probe = AutoOCR::probe(upright, read.regions, never);
        if (probe.resolved == AutoResolved::vertical) return ErrorCase::looksVertical;
        // Columns beside lines the probe took for horizontal text. A short
        // tier of columns, under part of a taller one and set a little
        // aside from its columns, stands out as no column of its own, so
        // its rows pass for lines; but their characters stand a column's
        // spacing apart, while those of a caption or heading set
        // horizontally beside columns stand solid.
        if (probe.resolved == AutoResolved::mixed) {
            return besideColumns(lines, probe, width, height).solid < poorSolid
                       ? std::optional<ErrorCase>(ErrorCase::looksVertical)
                       : std::nullopt;
        }
        if (probe.resolved != AutoResolved::uncertainStandardFallback) return std::nullopt;
        // A small image of a column or two is too narrow for the probe's
        // columns; the automatic mode reads such a page vertically when
        // nothing else reads it, and so it is judged here.
        OCRSettings vertical = settings;
        vertical.mode = OCRMode::vertical;
        const PageResult columns = VerticalProduct::recognize(upright, 1, read.page, vertical, never);
        if (good(ofColumns(columns.regions, width, height), cells)) return ErrorCase::looksVertical;
        return std::nullopt;
    }
    // The vertical mode: the page read as horizontal lines, and judged
    // with them.
    OCRSettings standard = settings;
    standard.mode = OCRMode::standard;
    const std::vector<RecognizedTextObservation> rows =
        OCREngine::perform(OCREngine::request(standard), upright, 1, OCREngine::Reading::complete);
    if (!good(ofLines(rows, width, height), cells)) return std::nullopt;
    std::vector<TextRegion> regions;
    for (const RecognizedTextObservation& o : rows) {
        regions.emplace_back(o.text, o.confidence, o.boundingBox.x, o.boundingBox.y, o.boundingBox.width,
                             o.boundingBox.height, RegionKind::unknown);
    }
    const AutoOCR::Probe probe = AutoOCR::probe(upright, regions, never);
    if (probe.resolved == AutoResolved::standard) return ErrorCase::looksHorizontal;
    return std::nullopt;
}

}  // namespace velmora::ModeFit
