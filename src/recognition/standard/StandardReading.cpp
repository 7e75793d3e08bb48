#include "recognition/standard/StandardReading.hpp"

#include <algorithm>
#include <chrono>

#include "recognition/engine/TesseractEngines.hpp"
#include "recognition/page/GreyPage.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/standard/StandardPass.hpp"

namespace velmora::OCREngine {

namespace {

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
    const auto& codes = languagesOf(request);
    const auto japanese = std::find(codes.begin(), codes.end(), "ja-JP");
    const auto english = std::find(codes.begin(), codes.end(), "en-US");
    if (japanese != codes.end() && english != codes.end()) {
        models.firstIsJapanese = japanese < english;
        const std::string other = models.firstIsJapanese ? "eng" : "jpn";
        // An empty language list names the defaults without checking them;
        // without the other model's data its lines keep the first reading.
        if (hasLanguageData(other)) {
            models.second = models.first;
            models.second->languages = other;
        }
    }
    return models;
}

}  // namespace

std::vector<RecognizedTextObservation> perform(const TextRequest& request, const RasterImage& image,
                                               uint32_t orientation, Reading reading) {
    if (!image) throw RecognizerError("no image to recognise");
    // Boxes are fractions of the page, so they need no mapping back when
    // the page is read resized.
    GreyPage::Grounds grounds = GreyPage::from(OCRGeometry::oriented(image, orientation)).darkGrounds();
    GreyPage page = grounds.rest.onOwnGrounds(grounds.boxes).forRecognition();
    if (page.resolution == 0 && !grounds.boxes.empty()) {
        // Nothing left to size the page by (a page in dark colours is one
        // ground): its letters are on the grounds.
        const GreyPage sized = grounds.letters.forRecognition();
        if (sized.resolution > 0) {
            if (sized.width != page.width || sized.height != page.height) {
                page = page.resized(sized.width, sized.height);
            }
            page.resolution = sized.resolution;
        }
    }
    grounds.rest = GreyPage{};
    return StandardPass::read(page, grounds, modelsFor(request), reading);
}

PageResult standardPass(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings,
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

PageResult standardPass(const RasterImage& image, uint32_t orientation, int64_t page, const OCRSettings& settings) {
    std::vector<RecognizedTextObservation> observations;
    return standardPass(image, orientation, page, settings, observations);
}

}  // namespace velmora::OCREngine
