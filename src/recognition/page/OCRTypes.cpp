#include "recognition/page/OCRTypes.hpp"

#include <limits>

namespace velmora {

namespace {

constexpr std::array<std::pair<RegionKind, std::string_view>, 3> kinds{{
    {RegionKind::printedCandidate, "printedCandidate"},
    {RegionKind::handwrittenCandidate, "handwrittenCandidate"},
    {RegionKind::unknown, "unknown"},
}};

// Present and not null: optional keys may be missing or null.
const Json* present(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

}  // namespace

std::string_view rawValue(RegionKind k) {
    for (const auto& [kind, raw] : kinds) {
        if (kind == k) return raw;
    }
    return {};
}

template <>
std::optional<RegionKind> fromRaw<RegionKind>(std::string_view raw) {
    for (const auto& [kind, name] : kinds) {
        if (name == raw) return kind;
    }
    return std::nullopt;
}

void to_json(Json& j, RegionKind k) { j = std::string(rawValue(k)); }

void from_json(const Json& j, RegionKind& k) {
    if (!j.is_string()) throw JSON::DecodeError("region kind: expected a string");
    auto parsed = fromRaw<RegionKind>(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("region kind: unknown value " + j.get<std::string>());
    k = *parsed;
}

std::vector<OCRSourceBox> TextRegion::displayBoxes() const {
    if (sourceBoxes) return *sourceBoxes;
    return {OCRSourceBox{x, y, width, height}};
}

void to_json(Json& j, const TextRegion& r) {
    j = Json::object();
    j["text"] = r.text;
    j["confidence"] = JSON::float32(r.confidence);
    j["x"] = r.x;
    j["y"] = r.y;
    j["width"] = r.width;
    j["height"] = r.height;
    j["kind"] = r.kind;
    JSON::putOptional(j, "sourceBoxes", r.sourceBoxes);
    JSON::putOptional(j, "verticalCandidates", r.verticalCandidates);
    JSON::putOptional(j, "annotationEvidence", r.annotationEvidence);
    JSON::putOptional(j, "proofreadingInstruction", r.proofreadingInstruction);
}

void from_json(const Json& j, TextRegion& r) {
    JSON::requireObject(j, "text region");
    r.text = JSON::requireString(j, "text");
    r.confidence = JSON::requireFloat(j, "confidence");
    r.x = JSON::requireDouble(j, "x");
    r.y = JSON::requireDouble(j, "y");
    r.width = JSON::requireDouble(j, "width");
    r.height = JSON::requireDouble(j, "height");
    r.kind = JSON::require<RegionKind>(j, "kind");
    r.sourceBoxes = JSON::optional<std::vector<OCRSourceBox>>(j, "sourceBoxes");
    r.verticalCandidates = JSON::optional<std::vector<VerticalResearch::Candidate>>(j, "verticalCandidates");
    r.annotationEvidence = JSON::optional<AnnotationEvidence>(j, "annotationEvidence");
    r.proofreadingInstruction = std::nullopt;
    if (present(j, "proofreadingInstruction")) r.proofreadingInstruction = JSON::requireBool(j, "proofreadingInstruction");
}

std::string PageResult::text() const {
    std::string out;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (i > 0) out += '\n';
        out += regions[i].text;
    }
    return out;
}

void to_json(Json& j, const PageResult& p) {
    j = Json::object();
    j["page"] = p.page;
    j["regions"] = p.regions;
    j["elapsedSeconds"] = p.elapsedSeconds;
    j["pixelWidth"] = p.pixelWidth;
    j["pixelHeight"] = p.pixelHeight;
    j["route"] = p.route;
    JSON::putOptional(j, "sourceOrientation", p.sourceOrientation);
    JSON::putOptional(j, "sourcePixelWidth", p.sourcePixelWidth);
    JSON::putOptional(j, "sourcePixelHeight", p.sourcePixelHeight);
    JSON::putOptional(j, "processingScale", p.processingScale);
    JSON::putOptional(j, "autoPresentation", p.autoPresentation);
}

void from_json(const Json& j, PageResult& p) {
    JSON::requireObject(j, "page result");
    p.page = JSON::requireInt(j, "page");
    p.regions = JSON::require<std::vector<TextRegion>>(j, "regions");
    p.elapsedSeconds = JSON::requireDouble(j, "elapsedSeconds");
    p.pixelWidth = JSON::requireInt(j, "pixelWidth");
    p.pixelHeight = JSON::requireInt(j, "pixelHeight");
    p.route = JSON::requireString(j, "route");
    p.sourceOrientation = std::nullopt;
    if (present(j, "sourceOrientation")) {
        const uint64_t v = JSON::requireUInt(j, "sourceOrientation");
        if (v > std::numeric_limits<uint32_t>::max()) {
            throw JSON::DecodeError("key \"sourceOrientation\": out of the 32-bit range");
        }
        p.sourceOrientation = static_cast<uint32_t>(v);
    }
    p.sourcePixelWidth = std::nullopt;
    if (present(j, "sourcePixelWidth")) p.sourcePixelWidth = JSON::requireInt(j, "sourcePixelWidth");
    p.sourcePixelHeight = std::nullopt;
    if (present(j, "sourcePixelHeight")) p.sourcePixelHeight = JSON::requireInt(j, "sourcePixelHeight");
    p.processingScale = std::nullopt;
    if (present(j, "processingScale")) p.processingScale = JSON::requireDouble(j, "processingScale");
    p.autoPresentation = JSON::optional<AutoPresentation>(j, "autoPresentation");
}

}  // namespace velmora
