#include "recognition/OCREngine.hpp"

#include <algorithm>
#include <optional>

#include "foundation/BrindlexError.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/automatic/AutoRecognition.hpp"
#include "recognition/automatic/ModeFit.hpp"
#include "recognition/engine/RecognitionProgress.hpp"
#include "recognition/handwriting/AnnotationOCR.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/page/LineText.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/vertical/VerticalProduct.hpp"

namespace velmora::OCREngine {

namespace {

// A page read to fewer than a tenth of the characters its ink shows is a
// page the mode could not read.
constexpr std::size_t unreadShare = 10;
// Fewer pixels across than the smallest ink read as a character: no line
// of text fits in such a sliver of a page. The recognisers bring a line up
// to their own height, which makes a sliver one pixel high tens of
// thousands of times wider, and read it for minutes.
constexpr int thinnestPage = GreyPage::smallestInk;

}  // namespace

PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled) {
    if (std::min(image.width(), image.height()) < thinnestPage && GreyPage::from(image).holdsInk()) {
        raise(ErrorCase::emptyResult);
    }
    std::vector<RecognizedTextObservation> lines;
    const PageResult result = [&] {
        switch (settings.mode) {
            case OCRMode::standard:
                break;
            case OCRMode::handwriting:
                return AnnotationOCR::recognize(image, orientation, page, settings, cancelled, true,
                                                AnnotationOCR::productStrategy, AnnotationOCR::productStage2Strategy);
            case OCRMode::vertical:
                return VerticalProduct::recognize(image, orientation, page, settings, cancelled);
            case OCRMode::automatic:
                return AutoOCR::recognize(image, orientation, page, settings, cancelled);
        }
        // The standard pass does not poll cancelled, which a pause also
        // sets: it gives a page up only when the calling thread's watch
        // asks it to (see RecognitionProgress).
        return standardPass(image, orientation, page, settings, lines);
    }();
    // A page read in the standard or vertical mode whose text runs the
    // other way comes back as text of about its length, read across the
    // grain: that is no reading of the page, and the reason says which
    // mode reads it. It is asked before the page is given up as unread,
    // since the mode of the other direction may read nothing at all.
    // The page's character cells are counted once: a count takes a pass
    // over every pixel of the page and a search of its pieces of ink.
    std::optional<int> imageCells;
    const auto cellsOfImage = [&] {
        if (!imageCells) imageCells = GreyPage::from(image).characterCells();
        return *imageCells;
    };
    if (settings.mode == OCRMode::standard || settings.mode == OCRMode::vertical) {
        RecognitionProgress::stopIfAsked();
        const bool quarter = OCRGeometry::isQuarterTurn(orientation);
        const int width = static_cast<int>(quarter ? image.height() : image.width());
        const int height = static_cast<int>(quarter ? image.width() : image.height());
        const ModeFit::Reading reading = settings.mode == OCRMode::standard
                                             ? ModeFit::ofLines(lines, width, height)
                                             : ModeFit::ofColumns(result.regions, width, height);
        // A page turned by half or mirrored holds the same pieces of ink; a
        // quarter turn swaps their widths and heights, which the count
        // weighs apart.
        const int cells = quarter ? GreyPage::from(OCRGeometry::oriented(image, orientation)).characterCells()
                                  : cellsOfImage();
        if (const auto reason = ModeFit::misfit(image, orientation, settings, result, lines, reading, cells)) {
            raise(*reason);
        }
    }
    // Whether a page is blank is asked only of a page that came back empty.
    const bool empty = std::all_of(result.regions.begin(), result.regions.end(), [](const TextRegion& r) {
        return LineText::isBlank(r.text);
    });
    if (empty && GreyPage::from(image).holdsInk()) raise(ErrorCase::emptyResult);
    // A mode that cannot read the page reads a character or two of a page
    // full of them; that is no reading of the page. The automatic mode
    // chooses its reading from both directions and keeps what it found.
    if (settings.mode != OCRMode::automatic) {
        std::size_t read = 0;
        for (const TextRegion& r : result.regions) {
            std::string visible;
            for (char c : r.text) {
                if (c != ' ' && c != '\t' && c != '\n') visible += c;
            }
            read += Unicode::graphemeCount(visible);
        }
        if (read * unreadShare < static_cast<std::size_t>(cellsOfImage())) raise(ErrorCase::emptyResult);
    }
    return result;
}

}  // namespace velmora::OCREngine
