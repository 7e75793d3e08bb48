#include "recognition/OCREngine.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "foundation/BrindlexError.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/AnnotationOCR.hpp"
#include "recognition/AutoRecognition.hpp"
#include "recognition/EngineIdentity.hpp"
#include "recognition/GreyPage.hpp"
#include "recognition/LineText.hpp"
#include "recognition/ModeFit.hpp"
#include "recognition/StandardPass.hpp"
#include "recognition/OCRGeometry.hpp"
#include "recognition/RecognitionProgress.hpp"
#include "recognition/TesseractEngines.hpp"
#include "recognition/VerticalProduct.hpp"

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

// What an empty language list recognises: the product's own default order.
const std::vector<std::string> defaultLanguages{"ja-JP", "en-US"};

const LanguageData* entryFor(std::string_view code) {
    for (const LanguageData& entry : languageTable()) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

bool installed(std::string_view data) {
    const auto file = EngineIdentity::languageDataDirectory() / (std::string(data) + ".traineddata");
    std::error_code error;
    return std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), R_OK) == 0;
}

TesseractEngines::Configuration configurationFor(const TextRequest& request) {
    TesseractEngines::Configuration c;
    c.languages = engineLanguages(request);
    c.dictionaries = request.usesLanguageCorrection;
    // Custom words are a dictionary of their own and go with the others.
    if (c.dictionaries) c.userWords = request.customWords;
    return c;
}

StandardPass::Models modelsFor(const TextRequest& request) {
    StandardPass::Models models;
    models.first = configurationFor(request);
    models.horizontalLinesOnly = request.horizontalLinesOnly;
    const auto& codes = request.recognitionLanguages.empty() ? defaultLanguages : request.recognitionLanguages;
    const auto japanese = std::find(codes.begin(), codes.end(), "ja-JP");
    const auto english = std::find(codes.begin(), codes.end(), "en-US");
    if (japanese != codes.end() && english != codes.end()) {
        models.firstIsJapanese = japanese < english;
        const std::string other = models.firstIsJapanese ? "eng" : "jpn";
        // An empty language list names the defaults without checking them;
        // without the other model's data its lines keep the first reading.
        if (installed(other)) {
            models.second = models.first;
            models.second->languages = other;
        }
    }
    return models;
}

}  // namespace

const std::vector<LanguageData>& languageTable() {
    // The Japanese model is trained on Japanese text with Latin words,
    // digits and punctuation in it, so it reads the Latin inside Japanese
    // lines; whole English lines it reads worse than the English model,
    // which the standard pass then uses for those lines alone.
    static const std::vector<LanguageData> table{
        {"ja-JP", "jpn", {"en-US"}},
        {"en-US", "eng", {}},
    };
    return table;
}

std::string engineLanguages(const TextRequest& request) {
    const auto& codes = request.recognitionLanguages.empty() ? defaultLanguages : request.recognitionLanguages;
    std::vector<const LanguageData*> loaded;
    std::string out;
    for (const std::string& code : codes) {
        const LanguageData* entry = entryFor(code);
        if (!entry) throw RecognizerError("no language data for \"" + code + "\"");
        const bool covered = std::any_of(loaded.begin(), loaded.end(), [&](const LanguageData* earlier) {
            return earlier->data == entry->data ||
                   std::find(earlier->alsoReads.begin(), earlier->alsoReads.end(), entry->code) !=
                       earlier->alsoReads.end();
        });
        if (covered) continue;
        loaded.push_back(entry);
        if (!out.empty()) out += '+';
        out += entry->data;
    }
    return out;
}

std::vector<std::string> supportedRecognitionLanguages(int64_t revision) {
    std::vector<std::string> out;
    if (std::find(supportedRevisions.begin(), supportedRevisions.end(), revision) == supportedRevisions.end()) {
        return out;
    }
    for (const LanguageData& entry : languageTable()) {
        if (installed(entry.data)) out.emplace_back(entry.code);
    }
    return out;
}

TextRequest request(const OCRSettings& settings) {
    if (settings.mode != OCRMode::standard || settings.preprocessing != "none") raise(ErrorCase::unsupportedMode);
    if (std::find(supportedRevisions.begin(), supportedRevisions.end(), settings.revision) ==
        supportedRevisions.end()) {
        raise(ErrorCase::unsupportedLanguage);
    }
    TextRequest r;
    r.recognitionLevel = TextRequest::RecognitionLevel::accurate;
    r.revision = settings.revision;
    if (!settings.languages.empty()) {
        const std::vector<std::string> supported = supportedRecognitionLanguages(settings.revision);
        for (const std::string& language : settings.languages) {
            if (std::find(supported.begin(), supported.end(), language) == supported.end()) {
                raise(ErrorCase::unsupportedLanguage);
            }
        }
    }
    r.recognitionLanguages = settings.languages;
    r.automaticallyDetectsLanguage = false;
    r.usesLanguageCorrection = settings.languageCorrection;
    r.customWords = settings.customWords;
    return r;
}

std::vector<RecognizedTextObservation> perform(const TextRequest& request, const RasterImage& image,
                                               uint32_t orientation, Reading reading) {
    if (!image) throw RecognizerError("no image to recognise");
    // Boxes are fractions of the page, so they need no mapping back when
    // the page is read resized.
    const GreyPage page = GreyPage::from(OCRGeometry::oriented(image, orientation)).forRecognition();
    return StandardPass::read(page, modelsFor(request), reading);
}

namespace {

// The standard pass, keeping the lines it read for a look at their shape.
PageResult standardReading(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                           std::vector<RecognizedTextObservation>& observations) {
    const auto start = std::chrono::steady_clock::now();
    const TextRequest textRequest = request(settings);
    observations = perform(textRequest, image, orientation);

    std::vector<TextRegion> regions;
    regions.reserve(observations.size());
    for (const RecognizedTextObservation& o : observations) {
        regions.emplace_back(o.text, o.confidence, o.boundingBox.x, o.boundingBox.y, o.boundingBox.width,
                             o.boundingBox.height, RegionKind::unknown);
    }
    const bool quarter = OCRGeometry::isQuarterTurn(orientation);
    const auto end = std::chrono::steady_clock::now();
    return PageResult(page, std::move(regions), std::chrono::duration<double>(end - start).count(),
                      quarter ? image.height() : image.width(), quarter ? image.width() : image.height(),
                      std::string(OCRRoute::standard));
}

}  // namespace

PageResult standardPass(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings) {
    std::vector<RecognizedTextObservation> observations;
    return standardReading(image, orientation, page, settings, observations);
}

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
        return standardReading(image, orientation, page, settings, lines);
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
