#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recognition/engine/EngineIdentity.hpp"
#include "foundation/JSON.hpp"
#include "recognition/page/OCRTypes.hpp"

namespace velmora {

// How pages are recognised, and by what. Every queue input and job checkpoint
// keeps a copy, and a stored run is resumed only while its copy equals the
// current settings field by field; the fingerprints make a new build or a
// system update count as a change. The engine fields are stored identifiers
// and keep their values whatever recogniser runs underneath.
struct OCRSettings {
    OCRMode mode = OCRMode::standard;
    std::vector<std::string> languages{"ja-JP", "en-US"};
    int64_t revision = 3;
    double dpi = 150;
    bool languageCorrection = true;
    std::vector<std::string> customWords;
    std::string preprocessing = "none";
    std::string engine = "VNRecognizeTextRequest";
    std::string engineVersion = "phase0-1";
    std::string implementationSHA256 = EngineIdentity::sha256();
    std::string bundledCodeSHA256 = EngineIdentity::bundleSHA256();
    std::string osVersion = EngineIdentity::osVersion();

    // SHA-256 (lowercase hex) of the custom words joined by U+0000.
    std::string dictionaryHash() const;

    // All twelve fields; lists compare element by element in order.
    bool operator==(const OCRSettings&) const = default;
};

// All twelve keys are written and all are required when reading.
void to_json(Json& j, const OCRSettings& s);
void from_json(const Json& j, OCRSettings& s);

}  // namespace velmora
