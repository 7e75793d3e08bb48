#pragma once

#include <optional>
#include <vector>

#include "recognition/page/GreyPage.hpp"
#include "recognition/engine/TextRequest.hpp"
#include "recognition/engine/TesseractEngines.hpp"

namespace velmora {

// The standard pass over one prepared page. Tesseract's automatic page
// layout reads it first; that reading is then checked against the page's own
// ink and mended where the layout is known to fail:
// - a page with ink but (nearly) no text is read again as one block of text,
//   which is how a small image of one short line reads;
// - ink of the size of the page's text that no line covers (a heading, a
//   column of labels) is read as lines of its own;
// - blocks standing side by side whose lines share baselines are a table or
//   a form: their region is read again as one block, so that each visual row
//   becomes one line, cells left to right, and short cells are kept;
// - a line whose box stops short of the ink on its row is read again as one
//   line over all that ink;
// - a row the layout read unsurely (cut in pieces, or garbled on a scan) is
//   read again whole as one line;
// - with Japanese and English both among the languages, a line that came out
//   in the other script (or uncertain) is read again with the other
//   language's model, and the more confident reading is kept;
// - figures among Japanese (amounts, dates, numbers) are read again with
//   the English model, which alone knows the yen sign and zeros with a
//   slash or a dot, and their commas and full stops are told apart by their
//   ink;
// - light text on dark grounds (a header band, a coloured bar or sidebar) is
//   read on a page of its own, turned dark on light, each ground's lines
//   together before the text below or beside it.
// Each re-read replaces what it mends only when it reads more at a
// confidence that holds, so a page the layout reads well comes out as the
// layout read it.
namespace StandardPass {

struct Models {
    // The languages in the settings' order, as one engine reads them.
    TesseractEngines::Configuration first;
    // The other language's model alone, when the languages name both
    // Japanese and English.
    std::optional<TesseractEngines::Configuration> second;
    // Which script the first model reads as its own: lines mostly in the
    // other script are the ones the second model re-reads.
    bool firstIsJapanese = true;
    // Keep only lines laid out upright and left to right (see
    // TextRequest::horizontalLinesOnly).
    bool horizontalLinesOnly = false;
};

// The page is read without its dark grounds, the grounds' letters on a
// page of their own (see GreyPage::darkGrounds).
std::vector<RecognizedTextObservation> read(const GreyPage& page, const GreyPage::Grounds& grounds,
                                            const Models& models, OCREngine::Reading reading);

}  // namespace StandardPass
}  // namespace velmora
