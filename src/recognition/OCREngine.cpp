#include "recognition/OCREngine.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/AnnotationOCR.hpp"
#include "recognition/EngineIdentity.hpp"
#include "recognition/GreyPage.hpp"
#include "recognition/LineText.hpp"
#include "recognition/OCRGeometry.hpp"
#include "recognition/TesseractEngines.hpp"
#include "recognition/VerticalProduct.hpp"

namespace velmora::OCREngine {

namespace {

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

struct PixelBox {
    int left = 0, top = 0, right = 0, bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    void unite(const PixelBox& o) {
        if (o.empty()) return;
        if (empty()) {
            *this = o;
            return;
        }
        left = std::min(left, o.left);
        top = std::min(top, o.top);
        right = std::max(right, o.right);
        bottom = std::max(bottom, o.bottom);
    }
};

struct Normaliser {
    double width;
    double height;

    OCRSourceBox box(const PixelBox& b) const {
        return {b.left / width, 1 - b.bottom / height, (b.right - b.left) / width, (b.bottom - b.top) / height};
    }
    RecognizedTextObservation::Point point(double x, double y) const { return {x / width, 1 - y / height}; }
};

float fraction(float percent) { return std::clamp(percent / 100.0f, 0.0f, 1.0f); }

std::string takeText(char* text) {
    std::unique_ptr<char[]> owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

// One line as Tesseract reports it, before its text is assembled.
struct PendingLine {
    float confidence = 0;
    PixelBox lineBox;
    bool hasBaseline = false;
    int baseline[4] = {0, 0, 0, 0};
    std::vector<LineText::Word> words;
    // Per symbol of all words, in order.
    std::vector<std::string> symbolTexts;
    std::vector<PixelBox> symbolBoxes;
    std::vector<float> symbolConfidences;
};

void finish(PendingLine& line, const Normaliser& n, std::vector<RecognizedTextObservation>& out) {
    const LineText::Assembled assembled = LineText::join(line.words);
    if (assembled.text.empty()) return;
    RecognizedTextObservation o;
    o.text = assembled.text;
    o.confidence = line.confidence;
    PixelBox box = line.lineBox;
    if (box.empty()) {
        for (std::size_t i = 0; i < assembled.symbolRanges.size(); ++i) {
            if (assembled.symbolRanges[i].length > 0) box.unite(line.symbolBoxes[i]);
        }
    }
    o.boundingBox = n.box(box);

    double x1 = box.left, y1 = box.bottom, x2 = box.right, y2 = box.bottom;
    if (line.hasBaseline && line.baseline[2] != line.baseline[0]) {
        x1 = line.baseline[0];
        y1 = line.baseline[1];
        x2 = line.baseline[2];
        y2 = line.baseline[3];
    }
    o.baselineStart = n.point(x1, y1);
    o.baselineEnd = n.point(x2, y2);
    // The top edge has the baseline's slope and touches the box's top.
    const double slope = (o.baselineEnd.y - o.baselineStart.y) / (o.baselineEnd.x - o.baselineStart.x);
    const double left = o.boundingBox.x;
    const double right = o.boundingBox.x + o.boundingBox.width;
    const double top = o.boundingBox.y + o.boundingBox.height;
    const double rise = slope * (right - left);
    o.topLeft = {left, rise > 0 ? top - rise : top};
    o.topRight = {right, rise > 0 ? top : top + rise};

    for (std::size_t i = 0; i < assembled.symbolRanges.size(); ++i) {
        const TextRange range = assembled.symbolRanges[i];
        if (range.length == 0) continue;
        RecognizedCharacter c;
        c.range = range;
        c.text = line.symbolTexts[i];
        c.box = n.box(line.symbolBoxes[i]);
        c.confidence = line.symbolConfidences[i];
        o.characters.push_back(std::move(c));
    }
    out.push_back(std::move(o));
}

std::vector<RecognizedTextObservation> read(tesseract::TessBaseAPI& api, int width, int height) {
    std::vector<RecognizedTextObservation> out;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return out;
    const Normaliser n{double(width), double(height)};
    constexpr auto line = tesseract::RIL_TEXTLINE;
    constexpr auto word = tesseract::RIL_WORD;
    constexpr auto symbol = tesseract::RIL_SYMBOL;

    it->Begin();
    PendingLine pending;
    bool open = false;
    do {
        if (!open || it->IsAtBeginningOf(line)) {
            if (open) finish(pending, n, out);
            pending = PendingLine{};
            open = true;
            pending.confidence = fraction(it->Confidence(line));
            it->BoundingBox(line, &pending.lineBox.left, &pending.lineBox.top, &pending.lineBox.right,
                            &pending.lineBox.bottom);
            pending.hasBaseline = it->Baseline(line, &pending.baseline[0], &pending.baseline[1],
                                               &pending.baseline[2], &pending.baseline[3]);
        }
        if (pending.words.empty() || it->IsAtBeginningOf(word)) {
            LineText::Word w;
            w.blanksBefore = it->BlanksBeforeWord();
            pending.words.push_back(std::move(w));
        }
        if (it->Empty(symbol)) continue;
        PixelBox b;
        it->BoundingBox(symbol, &b.left, &b.top, &b.right, &b.bottom);
        std::string text = takeText(it->GetUTF8Text(symbol));
        pending.words.back().symbols.push_back(text);
        pending.symbolTexts.push_back(std::move(text));
        pending.symbolBoxes.push_back(b);
        pending.symbolConfidences.push_back(fraction(it->Confidence(symbol)));
    } while (it->Next(symbol));
    if (open) finish(pending, n, out);
    return out;
}

}  // namespace

const std::vector<LanguageData>& languageTable() {
    // The Japanese model is trained on Japanese text with Latin words,
    // digits and punctuation in it, and reads English as well as the English
    // model does.
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
                                               uint32_t orientation) {
    if (!image) throw RecognizerError("no image to recognise");
    tesseract::TessBaseAPI& api = TesseractEngines::engine(configurationFor(request));
    // Boxes are fractions of the page, so they need no mapping back when
    // the page is read resized.
    const GreyPage page = GreyPage::from(OCRGeometry::oriented(image, orientation)).forRecognition();

    // The engine is reused for the next page: whatever happens here, it
    // lets go of this page's image and results.
    struct ClearAfter {
        tesseract::TessBaseAPI& api;
        ~ClearAfter() { api.Clear(); }
    } clear{api};
    api.SetImage(page.pixels.data(), page.width, page.height, 1, page.width);
    if (page.resolution > 0) api.SetSourceResolution(page.resolution);
    if (api.Recognize(nullptr) != 0) throw RecognizerError("Tesseract failed to recognise the page");
    return read(api, page.width, page.height);
}

PageResult recognize(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
                     const std::function<bool()>& cancelled) {
    switch (settings.mode) {
        case OCRMode::standard:
            break;
        case OCRMode::handwriting:
            return AnnotationOCR::recognize(image, orientation, page, settings, cancelled, true,
                                            AnnotationOCR::productStrategy, AnnotationOCR::productStage2Strategy);
        case OCRMode::vertical:
            return VerticalProduct::recognize(image, orientation, page, settings, cancelled);
        case OCRMode::automatic:
            // This mode has a recogniser of its own and never falls back to
            // the standard pass; while it is not part of the build the mode
            // is refused.
            raise(ErrorCase::unsupportedMode);
    }
    // The standard pass is one uninterruptible run and does not poll
    // cancelled.

    const auto start = std::chrono::steady_clock::now();
    const TextRequest textRequest = request(settings);
    const std::vector<RecognizedTextObservation> observations = perform(textRequest, image, orientation);

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

}  // namespace velmora::OCREngine
