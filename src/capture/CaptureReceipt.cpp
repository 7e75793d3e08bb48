#include "capture/CaptureReceipt.hpp"

#include "foundation/BrindlexError.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

namespace {

bool scaledEquals(int64_t css, int64_t scale, int64_t pixels) {
    int64_t product = 0;
    return !__builtin_mul_overflow(css, scale, &product) && product == pixels;
}

}  // namespace

std::vector<std::filesystem::path> CaptureReceipt::orderedFiles(const std::filesystem::path& folder) const {
    if (parts.empty()) raise(ErrorCase::renderFailed);
    // Opened at the first file, so a receipt that is wrong in its first part
    // says so before any file error does.
    std::optional<SecureDirectory> directory;
    std::vector<std::filesystem::path> files;
    files.reserve(parts.size());
    int64_t cursor = 0;
    for (const auto& part : parts) {
        if (part.yCSS != cursor || part.heightCSS < 1) raise(ErrorCase::renderFailed);
        if (!SecureDirectory::validLeaf(part.file)) raise(ErrorCase::renderFailed);
        if (!scaledEquals(widthCSS, scale, part.widthPixels) || !scaledEquals(part.heightCSS, scale, part.heightPixels)) {
            raise(ErrorCase::renderFailed);
        }
        if (__builtin_add_overflow(cursor, part.heightCSS, &cursor)) raise(ErrorCase::renderFailed);
        if (!directory) directory.emplace(folder, false);
        if (directory->stamp(part.file).sha256 != part.sha256) raise(ErrorCase::sourceChanged);
        files.push_back(folder / part.file);
    }
    if (cursor != heightCSS) raise(ErrorCase::renderFailed);
    return files;
}

void to_json(Json& j, const CapturePart& p) {
    j = Json::object();
    j["file"] = p.file;
    j["yCSS"] = p.yCSS;
    j["heightCSS"] = p.heightCSS;
    j["widthPixels"] = p.widthPixels;
    j["heightPixels"] = p.heightPixels;
    j["sha256"] = p.sha256;
}

void from_json(const Json& j, CapturePart& p) {
    JSON::requireObject(j, "capture part");
    p.file = JSON::requireString(j, "file");
    p.yCSS = JSON::requireInt(j, "yCSS");
    p.heightCSS = JSON::requireInt(j, "heightCSS");
    p.widthPixels = JSON::requireInt(j, "widthPixels");
    p.heightPixels = JSON::requireInt(j, "heightPixels");
    p.sha256 = JSON::requireString(j, "sha256");
}

void to_json(Json& j, const CaptureReceipt& r) {
    j = Json::object();
    j["widthCSS"] = r.widthCSS;
    j["heightCSS"] = r.heightCSS;
    j["scale"] = r.scale;
    JSON::putOptional(j, "splitReason", r.splitReason);
    j["parts"] = r.parts;
    JSON::putOptional(j, "memoryPlan", r.memoryPlan);
    JSON::putOptional(j, "xCSS", r.xCSS);
    JSON::putOptional(j, "plannedHeightCSS", r.plannedHeightCSS);
}

void from_json(const Json& j, CaptureReceipt& r) {
    JSON::requireObject(j, "capture receipt");
    r.widthCSS = JSON::requireInt(j, "widthCSS");
    r.heightCSS = JSON::requireInt(j, "heightCSS");
    r.scale = JSON::requireInt(j, "scale");
    r.splitReason.reset();
    if (auto it = j.find("splitReason"); it != j.end() && !it->is_null()) r.splitReason = JSON::requireString(j, "splitReason");
    r.parts = JSON::require<std::vector<CapturePart>>(j, "parts");
    r.memoryPlan.reset();
    if (auto it = j.find("memoryPlan"); it != j.end() && !it->is_null()) {
        JSON::requireObject(*it, "memory plan");
        std::map<std::string, int64_t> plan;
        for (auto entry = it->begin(); entry != it->end(); ++entry) plan[entry.key()] = JSON::requireInt(*it, entry.key());
        r.memoryPlan = std::move(plan);
    }
    r.xCSS.reset();
    if (auto it = j.find("xCSS"); it != j.end() && !it->is_null()) r.xCSS = JSON::requireInt(j, "xCSS");
    r.plannedHeightCSS.reset();
    if (auto it = j.find("plannedHeightCSS"); it != j.end() && !it->is_null()) {
        r.plannedHeightCSS = JSON::requireInt(j, "plannedHeightCSS");
    }
}

}  // namespace velmora
