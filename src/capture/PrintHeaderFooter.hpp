#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include <poppler.h>

#include "foundation/OwnedWorkspace.hpp"

namespace velmora::PrintHeaderFooter {

// The header and footer of a printed page.
//
// The page was printed with its top and bottom margins 32 pt larger than the
// chosen margin; these bands receive a title line and an address line above
// the content and "date   i / N" below it. Every page of the printed PDF is
// copied as PDF content (text stays text) onto a page of the first page's
// size, and the three lines are drawn over it in 8 pt black, each cut with
// "…" to the width between the side insets. Texts come from the page and are
// never read as markup.
//
// The new PDF is built in memory and written once into the work folder, so
// it is recorded there and removed when the work folder is finished; a
// failure midway drops the partial data and writes nothing.

// The margin in whole points, rounded half away from zero: 0, 14 or 34 for
// the margins the window offers.
double marginPoints(double marginMM);

// document: the printed PDF, already checked (at least one page, every page
// within 1 pt of the paper). margin: marginPoints() of the chosen margin.
// Returns the "work-….pdf" written into workFolder. A page that cannot be
// read or any drawing error is renderFailed; the write's own error passes on.
std::filesystem::path stamp(PopplerDocument* document, OwnedWorkspace& workFolder, double margin,
                            std::string_view title, std::string_view urlText, std::string_view footerDate);

}  // namespace velmora::PrintHeaderFooter
