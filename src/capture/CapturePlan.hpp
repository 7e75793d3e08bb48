#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/FreeSpace.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

class WebCaptureDiagnostic;

// A page taller than a tall PNG may be: budgetExceeded, as the history and
// the report record it, with the limit it passed, so that the status line
// can name the height rather than a memory bound a narrower view would not
// help.
class PageTooTall : public BrindlexError {
public:
    explicit PageTooTall(int64_t limit) noexcept : BrindlexError(ErrorCase::budgetExceeded), limit(limit) {}
    int64_t limit;
};

// One output of a capture: the page rows [top, top + height), CSS pixels.
struct CapturePartSpan {
    int64_t index = 0;
    int64_t top = 0;
    int64_t height = 0;

    int64_t end() const noexcept { return top + height; }
    bool operator==(const CapturePartSpan&) const = default;
};

// One band of a part: its top and height in the page (CSS pixels) and where
// the page is scrolled to take it. A tile keeps clear of the view's edges by
// the seam margin, except where an edge is the document's own top or end:
// the engine draws the rows next to an edge that cuts through the page a
// little differently (text and shapes cut there), so rows taken there would
// not join the next tile's. Near the page's end the page cannot scroll as far
// as asked, so the tile then lies lower in the view.
struct CaptureTile {
    int64_t top = 0;
    int64_t rows = 0;
    int64_t scrollTarget = 0;

    bool operator==(const CaptureTile&) const = default;
};

// Where a tile's rows are, in device pixels: from row sourceRow of the
// viewport snapshot, `rows` rows, to row partRow of the part bitmap.
struct TilePlacement {
    int64_t sourceRow = 0;
    int64_t partRow = 0;
    int64_t rows = 0;

    bool operator==(const TilePlacement&) const = default;
};

// What the capture saw of its bitmaps, for the memory figures of the receipt.
struct CaptureObservation {
    // Of the last part bitmap.
    int64_t canvasBytesPerRow = 0;
    // The largest over all snapshots.
    int64_t tileBytesPerRow = 0;
    int64_t tileBitsPerPixel = 0;

    void observeTile(int64_t bytesPerRow, int64_t bitsPerPixel);
};

// How a page is cut into outputs before any pixel is taken: the whole page
// in one bitmap when its estimate fits the memory budget, otherwise
// parts of one tile each (the rows a view shows clear of its edges), each
// with a bitmap of its own, or no capture at all.
// Sizes are CSS pixels unless named pixel; all arithmetic is 64-bit.
class CapturePlan {
public:
    static constexpr const char* memoryBudgetReason = "memoryBudget";
    static constexpr int64_t surfaceBytesPerPixel = 4;
    static constexpr int64_t surfaceCopies = 3;
    static constexpr int64_t retainedTiles = 1;
    // CSS pixels a tile keeps from a view edge that cuts through the page.
    // The rows drawn differently reach at most a few pixels in.
    static constexpr int64_t seamMargin = 8;

    struct Inputs {
        // The width the page lays out in: the view's, less a scroll bar that
        // takes room from the layout.
        int64_t width = 0;
        // Output pixels per CSS pixel.
        int64_t scale = 1;
        // The visible page height; only its whole part counts.
        double viewportHeight = 0;
        // Measured after fixed and sticky elements are frozen.
        int64_t documentHeight = 0;
        int64_t maximumHeight = 0;
        // Bytes.
        int64_t budget = 0;
        // The view's inner width, for the report only; 0 when it is width.
        int64_t innerWidth = 0;
    };

    // A width or height below 1 or a page taller than maximumHeight is
    // budgetExceeded, and so is a page over budget whose one-tile part is
    // over budget too; an estimate that cannot be made (no viewport, a
    // product past 64 bits) is dimensionOverflow.
    static CapturePlan make(const Inputs& inputs);
    // The viewport height as a whole number of CSS pixels, truncated; 0 for
    // a value that is no length, which the estimate then refuses.
    static int64_t wholeViewport(double viewportHeight);

    int64_t width = 0;           // W
    int64_t scale = 1;           // s
    int64_t viewportHeight = 0;  // Vi
    int64_t documentHeight = 0;  // H, shortened when the page shrank under the capture
    int64_t plannedHeight = 0;   // H as first measured, for the memory figures
    int64_t budget = 0;          // B
    int64_t pixelWidth = 0;      // PW = W × s
    int64_t estimatedBytes = 0;  // E, the whole page's estimate
    int64_t partHeight = 0;      // P
    int64_t margin = 0;          // the seam margin, less in a view too low for it
    int64_t partCount = 0;       // N
    bool split = false;          // B < E

    std::optional<std::string> splitReason() const;
    // Part index (0 ≤ index < partCount).
    CapturePartSpan part(int64_t index) const;
    std::vector<CapturePartSpan> parts() const;
    // The tiles of a part, top to bottom; they abut.
    std::vector<CaptureTile> tiles(const CapturePartSpan& part) const;
    // The tile of a part that starts at row top (part.top ≤ top < part.end()):
    // as many rows as the view shows clear of its edges, scrolled so that a
    // margin of rows lies above them (none at the document's top) and below
    // them (none at its end).
    CaptureTile tile(const CapturePartSpan& part, int64_t top) const;
    // The rows a tile takes from a view scrolled to an edge of the page on
    // neither side: those of a part of a page over budget.
    int64_t innerTileRows() const noexcept { return viewportHeight - 2 * margin; }
    // The plan once the document turned out `height` rows high while the tile
    // at row tileTop was about to be taken. A page that grew, or that no
    // longer holds every row above the tile (rows already taken), cannot be
    // finished from what was taken: renderFailed. A page that got shorter
    // below those rows keeps its parts and tiles, and its last part ends at
    // the document's real end; the part count may drop. Whether the rows
    // taken are still where they were is the caller's to check.
    CapturePlan shortened(int64_t tileTop, int64_t height) const;
    bool heightChanged() const noexcept { return documentHeight != plannedHeight; }
    // Where the tile's rows are once the page stands at scroll position
    // `actual`, in a snapshot of textureWidth × textureHeight pixels. The
    // snapshot must be the output's width and must hold all of the tile's
    // rows: a page that stopped short of the target (it shrank, say) would
    // otherwise put rows of the wrong place, or none, into the image. Either
    // failure is renderFailed.
    TilePlacement place(const CapturePartSpan& part, const CaptureTile& tile, int64_t actual, int64_t textureWidth,
                        int64_t textureHeight) const;
    // The ten memory figures of the receipt.
    std::map<std::string, int64_t> memoryPlan(const CaptureObservation& observed) const;
};

// The journal that records how many outputs a capture will publish. It
// lives in the history layer above; the plan step only announces the count.
class ExpectedOutputs {
public:
    virtual ~ExpectedOutputs() = default;
    virtual void expect(int64_t count) = 0;
};

// The plan once it has been announced: the output folder it opened.
struct PlannedCapture {
    CapturePlan plan;
    SecureDirectory output;
};

// The plan step of a capture, in order: the first plan event, the plan, the
// second plan event, the journal's expected output count, the destination
// event, the output folder (created when missing) and the free-space check,
// which refuses a capture whose whole-page estimate is not below the space
// left (saveFailed). Diagnostic and journal are optional; each failure ends
// the step with nothing after it done.
PlannedCapture planCapture(const CapturePlan::Inputs& inputs, WebCaptureDiagnostic* diagnostic,
                           ExpectedOutputs* lifecycle, const std::filesystem::path& output,
                           const FreeSpace& freeSpace = FreeSpace::system());

}  // namespace velmora
