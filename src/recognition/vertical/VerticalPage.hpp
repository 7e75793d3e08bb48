#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Geometry.hpp"
#include "recognition/page/GreyPage.hpp"

namespace velmora {

// A page of vertical text made ready for finding its columns, as a scan
// needs it: specks of noise removed, since on a speckled page every pixel
// column holds some dark pixels and no blank gap is left between the text
// columns; and the page turned upright, since a column of a page laid a
// degree askew drifts sideways by about a column's gap from top to bottom.
// Stateless.
namespace VerticalPage {

// A pixel is dark below this grey value.
inline constexpr uint8_t darkBelow = 150;
// The widest skew straightened, in degrees either way.
inline constexpr double largestSkew = 3;

// The page with dark specks (pieces of ink no bigger than an eighth of the
// typical piece, at least 2 pixels) turned to paper. Specks of that size
// are noise at any resolution a page of text is read at: the smallest
// marks of text (dots, voicing marks) are larger.
GreyPage withoutSpecks(const GreyPage& page);

// The angle in degrees (clockwise positive) by which the columns of the page
// lean: the angle at which the dark pixels, projected along it onto the
// page's width, gather most sharply. 0 for a page without ink.
double columnSkew(const GreyPage& page);

// The page turned about its centre by the angle (degrees, clockwise
// positive), keeping its size, with paper brought in at the corners.
GreyPage rotated(const GreyPage& page, double degrees);

// A page ready for finding columns: without specks and turned upright.
struct Prepared {
    GreyPage grey;
    // The turn that made it upright (degrees, clockwise positive); 0 when
    // the page stood upright already.
    double turned = 0;

    // A pixel rectangle of the prepared page (top-left origin) as the
    // rectangle it covers on the page as given: its corners turned back,
    // bounded and clipped to the page.
    Rect onPage(const Rect& r) const;
};

// The page is turned only when its columns lean enough to drift by more
// than a couple of pixels over its height.
Prepared prepare(const GreyPage& page);

// Pixel columns holding more than 2 dark pixels.
std::vector<bool> inkColumns(const GreyPage& page);

// The text columns of a prepared page, left to right, as half-open ranges
// of pixel columns. Runs of ink columns are joined while together they are
// no wider than a text column (the page's typical run, weighted by its ink)
// and their gap is under half of that: a column of narrow characters may
// hold blank pixel columns, while two columns side by side are wider than
// one however close they stand. So columns are found whatever the
// resolution and the line pitch.
struct ColumnRange {
    int start = 0;
    int end = 0;
    bool operator==(const ColumnRange&) const = default;
};
std::vector<ColumnRange> columns(const GreyPage& page);

}  // namespace VerticalPage
}  // namespace velmora
