#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "recognition/OCRSettings.hpp"
#include "recognition/OCRTypes.hpp"
#include "foundation/Raster.hpp"
#include "foundation/TextRange.hpp"
#include "recognition/RecognitionRecords.hpp"

namespace velmora {

// A failure of the text recogniser itself (its language data cannot be
// loaded, a run fails). It is passed on unchanged, never turned into a
// BrindlexError, so a page that fails this way is told apart from a refused
// request.
class RecognizerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A configured text request, not yet performed: what the recogniser is asked
// to do with one page.
struct TextRequest {
    enum class RecognitionLevel { accurate };

    RecognitionLevel recognitionLevel = RecognitionLevel::accurate;
    int64_t revision = 3;
    // The stored language codes, in priority order.
    std::vector<std::string> recognitionLanguages;
    bool automaticallyDetectsLanguage = false;
    bool usesLanguageCorrection = true;
    std::vector<std::string> customWords;
    // Only lines the recogniser laid out as upright text written left to
    // right. On a vertical page Tesseract finds the columns itself and reads
    // them with the horizontal model, giving tall lines of garbage; a pass
    // that is combined with a vertical one leaves them out. Nor do the
    // standard pass's re-reads turn vertical text into horizontal lines:
    // columns the layout left out are no unread ink, and columns are not
    // read again as lines or as a table's rows.
    bool horizontalLinesOnly = false;

    bool operator==(const TextRequest&) const = default;
};

// One recognised character of an observation.
struct RecognizedCharacter {
    std::string text;
    // Where it stands in the observation's text, in UTF-16 units.
    TextRange range;
    // Fractions of the upright page, origin bottom-left.
    OCRSourceBox box;
    float confidence = 0;
};

// One recognised text line: its text (the top candidate), its confidence
// (0 to 1), its box and baseline on the upright page (fractions, origin
// bottom-left, y up) and the characters it was read from.
struct RecognizedTextObservation {
    struct Point {
        double x = 0;
        double y = 0;
    };

    std::string text;
    float confidence = 0;
    OCRSourceBox boundingBox;
    Point baselineStart;
    Point baselineEnd;
    // The top edge of the line, parallel to its baseline and touching the
    // top of its box.
    Point topLeft;
    Point topRight;
    std::vector<RecognizedCharacter> characters;
};

// The single entry through which one page image is recognised. Stateless as
// far as callers can tell and re-entrant: any number of threads may recognise
// at once. Each thread keeps its own initialised recognisers, one per
// configuration (languages, correction, custom words), because initialising
// one costs far more than recognising a strip.
namespace OCREngine {

inline constexpr std::array<int64_t, 1> supportedRevisions{3};

struct LanguageData {
    std::string_view code;  // as stored in the settings ("ja-JP")
    std::string_view data;  // the recogniser's language data ("jpn")
    // Languages not loaded into the same engine after this one: Tesseract
    // would weigh both models line by line and replace whole Japanese lines
    // by Latin guesses. The standard pass reads such a language's lines
    // with its own model instead.
    std::vector<std::string_view> alsoReads;
};

// Every stored language code the recogniser knows, with its data.
const std::vector<LanguageData>& languageTable();

// The codes of the table whose language data is installed, in table order;
// none for a revision that is not supported.
std::vector<std::string> supportedRecognitionLanguages(int64_t revision);

// The request for the settings. Refuses, before any recogniser is touched:
// a mode other than standard or preprocessing other than "none"
// (unsupportedMode); a revision or a language that is not supported
// (unsupportedLanguage). An empty language list passes; it recognises the
// default languages.
TextRequest request(const OCRSettings& settings);

// The language data a request loads, joined in priority order ("jpn",
// "eng+jpn").
std::string engineLanguages(const TextRequest& request);

// How much of the standard pass runs: the automatic page layout alone, or
// with the re-reads that recover what the layout misses. Only measurements
// of the pass itself ask for the layout alone.
enum class Reading { layoutOnly, complete };

// Runs a request over a page as stored, turned upright by its orientation
// code first. Observations come in reading order. Throws RecognizerError
// when the recogniser fails.
std::vector<RecognizedTextObservation> perform(const TextRequest& request, const RasterImage& image,
                                               uint32_t orientation, Reading reading = Reading::complete);

// Recognises one page. The automatic, handwriting and vertical modes go to
// their own recognisers (AutoOCR, AnnotationOCR, VerticalProduct), whose results and errors come
// back unchanged; the standard mode to the standard pass. A page read in the
// standard or vertical mode whose text runs the other way (see ModeFit)
// fails with looksVertical or looksHorizontal, which name the mode that
// reads it. A page that holds ink (GreyPage::holdsInk) but whose text comes
// back empty, in any mode, fails with emptyResult: recognition failed on it,
// and it is never taken for a page read as empty, as does a page with ink
// too thin to hold a line of text. A page without ink comes back empty.
PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled);

// The standard pass over one page: the request run over the whole upright
// page, with re-reads of what the page layout missed (see StandardPass), one
// region per observation. It does not poll cancelled, which callers check
// between pages, and returns whatever it read, nothing included: readers of
// parts of a page (a vertical column's strip, a glyph) call it directly.
PageResult standardPass(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings);

}  // namespace OCREngine
}  // namespace velmora
