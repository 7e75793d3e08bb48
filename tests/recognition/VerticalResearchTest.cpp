#include <atomic>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "foundation/Task.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "recognition/vertical/VerticalProduct.hpp"
#include "recognition/vertical/VerticalResearch.hpp"
#include "support/Errors.hpp"
#include "support/InkPages.hpp"
#include "support/MainLoop.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;
using namespace velmora::VerticalResearch;
using Cells = std::vector<VerticalResearch::Run>;

namespace {

const std::vector<std::string> threeColumns{
    "どこで生れたかとんと見当がつかぬ。",
    "何でも薄暗いじめじめした所で泣いていた。",
    "春はあけぼの。やうやう白くなりゆく山ぎは、",
};

OCRSettings verticalSettings() {
    OCRSettings s;
    s.mode = OCRMode::vertical;
    return s;
}

auto never = [] { return false; };

std::vector<bool> flags(std::initializer_list<int> pattern) {
    // Alternating lengths of true and false, starting with true.
    std::vector<bool> out;
    bool value = true;
    for (int n : pattern) {
        out.insert(out.end(), static_cast<std::size_t>(n), value);
        value = !value;
    }
    return out;
}

GreyPage grey(int width, int height) {
    GreyPage page;
    page.width = width;
    page.height = height;
    page.pixels.assign(std::size_t(width) * height, 255);
    return page;
}

// A column of `glyphs` marks, each `mark` rows tall, one below the other
// with `space` blank rows between, `width` pixels wide at x.
void column(test::InkPage& page, int x, int width, int glyphs, int mark = 2, int space = 9, int top = 4) {
    for (int k = 0; k < glyphs; ++k) page.fill(x, top + k * (mark + space), width, mark);
}

bool inside(const Box& inner, const Box& outer, double slack) {
    return inner.x >= outer.x - slack && inner.y >= outer.y - slack &&
           inner.x + inner.width <= outer.x + outer.width + slack &&
           inner.y + inner.height <= outer.y + outer.height + slack;
}

}  // namespace

TEST(VerticalResearchAnalysis, RunsBridgeGapsUpToTheirLimit) {
    EXPECT_TRUE(runs({}, columnGap).empty());
    EXPECT_TRUE(runs(std::vector<bool>(20, false), columnGap).empty());
    EXPECT_EQ(runs(flags({3, 12, 2}), columnGap), (Cells{{0, 17}}));
    EXPECT_EQ(runs(flags({3, 13, 2}), columnGap), (Cells{{0, 3}, {16, 18}}));
    EXPECT_EQ(runs(flags({1, 8, 1}), glyphGap), (Cells{{0, 10}}));
    EXPECT_EQ(runs(flags({1, 9, 1, 2, 4}), glyphGap), (Cells{{0, 1}, {10, 17}}));
    std::vector<bool> late(30, false);
    late[29] = true;
    EXPECT_EQ(runs(late, columnGap), (Cells{{29, 30}}));
}

TEST(VerticalResearchAnalysis, InkIsDarkerThan150InMoreThanTwoPixelsOfAColumn) {
    GreyPage page = grey(4, 10);
    auto set = [&](int x, int y, uint8_t v) { page.pixels[std::size_t(y) * 4 + x] = v; };
    set(0, 1, 0), set(0, 5, 0);                               // exactly 2 dark pixels
    set(1, 1, 0), set(1, 5, 0), set(1, 9, 0);                 // 3
    for (int y = 0; y < 10; ++y) set(2, y, 150);              // 150 is not dark
    set(3, 0, 149), set(3, 1, 149), set(3, 2, 149);           // 149 is
    EXPECT_EQ(inkColumns(page), (std::vector<bool>{false, true, false, true}));
    EXPECT_EQ(rowFlags(page, {2, 3}), std::vector<bool>(10, false));
    EXPECT_EQ(glyphRuns(page, {0, 2}), (Cells{{1, 10}}));
}

TEST(VerticalResearchAnalysis, TallRunsInColumnsOf16OrMoreAreRecut) {
    EXPECT_TRUE(needsRecut({0, 16}, {{0, 10}, {20, 53}}));
    EXPECT_FALSE(needsRecut({0, 15}, {{0, 33}}));
    EXPECT_FALSE(needsRecut({0, 16}, {{0, 32}, {40, 72}}));

    // Ten bands of ink 20 rows tall, 4 blank rows apart (bridged into one
    // run): pitch 24, cut in the blank rows.
    GreyPage page = grey(20, 260);
    for (int k = 0; k < 10; ++k) {
        for (int y = 10 + 24 * k; y < 30 + 24 * k; ++y) {
            for (int x = 0; x < 20; ++x) page.pixels[std::size_t(y) * 20 + x] = 0;
        }
    }
    const Cells merged = glyphRuns(page, {0, 20});
    ASSERT_EQ(merged, (Cells{{10, 246}}));
    const std::vector<double> profile = rowProfile(page, {0, 20}, 10, 246);
    EXPECT_EQ(estimatePitch(profile, 20), 24);
    EXPECT_EQ(estimatePhase(profile, 24), 20);
    const Cells cells = splitGlyphs(page, {0, 20}, merged);
    ASSERT_EQ(cells.size(), 10u);
    EXPECT_EQ(cells.front(), (VerticalResearch::Run{10, 30}));
    EXPECT_EQ(cells[1], (VerticalResearch::Run{30, 54}));
    EXPECT_EQ(cells.back(), (VerticalResearch::Run{222, 246}));

    // A profile shorter than every pitch scores -1 everywhere: the shortest
    // pitch wins.
    EXPECT_EQ(estimatePitch(std::vector<double>(5, 1.0), 20), 17);
}

// Touching glyphs drawn in vertical gravity merge into long runs; the re-cut
// finds one cell per character.
TEST(VerticalResearchAnalysis, ACColumnOfTouchingGlyphsIsRecutByPitch) {
    const std::string text = "国立国会図書館東京本館議事録";
    const test::VerticalPage page = test::renderColumns({.width = 200, .height = 800}, {text});
    const GreyPage g = GreyPage::from(page.image);
    const Cells columns = runs(inkColumns(g), columnGap);
    ASSERT_EQ(columns.size(), 1u);
    const Cells merged = glyphRuns(g, columns[0]);
    const auto characters = static_cast<long>(Unicode::graphemeCount(text));
    EXPECT_LT(static_cast<long>(merged.size()), characters);
    ASSERT_TRUE(needsRecut(columns[0], merged));
    const Cells cells = splitGlyphs(g, columns[0], merged);
    EXPECT_NEAR(static_cast<long>(cells.size()), characters, 1);
    for (std::size_t i = 1; i < cells.size(); ++i) EXPECT_EQ(cells[i].start, cells[i - 1].end);
}

// Real vertical text: three columns read right to left, each candidate tied
// to glyph boxes inside its column, top to bottom.
TEST(VerticalResearchReading, ThreeColumnsAreReadRightToLeft) {
    const test::VerticalPage page = test::renderColumns({.width = 420, .height = 1100}, threeColumns);
    const Result r = recognize(page.image, Method::reflow);
    ASSERT_EQ(r.columns.size(), 3u);
    EXPECT_EQ(r.requests, 3);
    EXPECT_GT(r.columns[0].x, r.columns[1].x);
    EXPECT_GT(r.columns[1].x, r.columns[2].x);
    for (std::size_t i = 0; i < 3; ++i) {
        const Rect ink = page.columns[i].ink;
        const Box drawn({ink.x, ink.y, ink.width, ink.height}, page.image);
        EXPECT_NEAR(r.columns[i].x, drawn.x, 0.01);
        EXPECT_NEAR(r.columns[i].y + r.columns[i].height, drawn.y + drawn.height, 0.01);
    }
    int64_t glyphs = 0;
    for (const Candidate& c : r.candidates) {
        ASSERT_LT(c.column, 3);
        EXPECT_FALSE(c.source.empty()) << c.text;
        for (std::size_t k = 0; k < c.source.size(); ++k) {
            EXPECT_TRUE(inside(c.source[k], r.columns[std::size_t(c.column)], 1e-9));
            if (k > 0) {
                EXPECT_LT(c.source[k].y, c.source[k - 1].y) << "top to bottom";
            }
        }
        glyphs += static_cast<int64_t>(c.source.size());
    }
    EXPECT_LE(glyphs, r.glyphs);

    const std::vector<TextRegion> regions = VerticalProduct::columnRegions(r);
    ASSERT_EQ(regions.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_LE(test::characterErrorRate(threeColumns[i], regions[i].text), 0.05) << regions[i].text;
        EXPECT_EQ(regions[i].kind, RegionKind::unknown);
        ASSERT_TRUE(regions[i].verticalCandidates && regions[i].sourceBoxes);
        EXPECT_FALSE(regions[i].annotationEvidence.has_value());
        float lowest = 1;
        for (const Candidate& c : *regions[i].verticalCandidates) lowest = std::min(lowest, c.confidence);
        EXPECT_EQ(regions[i].confidence, lowest);
        // The region is the union of its glyph boxes.
        double top = 0;
        for (const OCRSourceBox& b : *regions[i].sourceBoxes) top = std::max(top, b.y + b.height);
        EXPECT_DOUBLE_EQ(regions[i].y + regions[i].height, top);
    }
    EXPECT_EQ(r.text(), regions[0].text + "\n" + regions[1].text + "\n" + regions[2].text);
    EXPECT_EQ(JSON::decode<Result>(Json(r)), r);
}

// Each column's region is where its text was drawn: the automatic mode
// orders a page's blocks by these boxes.
TEST(VerticalResearchReading, EachColumnRegionCoversItsDrawnColumn) {
    const test::VerticalPage page = test::renderColumns({.width = 420, .height = 1100}, threeColumns);
    const PageResult result = VerticalProduct::recognize(page.image, 1, 1, verticalSettings(), never);
    ASSERT_EQ(result.regions.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const TextRegion& r = result.regions[i];
        // The region in pixels from the top-left corner, against the ink
        // Pango reports for the column; a glyph cell may reach a few pixels
        // past that ink.
        const double left = r.x * 420, right = (r.x + r.width) * 420;
        const double top = (1 - r.y - r.height) * 1100, bottom = (1 - r.y) * 1100;
        const Rect ink = page.columns[i].ink;
        const std::string where = "column " + std::to_string(i) + ": rows " + std::to_string(top) + "…" +
                                  std::to_string(bottom) + ", drawn " + std::to_string(ink.minY()) + "…" +
                                  std::to_string(ink.maxY());
        EXPECT_NEAR(top, ink.minY(), 4) << where;
        EXPECT_NEAR(bottom, ink.maxY(), 4) << where;
        EXPECT_NEAR(left, ink.minX(), 4) << where;
        EXPECT_NEAR(right, ink.maxX(), 4) << where;
        // The cells of the column, top to bottom, each once.
        ASSERT_TRUE(r.sourceBoxes);
        EXPECT_GE(r.sourceBoxes->size(), Unicode::graphemeCount(threeColumns[i]) - 2) << where;
        for (std::size_t k = 1; k < r.sourceBoxes->size(); ++k) {
            EXPECT_LT((*r.sourceBoxes)[k].y, (*r.sourceBoxes)[k - 1].y) << where << ", box " << k;
        }
    }
}

// The mode through the one entry: the vertical route, the upright size and
// the source geometry.
TEST(VerticalResearchReading, TheVerticalModeGoesThroughTheEngine) {
    const test::VerticalPage page = test::renderColumns({.width = 420, .height = 1100}, threeColumns);
    const PageResult result = OCREngine::recognize(page.image, 1, 7, verticalSettings(), never);
    EXPECT_EQ(result.route, "Vision.vertical.reflow-r1");
    EXPECT_EQ(result.page, 7);
    ASSERT_EQ(result.regions.size(), 3u);
    EXPECT_LE(test::characterErrorRate(threeColumns[0] + "\n" + threeColumns[1] + "\n" + threeColumns[2],
                                       result.text()),
              0.05)
        << result.text();
    EXPECT_EQ(result.processingScale, 1.0);
    EXPECT_EQ(result.sourceOrientation, 1u);
    EXPECT_FALSE(result.autoPresentation.has_value());

    // A blank page stored a quarter turned: no region, no request, the
    // upright size.
    const RasterImage blank = test::InkPage(300, 200).image();
    const PageResult empty = OCREngine::recognize(blank, 6, 2, verticalSettings(), never);
    EXPECT_TRUE(empty.regions.empty());
    EXPECT_EQ(empty.route, "Vision.vertical.reflow-r1");
    EXPECT_EQ(empty.pixelWidth, 200);
    EXPECT_EQ(empty.pixelHeight, 300);
    EXPECT_EQ(empty.sourcePixelWidth, 300);
    EXPECT_EQ(empty.sourcePixelHeight, 200);
    EXPECT_EQ(empty.sourceOrientation, 6u);
    const Result research = recognize(blank, Method::reflow);
    EXPECT_TRUE(research.columns.empty());
    EXPECT_TRUE(research.candidates.empty());
    EXPECT_EQ(research.requests, 0);
    EXPECT_EQ(research.glyphs, 0);
}

TEST(VerticalResearchReading, EveryColumnGivesARegionEvenWithoutText) {
    Result r;
    r.columns = {Box(0.6, 0.1, 0.1, 0.8), Box(0.3, 0.1, 0.1, 0.8), Box(0.1, 0.1, 0.1, 0.8)};
    r.candidates = {{0, "右", 0.9f, {Box(0.6, 0.8, 0.1, 0.1)}, 0},
                    {1, "の", 0.7f, {Box(0.6, 0.6, 0.1, 0.1), Box(0.6, 0.5, 0.1, 0.1)}, 0},
                    {2, "左", 0.8f, {}, 2}};
    const std::vector<TextRegion> regions = VerticalProduct::columnRegions(r);
    ASSERT_EQ(regions.size(), 3u);
    EXPECT_EQ(regions[0].text, "右の");
    EXPECT_EQ(regions[0].confidence, 0.7f);
    EXPECT_DOUBLE_EQ(regions[0].y, 0.5);
    EXPECT_DOUBLE_EQ(regions[0].height, 0.4);
    EXPECT_EQ(regions[0].sourceBoxes->size(), 3u);
    // A column without candidates, and one whose candidate touches no glyph.
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(regions[i].x, 0);
        EXPECT_EQ(regions[i].width, 0);
        EXPECT_TRUE(regions[i].sourceBoxes->empty());
    }
    EXPECT_EQ(regions[1].text, "");
    EXPECT_EQ(regions[1].confidence, 0);
    EXPECT_TRUE(regions[1].verticalCandidates->empty());
    EXPECT_EQ(regions[2].text, "左");
    EXPECT_EQ(regions[2].confidence, 0.8f);
}

TEST(VerticalResearchLimits, PageSizeColumnsAndMethodAreCheckedFirst) {
    EXPECT_EQ(recognize(test::InkPage(8192, 2048).image(), Method::reflow).requests, 0);
    // Beyond the limits the page is refused for its size, not as a file that
    // cannot be read.
    for (auto [w, h] : {std::pair{8192, 2049}, {8193, 1}, {1, 16385}}) {
        EXPECT_EQ(test::caseOf([&] { recognize(test::InkPage(w, h).image(), Method::reflow); }),
                  ErrorCase::budgetExceeded)
            << w << " × " << h;
    }
    EXPECT_EQ(test::caseOf([] { recognize(RasterImage(), Method::reflow); }), ErrorCase::invalidInput);
    // The method is refused before the image is looked at.
    EXPECT_EQ(test::caseOf([] { recognize(RasterImage(), Method::column); }), ErrorCase::unsupportedMode);

    // 129 columns of one mark each.
    test::InkPage many(129 * 16, 20);
    for (int i = 0; i < 129; ++i) many.fill(i * 16, 4, 3, 6);
    int polls = 0;
    EXPECT_EQ(test::caseOf([&] { recognize(many.image(), Method::reflow, [&] { return ++polls, false; }); }),
              ErrorCase::budgetExceeded);
    EXPECT_EQ(polls, 1) << "refused before any column is read";

    // Preprocessing is refused before the predicate is polled.
    OCRSettings preprocessing = verticalSettings();
    preprocessing.preprocessing = "binarize";
    polls = 0;
    EXPECT_EQ(test::caseOf([&] {
                  OCREngine::recognize(many.image(), 1, 1, preprocessing, [&] { return ++polls, false; });
              }),
              ErrorCase::unsupportedMode);
    EXPECT_EQ(polls, 0);

    // A column is read only with settings the standard pass accepts.
    test::InkPage one(40, 40);
    column(one, 10, 4, 3);
    OCRSettings revision = verticalSettings();
    revision.revision = 99;
    EXPECT_EQ(test::caseOf([&] { OCREngine::recognize(one.image(), 1, 1, revision, never); }),
              ErrorCase::unsupportedLanguage);
    OCRSettings language = verticalSettings();
    language.languages = {"fr-FR"};
    EXPECT_EQ(test::caseOf([&] { recognize(one.image(), Method::reflow, never, language); }),
              ErrorCase::unsupportedLanguage);
}

TEST(VerticalResearchLimits, GlyphsPerPageAndStripWidth) {
    // 4096 glyphs on a page pass the count, 4097 are refused before any
    // column is read. A stop asked at the first column's poll tells the two
    // apart without reading.
    test::InkPage page(60, 1400 * 11 + 10);
    column(page, 40, 3, 1400);
    column(page, 25, 3, 1400);
    column(page, 10, 3, 1296);
    const auto stopAtFirstColumn = [] {
        int polls = 0;
        return [polls]() mutable { return ++polls == 2; };
    };
    EXPECT_THROW(recognize(page.image(), Method::reflow, stopAtFirstColumn()), CancellationError);
    column(page, 10, 3, 1297);
    EXPECT_EQ(test::caseOf([&] { recognize(page.image(), Method::reflow, stopAtFirstColumn()); }),
              ErrorCase::budgetExceeded);

    // The reflow strip: cells of 24 pixels, so 454 glyphs make a strip 16376
    // pixels wide and 455 would need 16412. A column read as a line has no
    // such bound.
    test::InkPage strip(20, 455 * 11 + 10);
    column(strip, 5, 3, 454);
    const Result widest = recognizeWith(strip.image(), Method::reflow, ColumnReader::reflowStrip, never, {});
    EXPECT_EQ(widest.glyphs, 454);
    EXPECT_EQ(widest.requests, 1);
    column(strip, 5, 3, 455);
    EXPECT_EQ(test::caseOf([&] { recognizeWith(strip.image(), Method::reflow, ColumnReader::reflowStrip, never, {}); }),
              ErrorCase::budgetExceeded);
    EXPECT_EQ(recognize(strip.image(), Method::reflow).glyphs, 455);
}

TEST(VerticalResearchControl, PollsAtEveryNamedPointAndStopsThere) {
    // Two columns: three marks on the right, two on the left.
    test::InkPage page(80, 60);
    column(page, 50, 4, 3);
    column(page, 10, 4, 2);
    const RasterImage image = page.image();

    // Before the raster, before each column and glyph, before each request,
    // before its sideways read and after it: 1 + (1 + 3 + 3) + (1 + 2 + 3).
    // The requests themselves never poll the caller's predicate.
    int polls = 0;
    const Result r = recognize(image, Method::reflow, [&] { return ++polls, false; });
    EXPECT_EQ(r.requests, 2);
    EXPECT_EQ(polls, 14);

    // True when the second column begins (the 9th poll): the research stops
    // there with the task-cancellation error.
    polls = 0;
    EXPECT_THROW(recognize(image, Method::reflow, [&] { return ++polls == 9; }), CancellationError);
    EXPECT_EQ(polls, 9);

    // Already true: the product stops before the research with `cancelled`.
    polls = 0;
    EXPECT_EQ(test::caseOf([&] {
                  VerticalProduct::recognize(image, 1, 1, verticalSettings(), [&] { return ++polls, true; });
              }),
              ErrorCase::cancelled);
    EXPECT_EQ(polls, 1);
    // Turning true during the research: the research's error passes through.
    polls = 0;
    EXPECT_THROW(VerticalProduct::recognize(image, 1, 1, verticalSettings(), [&] { return ++polls >= 3; }),
                 CancellationError);
    // Turning true after it: the product's last poll gives `cancelled`.
    polls = 0;
    EXPECT_EQ(test::caseOf([&] {
                  VerticalProduct::recognize(image, 1, 1, verticalSettings(), [&] { return ++polls == 16; });
              }),
              ErrorCase::cancelled);
}

TEST(VerticalResearchControl, SixtySecondsOnTheRecognitionClockIsALoadTimeout) {
    test::InkPage page(80, 60);
    column(page, 50, 4, 3);
    const RasterImage image = page.image();
    ManualUptimeClock clock;
    RecognitionClock::Scope scope(clock);
    // 30 seconds pass at every poll: exactly 60 at the second poll still
    // passes, 90 at the third does not.
    int polls = 0;
    EXPECT_EQ(test::caseOf([&] {
                  recognize(image, Method::reflow, [&] {
                      clock.advance(30);
                      return ++polls, false;
                  });
              }),
              ErrorCase::loadTimeout);
    EXPECT_EQ(polls, 3);

    // The seconds of a result are read on the same clock.
    const Result r = recognize(image, Method::reflow, [&] {
        clock.advance(1);
        return false;
    });
    EXPECT_DOUBLE_EQ(r.seconds, 8);
}

namespace {

Task<void> recogniseOnWorker(const RasterImage* image, std::atomic<bool>* started) {
    co_await runOnWorker([image, started] {
        started->store(true);
        // Waits (bounded) for the cancellation to arrive, then recognises.
        for (int i = 0; i < 2000 && !isCurrentTaskCancelled(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        OCRSettings s;
        s.mode = OCRMode::vertical;
        OCREngine::recognize(*image, 1, 1, s, [] { return false; });
    });
}

}  // namespace

TEST(VerticalResearchControl, ACancelledTaskStopsTheRecognitionOnItsWorker) {
    test::InkPage page(80, 60);
    column(page, 50, 4, 3);
    const RasterImage image = page.image();
    std::atomic<bool> started{false};
    test::Spawned<void> task(recogniseOnWorker(&image, &started));
    ASSERT_TRUE(test::spinUntil([&] { return started.load(); }));
    task.handle.cancel();
    ASSERT_TRUE(task.finish());
    ASSERT_TRUE(task.out->error);
    EXPECT_THROW(std::rethrow_exception(task.out->error), CancellationError);
}

namespace {

std::string squeezedText(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != ' ' && c != '\n') out += c;
    }
    return out;
}

const std::vector<std::string> fourColumns{
    "港町の朝は、まだ暗いうちから始まる。", "沖から戻った小さな漁船は順番に",
    "船着き場へ寄っていく。氷を積んだ台車が", "何台も通り過ぎ、市場の床は光った。"};

std::string truthOf(const std::vector<std::string>& columns) {
    std::string out;
    for (const std::string& c : columns) out += c;
    return out;
}

// The columns set in the typeface at size pixels on a page eight characters
// wide and the given number tall, with a margin of 0.6 of a character.
RasterImage columnsPage(const std::vector<std::string>& columns, const std::string& family, double size, int tall) {
    return test::renderColumns({.width = int(size * 8), .height = int(size * tall), .pixelSize = size,
                                .right = size * 0.6, .top = size * 0.6, .family = family},
                               columns)
        .image;
}

}  // namespace

// Pages as poor scans give them: speckled, so that every pixel column holds
// dark pixels and no blank gap parts the columns; laid a degree askew, so
// that each column drifts sideways by about a gap; softened and saved as a
// JPEG; and small, as at 150 dpi. Each is read, column by column.
TEST(VerticalResearchDegraded, SpeckledAskewSoftAndSmallPagesAreRead) {
    const test::VerticalPage clean =
        test::renderColumns({.width = 560, .height = 1000, .pixelSize = 44, .columnAdvance = 1.45}, fourColumns);
    const std::string truth = truthOf(fourColumns);
    const std::vector<std::pair<std::string, RasterImage>> pages{
        {"speckled", test::speckled(clean.image, 0.005, 7)},
        {"askew by 1°", test::rotated(test::speckled(clean.image, 0.002, 8), 1.0)},
        {"askew by -1°, soft, JPEG", test::jpegged(test::blurred(test::rotated(clean.image, -1.0), 1), 60)},
        {"small", test::renderColumns({.width = 280, .height = 520, .pixelSize = 22, .right = 20, .top = 20,
                                       .columnAdvance = 1.45},
                                      fourColumns)
                      .image},
    };
    for (const auto& [name, image] : pages) {
        const PageResult read = OCREngine::recognize(image, 1, 1, verticalSettings(), never);
        EXPECT_EQ(read.regions.size(), 4u) << name << ": " << read.text();
        EXPECT_LT(test::characterErrorRate(truth, squeezedText(read.text())), 0.06) << name << ": " << read.text();
        // The column boxes lie on the page as given, not on the page
        // turned upright.
        for (const TextRegion& r : read.regions) EXPECT_GT(r.height, 0.5) << name;
    }
}

// More columns and glyph cells than a page used to be allowed (64 and 512):
// 70 columns of 8 characters each, every column read on its own.
TEST(VerticalResearchLimits, PagesOfManyColumnsAndCellsAreRead) {
    const std::string source =
        "空が白むころには売り買いの大半が片付いている漁師たちは網を干し食堂ののれんが上がり湯気の立つ味噌汁の匂いが"
        "通りまで流れてくる町の人々が目を覚ますのはたいていこの時刻だ";
    const std::vector<char32_t> characters = Unicode::scalars(source);
    std::vector<std::string> columns;
    for (int i = 0; i < 70; ++i) {
        std::string column;
        for (int k = 0; k < 8; ++k) Unicode::appendScalar(column, characters[(i * 8 + k) % characters.size()]);
        columns.push_back(column);
    }
    const test::VerticalPage page = test::renderColumns(
        {.width = 70 * 30 + 40, .height = 8 * 20 + 40, .pixelSize = 20, .right = 20, .top = 20, .columnAdvance = 1.5},
        columns);
    const Result read = recognize(page.image, Method::reflow);
    EXPECT_EQ(read.columns.size(), 70u);
    EXPECT_GT(read.glyphs, 512);
    EXPECT_LT(test::characterErrorRate(truthOf(columns), squeezedText(read.text())), 0.05) << read.text();
}

// Half-width digits, Latin letters and their signs lie on their side in
// vertical text. A date, times, a phone number, a price and a web address
// set so in a few columns are read with every digit and sign, among upright
// kana and kanji that stay as they are: in two typefaces, softened or saved
// as a JPEG.
TEST(VerticalResearchReading, SidewaysDigitsAndLatinLettersAreRead) {
    const std::vector<std::string> columns{
        "受付は2026年7月4日から9月30日までです。",
        "電話：045-123-9876（9:30〜17:00）",
        "詳しくはhttps://www.example.org/event/をご覧ください。",
        "会費は1人3,500円、定員は24名です。",
    };
    const std::vector<std::string> runs{"2026年7月4日", "30日", "045-123-9876", "9:30〜17:00",
                                        "www.example.org/event", "3,500円", "24名"};
    const auto page = [&](const std::string& family, double size) { return columnsPage(columns, family, size, 34); };
    const std::vector<std::pair<std::string, RasterImage>> pages{
        {"Noto Sans, 30 px, soft, JPEG", test::jpegged(test::blurred(page("Noto Sans CJK JP", 30), 1), 70)},
        {"IPAMincho, 36 px, JPEG", test::jpegged(page("IPAMincho", 36), 60)},
    };
    for (const auto& [name, image] : pages) {
        const PageResult read = OCREngine::recognize(image, 1, 1, verticalSettings(), never);
        const std::string text = squeezedText(read.text());
        EXPECT_EQ(read.regions.size(), columns.size()) << name << ": " << read.text();
        for (const std::string& run : runs) {
            EXPECT_NE(text.find(run), std::string::npos) << name << ": " << run << " in " << text;
        }
        EXPECT_LT(test::characterErrorRate(truthOf(columns), text), 0.06) << name << ": " << text;
    }
}

// The black squares that mark a notice's headings are read as such, not as
// the densest kanji the vertical model knows, and nothing else changes:
// upright among kanji and kana, in two typefaces, clean and saved as a JPEG.
TEST(VerticalResearchReading, TheBlackSquaresOfHeadingsAreRead) {
    const std::vector<std::string> columns{
        "■受付の時間",
        "平日の午前九時から午後五時までです。",
        "■申し込みの方法",
        "窓口か電話でお申し込みください。",
    };
    const auto page = [&](const std::string& family, double size) { return columnsPage(columns, family, size, 20); };
    const std::vector<std::pair<std::string, RasterImage>> pages{
        {"Noto Sans, 32 px", page("Noto Sans CJK JP", 32)},
        {"IPAMincho, 40 px, JPEG", test::jpegged(page("IPAMincho", 40), 60)},
    };
    for (const auto& [name, image] : pages) {
        const PageResult read = OCREngine::recognize(image, 1, 1, verticalSettings(), never);
        const std::string text = squeezedText(read.text());
        EXPECT_NE(text.find("■受付"), std::string::npos) << name << ": " << text;
        EXPECT_NE(text.find("■申し"), std::string::npos) << name << ": " << text;
        EXPECT_EQ(text.find("園"), std::string::npos) << name << ": " << text;
        EXPECT_LT(test::characterErrorRate(truthOf(columns), text), 0.05) << name << ": " << text;
    }
}
