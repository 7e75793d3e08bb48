#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "recognition/page/RecognitionRecords.hpp"

namespace velmora {

// Which thresholds the line classification uses, and whether short lines may
// be rescued as handwriting.
enum class AnnotationClassificationStrategy { baseline, printedProtection, shortAnnotationRescue };

inline constexpr std::array<AnnotationClassificationStrategy, 3> allAnnotationClassificationStrategies{
    AnnotationClassificationStrategy::baseline, AnnotationClassificationStrategy::printedProtection,
    AnnotationClassificationStrategy::shortAnnotationRescue};

std::string_view rawValue(AnnotationClassificationStrategy s);
template <>
std::optional<AnnotationClassificationStrategy> fromRaw<AnnotationClassificationStrategy>(std::string_view raw);
void to_json(Json& j, AnnotationClassificationStrategy s);
void from_json(const Json& j, AnnotationClassificationStrategy& s);

// The line classification of the handwriting mode: printed, handwritten or
// undecided, from a line's measured geometry, its text and its confidence.
namespace AnnotationOCR {

inline constexpr std::string_view version = AnnotationEvidence::currentVersion;

// The words that mark a line as a possible instruction on sight.
inline constexpr std::array<std::string_view, 12> priorityTerms{
    "OK", "OFF", "修正", "削除", "追加", "変更", "大きく", "小さく", "右へ", "左へ", "上へ", "下へ"};

// What is measured of one line.
struct Features {
    double angle = 0;  // degrees, positive rising to the right
    double angleUncertainty = 0;
    double baselineVariation = 0;  // relative to the line height
    double heightVariation = 0;    // relative to the line height
    double redFraction = 0;
    bool nearbyStroke = false;
    int64_t characterCount = 0;

    bool operator==(const Features&) const = default;
};

struct Classification {
    RegionKind kind = RegionKind::unknown;
    bool instruction = false;
    AnnotationEvidence evidence;
};

// Whether the text holds the word: "OK" and "OFF" only as a whole word (the
// upper-cased text cut into maximal runs of letters, kana and kanji being
// letters), any other word as a substring.
bool termMatches(std::string_view text, std::string_view term);

// Pure; never fails. The instruction flag is set only for handwritten
// lines.
Classification classify(const Features& features, std::string_view text, float confidence, bool useContext = true,
                        AnnotationClassificationStrategy strategy = AnnotationClassificationStrategy::baseline);

}  // namespace AnnotationOCR
}  // namespace velmora
