#include <gtest/gtest.h>

#include <cmath>

#include <cstdio>
#include <tuple>

#include "ocrviews/ColumnRules.hpp"
#include "ocrviews/ColumnStyle.hpp"
#include "recognition/page/OCRGeometry.hpp"

namespace velmora {
namespace {

using namespace SourceColumnRules;

TEST(SourceColumnRules, PageRowLabelsAndLimits) {
    EXPECT_EQ(pageLabel(2, 5), "2 / 5");
    EXPECT_EQ(pageLabel(1234567890123, 0), "1234567890123 / 0");
    // Before any document there is no page to count.
    EXPECT_EQ(pageIndicator(false, 1, 1), "");
    EXPECT_EQ(pageIndicator(true, 1, 1), "1 / 1");
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
    EXPECT_EQ(emptyText(true, true), "パスワードで保護されたPDFです。\nPDFパスワードを入力してください。");
    // Only a locked PDF asks for its password.
    EXPECT_EQ(emptyText(true, false), "ページを表示できません。");
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

TEST(SourceColumnRules, ThePageOpensFittedToTheColumnsWidthAndScrollsDown) {
    // A portrait A4 page at 300 dpi in a viewport 300 × 400: as wide as the
    // viewport, at the top, running below it.
    const Size viewport{300, 400};
    const Rect fitted = pageFrame({2480, 3508}, viewport, 1.0);
    EXPECT_EQ(fitted.x, 0);
    EXPECT_EQ(fitted.y, 0);
    EXPECT_DOUBLE_EQ(fitted.width, 300);
    EXPECT_DOUBLE_EQ(fitted.height, 3508 * 300.0 / 2480);
    EXPECT_EQ(contentSize(viewport, fitted), (Size{300, fitted.height}));
    // Zoomed, it grows from the top-left corner; zoomed out, it is centred.
    const Rect zoomed = pageFrame({2480, 3508}, viewport, 2.0);
    EXPECT_EQ(zoomed.x, 0);
    EXPECT_DOUBLE_EQ(contentSize(viewport, zoomed).width, 600);
    const Rect small = pageFrame({2480, 3508}, viewport, 0.25);
    EXPECT_DOUBLE_EQ(small.width, 150);
    EXPECT_DOUBLE_EQ(small.x, 75);
    // A landscape page lower than the viewport stands in its middle.
    const Rect wide = pageFrame({3508, 2480}, viewport, 1.0);
    EXPECT_DOUBLE_EQ(wide.width, 300);
    EXPECT_DOUBLE_EQ(wide.y, (400 - wide.height) / 2);
    EXPECT_EQ(contentSize(viewport, wide), viewport);
    EXPECT_EQ(pageFrame({0, 100}, viewport, 1.0), Rect{});
    EXPECT_DOUBLE_EQ(pageFrame({100, 100}, viewport, std::nan("")).width, 300);
}

TEST(SourceColumnRules, KindTagsStandBesideTheirBoxesAndNeverOverABox) {
    const Rect frame{0, 0, 400, 600};
    // Two lines of text across most of the page, a narrow one indented, and
    // a line touching both edges.
    const std::vector<TextRegion> regions = {
        TextRegion("第三章", 0.9f, 0.2, 0.8, 0.6, 0.05, RegionKind::printedCandidate),
        TextRegion("赤字", 0.9f, 0.05, 0.6, 0.1, 0.05, RegionKind::handwrittenCandidate),
        TextRegion("全幅", 0.9f, 0.0, 0.4, 1.0, 0.05, RegionKind::unknown),
    };
    const std::vector<Box> drawn = boxes(regions, true, true, frame);
    ASSERT_EQ(drawn.size(), 3u);
    const Size tag{60, 14};
    const Size content{400, 600};
    // The first goes into the left margin, level with its line.
    const std::optional<Rect> first = tagPlace(drawn, 0, tag, content);
    ASSERT_TRUE(first);
    EXPECT_DOUBLE_EQ(first->maxX(), drawn[0].rect.minX() - tagGap);
    EXPECT_DOUBLE_EQ(first->y, drawn[0].rect.y);
    // The second has no room on its left: it goes to its right.
    const std::optional<Rect> second = tagPlace(drawn, 1, tag, content);
    ASSERT_TRUE(second);
    EXPECT_DOUBLE_EQ(second->x, drawn[1].rect.maxX() + tagGap);
    // The third has room on neither side: its tag is its tooltip only.
    EXPECT_FALSE(tagPlace(drawn, 2, tag, content));
    EXPECT_EQ(tagAt(drawn, 200, drawn[2].rect.y + 1), "不明");
    EXPECT_FALSE(tagAt(drawn, 5, 5));
    // No tag lies over any box.
    for (const std::optional<Rect>& place : {first, second}) {
        for (const Box& box : drawn) {
            const bool apart = place->maxX() <= box.rect.minX() || box.rect.maxX() <= place->minX() ||
                               place->maxY() <= box.rect.minY() || box.rect.maxY() <= place->minY();
            EXPECT_TRUE(apart);
        }
    }
    // A box beside the first's left margin takes that place: the tag goes right.
    std::vector<Box> crowded = drawn;
    crowded.push_back(crowded[0]);
    crowded.back().rect = {0, drawn[0].rect.y, drawn[0].rect.minX() - 10, drawn[0].rect.height};
    const std::optional<Rect> moved = tagPlace(crowded, 0, tag, content);
    ASSERT_TRUE(moved);
    EXPECT_DOUBLE_EQ(moved->x, drawn[0].rect.maxX() + tagGap);
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

namespace velmora {
namespace {

// The relative luminance of an sRGB colour, as the contrast guideline
// defines it.
double luminance(int r, int g, int b) {
    auto channel = [](int v) {
        const double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
}

TEST(ColumnStyle, TheWarningOrangeReadsAtLeastFourAndAHalfToOne) {
    int r = 0, g = 0, b = 0;
    ASSERT_EQ(std::sscanf(warningColour, "rgb(%d, %d, %d)", &r, &g, &b), 3);
    // The window's background and the list's: what the reasons and the
    // unsaved-edit warning stand on.
    for (const auto& [br, bg, bb] : {std::tuple{246, 245, 244}, std::tuple{250, 250, 250}, std::tuple{255, 255, 255}}) {
        const double text = luminance(r, g, b), back = luminance(br, bg, bb);
        EXPECT_GE((back + 0.05) / (text + 0.05), 4.5) << br;
    }
}

}  // namespace
}  // namespace velmora
