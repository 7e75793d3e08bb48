#include <gtest/gtest.h>

#include "ocrviews/ColumnRules.hpp"
#include "recognition/OCRGeometry.hpp"

namespace velmora {
namespace {

using namespace SourceColumnRules;

TEST(SourceColumnRules, PageRowLabelsAndLimits) {
    EXPECT_EQ(pageLabel(2, 5), "2 / 5");
    EXPECT_EQ(pageLabel(1234567890123, 0), "1234567890123 / 0");
    EXPECT_FALSE(previousEnabled(1));
    EXPECT_FALSE(previousEnabled(0));
    EXPECT_TRUE(previousEnabled(2));
    EXPECT_TRUE(nextEnabled(4, 5));
    EXPECT_FALSE(nextEnabled(5, 5));
    for (int64_t page : {0, 1, 2}) EXPECT_FALSE(nextEnabled(page, 0)) << page;
}

TEST(SourceColumnRules, ZoomStepsStayBetweenHalfAndFour) {
    std::vector<double> out;
    double zoom = fitZoom;
    for (int i = 0; i < 5; ++i) out.push_back(zoom = zoomedOut(zoom));
    ASSERT_EQ(out.size(), 5u);
    EXPECT_DOUBLE_EQ(out[0], 0.8);
    EXPECT_DOUBLE_EQ(out[1], 0.64);
    EXPECT_DOUBLE_EQ(out[2], 0.512);
    EXPECT_DOUBLE_EQ(out[3], 0.5);
    EXPECT_DOUBLE_EQ(out[4], 0.5);
    zoom = fitZoom;
    int presses = 0;
    while (zoom < maximumZoom && presses < 20) {
        zoom = zoomedIn(zoom);
        ++presses;
    }
    EXPECT_EQ(presses, 7);
    EXPECT_DOUBLE_EQ(zoom, 4.0);
    EXPECT_DOUBLE_EQ(zoomedIn(zoom), 4.0);
}

TEST(SourceColumnRules, PickerOnlyForTwoInputsLabelledByPositionAndName) {
    QueueSnapshot snapshot;
    EXPECT_FALSE(showsPicker(std::nullopt));
    snapshot.inputs.emplace_back("/home/u/スキャン/第一章.pdf", InputOrigin::normal);
    EXPECT_FALSE(showsPicker(snapshot));
    snapshot.inputs.emplace_back("/tmp/b.png", InputOrigin::normal);
    EXPECT_TRUE(showsPicker(snapshot));
    const auto options = inputOptions(snapshot);
    ASSERT_EQ(options.size(), 2u);
    EXPECT_EQ(options[0].label, "1: 第一章.pdf");
    EXPECT_EQ(options[1].label, "2: b.png");
    EXPECT_EQ(options[1].id, snapshot.inputs[1].id);
    EXPECT_EQ(emptyText(false), "PNG・JPEG・PDFをここへドロップ\nまたは「ファイルを開く」");
    EXPECT_EQ(emptyText(true), "ページを表示できません。\n必要な場合はPDFパスワードを入力してください。");
}

TEST(SourceColumnRules, BoxesLandOnTheFrameWithTheirStyles) {
    const Rect frame{20, 10, 400, 600};
    // The whole page, and a box on the page's bottom edge.
    auto drawn = boxes({TextRegion("全体", 0.79f, 0, 0, 1, 1), TextRegion("下端", 0.8f, 0.25, 0, 0.5, 0.1)}, false,
                       false, frame);
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].rect, frame);
    EXPECT_EQ(drawn[1].rect, (Rect{120, 550, 200, 60}));
    EXPECT_DOUBLE_EQ(drawn[1].rect.maxY(), frame.maxY());
    EXPECT_TRUE(drawn[0].tinted);
    EXPECT_FALSE(drawn[1].tinted);
    EXPECT_EQ(drawn[0].label, "低信頼候補の元領域");
    EXPECT_EQ(drawn[1].label, "認識候補の元領域");
    // A standard page: no tags, no dashes, even for unknown regions, with
    // the candidates switched off.
    for (const Box& box : drawn) {
        EXPECT_FALSE(box.tag);
        EXPECT_FALSE(box.dashed);
        EXPECT_EQ(box.lineWidth, 1);
    }

    const std::vector<TextRegion> annotated = {
        TextRegion("赤字", 0.9f, 0.1, 0.5, 0.2, 0.1, RegionKind::handwrittenCandidate),
        TextRegion("本文", 0.9f, 0.1, 0.2, 0.2, 0.1, RegionKind::printedCandidate),
        TextRegion("？", 0.5f, 0.6, 0.2, 0.2, 0.1, RegionKind::unknown,
                   std::vector<OCRSourceBox>{{0.6, 0.2, 0.1, 0.1}, {0.7, 0.2, 0.1, 0.1}, {0.8, 0.2, 0.1, 0.1}}),
    };
    EXPECT_TRUE(boxes(annotated, true, false, frame).empty());
    drawn = boxes(annotated, true, true, frame);
    ASSERT_EQ(drawn.size(), 5u);
    EXPECT_EQ(drawn[0].lineWidth, 2);
    EXPECT_EQ(drawn[0].tag, "手書き候補");
    EXPECT_FALSE(drawn[0].dashed);
    EXPECT_EQ(drawn[1].tag, "印刷候補");
    EXPECT_EQ(drawn[1].lineWidth, 1);
    // Three source boxes of one region: three rectangles alike but placed.
    for (std::size_t i = 2; i < 5; ++i) {
        EXPECT_TRUE(drawn[i].dashed);
        EXPECT_TRUE(drawn[i].tinted);
        EXPECT_EQ(drawn[i].tag, "不明");
        EXPECT_EQ(drawn[i].label, "不明");
        EXPECT_DOUBLE_EQ(drawn[i].rect.x, 20 + 400 * (0.6 + 0.1 * static_cast<double>(i - 2)));
    }
    EXPECT_EQ(boxDescription(drawn), "手書き候補\n印刷候補\n不明\n不明\n不明");
    // The same page in standard mode shows all five boxes without tags.
    drawn = boxes(annotated, false, false, frame);
    EXPECT_EQ(drawn.size(), 5u);
    EXPECT_TRUE(std::none_of(drawn.begin(), drawn.end(), [](const Box& b) { return b.tag || b.dashed; }));
}

TEST(SourceColumnRules, ContentGrowsWithTheZoomedFrameOnly) {
    const Size viewport{300, 400};
    const Rect fitted = OCRGeometry::imageFrame({2480, 3508}, viewport, 1.0);
    EXPECT_EQ(contentSize(viewport, fitted), viewport);
    const Rect zoomed = OCRGeometry::imageFrame({2480, 3508}, viewport, 2.0);
    const Size grown = contentSize(viewport, zoomed);
    EXPECT_DOUBLE_EQ(grown.height, 800);
    EXPECT_NEAR(grown.width, 2480 * 800.0 / 3508, 1e-9);
}

TEST(ResultColumnRules, OnlyTheCurrentHitWhileASearchIsTyped) {
    const OCRProduct::Match hit{UUID::random(), 1, {4, 2}};
    EXPECT_EQ(ResultColumnRules::searchRanges("本文", hit), (std::vector<TextRange>{{4, 2}}));
    EXPECT_TRUE(ResultColumnRules::searchRanges("", hit).empty());
    EXPECT_TRUE(ResultColumnRules::searchRanges("本文", std::nullopt).empty());
    EXPECT_EQ(ResultColumnRules::selection(hit), (TextRange{4, 2}));
    EXPECT_FALSE(ResultColumnRules::selection(std::nullopt));
}

}  // namespace
}  // namespace velmora
