#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Geometry.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"

namespace velmora {

// What a handwritten line asks for: a change of the printed text, a note, or
// undecided.
enum class AnnotationInstructionClass { proofreadingInstruction, handwrittenNote, unknownInstruction };

std::string_view rawValue(AnnotationInstructionClass c);
template <>
std::optional<AnnotationInstructionClass> fromRaw<AnnotationInstructionClass>(std::string_view raw);
void to_json(Json& j, AnnotationInstructionClass c);
void from_json(const Json& j, AnnotationInstructionClass& c);

// The ladder of instruction rules; each rung switches more on. The rank is
// the position.
enum class AnnotationStage2Strategy {
    r1Baseline,
    contextualSignals,
    contextualComposition,
    conservativeRescue,
    conservativeComposition,
    r4NoteProtectedComposition,
    r4HighConfidenceComposition,
};

inline constexpr std::array<AnnotationStage2Strategy, 7> allAnnotationStage2Strategies{
    AnnotationStage2Strategy::r1Baseline,
    AnnotationStage2Strategy::contextualSignals,
    AnnotationStage2Strategy::contextualComposition,
    AnnotationStage2Strategy::conservativeRescue,
    AnnotationStage2Strategy::conservativeComposition,
    AnnotationStage2Strategy::r4NoteProtectedComposition,
    AnnotationStage2Strategy::r4HighConfidenceComposition,
};

std::string_view rawValue(AnnotationStage2Strategy s);
template <>
std::optional<AnnotationStage2Strategy> fromRaw<AnnotationStage2Strategy>(std::string_view raw);
void to_json(Json& j, AnnotationStage2Strategy s);
void from_json(const Json& j, AnnotationStage2Strategy& s);

// The page context of one handwritten line.
struct AnnotationStage2Features {
    bool nearbyStroke = false;
    bool targetProximity = false;
    bool marginPosition = false;
    bool geometrySupport = false;

    bool operator==(const AnnotationStage2Features&) const = default;
};

struct AnnotationStage2Item {
    std::string text;
    Rect box;  // page fractions, origin bottom-left
    AnnotationStage2Features features;
    AnnotationInstructionClass classification = AnnotationInstructionClass::unknownInstruction;

    bool operator==(const AnnotationStage2Item&) const = default;
};

// Decides which handwritten lines of a page are proofreading instructions,
// alone or together with their neighbours. Pure; characters are grapheme
// clusters.
namespace AnnotationStage2Classifier {

inline constexpr std::size_t maximumCompositionRegions = 3;
inline constexpr double targetDistance = 0.18;
inline constexpr double compositionDistance = 0.12;
inline constexpr std::size_t mostItems = 512;

// NFC; spaces and ideographic spaces removed; punctuation and white space
// trimmed from both ends.
std::string normalized(std::string_view text);

// Levenshtein distance over the characters of the normalised texts; limit +
// 1 as soon as it is sure to exceed the limit.
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t limit = 1);

AnnotationInstructionClass classify(std::string_view text, const AnnotationStage2Features& features,
                                    AnnotationStage2Strategy strategy);

// The items that are instructions, alone or composed in pairs (and, on the
// upper rungs, triples) of neighbouring lines. More than 512 items give
// none.
std::set<std::size_t> compositionIndices(const std::vector<AnnotationStage2Item>& items,
                                         AnnotationStage2Strategy strategy = AnnotationStage2Strategy::contextualSignals);

// The smallest gap from the box to any of the boxes (0 when they touch or
// overlap); infinity for none.
double distance(const Rect& box, const std::vector<Rect>& boxes);

}  // namespace AnnotationStage2Classifier
}  // namespace velmora
