#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "foundation/JSON.hpp"
#include "foundation/OCRMode.hpp"

namespace velmora {

// The product options every new piece of work starts from: output folders
// and naming, capture, print and OCR defaults. Stored inside the preferences
// and carried by the settings export file.
struct ProductDefaults {
    int64_t schemaVersion = 1;
    bool datedFolders = false;
    bool screenshotFolder = true;
    bool printFolder = true;
    bool ocrFolder = true;
    std::string naming = "site-title-date";
    std::string webMode = "mobile";
    int64_t captureScale = 1;
    int64_t waitSeconds = -1;
    std::string paper = "A4";
    bool landscape = false;
    double margin = 12;
    bool backgrounds = true;
    bool headerFooter = false;
    std::string printOutput = "both";
    OCRMode ocrMode = OCRMode::standard;
    bool handwriting = true;
    bool preserveLines = true;
    bool pageSeparators = true;
    bool combinedTXT = true;
    bool ocrAutoSave = false;

    // invalidInput for the first field outside its allowed set.
    void validate() const;
    // The output folder of one piece of work of `kind` ("Screenshots",
    // "Print", "OCR") below base. Pure path arithmetic.
    std::filesystem::path folder(const std::filesystem::path& base, std::string_view kind, Date date) const;

    bool operator==(const ProductDefaults&) const = default;
};

// Strict: every key is required with its plain type; no allowed set is
// applied (readers call validate()).
void to_json(Json& j, const ProductDefaults& d);
void from_json(const Json& j, ProductDefaults& d);

}  // namespace velmora
