#pragma once

// What the source and result columns show, as functions of the controller's
// published state, without a display. The widgets call these and hold no
// other logic.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Geometry.hpp"
#include "foundation/TextRange.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "recognition/page/OCRProduct.hpp"
#include "recognition/page/OCRTypes.hpp"

namespace velmora {

namespace SourceColumnRules {

inline constexpr double minimumZoom = 0.5;
inline constexpr double maximumZoom = 4.0;
inline constexpr double zoomStep = 1.25;
inline constexpr double fitZoom = 1.0;

// "2 / 5".
std::string pageLabel(int64_t page, int64_t pageCount);
// The page row's indicator: the page label of an open queue; nothing while
// no page could be shown.
std::string pageIndicator(bool queueOpen, int64_t page, int64_t pageCount);
bool previousEnabled(int64_t page);
bool nextEnabled(int64_t page, int64_t pageCount);
double zoomedOut(double zoom);
double zoomedIn(double zoom);

// The "原稿" picker: only for an open queue of two inputs or more.
struct InputOption {
    UUID id;
    std::string label;  // "2: scan.pdf"

    bool operator==(const InputOption&) const = default;
};
bool showsPicker(const std::optional<QueueSnapshot>& snapshot);
std::vector<InputOption> inputOptions(const QueueSnapshot& snapshot);

// The text of the preview without a page image; the password is asked for
// only while the shown PDF is locked (`QueueController::shownLocked`), and
// nothing is said to be missing while the page is still being prepared.
std::string emptyText(bool queueOpen, bool shownLocked = false, bool preparing = false);

// Where the page image of size `image` lies in the viewport: fitted to the
// viewport's width at zoom 1.0 (a page is read down, as it is scrolled),
// the zoom clamped to 0.5…4.0 (1.0 when not finite), centred where it is
// narrower or lower than the viewport, never before its top-left corner.
// Empty for an image without area.
Rect pageFrame(Size image, Size viewport, double zoom);

// One rectangle over the page image, in the preview's coordinates.
struct Box {
    Rect rect;
    bool tinted = false;     // yellow fill: a low-confidence region
    double lineWidth = 1;    // 2 for a handwritten candidate
    bool dashed = false;     // an unknown region on an annotation page
    std::optional<std::string> tag;  // the kind label, on annotation pages
    std::string label;       // what assistive technology reads
};

std::string kindLabel(RegionKind kind);

// The boxes of the regions inside the image frame, in drawing order: every
// display box of every region, in order. On an annotation page they show
// only while the candidates are on.
std::vector<Box> boxes(const std::vector<TextRegion>& regions, bool annotationPage, bool showCandidates,
                       const Rect& imageFrame);

// Where the kind tag of `boxes[index]`, `tag` in size, is drawn: beside its
// box, `tagGap` away, in the room on its left or else on its right inside
// the content, and over no box, so it never hides the text it labels. None
// when neither side has room; the tag then shows as the box's tooltip only.
inline constexpr double tagGap = 3;
std::optional<Rect> tagPlace(const std::vector<Box>& boxes, std::size_t index, Size tag, Size content);
// The tag of the last drawn box under a point, for its tooltip.
std::optional<std::string> tagAt(const std::vector<Box>& boxes, double x, double y);

// The box labels in drawing order, one line each: GTK 4.8 gives a drawing
// no accessible children, so they go into the area's description.
std::string boxDescription(const std::vector<Box>& boxes);

// The size of the scrolled content: the viewport, grown to the frame's far
// edges.
Size contentSize(Size viewport, const Rect& imageFrame);

}  // namespace SourceColumnRules

namespace ResultColumnRules {

// Only the current hit is marked, and only while a search text is typed.
std::vector<TextRange> searchRanges(const std::string& search, const std::optional<OCRProduct::Match>& selection);
std::optional<TextRange> selection(const std::optional<OCRProduct::Match>& selection);

}  // namespace ResultColumnRules

}  // namespace velmora
