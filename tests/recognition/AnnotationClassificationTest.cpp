#include <gtest/gtest.h>

#include "recognition/handwriting/AnnotationClassification.hpp"
#include "recognition/handwriting/AnnotationFilter.hpp"
#include "recognition/handwriting/AnnotationStage2.hpp"

using namespace velmora;
using AnnotationOCR::Features;
using Strategy = AnnotationClassificationStrategy;
using Reasons = std::vector<std::string>;

namespace {

Features flat(int64_t characters = 10) { return {0, 0, 0.02, 0.02, 0, false, characters}; }

}  // namespace

TEST(AnnotationClassification, ThresholdsOfEachStrategy) {
    struct Case {
        Strategy strategy;
        Features features;
        float confidence;
        RegionKind kind;
        Reasons reasons;
    };
    const std::vector<Case> cases{
        // Slant: 3.0 is enough for baseline only.
        {Strategy::baseline, {3.0, 0, 0.05, 0.05, 0, false, 3}, 0.9f, RegionKind::handwrittenCandidate,
         {"slanted-baseline"}},
        {Strategy::shortAnnotationRescue, {3.0, 0, 0.05, 0.05, 0, false, 3}, 0.9f, RegionKind::unknown,
         {"insufficient-separation"}},
        {Strategy::printedProtection, {5.0, 1.5, 0.05, 0.05, 0, false, 10}, 0.9f, RegionKind::unknown,
         {"insufficient-separation"}},
        {Strategy::printedProtection, {-5.0, 1.0, 0.05, 0.05, 0, false, 10}, 0.9f, RegionKind::handwrittenCandidate,
         {"slanted-baseline"}},
        // Irregular: 3 to 8 characters, both variations at their thresholds.
        {Strategy::baseline, {0, 0, 0.12, 0.18, 0, false, 3}, 0.9f, RegionKind::handwrittenCandidate,
         {"irregular-character-geometry"}},
        {Strategy::baseline, {0, 0, 0.12, 0.18, 0, false, 8}, 0.9f, RegionKind::handwrittenCandidate,
         {"irregular-character-geometry"}},
        {Strategy::baseline, {0, 0, 0.5, 0.5, 0, false, 9}, 0.9f, RegionKind::unknown, {"insufficient-separation"}},
        {Strategy::printedProtection, {0, 0, 0.13, 0.2, 0, false, 5}, 0.9f, RegionKind::unknown,
         {"insufficient-separation"}},
        // Printed: a small angle, a regular baseline and enough confidence.
        {Strategy::baseline, {1.5, 0, 0.099, 0.3, 0, false, 20}, 0.35f, RegionKind::printedCandidate,
         {"regular-baseline"}},
        {Strategy::baseline, {1.6, 0, 0.02, 0.02, 0, false, 20}, 0.9f, RegionKind::unknown,
         {"insufficient-separation"}},
        {Strategy::printedProtection, {2.0, 0, 0.02, 0.02, 0, false, 20}, 0.9f, RegionKind::printedCandidate,
         {"regular-baseline"}},
        {Strategy::baseline, {0.5, 0, 0.1, 0.02, 0, false, 20}, 0.9f, RegionKind::unknown,
         {"insufficient-separation"}},
        {Strategy::baseline, flat(), 0.34f, RegionKind::unknown, {"insufficient-separation"}},
        // The short-line rescue.
        {Strategy::shortAnnotationRescue, {4.2, 0, 0.02, 0.02, 0, false, 2}, 0.9f, RegionKind::handwrittenCandidate,
         {"slanted-baseline", "short-multiple-geometry-support"}},
        {Strategy::shortAnnotationRescue, {3.0, 0, 0.02, 0.06, 0, true, 4}, 0.9f, RegionKind::handwrittenCandidate,
         {"short-multiple-geometry-support", "nearby-nontext-stroke"}},
        {Strategy::shortAnnotationRescue, {3.0, 0, 0.04, 0.0, 0, true, 4}, 0.9f, RegionKind::handwrittenCandidate,
         {"short-multiple-geometry-support", "nearby-nontext-stroke"}},
        {Strategy::shortAnnotationRescue, {3.0, 0, 0.02, 0.06, 0, true, 5}, 0.9f, RegionKind::unknown,
         {"insufficient-separation", "nearby-nontext-stroke"}},
        {Strategy::shortAnnotationRescue, {3.0, 0.6, 0.02, 0.06, 0, true, 4}, 0.9f, RegionKind::unknown,
         {"insufficient-separation", "nearby-nontext-stroke"}},
        {Strategy::printedProtection, {4.2, 0, 0.02, 0.02, 0, false, 2}, 0.9f, RegionKind::handwrittenCandidate,
         {"slanted-baseline"}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const auto r = AnnotationOCR::classify(c.features, "テスト", c.confidence, true, c.strategy);
        EXPECT_EQ(r.kind, c.kind) << "case " << i;
        EXPECT_EQ(r.evidence.reasons, c.reasons) << "case " << i;
        EXPECT_EQ(r.evidence.version, "annotation-geometry-r4.0");
        EXPECT_EQ(r.evidence.angleDegrees, c.features.angle);
        EXPECT_EQ(r.evidence.angleUncertainty, c.features.angleUncertainty);
        EXPECT_EQ(r.evidence.nearbyStroke, c.features.nearbyStroke);
    }
    // The short rescue with a stroke sets the flag through the context.
    const auto rescued = AnnotationOCR::classify({3.0, 0, 0.02, 0.06, 0.7, true, 4}, "テスト", 0.9f, true,
                                                 Strategy::shortAnnotationRescue);
    EXPECT_TRUE(rescued.instruction);
    EXPECT_EQ(rescued.evidence.redFraction, 0.7);
    EXPECT_FALSE(AnnotationOCR::classify({3.0, 0, 0.02, 0.06, 0, true, 4}, "テスト", 0.9f, false,
                                         Strategy::shortAnnotationRescue)
                     .instruction);
}

TEST(AnnotationClassification, PriorityWordsAndTheInstructionFlag) {
    const Features slanted{6, 0, 0.02, 0.02, 0, false, 5};
    auto hit = [&](const std::string& text) {
        const auto r = AnnotationOCR::classify(slanted, text, 0.9f);
        const bool reason = std::find(r.evidence.reasons.begin(), r.evidence.reasons.end(),
                                      "priority-word-support-only") != r.evidence.reasons.end();
        EXPECT_EQ(reason, r.instruction) << text;
        return r.instruction;
    };
    EXPECT_TRUE(hit("OK"));
    EXPECT_TRUE(hit("ok"));
    EXPECT_TRUE(hit("OK!"));
    EXPECT_TRUE(hit("これで OK"));
    EXPECT_FALSE(hit("これでOK")) << "kana are letters: one run";
    EXPECT_FALSE(hit("BOOK"));
    EXPECT_FALSE(hit("OKです"));
    EXPECT_TRUE(hit("off"));
    EXPECT_FALSE(hit("OFFICE"));
    EXPECT_TRUE(hit("ここを修正"));
    EXPECT_TRUE(hit("右へ"));
    EXPECT_FALSE(hit("了解しました"));

    // Printed 修正: the reason, but no flag.
    const auto printed = AnnotationOCR::classify(flat(), "修正履歴の一覧", 0.9f);
    EXPECT_EQ(printed.kind, RegionKind::printedCandidate);
    EXPECT_EQ(printed.evidence.reasons, (Reasons{"regular-baseline", "priority-word-support-only"}));
    EXPECT_FALSE(printed.instruction);

    // A stroke alone: only with the context and a clear separation.
    const Features stroke{6, 0, 0.02, 0.02, 0, true, 5};
    EXPECT_TRUE(AnnotationOCR::classify(stroke, "なるほど", 0.9f, true).instruction);
    EXPECT_FALSE(AnnotationOCR::classify(stroke, "なるほど", 0.9f, false).instruction);
    const Features weakStroke{3.5, 0, 0.02, 0.02, 0, true, 5};
    EXPECT_FALSE(AnnotationOCR::classify(weakStroke, "なるほど", 0.9f, true).instruction);
    EXPECT_EQ(AnnotationOCR::classify(weakStroke, "なるほど", 0.9f, true).kind, RegionKind::handwrittenCandidate);
}

TEST(AnnotationStage2, NormalisingAndEditDistance) {
    using namespace AnnotationStage2Classifier;
    EXPECT_EQ(normalized(" 「右 へ」。\n"), "右へ");
    EXPECT_EQ(normalized("　ここ　を　直す　"), "ここを直す");
    EXPECT_EQ(normalized("、。！？ "), "");
    EXPECT_EQ(normalized("A・B"), "A・B") << "punctuation inside stays";
    EXPECT_EQ(editDistance("修正", "修正"), 0u);
    EXPECT_EQ(editDistance("修正する", "修正"), 2u) << "lengths 2 apart: limit + 1 at once";
    EXPECT_EQ(editDistance("修正する", "修正", 5), 2u);
    EXPECT_EQ(editDistance("差し換え", "差し替え"), 1u);
    EXPECT_EQ(editDistance("あいう", "かきく"), 2u) << "a row over the limit ends it";
    EXPECT_EQ(editDistance("あいう", "かきく", 3), 3u);

    EXPECT_TRUE(std::isinf(distance({0, 0, 0.1, 0.1}, {})));
    EXPECT_EQ(distance({0, 0, 0.2, 0.2}, {{0.1, 0.1, 0.3, 0.3}}), 0);
    EXPECT_DOUBLE_EQ(distance({0, 0, 0.1, 0.1}, {{0.4, 0.5, 0.1, 0.1}, {0.1, 0.5, 0.1, 0.1}}), 0.4);
    EXPECT_DOUBLE_EQ(distance({0, 0, 0.1, 0.1}, {{0.4, 0.5, 0.1, 0.1}}), 0.5);
}

TEST(AnnotationStage2, ClassifyOnEveryRung) {
    using namespace AnnotationStage2Classifier;
    using S = AnnotationStage2Strategy;
    using enum AnnotationInstructionClass;
    const AnnotationStage2Features none;
    const AnnotationStage2Features stroke{true, false, false, false};
    for (S s : allAnnotationStage2Strategies) {
        EXPECT_EQ(classify("、。 ", none, s), unknownInstruction) << rawValue(s);
        EXPECT_EQ(classify("よろしくお願いします", stroke, s), handwrittenNote) << rawValue(s);
        EXPECT_EQ(classify("参考まで", {true, true, true, true}, s), handwrittenNote) << rawValue(s);
    }
    EXPECT_EQ(classify("OK", none, S::r1Baseline), proofreadingInstruction);
    EXPECT_EQ(classify("ok", none, S::r1Baseline), proofreadingInstruction);
    EXPECT_EQ(classify("右へ", none, S::r1Baseline), proofreadingInstruction);
    EXPECT_EQ(classify("なるほど", {true, false, false, true}, S::r1Baseline), proofreadingInstruction);
    EXPECT_EQ(classify("なるほど", stroke, S::r1Baseline), unknownInstruction);
    EXPECT_EQ(classify("右へ", none, S::contextualSignals), proofreadingInstruction);
    // Seven characters that match nothing: s and g score 2; with t, 3.
    EXPECT_EQ(classify("あいうえおかき", {true, false, false, true}, S::contextualSignals), unknownInstruction);
    EXPECT_EQ(classify("あいうえおかき", {true, true, false, true}, S::contextualSignals), proofreadingInstruction);
    // A fuzzy edit word: one substitution away from 差し替え.
    EXPECT_EQ(classify("差し換え", {false, true, false, false}, S::contextualSignals), proofreadingInstruction);

    // The conservative rules, on their rungs only.
    EXPECT_EQ(classify("この行は不要", none, S::conservativeRescue), proofreadingInstruction);
    EXPECT_EQ(classify("この行は不要", none, S::contextualSignals), unknownInstruction);
    EXPECT_EQ(classify("見出しを寄せて", none, S::conservativeComposition), proofreadingInstruction);
    EXPECT_EQ(classify("不要です", {false, false, true, false}, S::conservativeRescue), proofreadingInstruction);
    // The r4 rules.
    EXPECT_EQ(classify("この部分を戻して", none, S::r4NoteProtectedComposition), proofreadingInstruction);
    EXPECT_EQ(classify("この部分を戻して", none, S::conservativeRescue), unknownInstruction);
    EXPECT_EQ(classify("確認しました", none, S::r4HighConfidenceComposition), handwrittenNote);
    EXPECT_EQ(classify("対応済み", none, S::r4NoteProtectedComposition), handwrittenNote);
    EXPECT_EQ(classify("対応済み", stroke, S::r4NoteProtectedComposition), unknownInstruction);
    EXPECT_EQ(classify("良い方向だと思います", none, S::r4HighConfidenceComposition), handwrittenNote);
    // The high-confidence rules: a stem ending in る beside a target.
    EXPECT_EQ(classify("日付を上げる", none, S::r4HighConfidenceComposition), proofreadingInstruction);
    EXPECT_EQ(classify("日付を上げる", none, S::r4NoteProtectedComposition), unknownInstruction);
    EXPECT_EQ(classify("日付を上げた", none, S::r4HighConfidenceComposition), unknownInstruction);
    EXPECT_EQ(classify("少し上げる", {false, true, false, false}, S::r4HighConfidenceComposition),
              proofreadingInstruction);
    EXPECT_EQ(classify("少し上げる", none, S::r4HighConfidenceComposition), unknownInstruction);
}

TEST(AnnotationStage2, Compositions) {
    using namespace AnnotationStage2Classifier;
    using S = AnnotationStage2Strategy;
    using enum AnnotationInstructionClass;
    auto item = [](std::string text, double x, AnnotationInstructionClass c = unknownInstruction,
                   AnnotationStage2Features f = {}) {
        return AnnotationStage2Item{std::move(text), {x, 0.5, 0.05, 0.03}, f, c};
    };
    EXPECT_EQ(compositionIndices({item("右へ", 0.1, proofreadingInstruction)}), (std::set<std::size_t>{0}));
    EXPECT_TRUE(compositionIndices({item("右へ", 0.1)}).empty());

    // "この部分" beside a stroke and "訂正": neither alone, together an
    // instruction; a pair 0.13 apart is too far; a note never joins.
    const AnnotationStage2Features stroke{true, false, false, false};
    EXPECT_EQ(classify("この部分", stroke, S::contextualSignals), unknownInstruction);
    EXPECT_EQ(classify("訂正", {}, S::contextualSignals), unknownInstruction);
    const std::vector<AnnotationStage2Item> pair{item("この部分", 0.1, unknownInstruction, stroke), item("訂正", 0.2)};
    EXPECT_EQ(compositionIndices(pair, S::contextualComposition), (std::set<std::size_t>{0, 1}));
    EXPECT_TRUE(compositionIndices({pair[0], item("訂正", 0.28)}, S::contextualComposition).empty());
    EXPECT_TRUE(compositionIndices({item("この部分", 0.1, handwrittenNote, stroke), item("訂正", 0.2)},
                                   S::contextualComposition)
                    .empty());

    // Three pieces without a context word: only a triple composes them, and
    // only on the rungs with triples.
    const std::vector<AnnotationStage2Item> three{item("なお", 0.1, unknownInstruction, {true, false, false, false}),
                                                  item("寄せ", 0.2), item("て", 0.3)};
    EXPECT_TRUE(compositionIndices(three, S::contextualComposition).empty());
    EXPECT_EQ(compositionIndices(three, S::r4HighConfidenceComposition), (std::set<std::size_t>{0, 1, 2}));
    EXPECT_EQ(compositionIndices(three, S::conservativeComposition), (std::set<std::size_t>{0, 1, 2}));
    std::vector<AnnotationStage2Item> noted = three;
    noted[1].classification = handwrittenNote;
    EXPECT_TRUE(compositionIndices(noted, S::r4HighConfidenceComposition).empty());

    EXPECT_TRUE(compositionIndices(std::vector<AnnotationStage2Item>(513, item("右へ", 0.1, proofreadingInstruction)))
                    .empty());
    EXPECT_EQ(compositionIndices(std::vector<AnnotationStage2Item>(512, item("右へ", 0.1, proofreadingInstruction)))
                  .size(),
              512u);
}

TEST(AnnotationFilter, ChoosesWhatIsShown) {
    const std::vector<TextRegion> regions{
        TextRegion("本文", 0.9f, 0, 0, 1, 1, RegionKind::printedCandidate),
        TextRegion("右へ", 0.9f, 0, 0, 1, 1, RegionKind::handwrittenCandidate, {}, {}, {}, true),
        TextRegion("メモ", 0.9f, 0, 0, 1, 1, RegionKind::handwrittenCandidate, {}, {}, {}, false),
        TextRegion("不明", 0.9f, 0, 0, 1, 1, RegionKind::unknown),
        TextRegion("印", 0.9f, 0, 0, 1, 1, RegionKind::handwrittenCandidate),
    };
    auto texts = [](const std::vector<TextRegion>& rs) {
        std::vector<std::string> out;
        for (const auto& r : rs) out.push_back(r.text);
        return out;
    };
    const AnnotationFilter all;
    EXPECT_EQ(all.key(), "true-false");
    EXPECT_EQ(all.regions(regions), regions);
    EXPECT_TRUE(all.regions({}).empty());
    EXPECT_EQ(texts(AnnotationFilter{false, false}.regions(regions)), (std::vector<std::string>{"本文", "不明"}));
    EXPECT_EQ(texts(AnnotationFilter{true, true}.regions(regions)), (std::vector<std::string>{"右へ"}));
    EXPECT_TRUE(AnnotationFilter({false, true}).regions(regions).empty());
    EXPECT_EQ((AnnotationFilter{false, true}.key()), "false-true");
    EXPECT_NE((AnnotationFilter{false, true}), AnnotationFilter{});
}
