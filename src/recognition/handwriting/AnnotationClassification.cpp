#include "recognition/handwriting/AnnotationClassification.hpp"

#include <cmath>

#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

constexpr std::array<std::pair<AnnotationClassificationStrategy, std::string_view>, 3> strategyNames{{
    {AnnotationClassificationStrategy::baseline, "baseline"},
    {AnnotationClassificationStrategy::printedProtection, "printedProtection"},
    {AnnotationClassificationStrategy::shortAnnotationRescue, "shortAnnotationRescue"},
}};

struct Thresholds {
    double slant;
    double irregularBaseline;
    double irregularHeight;
    double printedAngle;
    bool rescue;
};

Thresholds thresholdsOf(AnnotationClassificationStrategy s) {
    switch (s) {
        case AnnotationClassificationStrategy::baseline:
            return {3.0, 0.12, 0.18, 1.5, false};
        case AnnotationClassificationStrategy::printedProtection:
            return {4.0, 0.14, 0.2, 2.0, false};
        case AnnotationClassificationStrategy::shortAnnotationRescue:
            return {4.0, 0.14, 0.2, 2.0, true};
    }
    return {3.0, 0.12, 0.18, 1.5, false};
}

constexpr int64_t irregularFewest = 3;
constexpr int64_t irregularMost = 8;
constexpr double printedBaselineBelow = 0.1;
constexpr float printedConfidence = 0.35f;
constexpr int64_t rescueMost = 4;
constexpr double rescueSeparation = 2.5;
constexpr double rescueAngle = 4.0;
constexpr double rescueBaseline = 0.04;
constexpr double rescueHeight = 0.06;
constexpr double contextSeparation = 4.0;

}  // namespace

std::string_view rawValue(AnnotationClassificationStrategy s) {
    for (const auto& [value, name] : strategyNames) {
        if (value == s) return name;
    }
    return "baseline";
}

template <>
std::optional<AnnotationClassificationStrategy> fromRaw<AnnotationClassificationStrategy>(std::string_view raw) {
    for (const auto& [value, name] : strategyNames) {
        if (name == raw) return value;
    }
    return std::nullopt;
}

void to_json(Json& j, AnnotationClassificationStrategy s) { j = std::string(rawValue(s)); }

void from_json(const Json& j, AnnotationClassificationStrategy& s) {
    if (!j.is_string()) throw JSON::DecodeError("annotation strategy: expected a string");
    const auto value = fromRaw<AnnotationClassificationStrategy>(j.get_ref<const std::string&>());
    if (!value) throw JSON::DecodeError("annotation strategy: unknown value");
    s = *value;
}

namespace AnnotationOCR {

bool termMatches(std::string_view text, std::string_view term) {
    if (term == "OK" || term == "OFF") {
        const std::string upper = Unicode::uppercased(text);
        std::string run;
        for (char32_t c : Unicode::scalars(upper)) {
            if (Unicode::isLetter(c)) {
                Unicode::appendScalar(run, c);
                continue;
            }
            if (run == term) return true;
            run.clear();
        }
        return run == term;
    }
    return text.find(term) != std::string_view::npos;
}

Classification classify(const Features& f, std::string_view text, float confidence, bool useContext,
                        AnnotationClassificationStrategy strategy) {
    const Thresholds t = thresholdsOf(strategy);
    const double a = std::fabs(f.angle);
    const double separation = a - f.angleUncertainty;

    const bool slanted = separation >= t.slant;
    const bool irregular = f.characterCount >= irregularFewest && f.characterCount <= irregularMost &&
                           f.baselineVariation >= t.irregularBaseline && f.heightVariation >= t.irregularHeight;
    bool support = false;
    if (t.rescue && f.characterCount <= rescueMost && separation >= rescueSeparation) {
        support = a >= rescueAngle ||
                  (f.nearbyStroke && (f.baselineVariation >= rescueBaseline || f.heightVariation >= rescueHeight));
    }

    Classification c;
    std::vector<std::string>& reasons = c.evidence.reasons;
    if (slanted) reasons.emplace_back("slanted-baseline");
    if (irregular) reasons.emplace_back("irregular-character-geometry");
    if (support) reasons.emplace_back("short-multiple-geometry-support");
    if (support || slanted || irregular) {
        c.kind = RegionKind::handwrittenCandidate;
    } else if (a <= t.printedAngle && f.baselineVariation < printedBaselineBelow && confidence >= printedConfidence) {
        c.kind = RegionKind::printedCandidate;
        reasons.emplace_back("regular-baseline");
    } else {
        c.kind = RegionKind::unknown;
        reasons.emplace_back("insufficient-separation");
    }

    bool priorityHit = false;
    for (std::string_view term : priorityTerms) {
        if (termMatches(text, term)) {
            priorityHit = true;
            reasons.emplace_back("priority-word-support-only");
            break;
        }
    }
    if (f.nearbyStroke) reasons.emplace_back("nearby-nontext-stroke");

    const bool flag =
        priorityHit || (f.nearbyStroke && useContext && (irregular || support || separation >= contextSeparation));
    c.instruction = flag && c.kind == RegionKind::handwrittenCandidate;

    c.evidence.version = std::string(version);
    c.evidence.angleDegrees = f.angle;
    c.evidence.angleUncertainty = f.angleUncertainty;
    c.evidence.baselineVariation = f.baselineVariation;
    c.evidence.heightVariation = f.heightVariation;
    c.evidence.redFraction = f.redFraction;
    c.evidence.nearbyStroke = f.nearbyStroke;
    return c;
}

}  // namespace AnnotationOCR
}  // namespace velmora
