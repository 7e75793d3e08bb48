#include "recognition/engine/OCRSettings.hpp"

#include "foundation/Digest.hpp"

namespace velmora {

std::string OCRSettings::dictionaryHash() const {
    std::string joined;
    for (std::size_t i = 0; i < customWords.size(); ++i) {
        if (i > 0) joined += '\0';
        joined += customWords[i];
    }
    return Digest::data(std::string_view(joined));
}

void to_json(Json& j, const OCRSettings& s) {
    j = Json::object();
    j["mode"] = s.mode;
    j["languages"] = s.languages;
    j["revision"] = s.revision;
    j["dpi"] = s.dpi;
    j["languageCorrection"] = s.languageCorrection;
    j["customWords"] = s.customWords;
    j["preprocessing"] = s.preprocessing;
    j["engine"] = s.engine;
    j["engineVersion"] = s.engineVersion;
    j["implementationSHA256"] = s.implementationSHA256;
    j["bundledCodeSHA256"] = s.bundledCodeSHA256;
    j["osVersion"] = s.osVersion;
}

void from_json(const Json& j, OCRSettings& s) {
    JSON::requireObject(j, "OCR settings");
    s.mode = JSON::require<OCRMode>(j, "mode");
    s.languages = JSON::require<std::vector<std::string>>(j, "languages");
    s.revision = JSON::requireInt(j, "revision");
    s.dpi = JSON::requireDouble(j, "dpi");
    s.languageCorrection = JSON::requireBool(j, "languageCorrection");
    s.customWords = JSON::require<std::vector<std::string>>(j, "customWords");
    s.preprocessing = JSON::requireString(j, "preprocessing");
    s.engine = JSON::requireString(j, "engine");
    s.engineVersion = JSON::requireString(j, "engineVersion");
    s.implementationSHA256 = JSON::requireString(j, "implementationSHA256");
    s.bundledCodeSHA256 = JSON::requireString(j, "bundledCodeSHA256");
    s.osVersion = JSON::requireString(j, "osVersion");
}

}  // namespace velmora
