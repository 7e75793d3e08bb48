#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/Raster.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/RecognitionRecords.hpp"

namespace velmora {

// Vertical Japanese is read top to bottom in columns that follow one another
// from right to left. The research finds the columns and the character cells
// (glyphs) of each column from the page's ink, redraws the glyphs of one
// column side by side on a white strip and has the standard recogniser read
// the strip as one horizontal line; every piece of text that comes back is
// tied to the glyph boxes on the page it covers. Stateless; runs on the
// caller's thread.
namespace VerticalResearch {

// What one page gave. Candidates come column by column from right to left,
// and within a column in the strip's left-to-right order; columns are
// right to left.
struct Result {
    Method method = Method::reflow;
    std::vector<Candidate> candidates;
    std::vector<Box> columns;
    int64_t glyphs = 0;
    int64_t requests = 0;
    double seconds = 0;

    // The candidates' texts of each column joined without separator, the
    // columns joined by "\n".
    std::string text() const;

    bool operator==(const Result&) const = default;
};

void to_json(Json& j, const Result& r);
void from_json(const Json& j, Result& r);

// The fixed values of the analysis.
inline constexpr uint8_t darkBelow = 150;
inline constexpr int inkColumnMoreThan = 2;
inline constexpr int columnGap = 12;
inline constexpr int glyphGap = 8;
inline constexpr int64_t largestWidth = 8192;
inline constexpr int64_t largestHeight = 16384;
inline constexpr int64_t largestPixels = 16777216;
inline constexpr std::size_t mostColumns = 128;
inline constexpr int64_t mostGlyphs = 4096;
inline constexpr int narrowestRecut = 16;
inline constexpr int recutHeightInWidths = 2;
inline constexpr int smallestCell = 24;
inline constexpr int slotSpace = 12;
inline constexpr int stripMargin = 16;
inline constexpr int64_t widestStrip = 16384;
inline constexpr int64_t largestStripPixels = 4194304;
inline constexpr double timeLimitSeconds = 60;

// A half-open range of pixel columns or rows.
struct Run {
    int start = 0;
    int end = 0;

    int length() const { return end - start; }
    bool operator==(const Run&) const = default;
};

// The runs of true flags, in ascending order; stretches of at most `gap`
// false flags inside a run are bridged.
std::vector<Run> runs(const std::vector<bool>& flags, int gap);

// Whether each pixel column holds more than 2 dark pixels.
std::vector<bool> inkColumns(const GreyPage& page);
// Whether each row holds a dark pixel within the column.
std::vector<bool> rowFlags(const GreyPage& page, Run column);
// The glyph runs of a column, top to bottom, before any re-cut.
std::vector<Run> glyphRuns(const GreyPage& page, Run column);
// Whether the glyph runs of a column merged touching characters and are to
// be re-cut by their pitch.
bool needsRecut(Run column, const std::vector<Run>& glyphs);

// The re-cut of a column whose glyph runs merged touching characters, and its
// steps: the dark pixels of each row of the column from the top of its first
// glyph run to the bottom of its last, the character pitch and phase in that
// profile, and the cells that tile the column at that pitch.
std::vector<double> rowProfile(const GreyPage& page, Run column, int top, int bottom);
int estimatePitch(const std::vector<double>& profile, int columnWidth);
int estimatePhase(const std::vector<double>& profile, int pitch);
std::vector<Run> splitGlyphs(const GreyPage& page, Run column, const std::vector<Run>& glyphs);

// Reads an upright page. Refuses the method `column` (unsupportedMode) before
// looking at the image, and no image at all (invalidInput). Columns and
// glyphs are found on the page without its specks and turned upright
// (VerticalPage), and their boxes turned back onto the page as given. Each
// column is read on its own, so the work grows with the page; pages beyond
// the limits are refused with budgetExceeded: over 8192 × 16384 or
// 16,777,216 pixels, more than 128 columns, more than 4096 glyphs (all
// counted before any column is read) or, for the reflow strip, a strip over
// 16384 pixels wide or 4,194,304 pixels. Polls `cancelled` and the current
// task before the raster, every column, every glyph and each column's
// request, and throws CancellationError when either asks to stop; more than
// 60 seconds on the recognition clock since the start is loadTimeout. A
// column's recognition is never interrupted.
Result recognize(
    const RasterImage& image, Method method, const std::function<bool()>& cancelled = [] { return false; },
    const OCRSettings& settings = OCRSettings());

// How one column's glyphs are read. The product reads the column's own
// pixels with the recogniser's vertical Japanese data (VerticalColumnReader);
// the reflow strip, its glyphs redrawn side by side and read by the standard
// pass, is kept to measure the column reader against.
enum class ColumnReader { reflowStrip, verticalModel };
inline constexpr ColumnReader productReader = ColumnReader::verticalModel;

// One piece of text read from a column, with the indices of the glyph cells
// (top to bottom) it was read from.
struct ColumnPiece {
    std::string text;
    float confidence = 0;
    std::vector<std::size_t> glyphs;
};

// A limit check: throws CancellationError or loadTimeout.
using Poll = std::function<void()>;

// recognize() with the column reader chosen.
Result recognizeWith(const RasterImage& image, Method method, ColumnReader reader,
                     const std::function<bool()>& cancelled, const OCRSettings& settings);

}  // namespace VerticalResearch
}  // namespace velmora
