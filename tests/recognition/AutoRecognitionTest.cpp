#include <algorithm>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/Task.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/handwriting/AnnotationOCR.hpp"
#include "recognition/automatic/AutoRecognition.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "support/Errors.hpp"
#include "support/InkPages.hpp"
#include "support/MainLoop.hpp"
#include "support/MixedPages.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;

namespace {

auto never = [] { return false; };

OCRSettings automatic() {
    OCRSettings s;
    s.mode = OCRMode::automatic;
    return s;
}

TextRegion region(std::string text, double x, double y, double w, double h,
                  RegionKind kind = RegionKind::printedCandidate) {
    return TextRegion(std::move(text), 0.9f, x, y, w, h, kind);
}

std::vector<std::string> texts(const std::vector<TextRegion>& regions) {
    std::vector<std::string> out;
    for (const TextRegion& r : regions) out.push_back(r.text);
    return out;
}

std::string squeezed(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != ' ' && c != '\n') out += c;
    }
    return out;
}

const std::vector<std::string> paragraphs{
    "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所で泣いていた事だけは記憶している。"};
const std::vector<std::string> columns{"春はあけぼの。やうやう白くなりゆく", "山ぎは、少しあかりて、紫だちたる",
                                       "雲の細くたなびきたる。夏は夜。"};

}  // namespace

TEST(AutoMerge, EquivalentTexts) {
    EXPECT_TRUE(AutoOCR::equivalent("猫", "猫"));
    EXPECT_FALSE(AutoOCR::equivalent("猫", "吾輩は猫である"));
    EXPECT_TRUE(AutoOCR::equivalent("猫で", "吾輩は猫である"));
    EXPECT_TRUE(AutoOCR::equivalent("吾輩は 猫\nである", "吾輩は\u3000猫である"));
    EXPECT_FALSE(AutoOCR::equivalent("  ", "  "));
    EXPECT_FALSE(AutoOCR::equivalent("", "猫"));
    // Composed and decomposed forms are one text.
    EXPECT_TRUE(AutoOCR::equivalent("が", "か\u3099"));
}

TEST(AutoMerge, DuplicatesAndReadingOrder) {
    // Same size, shifted by 0.08 of a 0.2 width: 0.6 of the smaller area;
    // by 0.1: 0.5.
    const TextRegion h = region("春は あけぼの", 0.1, 0.5, 0.2, 0.1);
    const TextRegion near = region("春はあけぼの", 0.18, 0.5, 0.2, 0.1);
    const TextRegion far = region("春はあけぼの", 0.2, 0.5, 0.2, 0.1);
    EXPECT_EQ(texts(AutoOCR::merge({h}, {{near}})), std::vector<std::string>{"春はあけぼの"});
    EXPECT_EQ(texts(AutoOCR::merge({h}, {{far}})), (std::vector<std::string>{"春は あけぼの", "春はあけぼの"}));
    // A vertical region never goes for a horizontal one; an empty vertical
    // text is no reference but stays in its group.
    const TextRegion empty = region("", 0.1, 0.5, 0.2, 0.1);
    EXPECT_EQ(texts(AutoOCR::merge({h}, {{empty}})), (std::vector<std::string>{"春は あけぼの", ""}));

    // Tops 0.03 apart read left to right, 0.04 apart top to bottom.
    const TextRegion highRight = region("右", 0.5, 0.8, 0.1, 0.1);
    EXPECT_EQ(texts(AutoOCR::merge({highRight, region("左", 0.1, 0.77, 0.1, 0.1)}, {})),
              (std::vector<std::string>{"左", "右"}));
    EXPECT_EQ(texts(AutoOCR::merge({region("左", 0.1, 0.76, 0.1, 0.1), highRight}, {})),
              (std::vector<std::string>{"右", "左"}));
    // A vertical group is ordered by the union of its boxes and keeps its
    // own order.
    const std::vector<TextRegion> group{region("二", 0.7, 0.2, 0.05, 0.5), region("一", 0.8, 0.3, 0.05, 0.6)};
    EXPECT_EQ(texts(AutoOCR::merge({region("見出し", 0.1, 0.95, 0.5, 0.04), region("本文", 0.1, 0.6, 0.5, 0.04)},
                                   {group})),
              (std::vector<std::string>{"見出し", "二", "一", "本文"}));

    // Nearly equal tops make an order that is not transitive; the result is
    // the insertion sort's, every time.
    const std::vector<TextRegion> chain{region("A", 0.5, 0.8, 0.1, 0.1), region("B", 0.3, 0.77, 0.1, 0.1),
                                        region("C", 0.1, 0.74, 0.1, 0.1)};
    const std::vector<std::string> first = texts(AutoOCR::merge(chain, {}));
    EXPECT_EQ(first, (std::vector<std::string>{"B", "A", "C"}));
    for (int i = 0; i < 20; ++i) EXPECT_EQ(texts(AutoOCR::merge(chain, {})), first);
}

TEST(AutoMerge, BlocksAreClippedAndRegionsMappedOntoThem) {
    // A block at the right edge of a 100 × 50 page: its margin is clipped.
    const Rect pixels = AutoOCR::blockPixels({0.9, 0.2, 0.1, 0.6}, 100, 50);
    EXPECT_EQ(pixels, (Rect{86, 6, 14, 38}));
    EXPECT_EQ(AutoOCR::blockPixels({0.0, 0.0, 1.0, 1.0}, 100, 50), (Rect{0, 0, 100, 50}));
    // Fractions of pixels round outwards.
    EXPECT_EQ(AutoOCR::blockPixels({0.515625, 0.5, 0.125, 0.25}, 100, 64), (Rect{47, 12, 22, 24}));

    const Rect crop{86.0 / 100, 1 - 44.0 / 50, 14.0 / 100, 38.0 / 50};
    TextRegion found = region("縦", 0.5, 0.25, 0.5, 0.5);
    found.verticalCandidates = std::vector<VerticalResearch::Candidate>{{3, "縦", 0.8f, {{0, 0, 1, 1}}, 2}};
    const TextRegion placed = AutoOCR::map(found, crop);
    EXPECT_DOUBLE_EQ(placed.x, 0.86 + 0.5 * 0.14);
    EXPECT_DOUBLE_EQ(placed.y, 0.12 + 0.25 * 0.76);
    EXPECT_DOUBLE_EQ(placed.width, 0.07);
    EXPECT_DOUBLE_EQ(placed.height, 0.38);
    ASSERT_TRUE(placed.sourceBoxes);
    ASSERT_EQ(placed.sourceBoxes->size(), 1u);
    EXPECT_DOUBLE_EQ((*placed.sourceBoxes)[0].x, placed.x);
    const VerticalResearch::Box& source = (*placed.verticalCandidates)[0].source[0];
    EXPECT_DOUBLE_EQ(source.x, 0.86);
    EXPECT_DOUBLE_EQ(source.y, 0.12);
    EXPECT_DOUBLE_EQ(source.width, 0.14);
    EXPECT_DOUBLE_EQ(source.height, 0.76);
    EXPECT_EQ((*placed.verticalCandidates)[0].column, 2);
    EXPECT_EQ(placed.text, "縦");
    // An empty list of source boxes stays empty.
    TextRegion none = found;
    none.sourceBoxes = std::vector<OCRSourceBox>{};
    EXPECT_TRUE(AutoOCR::map(none, crop).sourceBoxes->empty());
}

TEST(AutoMerge, HandwritingStatus) {
    const TextRegion printed = region("印刷", 0, 0, 0.1, 0.1);
    EXPECT_EQ(AutoOCR::handwritingStatus({printed, printed}), "none");
    EXPECT_EQ(AutoOCR::handwritingStatus({printed, region("?", 0, 0, 0.1, 0.1, RegionKind::unknown)}), "uncertain");
    EXPECT_EQ(AutoOCR::handwritingStatus({region("?", 0, 0, 0.1, 0.1, RegionKind::unknown),
                                          region("手", 0, 0, 0.1, 0.1, RegionKind::handwrittenCandidate), printed}),
              "detected");
    EXPECT_EQ(AutoOCR::handwritingStatus({}), "none");
}

TEST(AutoControl, CancellationTimeAndBlocks) {
    int calls = 0;
    EXPECT_EQ(test::caseOf([&] {
                  AutoOCR::recognize(test::InkPage(200, 100).image(), 1, 1, automatic(), [&] { return ++calls, true; });
              }),
              ErrorCase::cancelled);
    EXPECT_EQ(calls, 1);

    ManualUptimeClock clock;
    RecognitionClock::Scope scope(clock);
    // A blank page: the time moves by the jump at the page's last check,
    // after the horizontal pass and its own limit.
    const RasterImage blank = test::InkPage(200, 100).image();
    int total = 0;
    AutoOCR::recognize(blank, 1, 1, automatic(), [&] { return ++total, false; });
    auto run = [&](double jump) {
        int polls = 0;
        return AutoOCR::recognize(blank, 1, 1, automatic(), [&] {
            if (++polls == total) clock.advance(jump);
            return false;
        });
    };
    const PageResult done = run(120);
    EXPECT_DOUBLE_EQ(done.elapsedSeconds, 120);
    EXPECT_EQ(done.autoPresentation->resolved, AutoResolved::uncertainStandardFallback);
    EXPECT_EQ(test::caseOf([&] { run(120.5); }), ErrorCase::budgetExceeded);

    // Nine columns at alternating heights: nine blocks.
    test::InkPage nine(1000, 1000);
    for (int i = 0; i < 9; ++i) nine.fill(50 + 100 * i, i % 2 ? 100 : 600, 6, 300);
    EXPECT_EQ(test::caseOf([&] { AutoOCR::recognize(nine.image(), 1, 1, automatic(), never); }),
              ErrorCase::budgetExceeded);
}

namespace {

// Counts the predicate's calls before the vertical pass (the page's first
// check, the horizontal pass's, the check after it and the probe's), then
// recognises the page again and, at the first call after those, waits
// (bounded) for the task to be cancelled and carries on into the vertical
// pass. Both runs are on the worker, whose engines are its own.
Task<void> automaticOnWorker(const RasterImage* image, std::atomic<bool>* asked) {
    co_await runOnWorker([image, asked] {
        int before = 2;
        OCRSettings handwriting;
        handwriting.mode = OCRMode::handwriting;
        const auto count = [&] { return ++before, false; };
        const PageResult h = AnnotationOCR::recognize(*image, 1, 1, handwriting, count, true,
                                                      AnnotationOCR::productStrategy,
                                                      AnnotationOCR::productStage2Strategy, true);
        AutoOCR::probe(*image, h.regions, count);
        int calls = 0;
        AutoOCR::recognize(*image, 1, 1, automatic(), [&] {
            if (++calls > before && !asked->exchange(true)) {
                for (int i = 0; i < 6000 && !isCurrentTaskCancelled(); ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            return false;
        });
    });
}

}  // namespace

TEST(AutoControl, ATaskCancelledDuringTheVerticalPassEndsWithCancellationError) {
    const test::VerticalPage page = test::renderColumns({.width = 500, .height = 900, .pixelSize = 40}, columns);
    std::atomic<bool> asked{false};
    test::Spawned<void> task(automaticOnWorker(&page.image, &asked));
    ASSERT_TRUE(test::spinUntil([&] { return asked.load(); }, std::chrono::seconds(60)));
    task.handle.cancel();
    ASSERT_TRUE(task.finish(std::chrono::seconds(60)));
    ASSERT_TRUE(task.out->error);
    EXPECT_THROW(std::rethrow_exception(task.out->error), CancellationError);
}

// Real pages drawn with Pango and read by Tesseract.
TEST(AutoRecognition, HorizontalAndVerticalPages) {
    const test::TextPage horizontal = test::renderParagraphs({.width = 900, .height = 500}, paragraphs);
    const PageResult hs = OCREngine::recognize(horizontal.image, 1, 3, automatic(), never);
    EXPECT_EQ(hs.route, "auto-router-c1");
    EXPECT_EQ(hs.page, 3);
    ASSERT_TRUE(hs.autoPresentation);
    EXPECT_EQ(hs.autoPresentation->resolved, AutoResolved::standard);
    EXPECT_EQ(hs.autoPresentation->label(), "自動判定：標準");
    OCRSettings handwriting;
    handwriting.mode = OCRMode::handwriting;
    const PageResult alone = AnnotationOCR::recognize(horizontal.image, 1, 3, handwriting, never, true,
                                                      AnnotationOCR::productStrategy,
                                                      AnnotationOCR::productStage2Strategy, true);
    EXPECT_EQ(hs.regions, alone.regions);
    EXPECT_LT(test::characterErrorRate(squeezed(paragraphs[0]), squeezed(hs.text())), 0.1) << hs.text();
    EXPECT_EQ(hs.autoPresentation->handwriting, "none");

    // The page as stored turned (orientation 6: upright after a quarter turn).
    const PageResult turned =
        OCREngine::recognize(OCRGeometry::oriented(horizontal.image, 8), 6, 1, automatic(), never);
    EXPECT_EQ(turned.sourceOrientation, 6u);
    EXPECT_EQ(turned.sourcePixelWidth, 500);
    EXPECT_EQ(turned.sourcePixelHeight, 900);
    EXPECT_EQ(turned.pixelWidth, 900);
    EXPECT_EQ(turned.pixelHeight, 500);
    EXPECT_EQ(turned.autoPresentation->resolved, AutoResolved::standard);

    const test::VerticalPage vertical = test::renderColumns({.width = 500, .height = 900, .pixelSize = 40}, columns);
    const PageResult vs = OCREngine::recognize(vertical.image, 1, 1, automatic(), never);
    EXPECT_EQ(vs.autoPresentation->resolved, AutoResolved::vertical);
    EXPECT_EQ(vs.autoPresentation->label(), "自動判定：縦書き");
    std::string truth;
    for (const std::string& c : columns) truth += c;
    EXPECT_LT(test::characterErrorRate(truth, squeezed(vs.text())), 0.15) << vs.text();
    // Tesseract's own columns read sideways are not part of the horizontal
    // pass, nor are they read again into horizontal lines (with the other
    // language's model, to their ends, or side by side as a table's rows):
    // on pages of vertical text alone it has no line at all.
    const test::VerticalLayout proseLayout{.width = 1240, .height = 1000, .pixelSize = 40};
    const test::VerticalPage cat = test::renderVerticalParagraphs(
        proseLayout,
        {"吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー"
         "泣いていた事だけは記憶している。吾輩はここで始めて人間というものを見た。しかもあとで聞くとそれは書生という"
         "人間中で一番獰悪な種族であったそうだ。"});
    const test::VerticalPage botchan = test::renderVerticalParagraphs(
        proseLayout, {"親譲りの無鉄砲で小供の時から損ばかりしている。小学校に居る時分学校の二階から飛び降りて一週間ほど腰を"
                      "抜かした事がある。なぜそんな無闇をしたと聞く人があるかも知れぬ。別段深い理由でもない。"});
    for (const RasterImage* image : {&vertical.image, &cat.image, &botchan.image}) {
        const PageResult vh = AnnotationOCR::recognize(*image, 1, 1, handwriting, never, true,
                                                       AnnotationOCR::productStrategy,
                                                       AnnotationOCR::productStage2Strategy, true);
        EXPECT_TRUE(vh.regions.empty()) << vh.text();
    }
}

namespace {

struct Mixed {
    test::MixedPage page;
    // Parts of the text, each read once and in this order.
    std::vector<std::string> order;
};

}  // namespace

// A heading and a paragraph on the left, three columns on the right. On the
// first page the layout reads the columns as vertical lines that start or
// end a few characters into them; on the second it leaves two of them out
// altogether. Either way the horizontal pass leaves the columns alone.
TEST(AutoRecognition, MixedPagesReadEachTextOnceInReadingOrder) {
    const std::vector<Mixed> pages{
        {test::renderMixed({.width = 560, .height = 900, .pixelSize = 28}, {"見出しの行", paragraphs[0]},
                           {.width = 440, .height = 900, .pixelSize = 40, .right = 60}, columns),
         {"見出し", "春はあけ", "白くなりゆく山ぎは", "紫だちたる雲の細く", "夏は夜", "吾輩"}},
        {test::renderMixed({.width = 700, .height = 1000, .pixelSize = 28},
                           {"朝の店", "駅前の小さな喫茶店は、朝7時に店を開ける。店主の佐藤さんは毎朝6時に起きて、豆を"
                                      "挽き、パンを焼き、店の前を掃く。常連の客は新聞を読みながらトーストを食べる。"},
                           {.width = 400, .height = 1000, .pixelSize = 36, .right = 60, .columnAdvance = 1.8},
                           {"親譲りの無鉄砲で小供の時から損ばかり", "している。小学校に居る時分学校の二階",
                            "から飛び降りて一週間ほど腰を抜かした"}),
         {"朝の店", "親譲り", "損ばかりしている", "の二階から", "腰を抜かした", "駅前"}},
    };
    OCRSettings handwriting;
    handwriting.mode = OCRMode::handwriting;
    for (const Mixed& mixed : pages) {
        const PageResult ms = OCREngine::recognize(mixed.page.image, 1, 1, automatic(), never);
        EXPECT_EQ(ms.autoPresentation->resolved, AutoResolved::mixed);
        EXPECT_EQ(ms.autoPresentation->label(), "自動判定：混在");
        // The heading and the block share a row and the heading is further
        // left; the block's columns come together, right to left; then the
        // paragraph, below the heading.
        const std::string text = squeezed(ms.text());
        std::vector<std::size_t> places;
        for (const std::string& part : mixed.order) {
            const auto at = text.find(part);
            ASSERT_NE(at, std::string::npos) << part << " in " << ms.text();
            EXPECT_EQ(text.find(part, at + 1), std::string::npos) << part << " twice in " << ms.text();
            places.push_back(at);
        }
        EXPECT_TRUE(std::is_sorted(places.begin(), places.end())) << ms.text();
        // None of the horizontal pass's lines reads across the columns or
        // down a part of one.
        const PageResult mh = AnnotationOCR::recognize(mixed.page.image, 1, 1, handwriting, never, true,
                                                       AnnotationOCR::productStrategy,
                                                       AnnotationOCR::productStage2Strategy, true);
        const double blockLeft = mixed.page.vertical.columns.back().ink.minX() / mixed.page.image.width();
        for (const TextRegion& r : mh.regions) EXPECT_LT(r.x + r.width, blockLeft) << r.text;
    }
}

TEST(AutoRecognition, EveryModeThroughTheOneEntry) {
    const test::TextPage page = test::renderLines({.width = 600, .height = 200}, {"吾輩は猫である。名前はまだ無い。"});
    // The vertical mode refuses a page of horizontal text; it reads columns.
    const test::VerticalPage columns = test::renderColumns({.width = 300, .height = 600}, {"吾輩は猫である。", "名前はまだ無い。"});
    const std::vector<std::pair<OCRMode, std::string>> routes{
        {OCRMode::standard, "Vision.VNRecognizeTextRequest.accurate.r3"},
        {OCRMode::vertical, "Vision.vertical.reflow-r1"},
        {OCRMode::handwriting, "Vision.annotation.geometry-r4.0"},
        {OCRMode::automatic, "auto-router-c1"}};
    for (const auto& [mode, route] : routes) {
        OCRSettings s;
        s.mode = mode;
        const RasterImage& image = mode == OCRMode::vertical ? columns.image : page.image;
        EXPECT_EQ(OCREngine::recognize(image, 1, 1, s, never).route, route);
    }
}

namespace {

std::size_t lengthOf(std::string_view text) { return Unicode::scalars(squeezed(text)).size(); }

}  // namespace

// A page of vertical prose, upright and laid askew: the same verdict, every
// character read once (the horizontal pass may read the columns row by row
// as a table, whose lines lie across the columns), and no more text than the
// page holds.
TEST(AutoRecognition, VerticalPagesAreReadOnceUprightOrAskew) {
    const test::VerticalLayout layout{.width = 760, .height = 760, .pixelSize = 34, .columnAdvance = 1.3};
    const test::VerticalPage page = test::renderVerticalParagraphs(
        layout, {"港町の朝は、まだ暗いうちから始まる。四時を過ぎると、岸壁に沿って並んだ倉庫の明かりが一つずつともり、"
                 "長靴の音があちこちで響きはじめる。沖から戻った小さな漁船は、エンジンの音を落としながら順番に船着き"
                 "場へ寄っていく。"});
    std::string truth;
    for (const test::DrawnColumn& c : page.columns) truth += c.text;
    for (const double degrees : {0.0, 0.8}) {
        const RasterImage image = degrees == 0 ? page.image : test::rotated(page.image, degrees);
        const PageResult read = OCREngine::recognize(image, 1, 1, automatic(), never);
        EXPECT_EQ(read.autoPresentation->resolved, AutoResolved::vertical) << degrees;
        EXPECT_LE(lengthOf(read.text()), 1.1 * lengthOf(truth)) << degrees << ": " << read.text();
        EXPECT_LT(test::characterErrorRate(truth, squeezed(read.text())), 0.05) << degrees << ": " << read.text();
    }
}

// Two short columns alone on a small image: too few to be sure of, and no
// horizontal line in them. The page is read vertically, not given back
// empty.
TEST(AutoRecognition, APageWithTextIsNeverEmpty) {
    const std::vector<std::string> two{"本日の受付は終了しました。", "裏口の呼び鈴を押してください。"};
    const test::VerticalPage page =
        test::renderColumns({.width = 200, .height = 760, .pixelSize = 48, .right = 24, .top = 24}, two);
    const PageResult read = OCREngine::recognize(page.image, 1, 1, automatic(), never);
    EXPECT_EQ(read.autoPresentation->resolved, AutoResolved::vertical);
    EXPECT_LT(test::characterErrorRate(two[0] + two[1], squeezed(read.text())), 0.1) << read.text();
}

// A table set with tab stops: its columns of cells are no vertical text.
TEST(AutoRecognition, ATableIsJudgedHorizontalAndReadRowByRow) {
    std::vector<test::PlacedText> items;
    const std::vector<std::vector<std::string>> cells{
        {"順位", "チーム", "記録"}, {"1", "北浜陸上クラブ", "2:14:38"}, {"2", "みどり野走友会", "2:16:05"},
        {"3", "港南アスリート", "2:17:40"}, {"4", "西町ランナーズ", "2:19:12"}, {"5", "山の手走会", "2:21:30"},
        {"6", "川辺スポーツ", "2:22:08"},   {"7", "東台陸友会", "2:24:51"}};
    for (std::size_t r = 0; r < cells.size(); ++r) {
        for (std::size_t c = 0; c < cells[r].size(); ++c) {
            items.push_back({cells[r][c], 40.0 + std::vector<double>{0, 4, 14}[c] * 30, 40 + r * 1.7 * 30});
        }
    }
    const test::TextPage table = test::renderPlaced({.width = 800, .height = 500, .pixelSize = 30}, items);
    const PageResult read = OCREngine::recognize(table.image, 1, 1, automatic(), never);
    EXPECT_EQ(read.autoPresentation->resolved, AutoResolved::standard);
    ASSERT_EQ(read.regions.size(), cells.size()) << read.text();
    for (std::size_t r = 0; r < cells.size(); ++r) {
        EXPECT_EQ(read.regions[r].text.substr(0, read.regions[r].text.find('\t')), cells[r][0]) << read.text();
        EXPECT_EQ(std::count(read.regions[r].text.begin(), read.regions[r].text.end(), '\t'), 2) << read.text();
    }
}

namespace {

// The image with a streak of specks across its whole width, as a scanner
// leaves: small dark dots of 2 to 4 pixels, a few in a hundred pixels of the
// band, at places fixed by the seed.
RasterImage streaked(const RasterImage& image, int top, int height, unsigned seed) {
    const int c = image.channels();
    std::vector<uint8_t> pixels;
    pixels.reserve(static_cast<std::size_t>(image.width()) * image.height() * c);
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* row = image.pixels() + static_cast<std::size_t>(y) * image.rowStride();
        pixels.insert(pixels.end(), row, row + static_cast<std::size_t>(image.width()) * c);
    }
    unsigned state = seed;
    const auto next = [&] {
        state = state * 1103515245u + 12345u;
        return (state >> 8) & 0xffff;
    };
    const int dots = image.width() * height / 50;
    for (int k = 0; k < dots; ++k) {
        const int x = static_cast<int>(next() % static_cast<unsigned>(image.width()));
        const int y = top + static_cast<int>(next() % static_cast<unsigned>(height));
        const int size = 1;
        for (int dy = 0; dy < size && y + dy < image.height(); ++dy) {
            for (int dx = 0; dx < size && x + dx < image.width(); ++dx) {
                for (int ch = 0; ch < std::min(c, 3); ++ch) {
                    pixels[(static_cast<std::size_t>(y + dy) * image.width() + x + dx) * c + ch] = 0;
                }
            }
        }
    }
    return RasterImage::fromPixels(image.width(), image.height(), c, pixels);
}

}  // namespace

// A streak of specks across a page of vertical text: the horizontal pass
// reads it, with the pieces of the columns it crosses, as a line of dashes,
// stray signs and characters, which is no text of the page. The page keeps
// its columns and no line of noise; the vertical reading alone is the
// measure.
TEST(AutoRecognition, ANoisyVerticalPageKeepsNoLineOfNoise) {
    const test::VerticalLayout layout{.width = 2480, .height = 3508, .pixelSize = 46, .right = 236, .top = 236,
                                      .columnAdvance = 2.4, .family = "Noto Serif CJK JP"};
    const std::vector<std::string> text{
        "河川の氾濫を防ぐには、堤防を高く築くだけでなく、流域全体で雨水を受け止める工夫が欠かせない。上流域では"
        "森林の保水機能を維持し、中流域では遊水地や調整池を整備して洪水の最大流量を抑える。下流域の市街地では、"
        "雨水貯留施設や浸透桝を設け、排水機場の能力を計画的に増強する必要がある。",
        "近年は局地的な豪雨が増え、従来の想定を上回る降水量が観測される事例も多い。行政と住民、企業が協議会で"
        "浸水被害の実績や予測を共有し、施策の優先順位と役割分担を明記した流域治水計画を策定することが肝要である。"};
    const test::VerticalPage page = test::renderVerticalParagraphs(layout, text);
    OCRSettings vertical;
    vertical.mode = OCRMode::vertical;
    // Two streaks: one read as a weak line of dashes over the specks, one as
    // a surer line of the characters of the columns it crosses.
    for (const unsigned seed : {2u, 3u}) {
        const RasterImage noisy = streaked(page.image, 1700, 50, seed);
        const std::string columns = OCREngine::recognize(noisy, 1, 1, vertical, never).text();
        const PageResult read = OCREngine::recognize(noisy, 1, 1, automatic(), never);
        EXPECT_EQ(read.autoPresentation->resolved, AutoResolved::vertical) << seed;
        EXPECT_EQ(squeezed(read.text()), squeezed(columns)) << seed << ": " << read.text();
        // A line of noise left out is said to be nothing, not handwriting.
        EXPECT_NE(read.autoPresentation->handwriting, "detected") << seed;
    }
}

// A page of columns with a short line set across its foot, too short to make
// the page mixed: read as the vertical mode reads it, line and all.
TEST(AutoRecognition, AVerticalPageIsReadAsTheVerticalModeReadsIt) {
    const test::VerticalPage page = test::renderColumns({.width = 500, .height = 900, .pixelSize = 40}, columns);
    const test::TextPage foot =
        test::renderPlaced({.width = 500, .height = 900, .pixelSize = 24}, {{"第一章　春", 40, 840}});
    const RasterImage image = test::overlaid(page.image, foot.image);
    OCRSettings vertical;
    vertical.mode = OCRMode::vertical;
    const PageResult read = OCREngine::recognize(image, 1, 1, automatic(), never);
    EXPECT_EQ(read.autoPresentation->resolved, AutoResolved::vertical);
    EXPECT_EQ(read.text(), OCREngine::recognize(image, 1, 1, vertical, never).text());
}

// A notice with the days of the week set one below the other beside it: the
// layout takes the days for a column of vertical text, which the standard
// mode reads with the rest. A page found horizontal is read as the standard
// mode reads it, every line it lays out kept.
TEST(AutoRecognition, AHorizontalPageIsReadAsTheStandardModeReadsIt) {
    std::vector<test::PlacedText> items{{"営業日のご案内", 60, 40}, {"当店の営業日は次のとおりです。", 60, 100},
                                        {"祝日は休業いたします。", 60, 150}};
    const std::vector<std::string> days{"月", "火", "水", "木", "金", "土"};
    for (std::size_t k = 0; k < days.size(); ++k) items.push_back({days[k], 700, 40 + 28.0 * double(k)});
    const RasterImage image = test::renderPlaced({.width = 800, .height = 360, .pixelSize = 28}, items).image;
    OCRSettings standard;
    standard.mode = OCRMode::standard;
    const PageResult read = OCREngine::recognize(image, 1, 1, automatic(), never);
    EXPECT_NE(read.autoPresentation->resolved, AutoResolved::vertical);
    EXPECT_NE(read.autoPresentation->resolved, AutoResolved::mixed);
    EXPECT_EQ(read.text(), OCREngine::recognize(image, 1, 1, standard, never).text());
}

// Columns under a heading of more characters than a vertical page holds
// beside its columns: the columns' reading does not take the heading in, and
// the page is mixed, the heading read once and across.
TEST(AutoRecognition, ColumnsUnderALongHeadingMakeAMixedPage) {
    const std::string heading = "春の随筆を読む会のご案内です";
    const test::VerticalPage page =
        test::renderColumns({.width = 640, .height = 900, .pixelSize = 40, .right = 60, .top = 140}, columns);
    const test::TextPage top = test::renderPlaced({.width = 640, .height = 900, .pixelSize = 32}, {{heading, 60, 40}});
    const PageResult read = OCREngine::recognize(test::overlaid(page.image, top.image), 1, 1, automatic(), never);
    EXPECT_EQ(read.autoPresentation->resolved, AutoResolved::mixed);
    const std::string text = squeezed(read.text());
    for (const std::string part : {"春の随筆", "会のご案内"}) {
        const auto at = text.find(part);
        ASSERT_NE(at, std::string::npos) << part << " in " << read.text();
        EXPECT_EQ(text.find(part, at + 1), std::string::npos) << part << " twice in " << read.text();
    }
    EXPECT_LT(test::characterErrorRate(heading + columns[0] + columns[1] + columns[2], text), 0.1) << read.text();
}
