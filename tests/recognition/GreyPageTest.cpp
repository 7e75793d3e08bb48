#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/GreyPage.hpp"
#include "support/RasterFiles.hpp"
#include "support/TextPages.hpp"

using namespace velmora;

namespace {

// A white page with black squares of the given side on a regular grid.
GreyPage squares(int width, int height, int side, int pitch) {
    GreyPage page;
    page.width = width;
    page.height = height;
    page.pixels.assign(static_cast<std::size_t>(width) * height, 255);
    for (int top = pitch / 2; top + side < height; top += pitch) {
        for (int left = pitch / 2; left + side < width; left += pitch) {
            for (int y = top; y < top + side; ++y) {
                for (int x = left; x < left + side; ++x) page.pixels[static_cast<std::size_t>(y) * width + x] = 0;
            }
        }
    }
    return page;
}

double mean(const GreyPage& page) {
    double sum = 0;
    for (uint8_t v : page.pixels) sum += v;
    return sum / static_cast<double>(page.pixels.size());
}

}  // namespace

TEST(GreyPage, TransparencyIsPaperAndColourIsLuma) {
    const RasterImage image = test::makeImage(4, 1, 4, [](int x, int, uint8_t* p) {
        const uint8_t pixels[4][4] = {{0, 0, 0, 0}, {0, 0, 0, 255}, {255, 0, 0, 255}, {0, 0, 0, 128}};
        for (int c = 0; c < 4; ++c) p[c] = pixels[x][c];
    });
    const GreyPage page = GreyPage::from(image);
    ASSERT_EQ(page.width, 4);
    EXPECT_EQ(page.pixels, (std::vector<uint8_t>{255, 0, 76, 127}));
}

TEST(GreyPage, MedianInkHeightIgnoresSpecksAndFrames) {
    GreyPage page = squares(400, 300, 12, 40);
    EXPECT_EQ(page.medianInkHeight(), 12);
    // A frame around the page and a few specks change nothing.
    for (int x = 0; x < 400; ++x) page.pixels[x] = page.pixels[299 * 400 + x] = 0;
    for (int y = 0; y < 300; ++y) page.pixels[y * 400] = page.pixels[y * 400 + 399] = 0;
    page.pixels[5 * 400 + 200] = 0;
    EXPECT_EQ(page.medianInkHeight(), 12);
    EXPECT_EQ(squares(400, 300, 12, 400).medianInkHeight(), 0);  // too few pieces
    EXPECT_EQ(squares(400, 300, 0, 40).medianInkHeight(), 0);    // blank
}

TEST(GreyPage, InkPiecesAreWhereTheInkIsAndTintIsNoInk) {
    GreyPage page = squares(400, 300, 12, 400);
    const std::vector<GreyPage::InkPiece> one = page.inkPieces();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].x, 200);
    EXPECT_EQ(one[0].y, 200);
    EXPECT_EQ(one[0].width, 12);
    EXPECT_EQ(one[0].height, 12);
    const std::vector<uint8_t> mask = page.inkMask();
    EXPECT_EQ(std::count(mask.begin(), mask.end(), 1), 144);
    EXPECT_EQ(mask[205 * 400 + 205], 1);

    // Paper with a light tint and faint blotches has no ink at all, though
    // a threshold would still split it in two.
    GreyPage tinted = squares(400, 300, 12, 40);
    for (uint8_t& v : tinted.pixels) v = v == 0 ? 200 : 240;
    EXPECT_TRUE(tinted.inkPieces().empty());
    const std::vector<uint8_t> none = tinted.inkMask();
    EXPECT_EQ(std::count(none.begin(), none.end(), 1), 0);
    EXPECT_EQ(tinted.medianInkHeight(), 0);
    EXPECT_TRUE(squares(400, 300, 0, 40).inkPieces().empty());
}

TEST(GreyPage, ScalingKeepsTheInk) {
    const GreyPage page = squares(400, 300, 20, 40);
    const GreyPage half = page.scaled(0.5);
    EXPECT_EQ(half.width, 200);
    EXPECT_EQ(half.height, 150);
    EXPECT_NEAR(mean(half), mean(page), 0.5);
    EXPECT_EQ(half.medianInkHeight(), 10);
    const GreyPage twice = page.scaled(2);
    EXPECT_EQ(twice.width, 800);
    EXPECT_EQ(twice.height, 600);
    EXPECT_NEAR(mean(twice), mean(page), 1.0);
    EXPECT_NEAR(twice.medianInkHeight(), 40, 1);
}

TEST(GreyPage, ReadsInkAtOneSize) {
    // Large ink is shrunk and small ink enlarged to the reading size; ink
    // near it, and a blank page, are read as they are.
    const GreyPage large = squares(1200, 900, 64, 120).forRecognition();
    EXPECT_EQ(large.width, 300);
    EXPECT_NEAR(large.medianInkHeight(), GreyPage::readingInkHeight, 1);
    EXPECT_EQ(large.resolution, 160);

    const GreyPage small = squares(600, 400, 4, 12).forRecognition();
    EXPECT_EQ(small.width, 1800);  // at most three times
    EXPECT_EQ(small.resolution, 120);

    const GreyPage near = squares(600, 400, 14, 40).forRecognition();
    EXPECT_EQ(near.width, 600);
    EXPECT_EQ(near.resolution, 140);

    const GreyPage blank = squares(600, 400, 0, 40).forRecognition();
    EXPECT_EQ(blank.width, 600);
    EXPECT_EQ(blank.resolution, 0);

    // Enlarging stops at the pixel budget.
    const GreyPage huge = squares(5000, 3000, 6, 30).forRecognition();
    EXPECT_LE(static_cast<double>(huge.width) * huge.height, GreyPage::largestReadingPixels * 1.001);
    EXPECT_GT(huge.width, 7500);
}

TEST(GreyPage, ADarkBandIsAGroundAndAHeavyLetterIsNot) {
    // Body text for the letters' size, a heavy "田" three times its height
    // whose strokes enclose four holes, and a dark band holding five light
    // letters.
    GreyPage page = squares(600, 400, 10, 24);
    const auto fill = [&](int x0, int y0, int x1, int y1, uint8_t grey) {
        for (int y = y0; y < y1; ++y) std::fill_n(page.pixels.begin() + y * page.width + x0, x1 - x0, grey);
    };
    fill(100, 100, 400, 200, 255);
    fill(120, 120, 180, 180, 0);
    for (const int at : {128, 154}) {
        for (const int across : {128, 154}) fill(across, at, across + 18, at + 18, 255);
    }
    fill(200, 110, 560, 170, 40);
    for (int k = 0; k < 5; ++k) fill(220 + 60 * k, 130, 232 + 60 * k, 148, 250);
    const GreyPage::Grounds grounds = page.darkGrounds();
    ASSERT_EQ(grounds.boxes.size(), 1u);
    EXPECT_EQ(grounds.boxes[0].x, 200);
    EXPECT_EQ(grounds.boxes[0].width, 360);
    // The band's letters dark on white on a page of their own, and gone
    // from the rest, which keeps the band's grey; the letter stays.
    const auto at = [](const GreyPage& p, int x, int y) { return p.pixels[static_cast<std::size_t>(y) * p.width + x]; };
    EXPECT_EQ(at(grounds.letters, 225, 140), 0);
    EXPECT_EQ(at(grounds.letters, 210, 140), 255);
    EXPECT_EQ(at(grounds.letters, 125, 125), 255);
    EXPECT_EQ(at(grounds.rest, 225, 140), 40);
    EXPECT_EQ(at(grounds.rest, 125, 125), 0);
}

TEST(GreyPage, TheDarkHeaderRowOfARuledTableIsAGround) {
    // A table's grid of 2-pixel rules whose header row is a dark band
    // holding five light letters: the grid and the band are one piece of
    // ink, with more paper in its cells than ink.
    GreyPage page = squares(600, 400, 10, 24);
    const auto fill = [&](int x0, int y0, int x1, int y1, uint8_t grey) {
        for (int y = y0; y < y1; ++y) std::fill_n(page.pixels.begin() + y * page.width + x0, x1 - x0, grey);
    };
    fill(100, 100, 500, 380, 255);
    for (const int x : {100, 200, 300, 400, 498}) fill(x, 150, x + 2, 352, 30);
    for (int y = 150; y <= 350; y += 40) fill(100, y, 500, y + 2, 30);
    fill(100, 150, 500, 190, 30);
    for (int k = 0; k < 5; ++k) fill(120 + 70 * k, 162, 134 + 70 * k, 178, 245);
    const GreyPage::Grounds grounds = page.darkGrounds();
    ASSERT_EQ(grounds.boxes.size(), 1u);
    EXPECT_EQ(grounds.boxes[0].y, 150);
    EXPECT_EQ(grounds.boxes[0].height, 42);
    const auto at = [](const GreyPage& p, int x, int y) { return p.pixels[static_cast<std::size_t>(y) * p.width + x]; };
    EXPECT_EQ(at(grounds.letters, 125, 170), 0);
    // The grid's rules below the band stay on the page.
    EXPECT_EQ(at(grounds.rest, 150, 270), 30);
}

TEST(GreyPage, AGroundFadingIntoThePageIsNoGroundAndItsLettersAreSetDark) {
    // A ground shading from dark grey at the top to mid grey at the foot,
    // light letters (small squares) on both halves: the threshold parts the
    // shading, and what it cuts off is no edge of a ground.
    GreyPage page;
    page.width = 600;
    page.height = 400;
    page.pixels.resize(600 * 400);
    for (int y = 0; y < 400; ++y) std::fill_n(page.pixels.begin() + y * 600, 600, static_cast<uint8_t>(70 + y / 5));
    const auto fill = [&](int x0, int y0, int x1, int y1, uint8_t grey) {
        for (int y = y0; y < y1; ++y) std::fill_n(page.pixels.begin() + y * page.width + x0, x1 - x0, grey);
    };
    for (const int top : {60, 330}) {
        for (int k = 0; k < 8; ++k) fill(100 + 40 * k, top, 110 + 40 * k, top + 10, 235);
    }
    const GreyPage::Grounds grounds = page.darkGrounds();
    EXPECT_TRUE(grounds.boxes.empty());
    // Each letter dark on white, whichever half it stands on.
    const GreyPage set = grounds.rest.onOwnGrounds(grounds.boxes);
    const auto at = [&](int x, int y) { return set.pixels[static_cast<std::size_t>(y) * set.width + x]; };
    for (const int y : {70, 340}) {
        EXPECT_LT(at(105, y - 5), 64) << y;
        EXPECT_GT(at(125, y - 5), 192) << y;
    }
}

TEST(GreyPage, WhiteLettersOnALightColouredSlideAreCountedAndTheVerticalModeNamesTheStandardMode) {
    // White text on an orange lighter than any ink: nothing on the page is
    // darker than paper may be, so one threshold finds no letters at all.
    const std::vector<std::string> lines{"令和9年度 新入社員研修", "人事部 研修グループ 2027年4月1日"};
    const test::TextPage page = test::renderPlaced({.width = 1280, .height = 720, .pixelSize = 40},
                                                   {{lines[0], 200, 160}, {lines[1], 260, 300}});
    const int w = page.image.width(), h = page.image.height(), c = page.image.channels();
    const std::array<int, 3> orange{250, 170, 60};
    std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = page.image.pixels() + static_cast<std::size_t>(y) * page.image.rowStride();
        for (int x = 0; x < w * 3; ++x) {
            pixels[static_cast<std::size_t>(y) * w * 3 + x] =
                static_cast<uint8_t>(orange[x % 3] + (255 - orange[x % 3]) * (255 - row[x / 3 * c]) / 255);
        }
    }
    const RasterImage slide = RasterImage::fromPixels(w, h, 3, pixels);
    EXPECT_GE(GreyPage::from(slide).characterCells() * 2, 25);
    OCRSettings vertical;
    vertical.mode = OCRMode::vertical;
    try {
        const PageResult read = OCREngine::recognize(slide, 1, 1, vertical, [] { return false; });
        ADD_FAILURE() << "read as vertical text: \"" << read.text() << "\"";
    } catch (const BrindlexError& e) {
        EXPECT_EQ(e.errorCase(), ErrorCase::looksHorizontal);
    }
}
