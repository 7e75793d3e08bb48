#include "recognition/vertical/VerticalResearch.hpp"

#include <algorithm>
#include <limits>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/Task.hpp"
#include "recognition/standard/StandardReading.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "recognition/engine/RecognitionProgress.hpp"
#include "recognition/vertical/VerticalColumnReader.hpp"
#include "recognition/vertical/VerticalPage.hpp"
#include "recognition/vertical/VerticalRuby.hpp"
#include "recognition/vertical/VerticalTiers.hpp"

namespace velmora::VerticalResearch {

namespace {

bool dark(uint8_t grey) { return grey < darkBelow; }

// Top-left-origin pixel rectangles that meet, a shared edge included. The
// rectangles of the strip are whole pixels; a recogniser's box that ends
// exactly where a glyph's rectangle begins still belongs to it, as with the
// platform's intersection of two rectangles sharing an edge, which is empty
// but not null.
bool meet(const Rect& a, const Rect& b) {
    return a.minX() <= b.maxX() && b.minX() <= a.maxX() && a.minY() <= b.maxY() && b.minY() <= a.maxY();
}

// One strip: its pixels and, per glyph, where it was drawn.
struct Strip {
    int width = 0;
    int height = 0;
    std::vector<Rect> placed;  // top-left origin, in glyph order
    RasterImage image;
};

struct StripGeometry {
    int64_t slot = 0;
    int64_t width = 0;
    int64_t height = 0;
};

// The strip a column's glyphs make, within the strip limits, which bound the
// work of one strip's request. A column read as a line is bounded by the
// page's own size.
StripGeometry stripGeometry(Run column, const std::vector<Run>& glyphs) {
    int tallest = 0;
    for (const Run& g : glyphs) tallest = std::max(tallest, g.length());
    const int64_t cell = std::max({tallest, column.length(), smallestCell});
    StripGeometry s;
    s.slot = cell + slotSpace;
    s.width = s.slot * static_cast<int64_t>(glyphs.size()) + 2 * stripMargin;
    s.height = s.slot + 2 * stripMargin;
    if (s.width > widestStrip || s.width * s.height > largestStripPixels) raise(ErrorCase::budgetExceeded);
    return s;
}

Strip drawStrip(const GreyPage& grey, Run column, const std::vector<Run>& glyphs, const Poll& poll) {
    const int w = column.length();
    const auto n = static_cast<int64_t>(glyphs.size());
    const StripGeometry geometry = stripGeometry(column, glyphs);
    const int64_t slot = geometry.slot;
    const int64_t stripWidth = geometry.width;
    const int64_t stripHeight = geometry.height;

    Strip strip;
    strip.width = static_cast<int>(stripWidth);
    strip.height = static_cast<int>(stripHeight);
    // Grey written into all three channels reads back as the same grey: the
    // recogniser's luma weights sum to one.
    std::vector<uint8_t> rgb(static_cast<std::size_t>(stripWidth * stripHeight * 3), 255);
    for (int64_t k = 0; k < n; ++k) {
        poll();
        const Run g = glyphs[static_cast<std::size_t>(k)];
        const int h = g.length();
        // Placed in bottom-left-origin coordinates, halves truncated.
        const int64_t x = k * slot + stripMargin + (slot - w) / 2;
        const int64_t y = (slot - h) / 2 + stripMargin;
        const int64_t top = stripHeight - y - h;
        for (int row = 0; row < h; ++row) {
            const uint8_t* src = grey.pixels.data() + static_cast<std::size_t>(g.start + row) * grey.width + column.start;
            uint8_t* dst = rgb.data() + (static_cast<std::size_t>(top + row) * stripWidth + x) * 3;
            for (int c = 0; c < w; ++c, dst += 3) dst[0] = dst[1] = dst[2] = src[c];
        }
        strip.placed.push_back({double(x), double(top), double(w), double(h)});
    }
    strip.image = RasterImage::fromPixels(strip.width, strip.height, 3, rgb);
    if (!strip.image) raise(ErrorCase::renderFailed);
    return strip;
}

// Reads one column as a horizontal line: the glyphs on a strip, read by the
// standard pass.
std::vector<ColumnPiece> readStrip(const GreyPage& grey, Run column, const std::vector<Run>& glyphs,
                                   const OCRSettings& settings, const Poll& poll) {
    const Strip strip = drawStrip(grey, column, glyphs, poll);
    poll();
    OCRSettings standard = settings;
    standard.mode = OCRMode::standard;
    standard.preprocessing = "none";
    // A running request is never interrupted: cancellation takes effect at
    // the next poll.
    PageResult read = OCREngine::standardPass(strip.image, 1, 1, standard);
    poll();

    std::stable_sort(read.regions.begin(), read.regions.end(),
                     [](const TextRegion& a, const TextRegion& b) { return a.x < b.x; });
    std::vector<ColumnPiece> pieces;
    for (const TextRegion& r : read.regions) {
        const Rect area{r.x * strip.width, (1 - r.y - r.height) * strip.height, r.width * strip.width,
                        r.height * strip.height};
        ColumnPiece piece{r.text, r.confidence, {}};
        for (std::size_t k = 0; k < strip.placed.size(); ++k) {
            if (meet(area, strip.placed[k])) piece.glyphs.push_back(k);
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

}  // namespace

std::string Result::text() const {
    std::string out;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) out += '\n';
        for (const Candidate& c : candidates) {
            if (c.column == static_cast<int64_t>(i)) out += c.text;
        }
    }
    return out;
}

void to_json(Json& j, const Result& r) {
    j = Json::object();
    j["method"] = r.method;
    j["candidates"] = r.candidates;
    j["columns"] = r.columns;
    j["glyphs"] = r.glyphs;
    j["requests"] = r.requests;
    j["seconds"] = r.seconds;
}

void from_json(const Json& j, Result& r) {
    JSON::requireObject(j, "vertical result");
    r.method = JSON::require<Method>(j, "method");
    r.candidates = JSON::require<std::vector<Candidate>>(j, "candidates");
    r.columns = JSON::require<std::vector<Box>>(j, "columns");
    r.glyphs = JSON::requireInt(j, "glyphs");
    r.requests = JSON::requireInt(j, "requests");
    r.seconds = JSON::requireDouble(j, "seconds");
}

std::vector<Run> runs(const std::vector<bool>& flags, int gap) {
    std::vector<Run> out;
    bool open = false;
    int start = 0, previous = 0;
    for (std::size_t i = 0; i < flags.size(); ++i) {
        if (!flags[i]) continue;
        const int q = static_cast<int>(i);
        if (!open) {
            start = previous = q;
            open = true;
            continue;
        }
        if (q - previous > gap + 1) {
            out.push_back({start, previous + 1});
            start = q;
        }
        previous = q;
    }
    if (open) out.push_back({start, previous + 1});
    return out;
}

std::vector<bool> inkColumns(const GreyPage& page) {
    std::vector<int> counts(static_cast<std::size_t>(page.width), 0);
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        for (int x = 0; x < page.width; ++x) counts[static_cast<std::size_t>(x)] += dark(row[x]);
    }
    std::vector<bool> flags(counts.size());
    for (std::size_t x = 0; x < counts.size(); ++x) flags[x] = counts[x] > inkColumnMoreThan;
    return flags;
}

std::vector<bool> rowFlags(const GreyPage& page, Run column) {
    std::vector<bool> flags(static_cast<std::size_t>(page.height), false);
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        flags[static_cast<std::size_t>(y)] = std::any_of(row + column.start, row + column.end, dark);
    }
    return flags;
}

std::vector<Run> glyphRuns(const GreyPage& page, Run column) { return runs(rowFlags(page, column), glyphGap); }

bool needsRecut(Run column, const std::vector<Run>& glyphs) {
    const int w = column.length();
    if (w < narrowestRecut) return false;
    return std::any_of(glyphs.begin(), glyphs.end(),
                       [w](const Run& g) { return g.length() > recutHeightInWidths * w; });
}

std::vector<double> rowProfile(const GreyPage& page, Run column, int top, int bottom) {
    std::vector<double> profile;
    profile.reserve(static_cast<std::size_t>(std::max(bottom - top, 0)));
    for (int y = top; y < bottom; ++y) {
        const uint8_t* row = page.pixels.data() + static_cast<std::size_t>(y) * page.width;
        profile.push_back(static_cast<double>(std::count_if(row + column.start, row + column.end, dark)));
    }
    return profile;
}

int estimatePitch(const std::vector<double>& profile, int columnWidth) {
    const int shortest = std::max(static_cast<int>(0.85 * columnWidth), 12);
    const int longest = std::max(shortest, static_cast<int>(1.55 * columnWidth));
    const auto n = static_cast<int>(profile.size());
    int best = shortest;
    double bestScore = -std::numeric_limits<double>::infinity();
    for (int p = shortest; p <= longest; ++p) {
        double score = -1;
        if (p < n) {
            double sum = 0;
            for (int j = 0; j + p < n; ++j) {
                const double d = profile[static_cast<std::size_t>(j)] - profile[static_cast<std::size_t>(j + p)];
                sum += d * d;
            }
            score = -sum / (n - p);
        }
        // Strictly greater: on equal scores the shorter pitch stays.
        if (score > bestScore) {
            bestScore = score;
            best = p;
        }
    }
    return best;
}

int estimatePhase(const std::vector<double>& profile, int pitch) {
    int best = 0;
    double bestSum = std::numeric_limits<double>::infinity();
    for (int o = 0; o < pitch; ++o) {
        double sum = 0;
        for (std::size_t j = static_cast<std::size_t>(o); j < profile.size(); j += static_cast<std::size_t>(pitch)) {
            sum += profile[j];
        }
        if (sum < bestSum) {
            bestSum = sum;
            best = o;
        }
    }
    return best;
}

std::vector<Run> splitGlyphs(const GreyPage& page, Run column, const std::vector<Run>& glyphs) {
    if (glyphs.empty()) return glyphs;
    const int top = glyphs.front().start;
    const int bottom = glyphs.back().end;
    const std::vector<double> profile = rowProfile(page, column, top, bottom);
    const int pitch = estimatePitch(profile, column.length());
    const int phase = estimatePhase(profile, pitch);
    const int edge = pitch / 3;

    std::vector<int> cuts{top};
    for (int y = top + phase; y < bottom; y += pitch) {
        if (y > top + edge) cuts.push_back(y);
    }
    if (cuts.size() >= 2 && bottom - cuts.back() < edge) cuts.pop_back();
    cuts.push_back(bottom);

    std::vector<Run> out;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) out.push_back({cuts[i], cuts[i + 1]});
    return out;
}

Result recognize(const RasterImage& image, Method method, const std::function<bool()>& cancelled,
                 const OCRSettings& settings) {
    return recognizeWith(image, method, productReader, cancelled, settings);
}

Result recognizeWith(const RasterImage& image, Method method, ColumnReader reader,
                     const std::function<bool()>& cancelled, const OCRSettings& settings) {
    if (method != Method::reflow) raise(ErrorCase::unsupportedMode);
    const UptimeClock& clock = RecognitionClock::current();
    const double start = clock.seconds();

    if (!image) raise(ErrorCase::invalidInput);
    const int64_t width = image.width();
    const int64_t height = image.height();
    if (width < 1 || height < 1) raise(ErrorCase::invalidInput);
    if (width > largestWidth || height > largestHeight || width * height > largestPixels) {
        raise(ErrorCase::budgetExceeded);
    }

    const Poll poll = [&] {
        if (cancelled() || isCurrentTaskCancelled()) throw CancellationError();
        RecognitionProgress::stopIfAsked();
        if (clock.seconds() > start + timeLimitSeconds) raise(ErrorCase::loadTimeout);
    };
    poll();

    // Columns and glyphs are found, and read, on the page without its
    // specks and turned upright; their boxes are turned back onto the page.
    const VerticalPage::Prepared prepared = VerticalPage::prepare(GreyPage::from(image));
    const GreyPage& grey = prepared.grey;
    std::vector<Run> columns;
    for (const VerticalPage::ColumnRange& c : VerticalPage::columns(grey)) columns.push_back({c.start, c.end});
    std::reverse(columns.begin(), columns.end());
    if (columns.size() > mostColumns) raise(ErrorCase::budgetExceeded);
    const auto box = [&](int left, int top, int w, int h) {
        return Box(prepared.onPage(Rect{double(left), double(top), double(w), double(h)}), width, height);
    };

    // The usual width of a column, the median: the width of its type.
    std::vector<int> widths;
    for (const Run& column : columns) widths.push_back(column.length());
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
    const int bodyWidth = widths.empty() ? 0 : widths[widths.size() / 2];
    // Columns are found band by band of the page's ink, top to bottom (the
    // tiers of a page in tiers), each band's right to left; a column holds
    // only its band's rows. Ink of the margins apart from the text is not
    // taken into the text's columns.
    // Bands holding more columns than a page can are lines of horizontal
    // text, which the page's columns show as such.
    std::vector<Run> rows(columns.size(), Run{0, grey.height});
    std::vector<Run> banded, bandRows;
    for (const Run& tier : VerticalTiers::tiers(grey, bodyWidth)) {
        const std::vector<VerticalPage::ColumnRange> found = VerticalPage::columns(VerticalTiers::band(grey, tier));
        for (auto c = found.rbegin(); c != found.rend(); ++c) {
            banded.push_back({c->start, c->end});
            bandRows.push_back(tier);
        }
    }
    if (banded.size() <= mostColumns) {
        columns = std::move(banded);
        rows = std::move(bandRows);
    }
    for (Run& column : columns) column = VerticalRuby::withoutRuby(grey, column, bodyWidth);

    // Every column's cells are counted before any is read, so that a page
    // over the limit is refused at once.
    std::vector<std::vector<Run>> cells;
    int64_t glyphCount = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Run column = columns[i];
        std::vector<Run> glyphs;
        for (Run g : glyphRuns(grey, column)) {
            g = {std::max(g.start, rows[i].start), std::min(g.end, rows[i].end)};
            if (g.length() > 0) glyphs.push_back(g);
        }
        if (needsRecut(column, glyphs)) glyphs = splitGlyphs(grey, column, glyphs);
        glyphCount += static_cast<int64_t>(glyphs.size());
        if (glyphCount > mostGlyphs) raise(ErrorCase::budgetExceeded);
        cells.push_back(std::move(glyphs));
    }

    // Ruby beside the text is no text of the page: its columns are not read.
    std::vector<VerticalRuby::Extent> extents;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        extents.push_back({columns[i], {cells[i].front().start, cells[i].back().end}});
    }
    const std::vector<bool> ruby = VerticalRuby::rubyColumns(extents, bodyWidth);
    for (std::size_t i = columns.size(); i-- > 0;) {
        if (!ruby[i]) continue;
        columns.erase(columns.begin() + static_cast<std::ptrdiff_t>(i));
        cells.erase(cells.begin() + static_cast<std::ptrdiff_t>(i));
    }

    Result result;
    result.method = Method::reflow;
    VerticalColumnReader::PageSoFar soFar;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        poll();
        const Run column = columns[i];
        const std::vector<Run>& glyphs = cells[i];
        const int top = glyphs.front().start;
        const int bottom = glyphs.back().end;
        result.columns.push_back(box(column.start, top, column.length(), bottom - top));
        result.glyphs += static_cast<int64_t>(glyphs.size());

        const std::vector<ColumnPiece> pieces =
            reader == ColumnReader::reflowStrip
                ? readStrip(grey, column, glyphs, settings, poll)
                : VerticalColumnReader::read(grey, column, bodyWidth, glyphs, settings, poll, soFar);
        result.requests += 1;
        for (const ColumnPiece& piece : pieces) {
            Candidate c;
            c.id = static_cast<int64_t>(result.candidates.size());
            c.text = piece.text;
            c.confidence = piece.confidence;
            for (std::size_t k : piece.glyphs) {
                const Run g = glyphs[k];
                c.source.push_back(box(column.start, g.start, column.length(), g.length()));
            }
            c.column = static_cast<int64_t>(i);
            result.candidates.push_back(std::move(c));
        }
    }
    result.seconds = clock.seconds() - start;
    return result;
}

}  // namespace velmora::VerticalResearch
