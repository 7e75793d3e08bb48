#include "recognition/engine/TextRequest.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "foundation/BrindlexError.hpp"
#include "recognition/engine/EngineIdentity.hpp"

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

}  // namespace

bool hasLanguageData(std::string_view data) {
    const auto file = EngineIdentity::languageDataDirectory() / (std::string(data) + ".traineddata");
    std::error_code error;
    return std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), R_OK) == 0;
}

const std::vector<std::string>& languagesOf(const TextRequest& request) {
    return request.recognitionLanguages.empty() ? defaultLanguages : request.recognitionLanguages;
}

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
    std::vector<const LanguageData*> loaded;
    std::string out;
    for (const std::string& code : languagesOf(request)) {
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
        if (hasLanguageData(entry.data)) out.emplace_back(entry.code);
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

}  // namespace velmora::OCREngine
