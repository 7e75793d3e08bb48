// A page read in the single mode of the other orientation is refused with
// the reason that names the mode that reads it; a page of both kinds, and a
// page read well, are read as ever, and the automatic mode reads them all.
#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/automatic/ModeFit.hpp"
#include "recognition/OCREngine.hpp"
#include "support/EvaluationPages.hpp"
#include "support/MixedPages.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;

namespace {

const std::vector<std::string> prose{
    "川の流域では、雨の降り方と土地の使われ方によって、洪水の起こりやすさが大きく変わる。上流の森林は雨水を"
    "ゆっくりと地下へ送り、中流の遊水地は増えた水を一時的にため、下流の堤防と排水機場が市街地を守る。",
    "港の朝は早い。まだ暗いうちから漁船が戻り、岸壁には箱を積んだ台車が並ぶ。競りが始まると、買い手たちは"
    "指の形で値を示し、数分のうちにその日の相場が決まっていく。",
    "時計の修理を始めて四十年になる祖父は、分解した部品を必ず左から順に並べる。ねじ一本の向きまで覚えて"
    "おくためだと言い、孫にも同じやり方を教えている。",
};

OCRSettings in(OCRMode mode) {
    OCRSettings s;
    s.mode = mode;
    return s;
}

PageResult read(const RasterImage& image, OCRMode mode) {
    return OCREngine::recognize(image, 1, 1, in(mode), [] { return false; });
}

std::string drawnText(const test::TextPage& page) {
    std::string out;
    for (const test::DrawnLine& line : page.lines) out += line.text;
    return out;
}

std::string drawnText(const test::VerticalPage& page) {
    std::string out;
    for (const test::DrawnColumn& column : page.columns) out += column.text;
    return out;
}

double errorRate(const std::string& drawn, const PageResult& result) {
    return test::characterErrorRate(test::withoutWhiteSpace(drawn), test::withoutWhiteSpace(result.text()));
}

// A line of characters one beside the next, or a character's width apart.
RecognizedTextObservation line(int characters, double step) {
    RecognizedTextObservation o;
    o.confidence = 0.9f;
    for (int k = 0; k < characters; ++k) {
        RecognizedCharacter c;
        c.text = "字";
        c.box = {0.1 + k * step, 0.5, 0.02, 0.02};
        o.characters.push_back(c);
    }
    return o;
}

}  // namespace

TEST(ModeFit, ReadingsAcrossTheGrainStandApart) {
    // On a page of 1000 × 1000 pixels, characters 20 pixels wide and tall:
    // set solid (2 pixels apart), or a line's spacing (16 pixels) apart.
    const ModeFit::Reading solid = ModeFit::ofLines({line(10, 0.022)}, 1000, 1000);
    EXPECT_EQ(solid.characters, 10u);
    EXPECT_NEAR(solid.confidence, 0.9, 1e-6);
    EXPECT_DOUBLE_EQ(solid.solid, 1.0);
    const ModeFit::Reading apart = ModeFit::ofLines({line(10, 0.036)}, 1000, 1000);
    EXPECT_DOUBLE_EQ(apart.solid, 0.0);
    EXPECT_TRUE(ModeFit::poor(apart, 10));
    EXPECT_FALSE(ModeFit::poor(solid, 10));
    EXPECT_TRUE(ModeFit::good(solid, 20));
    // Read to under a tenth of the ink's characters, or mostly unsure.
    EXPECT_TRUE(ModeFit::poor(solid, 101));
    ModeFit::Reading unsure = solid;
    unsure.confidence = 0.4;
    EXPECT_TRUE(ModeFit::poor(unsure, 10));
    EXPECT_FALSE(ModeFit::good(solid, 21));

    // A column of glyphs one below the next, top to bottom.
    std::vector<OCRSourceBox> glyphs;
    for (int k = 0; k < 6; ++k) glyphs.push_back({0.5, 0.8 - k * 0.022, 0.02, 0.02});
    TextRegion column("春はあけぼの", 0.9f, 0.5, 0.69, 0.02, 0.13, RegionKind::unknown, glyphs);
    const ModeFit::Reading down = ModeFit::ofColumns({column}, 1000, 1000);
    EXPECT_EQ(down.characters, 6u);
    EXPECT_DOUBLE_EQ(down.solid, 1.0);
}

TEST(ModeFit, AHorizontalPageInTheVerticalModeNamesTheStandardMode) {
    // Lines 1.7 sizes apart, as a page of prose is set.
    const test::TextPage page = test::renderParagraphs(
        {.width = 1240, .height = 1000, .pixelSize = 30, .left = 100, .top = 100, .lineAdvance = 1.7}, prose);
    try {
        const PageResult result = read(page.image, OCRMode::vertical);
        ADD_FAILURE() << "read as vertical text: \"" << result.text() << "\"";
    } catch (const BrindlexError& e) {
        EXPECT_EQ(e.errorCase(), ErrorCase::looksHorizontal);
        EXPECT_STREQ(e.what(), "横書きの原稿のようです。認識モードを「標準」か「自動」にしてください。");
    }
    EXPECT_LE(errorRate(drawnText(page), read(page.image, OCRMode::standard)), 0.03);
    EXPECT_LE(errorRate(drawnText(page), read(page.image, OCRMode::automatic)), 0.03);
}

TEST(ModeFit, AVerticalPageInTheStandardModeNamesTheVerticalMode) {
    const test::VerticalPage page = test::renderVerticalParagraphs(
        {.width = 1240, .height = 1000, .pixelSize = 34, .right = 80, .top = 80, .columnAdvance = 1.7}, prose);
    // And a small image of two columns, too narrow for the page's columns
    // to stand out as such.
    const test::VerticalPage small = test::renderColumns(
        {.width = 290, .height = 1180, .pixelSize = 50, .right = 40, .top = 40},
        {"春はあけぼの。やうやう白く", "なりゆく山ぎは、少しあかりて"});
    for (const test::VerticalPage* p : {&page, &small}) {
        try {
            const PageResult result = read(p->image, OCRMode::standard);
            ADD_FAILURE() << "read as horizontal text: \"" << result.text() << "\"";
        } catch (const BrindlexError& e) {
            EXPECT_EQ(e.errorCase(), ErrorCase::looksVertical);
            EXPECT_STREQ(e.what(), "縦書きの原稿のようです。認識モードを「縦書き」か「自動」にしてください。");
        }
        EXPECT_LE(errorRate(drawnText(*p), read(p->image, OCRMode::vertical)), 0.03);
        EXPECT_LE(errorRate(drawnText(*p), read(p->image, OCRMode::automatic)), 0.03);
    }
}

// Two tiers, the lower one short, under the upper tier's first columns and
// half a column aside from them: the rows read across the lower tier's few
// columns are no line of horizontal text beside the upper tier's columns.
TEST(ModeFit, ATwoTierVerticalPageInTheStandardModeNamesTheVerticalMode) {
    // Columns of 12 characters, down the middle of the page.
    const test::VerticalLayout upper{.width = 1400, .height = 1980, .pixelSize = 40, .right = 100, .top = 750,
                                     .columnAdvance = 1.7};
    test::VerticalLayout lower = upper;
    lower.top = upper.top + 14 * upper.pixelSize;
    lower.right = upper.right + upper.pixelSize * upper.columnAdvance / 2;
    const RasterImage page = test::overlaid(
        test::renderVerticalParagraphs(upper, {prose[0], prose[1]}).image,
        test::renderColumns(lower, {"時計の修理を始", "めて四十年にな", "る祖父は、分解", "した部品を必ず"}).image);
    try {
        const PageResult result = read(page, OCRMode::standard);
        ADD_FAILURE() << "read as horizontal text: \"" << result.text() << "\"";
    } catch (const BrindlexError& e) {
        EXPECT_EQ(e.errorCase(), ErrorCase::looksVertical);
    }
}

TEST(ModeFit, APageOfBothKindsIsReadInEitherSingleMode) {
    const test::MixedPage page = test::renderMixed(
        {.width = 700, .height = 1000, .pixelSize = 28}, {prose[1]},
        {.width = 400, .height = 1000, .pixelSize = 36, .right = 60, .columnAdvance = 1.8},
        {"親譲りの無鉄砲で小供の時から損ばかり", "している。小学校に居る時分学校の二階", "から飛び降りて一週間ほど腰を抜かした"});
    // Each mode reads its own part of the page (and makes what it can of
    // the other): nothing is refused.
    const PageResult standard = read(page.image, OCRMode::standard);
    EXPECT_NE(test::withoutWhiteSpace(standard.text()).find("港の朝は早い"), std::string::npos) << standard.text();
    const PageResult vertical = read(page.image, OCRMode::vertical);
    EXPECT_NE(test::withoutWhiteSpace(vertical.text()).find("親譲りの無鉄砲"), std::string::npos) << vertical.text();
}
