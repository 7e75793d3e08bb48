#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/TextRange.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "recognition/page/RecognitionRecords.hpp"

// What every reading asks of the recogniser and gets back from it: the
// request made from the settings, the languages it loads, and the lines it
// reads. The readings above share these; the choice between the readings
// (OCREngine.hpp) stays above them all.
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

// The codes a request reads, in priority order: its own, or the product's
// default order when it names none.
const std::vector<std::string>& languagesOf(const TextRequest& request);

// Whether the recogniser's data of a language ("jpn") is installed and
// readable.
bool hasLanguageData(std::string_view data);

}  // namespace OCREngine
}  // namespace velmora
