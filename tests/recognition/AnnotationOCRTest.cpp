#include <atomic>
#include <cmath>

#include <gtest/gtest.h>

#include <cairo.h>
#include <pango/pangocairo.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Task.hpp"
#include "recognition/handwriting/AnnotationOCR.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "support/Errors.hpp"
#include "support/InkPages.hpp"
#include "support/MainLoop.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
using AnnotationOCR::FeatureRaster;

namespace {

auto never = [] { return false; };

OCRSettings handwritingSettings() {
    OCRSettings s;
    s.mode = OCRMode::handwriting;
    return s;
}

FeatureRaster white(int width, int height) {
    FeatureRaster r;
    r.width = width;
    r.height = height;
    r.rgba.assign(std::size_t(width) * height * 4, 255);
    return r;
}

void paint(FeatureRaster& r, int x, int y, int w, int h, uint8_t red = 0, uint8_t green = 0, uint8_t blue = 0) {
    for (int row = y; row < y + h; ++row) {
        for (int col = x; col < x + w; ++col) {
            uint8_t* p = r.rgba.data() + (std::size_t(row) * r.width + col) * 4;
            p[0] = red, p[1] = green, p[2] = blue;
        }
    }
}

// Lines of text in colour, each turned by its angle (degrees, rising to the
// right) about its start, and free-hand strokes, on a white page.
struct Ink {
    std::string text;
    double x, y, pixelSize, angle;
    double red = 0, green = 0, blue = 0;
};

RasterImage drawPage(int width, int height, const std::vector<Ink>& lines,
                     const std::vector<std::array<double, 4>>& strokes = {}) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    for (const Ink& l : lines) {
        PangoFontDescription* font = pango_font_description_from_string("Noto Sans CJK JP");
        pango_font_description_set_absolute_size(font, l.pixelSize * PANGO_SCALE);
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        pango_layout_set_text(layout, l.text.c_str(), -1);
        cairo_save(cr);
        cairo_translate(cr, l.x, l.y);
        cairo_rotate(cr, -l.angle * M_PI / 180);
        cairo_set_source_rgb(cr, l.red, l.green, l.blue);
        pango_cairo_update_layout(cr, layout);
        cairo_move_to(cr, 0, 0);
        pango_cairo_show_layout(cr, layout);
        cairo_restore(cr);
    }
    for (const auto& s : strokes) {
        cairo_set_source_rgb(cr, 0.85, 0, 0);
        cairo_set_line_width(cr, 3);
        cairo_move_to(cr, s[0], s[1]);
        cairo_line_to(cr, s[2], s[3]);
        cairo_stroke(cr);
    }
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<uint8_t> rgb(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + std::ptrdiff_t(y) * stride);
        for (int x = 0; x < width; ++x) {
            uint8_t* p = rgb.data() + (std::size_t(y) * width + x) * 3;
            p[0] = uint8_t(row[x] >> 16), p[1] = uint8_t(row[x] >> 8), p[2] = uint8_t(row[x]);
        }
    }
    cairo_surface_destroy(surface);
    return RasterImage::fromPixels(width, height, 3, rgb);
}

const TextRegion* find(const PageResult& r, const std::string& part) {
    for (const TextRegion& region : r.regions) {
        if (region.text.find(part) != std::string::npos) return &region;
    }
    return nullptr;
}

bool hasReason(const TextRegion& r, const std::string& reason) {
    const auto& reasons = r.annotationEvidence->reasons;
    return std::find(reasons.begin(), reasons.end(), reason) != reasons.end();
}

}  // namespace

TEST(AnnotationMeasures, AngleRefinementFromInkBottoms) {
    const OCRSourceBox all{0, 0, 1, 1};
    // Two slices of 10 columns: 8 ink pixels give a point, 7 do not.
    FeatureRaster r = white(20, 20);
    paint(r, 2, 8, 4, 2);    // 8 pixels, bottom row 9
    paint(r, 12, 8, 4, 2);
    const auto flat = AnnotationOCR::refinedAngle(r, all, 2);
    ASSERT_TRUE(flat);
    EXPECT_DOUBLE_EQ(flat->degrees, 0);
    EXPECT_DOUBLE_EQ(flat->uncertainty, std::atan(1.5 / 10) * 180 / M_PI);
    paint(r, 2, 8, 1, 1, 255, 255, 255);  // 7 left
    EXPECT_FALSE(AnnotationOCR::refinedAngle(r, all, 2));

    // 1 and 9 characters are never refined.
    FeatureRaster wide = white(90, 20);
    for (int i = 0; i < 9; ++i) paint(wide, i * 10 + 2, 8, 4, 4);
    EXPECT_FALSE(AnnotationOCR::refinedAngle(wide, all, 1));
    EXPECT_FALSE(AnnotationOCR::refinedAngle(wide, all, 9));
    EXPECT_TRUE(AnnotationOCR::refinedAngle(wide, all, 8));
    // Slices under 5 pixels wide give nothing.
    EXPECT_FALSE(AnnotationOCR::refinedAngle(white(9, 20), all, 2));

    // Bottoms 4 rows apart over 10 columns: about 21.8°, kept (rising to the
    // right is positive); 5 rows apart, about 26.6°, discarded.
    FeatureRaster rising = white(20, 20);
    paint(rising, 2, 8, 4, 4);   // bottom row 11
    paint(rising, 12, 4, 4, 4);  // bottom row 7
    const auto kept = AnnotationOCR::refinedAngle(rising, all, 2);
    ASSERT_TRUE(kept);
    EXPECT_NEAR(kept->degrees, std::atan(0.4) * 180 / M_PI, 1e-9);
    paint(rising, 12, 4, 4, 4, 255, 255, 255);
    paint(rising, 12, 3, 4, 4);  // bottom row 6
    EXPECT_FALSE(AnnotationOCR::refinedAngle(rising, all, 2));
}

TEST(AnnotationMeasures, TheLineAngleFollowsItsInk) {
    // A band rising one row in every four columns: atan(1/4), about 14°.
    FeatureRaster r = white(200, 100);
    for (int x = 0; x < 200; ++x) paint(r, x, 70 - x / 4, 1, 6);
    const auto angle = AnnotationOCR::inkAngle(r, {0, 0, 1, 1}, 10);
    ASSERT_TRUE(angle);
    EXPECT_NEAR(*angle, std::atan(0.25) * 180 / M_PI, 0.5);
    // A level neighbour reaching into the line's box does not pull it flat.
    FeatureRaster crowded = r;
    paint(crowded, 0, 80, 200, 10);
    const OCRSourceBox neighbour{0, 0.1, 1, 0.1};
    EXPECT_LT(*AnnotationOCR::inkAngle(crowded, {0, 0, 1, 1}, 10), 10);
    EXPECT_NEAR(*AnnotationOCR::inkAngle(crowded, {0, 0, 1, 1}, 10, {neighbour}), std::atan(0.25) * 180 / M_PI, 0.5);
    // No ink, or too narrow a line for two slices: nothing.
    EXPECT_FALSE(AnnotationOCR::inkAngle(white(200, 100), {0, 0, 1, 1}, 10));
    EXPECT_FALSE(AnnotationOCR::inkAngle(r, {0, 0, 0.04, 1}, 10));
}

TEST(AnnotationMeasures, SpreadRedInkAndStrokes) {
    EXPECT_EQ(AnnotationOCR::spread({0.1, 0.5}, 1), 0);
    EXPECT_EQ(AnnotationOCR::spread({0.1, 0.2, 0.3}, 0), 0);
    EXPECT_DOUBLE_EQ(AnnotationOCR::spread({1, 2, 3}, 2), std::sqrt(2.0 / 3) / 2);

    FeatureRaster r = white(100, 100);
    const OCRSourceBox box{0.1, 0.1, 0.5, 0.5};
    EXPECT_EQ(AnnotationOCR::redFraction(r, box), 0);
    paint(r, 20, 50, 10, 10, 220, 20, 20);  // red
    paint(r, 40, 50, 10, 10, 20, 20, 20);   // black
    paint(r, 45, 55, 5, 5, 200, 180, 180);  // pale red: not ink
    EXPECT_DOUBLE_EQ(AnnotationOCR::redFraction(r, box), 100.0 / 175);

    // The line at x 80 to 120, rows 40 to 50 of 200 × 100: pad 10, the
    // search rectangle x 70 to 130 and rows 30 to 60, runs of 8 to 40.
    const OCRSourceBox line{0.4, 0.5, 0.2, 0.1};
    FeatureRaster s = white(200, 100);
    paint(s, 71, 32, 8, 1);  // exactly 8, ended by white
    EXPECT_TRUE(AnnotationOCR::nearbyStroke(s, line, {line}));
    FeatureRaster shorter = white(200, 100);
    paint(shorter, 71, 32, 7, 1);
    EXPECT_FALSE(AnnotationOCR::nearbyStroke(shorter, line, {line}));
    FeatureRaster edge = white(200, 100);
    paint(edge, 122, 32, 8, 1);  // open at the right edge of the rectangle
    EXPECT_FALSE(AnnotationOCR::nearbyStroke(edge, line, {line}));
    FeatureRaster odd = white(200, 100);
    paint(odd, 71, 33, 8, 1);  // on a row that is not scanned
    EXPECT_FALSE(AnnotationOCR::nearbyStroke(odd, line, {line}));
    // Ink inside a text box is text, not a stroke.
    FeatureRaster text = white(200, 100);
    paint(text, 71, 44, 20, 1);
    EXPECT_FALSE(AnnotationOCR::nearbyStroke(text, line, {line, {0.35, 0.5, 0.1, 0.1}}));
}

TEST(AnnotationLimits, PageAndRasterSizes) {
    // The feature raster: at most 1600 on the long side, never enlarged.
    const FeatureRaster big = AnnotationOCR::featureRaster(test::InkPage(3200, 800).image());
    EXPECT_EQ(big.width, 1600);
    EXPECT_EQ(big.height, 400);
    test::InkPage dotted(800, 600);
    dotted.fill(10, 10, 5, 5);
    const FeatureRaster same = AnnotationOCR::featureRaster(dotted.image());
    EXPECT_EQ(same.width, 800);
    EXPECT_EQ(same.height, 600);
    EXPECT_EQ(same.at(12, 12)[0], 0);
    EXPECT_EQ(same.at(20, 12)[0], 255);

    const PageResult accepted = AnnotationOCR::recognize(test::InkPage(16384, 1024).image(), 1, 3,
                                                         handwritingSettings(), never);
    EXPECT_TRUE(accepted.regions.empty());
    EXPECT_EQ(accepted.route, "Vision.annotation.geometry-r4.0");
    EXPECT_EQ(accepted.page, 3);
    EXPECT_EQ(accepted.processingScale, 1.0);
    int polls = 0;
    auto counted = [&] { return ++polls, false; };
    for (auto [w, h] : {std::pair{16385, 10}, {5000, 4000}}) {
        EXPECT_EQ(test::caseOf([&] { AnnotationOCR::recognize(test::InkPage(w, h).image(), 1, 1, handwritingSettings(), counted); }),
                  ErrorCase::budgetExceeded);
    }
    OCRSettings preprocessing = handwritingSettings();
    preprocessing.preprocessing = "binarize";
    EXPECT_EQ(test::caseOf([&] { AnnotationOCR::recognize(test::InkPage(10, 10).image(), 1, 1, preprocessing, counted); }),
              ErrorCase::budgetExceeded);
    EXPECT_EQ(polls, 3) << "one stop check each, before any recognition";
}

TEST(AnnotationControl, CancellationAndTheTimeLimit) {
    const RasterImage blank = test::InkPage(200, 100).image();
    EXPECT_EQ(test::caseOf([&] { AnnotationOCR::recognize(blank, 1, 1, handwritingSettings(), [] { return true; }); }),
              ErrorCase::cancelled);

    ManualUptimeClock clock;
    RecognitionClock::Scope scope(clock);
    // Three checks on a blank page: 20 seconds each reach exactly 60 and
    // pass; 30 each reach 90 at the third and do not.
    const PageResult done = AnnotationOCR::recognize(blank, 1, 1, handwritingSettings(), [&] {
        clock.advance(20);
        return false;
    });
    EXPECT_DOUBLE_EQ(done.elapsedSeconds, 60);
    int polls = 0;
    EXPECT_EQ(test::caseOf([&] {
                  AnnotationOCR::recognize(blank, 1, 1, handwritingSettings(), [&] {
                      clock.advance(30);
                      return ++polls, false;
                  });
              }),
              ErrorCase::budgetExceeded);
    EXPECT_EQ(polls, 3);
}

namespace {

Task<void> handwritingOnWorker(const RasterImage* image, std::atomic<bool>* started) {
    co_await runOnWorker([image, started] {
        started->store(true);
        for (int i = 0; i < 2000 && !isCurrentTaskCancelled(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        OCRSettings s;
        s.mode = OCRMode::handwriting;
        OCREngine::recognize(*image, 1, 1, s, [] { return false; });
    });
}

}  // namespace

TEST(AnnotationControl, ACancelledTaskEndsWithCancelled) {
    const RasterImage blank = test::InkPage(200, 100).image();
    std::atomic<bool> started{false};
    test::Spawned<void> task(handwritingOnWorker(&blank, &started));
    ASSERT_TRUE(test::spinUntil([&] { return started.load(); }));
    task.handle.cancel();
    ASSERT_TRUE(task.finish());
    ASSERT_TRUE(task.out->error);
    EXPECT_EQ(test::caseOf([&] { std::rethrow_exception(task.out->error); }), ErrorCase::cancelled);
}

// Real pages: printed black lines, a red line at 6°, and a short red
// instruction beside a stroke near the printed text.
TEST(AnnotationRecognition, TellsPrintedFromHandwrittenLinesOnADrawnPage) {
    const std::vector<std::string> printed{"吾輩は猫である。名前はまだ無い。", "どこで生れたかとんと見当がつかぬ。",
                                           "何でも薄暗いじめじめした所で泣いていた。"};
    std::vector<Ink> lines;
    for (std::size_t i = 0; i < printed.size(); ++i) lines.push_back({printed[i], 60, 60 + 80.0 * i, 32, 0});
    lines.push_back({"ここを確認してください", 120, 420, 36, 6, 0.85, 0, 0});
    lines.push_back({"右へ", 700, 190, 36, 8, 0.85, 0, 0});
    const RasterImage page = drawPage(900, 520, lines, {{{690, 240, 780, 236}}});

    const PageResult result = OCREngine::recognize(page, 1, 1, handwritingSettings(), never);
    EXPECT_EQ(result.route, "Vision.annotation.geometry-r4.0");
    ASSERT_FALSE(result.regions.empty());
    for (const TextRegion& r : result.regions) {
        ASSERT_TRUE(r.annotationEvidence) << r.text;
        EXPECT_EQ(r.annotationEvidence->version, "annotation-geometry-r4.0");
        ASSERT_TRUE(r.proofreadingInstruction.has_value());
        if (r.kind != RegionKind::handwrittenCandidate) {
            EXPECT_FALSE(*r.proofreadingInstruction) << r.text;
        }
    }
    for (const std::string& p : {std::string("猫である"), std::string("見当がつかぬ"), std::string("泣いていた")}) {
        const TextRegion* r = find(result, p);
        ASSERT_TRUE(r) << p << "\n" << result.text();
        EXPECT_EQ(r->kind, RegionKind::printedCandidate) << r->text;
        EXPECT_TRUE(hasReason(*r, "regular-baseline")) << r->text;
        EXPECT_LT(r->annotationEvidence->redFraction, 0.1);
    }
    const TextRegion* slanted = find(result, "確認");
    ASSERT_TRUE(slanted) << result.text();
    EXPECT_EQ(slanted->kind, RegionKind::handwrittenCandidate);
    EXPECT_TRUE(hasReason(*slanted, "slanted-baseline"));
    EXPECT_GT(slanted->annotationEvidence->redFraction, 0.5);
    EXPECT_NEAR(slanted->annotationEvidence->angleDegrees, 6, 1);
    const TextRegion* right = find(result, "右");
    ASSERT_TRUE(right) << result.text();
    EXPECT_EQ(right->kind, RegionKind::handwrittenCandidate);
    EXPECT_TRUE(*right->proofreadingInstruction);

    // The automatic mode reads the page as standard text and takes the
    // handwriting from this pass.
    OCRSettings automatic;
    automatic.mode = OCRMode::automatic;
    const PageResult chosen = OCREngine::recognize(page, 1, 1, automatic, never);
    ASSERT_TRUE(chosen.autoPresentation);
    EXPECT_EQ(chosen.autoPresentation->resolved, AutoResolved::standard);
    EXPECT_EQ(chosen.autoPresentation->handwriting, "detected");

    // The engine uses the product's strategy pair.
    EXPECT_EQ(AnnotationOCR::recognize(page, 1, 1, handwritingSettings(), never, true,
                                       AnnotationClassificationStrategy::shortAnnotationRescue,
                                       AnnotationStage2Strategy::r4HighConfidenceComposition)
                  .regions,
              result.regions);

    const PageResult blank = OCREngine::recognize(test::InkPage(400, 300).image(), 6, 2, handwritingSettings(), never);
    EXPECT_TRUE(blank.regions.empty());
    EXPECT_EQ(blank.route, "Vision.annotation.geometry-r4.0");
    EXPECT_EQ(blank.pixelWidth, 300);
    EXPECT_EQ(blank.sourcePixelWidth, 400);
    EXPECT_EQ(blank.sourceOrientation, 6u);
}

// A printed page whose paragraphs end in short last lines, a two-character
// heading and a page number: each of them printed, in the handwriting mode
// and in the automatic mode, which finds no handwriting on the page.
TEST(AnnotationRecognition, AShortPrintedLineStaysPrinted) {
    const std::vector<std::string> printed{"実行すると設定ファイルを読み込みま", "す。", "注意",
                                           "古い設定は残したまま新しい値を書き込んでい", "た。", "15"};
    std::vector<Ink> lines;
    for (std::size_t i = 0; i < printed.size(); ++i) lines.push_back({printed[i], 60, 40 + 70.0 * i, 32, 0});
    const RasterImage page = drawPage(900, 480, lines);

    const PageResult result = OCREngine::recognize(page, 1, 1, handwritingSettings(), never);
    for (const std::string& p : {std::string("す。"), std::string("た。"), std::string("注意"), std::string("15")}) {
        const TextRegion* r = find(result, p);
        ASSERT_TRUE(r) << p << "\n" << result.text();
        EXPECT_EQ(r->kind, RegionKind::printedCandidate) << r->text << " " << r->annotationEvidence->angleDegrees;
    }
    OCRSettings automatic;
    automatic.mode = OCRMode::automatic;
    const PageResult chosen = OCREngine::recognize(page, 1, 1, automatic, never);
    ASSERT_TRUE(chosen.autoPresentation);
    EXPECT_NE(chosen.autoPresentation->handwriting, "detected") << chosen.text();
}
