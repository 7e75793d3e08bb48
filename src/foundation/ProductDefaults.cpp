#include "foundation/ProductDefaults.hpp"

#include <algorithm>
#include <initializer_list>

#include "foundation/BrindlexError.hpp"
#include "foundation/DateFormat.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

template <typename T>
bool oneOf(const T& v, std::initializer_list<T> allowed) {
    return std::find(allowed.begin(), allowed.end(), v) != allowed.end();
}

void require(bool ok) {
    if (!ok) raise(ErrorCase::invalidInput);
}

}  // namespace

void ProductDefaults::validate() const {
    require(schemaVersion == 1);
    require(oneOf<std::string>(naming, {"site-title-date", "title-date", "date"}));
    require(oneOf<std::string>(webMode, {"mobile", "current"}));
    require(oneOf<int64_t>(captureScale, {1, 2}));
    require(oneOf<int64_t>(waitSeconds, {-1, 0, 1, 3, 5, 10}));
    require(oneOf<std::string>(paper, {"A4", "A3", "JIS B5", "Letter"}));
    require(oneOf<double>(margin, {0, 5, 12}));
    require(oneOf<std::string>(printOutput, {"pdf", "png", "both"}));
}

std::filesystem::path ProductDefaults::folder(const std::filesystem::path& base, std::string_view kind,
                                              Date date) const {
    std::filesystem::path out = base;
    // The day is the day in Tokyo, whatever the machine's zone.
    if (datedFolders) out /= DateFormat::format(date, "yyyy-MM-dd", DateFormat::tokyo);
    if (kind == "Screenshots" && screenshotFolder) return out / "Screenshots";
    if (kind == "Print" && printFolder) return out / "Print";
    if (kind == "OCR" && ocrFolder) return out / "OCR";
    return out;
}

void to_json(Json& j, const ProductDefaults& d) {
    j = Json::object();
    j["schemaVersion"] = d.schemaVersion;
    j["datedFolders"] = d.datedFolders;
    j["screenshotFolder"] = d.screenshotFolder;
    j["printFolder"] = d.printFolder;
    j["ocrFolder"] = d.ocrFolder;
    j["naming"] = d.naming;
    j["webMode"] = d.webMode;
    j["captureScale"] = d.captureScale;
    j["waitSeconds"] = d.waitSeconds;
    j["paper"] = d.paper;
    j["landscape"] = d.landscape;
    j["margin"] = d.margin;
    j["backgrounds"] = d.backgrounds;
    j["headerFooter"] = d.headerFooter;
    j["printOutput"] = d.printOutput;
    j["ocrMode"] = d.ocrMode;
    j["handwriting"] = d.handwriting;
    j["preserveLines"] = d.preserveLines;
    j["pageSeparators"] = d.pageSeparators;
    j["combinedTXT"] = d.combinedTXT;
    j["ocrAutoSave"] = d.ocrAutoSave;
}

void from_json(const Json& j, ProductDefaults& d) {
    JSON::requireObject(j, "product");
    ProductDefaults r;
    r.schemaVersion = JSON::requireInt(j, "schemaVersion");
    r.datedFolders = JSON::requireBool(j, "datedFolders");
    r.screenshotFolder = JSON::requireBool(j, "screenshotFolder");
    r.printFolder = JSON::requireBool(j, "printFolder");
    r.ocrFolder = JSON::requireBool(j, "ocrFolder");
    r.naming = JSON::requireString(j, "naming");
    r.webMode = JSON::requireString(j, "webMode");
    r.captureScale = JSON::requireInt(j, "captureScale");
    r.waitSeconds = JSON::requireInt(j, "waitSeconds");
    r.paper = JSON::requireString(j, "paper");
    r.landscape = JSON::requireBool(j, "landscape");
    r.margin = JSON::requireDouble(j, "margin");
    r.backgrounds = JSON::requireBool(j, "backgrounds");
    r.headerFooter = JSON::requireBool(j, "headerFooter");
    r.printOutput = JSON::requireString(j, "printOutput");
    r.ocrMode = JSON::require<OCRMode>(j, "ocrMode");
    r.handwriting = JSON::requireBool(j, "handwriting");
    r.preserveLines = JSON::requireBool(j, "preserveLines");
    r.pageSeparators = JSON::requireBool(j, "pageSeparators");
    r.combinedTXT = JSON::requireBool(j, "combinedTXT");
    r.ocrAutoSave = JSON::requireBool(j, "ocrAutoSave");
    d = std::move(r);
}

}  // namespace velmora
