#include <algorithm>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/automatic/AutoOCR.hpp"
#include "recognition/OCREngine.hpp"
#include "support/Errors.hpp"
#include "support/InkPages.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;

namespace {

auto never = [] { return false; };

// A confident horizontal line of n characters with the given box.
TextRegion line(std::size_t n, double x, double y, double width, double height, float confidence = 0.9f) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += "あ";
    return TextRegion(text, confidence, x, y, width, height);
}

// A bar of ink: a column as the probe sees one.
void bar(test::InkPage& page, int x, int width, int top, int height) { page.fill(x, top, width, height); }

AutoOCR::Probe probe(const test::InkPage& page, const std::vector<TextRegion>& horizontal = {}) {
    return AutoOCR::probe(page.image(), horizontal, never);
}

void expectRect(const Rect& actual, const Rect& expected) {
    EXPECT_DOUBLE_EQ(actual.x, expected.x);
    EXPECT_DOUBLE_EQ(actual.y, expected.y);
    EXPECT_DOUBLE_EQ(actual.width, expected.width);
    EXPECT_DOUBLE_EQ(actual.height, expected.height);
}

}  // namespace

TEST(AutoOCRDecision, TwelveCharactersAndTwoColumnsDecide) {
    using enum AutoResolved;
    EXPECT_EQ(AutoOCR::decision(0, 0), uncertainStandardFallback);
    EXPECT_EQ(AutoOCR::decision(11, 0), uncertainStandardFallback);
    EXPECT_EQ(AutoOCR::decision(12, 0), standard);
    EXPECT_EQ(AutoOCR::decision(500, 1), uncertainStandardFallback);
    EXPECT_EQ(AutoOCR::decision(0, 1), uncertainStandardFallback);
    EXPECT_EQ(AutoOCR::decision(11, 2), vertical);
    EXPECT_EQ(AutoOCR::decision(12, 2), mixed);
    EXPECT_EQ(AutoOCR::decision(0, 9), vertical);
    EXPECT_EQ(AutoOCR::version, "auto-router-c1");
    EXPECT_EQ(AutoOCR::maximumBlocks, 8u);
}

TEST(AutoOCRDecision, OverlapIsOverTheSmallerArea) {
    const Rect a{0.125, 0.125, 0.25, 0.25};
    EXPECT_EQ(AutoOCR::overlap(a, {0.5, 0.5, 0.125, 0.125}), 0);
    EXPECT_EQ(AutoOCR::overlap(a, {0.375, 0.125, 0.125, 0.25}), 0) << "a shared edge has no area";
    EXPECT_DOUBLE_EQ(AutoOCR::overlap(a, a), 1);
    EXPECT_DOUBLE_EQ(AutoOCR::overlap(a, {0.15, 0.15, 0.05, 0.05}), 1);
    EXPECT_EQ(AutoOCR::overlap(a, {0.15, 0.15, 0, 0.05}), 0);
    EXPECT_DOUBLE_EQ(AutoOCR::overlap({0, 0, 0.5, 0.5}, {0.25, 0, 0.5, 0.5}), 0.5);
    const TextRegion r("文字", 0.5f, 0.1, 0.2, 0.3, 0.4);
    expectRect(AutoOCR::box(r), {0.1, 0.2, 0.3, 0.4});
}

TEST(AutoOCRProbe, ScalesTheLongSideTo1000AndMeasuresColumns) {
    // 3000 × 2000 is probed at 1000 × 666: bars of 30 × 1200 pixels at x 1500
    // and 2400, from row 300, become 10 × 400 at x 500 and 800 from row 100.
    test::InkPage large(3000, 2000);
    bar(large, 1500, 30, 300, 1200);
    bar(large, 2400, 30, 300, 1200);
    const AutoOCR::Probe p = probe(large);
    EXPECT_EQ(p.resolved, AutoResolved::vertical);
    ASSERT_EQ(p.vertical.size(), 2u);
    expectRect(p.vertical[0], {500 / 1000.0, 1 - 500 / 666.0, 10 / 1000.0, 400 / 666.0});
    expectRect(p.vertical[1], {800 / 1000.0, 1 - 500 / 666.0, 10 / 1000.0, 400 / 666.0});

    // 800 × 600 is probed as it is.
    test::InkPage small(800, 600);
    bar(small, 100, 10, 50, 300);
    bar(small, 700, 10, 50, 300);
    const AutoOCR::Probe q = probe(small);
    ASSERT_EQ(q.vertical.size(), 2u);
    expectRect(q.vertical[0], {100 / 800.0, 1 - 350 / 600.0, 10 / 800.0, 300 / 600.0});

    // Nothing on the page: no column, no character, uncertain.
    const AutoOCR::Probe blank = probe(test::InkPage(500, 500));
    EXPECT_EQ(blank.resolved, AutoResolved::uncertainStandardFallback);
    EXPECT_TRUE(blank.vertical.empty());
    EXPECT_EQ(test::caseOf([] { AutoOCR::probe(RasterImage(), {}, never); }), ErrorCase::renderFailed);
}

TEST(AutoOCRProbe, RunsAndCandidatesFollowTheirLimits) {
    auto columns = [](std::initializer_list<std::pair<int, int>> bars, int span = 300, int width = 1000,
                      int height = 1000) {
        test::InkPage page(width, height);
        for (auto [x, w] : bars) bar(page, x, w, height / 10, span);
        return probe(page);
    };
    // A run 4 wide is discarded, 5 wide is a column: one column is not
    // enough, two make the page vertical.
    EXPECT_EQ(columns({{100, 4}, {300, 5}}).vertical.size(), 1u);
    EXPECT_EQ(columns({{100, 5}, {300, 5}}).resolved, AutoResolved::vertical);
    EXPECT_EQ(columns({{100, 4}, {300, 5}}).resolved, AutoResolved::uncertainStandardFallback);
    // Wider than 0.12 of the page: 120 columns of 1000 pass, 121 do not.
    EXPECT_EQ(columns({{100, 120}, {400, 5}}, 600).vertical.size(), 2u);
    EXPECT_EQ(columns({{100, 121}, {400, 5}}, 600).vertical.size(), 1u);
    // Ink columns 5 apart join into one run, 6 apart make two.
    EXPECT_EQ(columns({{100, 5}, {109, 5}}).resolved, AutoResolved::uncertainStandardFallback);
    EXPECT_EQ(columns({{100, 5}, {110, 5}}).resolved, AutoResolved::vertical);
    // Two columns merged into one block still count as two.
    const AutoOCR::Probe merged = columns({{100, 5}, {110, 5}});
    ASSERT_EQ(merged.vertical.size(), 1u);
    EXPECT_DOUBLE_EQ(merged.vertical[0].width, 15 / 1000.0);
    // A span of exactly 4 widths (and at least 0.18 of the height) counts,
    // one row less does not.
    EXPECT_EQ(columns({{20, 5}, {60, 5}}, 20, 200, 100).resolved, AutoResolved::vertical);
    EXPECT_EQ(columns({{20, 5}, {60, 5}}, 19, 200, 100).resolved, AutoResolved::uncertainStandardFallback);
    // 0.18 of the height: 180 of 1000 rows.
    EXPECT_EQ(columns({{20, 5}, {60, 5}}, 180).resolved, AutoResolved::vertical);
    EXPECT_EQ(columns({{20, 5}, {60, 5}}, 179).resolved, AutoResolved::uncertainStandardFallback);
}

TEST(AutoOCRProbe, MoreThanEightBlocksExceedTheBudget) {
    // Neighbouring columns at alternating heights never share a block.
    auto page = [](int count) {
        test::InkPage p(1000, 1000);
        for (int i = 0; i < count; ++i) bar(p, 50 + 100 * i, 6, i % 2 ? 100 : 600, 300);
        return p;
    };
    const AutoOCR::Probe eight = probe(page(8));
    EXPECT_EQ(eight.vertical.size(), 8u);
    for (std::size_t i = 1; i < 8; ++i) EXPECT_LT(eight.vertical[i - 1].x, eight.vertical[i].x);
    EXPECT_EQ(test::caseOf([&] { probe(page(9)); }), ErrorCase::budgetExceeded);
}

TEST(AutoOCRProbe, StrongHorizontalLinesArePaintedOutAndCounted) {
    // Two columns; a line over the right one paints it out when it is
    // strong: at least 3 characters, wider than 1.8 heights, confidence 0.4.
    test::InkPage page(1000, 1000);
    bar(page, 200, 8, 100, 600);
    bar(page, 700, 8, 100, 600);
    const double y = 1 - 700 / 1000.0, h = 600 / 1000.0;  // the bar's box
    auto over = [&](std::size_t n, double width, float confidence) {
        return line(n, 0.69, y, width, h, confidence);
    };
    // Strong: the bar is gone and its 3 characters lie inside no block.
    EXPECT_EQ(probe(page, {over(3, 1.09, 0.4f)}).resolved, AutoResolved::uncertainStandardFallback);
    // 2 characters, confidence 0.39, or exactly 1.8 heights wide: not strong.
    EXPECT_EQ(probe(page, {over(2, 1.09, 0.9f)}).resolved, AutoResolved::vertical);
    EXPECT_EQ(probe(page, {over(3, 1.09, 0.39f)}).resolved, AutoResolved::vertical);

    // Characters on a blank page: 11 are uncertain, 12 standard; weak lines
    // add nothing.
    const test::InkPage blank(1000, 1000);
    EXPECT_EQ(probe(blank, {line(11, 0.1, 0.1, 0.5, 0.05)}).resolved, AutoResolved::uncertainStandardFallback);
    EXPECT_EQ(probe(blank, {line(12, 0.1, 0.1, 0.5, 0.05)}).resolved, AutoResolved::standard);
    EXPECT_EQ(probe(blank, {line(12, 0.1, 0.1, 0.5, 0.05, 0.39f)}).resolved,
              AutoResolved::uncertainStandardFallback);
    EXPECT_EQ(probe(blank, {line(12, 0.1, 0.5, 0.225, 0.125)}).resolved, AutoResolved::uncertainStandardFallback);
    EXPECT_EQ(probe(blank, {line(12, 0.1, 0.5, 0.226, 0.125)}).resolved, AutoResolved::standard);
    EXPECT_EQ(probe(blank, {line(6, 0.1, 0.1, 0.5, 0.05), line(6, 0.1, 0.3, 0.5, 0.05)}).resolved,
              AutoResolved::standard);
}

TEST(AutoOCRProbe, LinesInsideAVerticalBlockAreNotHorizontalText) {
    // Bars at 128 and 160 of 512 make one block from x 0.25 to 0.328125; a
    // line of 12 characters half inside it still counts (mixed), a pixel
    // further in it does not (vertical).
    test::InkPage page(512, 512);
    bar(page, 128, 8, 64, 384);
    bar(page, 160, 8, 64, 384);
    const double y = 1 - 264 / 512.0, h = 8 / 512.0;
    const AutoOCR::Probe half = probe(page, {line(12, 152 / 512.0, y, 32 / 512.0, h)});
    ASSERT_EQ(half.vertical.size(), 1u);
    EXPECT_DOUBLE_EQ(AutoOCR::overlap({152 / 512.0, y, 32 / 512.0, h}, half.vertical[0]), 0.5);
    EXPECT_EQ(half.resolved, AutoResolved::mixed);
    EXPECT_EQ(probe(page, {line(12, 151 / 512.0, y, 32 / 512.0, h)}).resolved, AutoResolved::vertical);
}

TEST(AutoOCRProbe, ThePredicateIsPolledEvery64Rows) {
    int polls = 0;
    AutoOCR::probe(test::InkPage(100, 129).image(), {}, [&] { return ++polls, false; });
    EXPECT_EQ(polls, 3);  // before rows 0, 64 and 128
    polls = 0;
    EXPECT_EQ(test::caseOf([&] {
                  AutoOCR::probe(test::InkPage(100, 129).image(), {}, [&] { return ++polls == 2; });
              }),
              ErrorCase::cancelled);
    EXPECT_EQ(polls, 2);
}

// Real pages with the horizontal pass the automatic mode runs first.
TEST(AutoOCRProbe, TellsRenderedHorizontalVerticalAndMixedPagesApart) {
    OCRSettings standard;
    // The standard pass itself: the standard mode refuses a page of
    // vertical text read across its columns.
    auto decide = [&](const RasterImage& image) {
        const PageResult h = OCREngine::standardPass(image, 1, 1, standard);
        return AutoOCR::probe(image, h.regions, never);
    };
    const std::vector<std::string> paragraphs{
        "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所で泣いていた事だけは記憶している。"};
    const std::vector<std::string> columns{"春はあけぼの。やうやう白くなりゆく", "山ぎは、少しあかりて、紫だちたる",
                                           "雲の細くたなびきたる。夏は夜。"};

    const test::TextPage horizontal = test::renderParagraphs({.width = 900, .height = 500}, paragraphs);
    EXPECT_EQ(decide(horizontal.image).resolved, AutoResolved::standard);

    const test::VerticalPage vertical = test::renderColumns({.width = 500, .height = 900, .pixelSize = 40}, columns);
    const AutoOCR::Probe v = decide(vertical.image);
    EXPECT_EQ(v.resolved, AutoResolved::vertical);
    ASSERT_EQ(v.vertical.size(), 1u);

    // The vertical columns on the right of the horizontal paragraphs.
    const test::TextPage left = test::renderParagraphs({.width = 560, .height = 900, .pixelSize = 28}, paragraphs);
    std::vector<uint8_t> rgb(1000u * 900u * 3u, 255);
    auto paste = [&](const RasterImage& image, int at) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const uint8_t* p = image.pixels() + std::ptrdiff_t(y) * image.rowStride() + x * image.channels();
                std::copy_n(p, 3, rgb.data() + (std::size_t(y) * 1000 + at + x) * 3);
            }
        }
    };
    paste(left.image, 0);
    const test::VerticalPage right =
        test::renderColumns({.width = 440, .height = 900, .pixelSize = 40, .right = 60}, columns);
    paste(right.image, 560);
    const AutoOCR::Probe m = decide(RasterImage::fromPixels(1000, 900, 3, rgb));
    EXPECT_EQ(m.resolved, AutoResolved::mixed);
    ASSERT_EQ(m.vertical.size(), 1u);
    EXPECT_GT(m.vertical[0].x, 0.56);
}

TEST(AutoOCRProbe, OnlySolidColumnsCountAndNoLineLiesAcrossThem) {
    // Bars of marks a line's spacing apart, as the cells of a table's
    // column or the starts of a list's lines stand: no column.
    test::InkPage cells(1000, 1000);
    for (int x : {200, 400}) {
        for (int y = 100; y < 800; y += 34) bar(cells, x, 8, y, 20);
    }
    EXPECT_EQ(probe(cells).resolved, AutoResolved::uncertainStandardFallback);
    EXPECT_TRUE(probe(cells).vertical.empty());

    // Solid columns: a strong line lying across two of them is those columns
    // misread row by row, and neither hides them nor counts as horizontal
    // text; over one of them it is a line of its own, painted out.
    test::InkPage page(1000, 1000);
    for (int x : {200, 300, 400}) bar(page, x, 8, 100, 600);
    const double y = 1 - 450 / 1000.0, h = 30 / 1000.0;
    const AutoOCR::Probe across = probe(page, {line(20, 0.19, y, 0.23, h)});
    EXPECT_EQ(across.resolved, AutoResolved::vertical);
    EXPECT_TRUE(across.horizontal.empty());
    const AutoOCR::Probe over = probe(page, {line(20, 0.39, y, 0.03, h / 2)});
    EXPECT_EQ(over.horizontal.size(), 1u);
}

TEST(AutoOCRProbe, APageAskewGetsTheVerdictOfItsUprightCopy) {
    // Columns 10 pixels apart drift 14 pixels from top to bottom at 1°.
    test::InkPage page(700, 1000);
    for (int x = 100; x < 600; x += 30) bar(page, x, 20, 100, 800);
    EXPECT_EQ(probe(page).resolved, AutoResolved::vertical);
    for (double degrees : {-1.0, 1.0}) {
        const AutoOCR::Probe turned = AutoOCR::probe(test::rotated(page.image(), degrees), {}, never);
        EXPECT_EQ(turned.resolved, AutoResolved::vertical) << degrees;
        ASSERT_EQ(turned.vertical.size(), 1u) << degrees;
    }
}

namespace {

// The page as printed on grey paper: white becomes the paper's grey and
// black the ink's, as a scan of recycled stock or a photograph shows it.
RasterImage onGreyPaper(const RasterImage& image, int paper, int ink) {
    std::vector<uint8_t> rgb(std::size_t(image.width()) * image.height() * 3);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const uint8_t* p = image.pixels() + std::ptrdiff_t(y) * image.rowStride() + x * image.channels();
            const int grey = ink + p[1] * (paper - ink) / 255;
            std::fill_n(rgb.data() + (std::size_t(y) * image.width() + x) * 3, 3, static_cast<uint8_t>(grey));
        }
    }
    return RasterImage::fromPixels(image.width(), image.height(), 3, rgb);
}

}  // namespace

TEST(AutoOCRProbe, LinesOnGreyPaperOrAloneInASmallImageAreNoColumns) {
    // The cells of a table the horizontal pass did not take for sure: the
    // columns of cells stand narrow, but their rows apart, so no column is
    // solid, on white paper or on grey, whose every pixel is darker than a
    // white page's faint marks.
    std::vector<test::PlacedText> items;
    const std::vector<std::vector<std::string>> cells{
        {"一般", "650円", "月曜"},     {"高校生", "400円", "火曜"}, {"中学生", "200円", "水曜"},
        {"回数券", "6,500円", "木曜"}, {"定期券", "4,800円", "金曜"}, {"団体", "550円", "土曜"},
        {"家族", "1,500円", "日曜"},   {"障害者", "無料", "祝日"}};
    for (std::size_t r = 0; r < cells.size(); ++r) {
        for (std::size_t c = 0; c < cells[r].size(); ++c) {
            items.push_back({cells[r][c], 40.0 + 150 * c, 40 + r * 1.8 * 30});
        }
    }
    const test::TextPage table = test::renderPlaced({.width = 600, .height = 520, .pixelSize = 30}, items);
    for (const int paper : {255, 205}) {
        const AutoOCR::Probe p = AutoOCR::probe(onGreyPaper(table.image, paper, 45), {}, never);
        EXPECT_TRUE(p.vertical.empty()) << "paper " << paper;
        EXPECT_EQ(p.resolved, AutoResolved::uncertainStandardFallback) << "paper " << paper;
    }
    // One line of kanji alone in a small image: the strokes of one
    // character stand as tall as the image allows, and are no column.
    const test::TextPage sign = test::renderLines(
        {.width = 709, .height = 130, .pixelSize = 37.5, .left = 35, .top = 40, .family = "Noto Serif CJK JP"},
        {"火気厳禁 関係者以外立入禁止"});
    const AutoOCR::Probe s = AutoOCR::probe(sign.image, {}, never);
    EXPECT_TRUE(s.vertical.empty());
    EXPECT_EQ(s.resolved, AutoResolved::uncertainStandardFallback);
}

namespace {

// The images one below the other (all RGB, the same width).
RasterImage stacked(const std::vector<RasterImage>& images) {
    const int width = images.front().width();
    std::vector<uint8_t> pixels;
    int height = 0;
    for (const RasterImage& image : images) {
        for (int y = 0; y < image.height(); ++y) {
            const uint8_t* row = image.pixels() + static_cast<std::ptrdiff_t>(y) * image.rowStride();
            pixels.insert(pixels.end(), row, row + width * 3);
        }
        height += image.height();
    }
    return RasterImage::fromPixels(width, height, 3, pixels);
}

}  // namespace

// A page in two tiers whose upper tier starts with a heading three columns
// wide, so that its columns stand off the lower tier's grid, and the lower
// tier ends part way across. The horizontal pass reads the lower tier's
// columns under the heading row by row, as lines of a few characters: those
// rows lie across its columns and are no horizontal text, and both tiers are
// vertical blocks.
TEST(AutoOCRProbe, TheColumnsOfTwoTiersOffOneGridAreFoundTierByTier) {
    const int width = 700, tier = 560, margin = 60;
    const double size = 20;
    const std::string prose =
        "港町の朝は、まだ暗いうちから始まる。四時を過ぎると、岸壁に沿って並んだ倉庫の明かりが一つずつともり、"
        "長靴の音があちこちで響きはじめる。沖から戻った小さな漁船は、エンジンの音を落としながら順番に船着き"
        "場へ寄っていく。市場の奥では氷を割る音が絶え間なく続き、競りの声が高く低く重なり合う。";
    const test::VerticalLayout upperLayout{.width = width, .height = tier, .pixelSize = size, .right = 40 + 3 * size,
                                           .top = 20, .columnAdvance = 1.7};
    test::VerticalLayout lowerLayout = upperLayout;
    lowerLayout.right = 40;
    const test::VerticalPage heading = test::renderColumns(
        {.width = width, .height = tier, .pixelSize = 1.6 * size, .right = 40, .top = 60}, {"港の朝"});
    const test::VerticalPage upper = test::renderVerticalParagraphs(upperLayout, {prose + prose, prose});
    const test::VerticalPage lower = test::renderVerticalParagraphs(lowerLayout, {prose});
    const test::VerticalPage blank = test::renderColumns({.width = width, .height = margin, .pixelSize = size}, {});
    const RasterImage page =
        stacked({blank.image, test::overlaid(heading.image, upper.image), lower.image, blank.image});
    const double H = page.height();

    // Four rows across the lower tier's first two columns, as the
    // horizontal pass reads them.
    const Rect first = lower.columns[0].ink, second = lower.columns[1].ink;
    std::vector<TextRegion> rows;
    for (int k = 0; k < 4; ++k) {
        const double top = margin + tier + first.minY() + k * size;
        rows.push_back(line(4, second.minX() / width, 1 - (top + size) / H, (first.maxX() - second.minX()) / width,
                            size / H));
    }
    const AutoOCR::Probe found = AutoOCR::probe(page, rows, never);
    EXPECT_EQ(found.resolved, AutoResolved::vertical);
    EXPECT_TRUE(found.horizontal.empty());
    // Every column of the lower tier lies in a block of its own tier.
    const double split = 1 - (margin + tier) / H;
    for (const test::DrawnColumn& c : lower.columns) {
        const Rect ink{c.ink.x / width, 1 - (margin + tier + c.ink.maxY()) / H, c.ink.width / width, c.ink.height / H};
        EXPECT_TRUE(std::any_of(found.vertical.begin(), found.vertical.end(), [&](const Rect& b) {
            return AutoOCR::overlap(ink, b) > 0.9 && b.maxY() < split + 0.02;
        })) << c.text;
    }
}
