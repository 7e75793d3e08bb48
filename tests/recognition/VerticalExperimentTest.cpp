#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/engine/RecognitionClock.hpp"
#include "recognition/vertical/VerticalExperiment.hpp"
#include "support/Errors.hpp"
#include "support/InkPages.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;

TEST(VerticalExperiment, ReadsGlyphByGlyphRightToLeft) {
    EXPECT_TRUE(VerticalExperiment::recognize(test::InkPage(300, 300).image()).empty());

    const std::vector<std::string> columns{"山川", "木"};
    const test::VerticalPage page = test::renderColumns({.width = 300, .height = 240, .pixelSize = 64}, columns);
    const std::vector<VerticalExperiment::Column> read = VerticalExperiment::recognize(page.image);
    ASSERT_EQ(read.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        // Pango's ink extents include the faint edge of the antialiasing.
        EXPECT_NEAR(static_cast<double>(read[i].x), page.columns[i].ink.x, 4.0);
        EXPECT_NEAR(static_cast<double>(read[i].width), page.columns[i].ink.width, 8.0);
    }
    EXPECT_GT(read[0].x, read[1].x);
    EXPECT_EQ(read[0].glyphCount, 2);
    EXPECT_EQ(read[1].glyphCount, 1);
    EXPECT_EQ(JSON::decode<VerticalExperiment::Column>(Json(read[0])), read[0]);
}

TEST(VerticalExperiment, CutsOutGlyphsAtTheEdgesAndCountsEmptyOnes) {
    // Specks in the page's corners: cut-outs clipped to the page, read as
    // nothing, still counted.
    test::InkPage page(40, 30);
    page.fill(0, 0, 3, 3).fill(37, 27, 3, 3).fill(37, 5, 3, 3);
    const std::vector<VerticalExperiment::Column> read = VerticalExperiment::recognize(page.image());
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0], (VerticalExperiment::Column{37, 3, "", 2}));
    EXPECT_EQ(read[1], (VerticalExperiment::Column{0, 3, "", 1}));
}

TEST(VerticalExperiment, KeepsTheLimitsOfTheReflow) {
    EXPECT_EQ(test::caseOf([] { VerticalExperiment::recognize(test::InkPage(8193, 1).image()); }),
              ErrorCase::budgetExceeded);
    test::InkPage many(129 * 16, 10);
    for (int i = 0; i < 129; ++i) many.fill(i * 16, 2, 3, 6);
    EXPECT_EQ(test::caseOf([&] { VerticalExperiment::recognize(many.image()); }), ErrorCase::budgetExceeded);
    // Glyphs are counted before any is read.
    test::InkPage tall(40, 1400 * 11);
    for (int x : {2, 18, 34}) {
        for (int k = 0; k < 1400; ++k) tall.fill(x, k * 11, 3, 2);
    }
    EXPECT_EQ(test::caseOf([&] { VerticalExperiment::recognize(tall.image()); }), ErrorCase::budgetExceeded);

    // The clock has moved past the limit by the time the first column starts.
    struct Jumping : UptimeClock {
        mutable double now = 0;
        double seconds() const override { return now += 61; }
    } clock;
    RecognitionClock::Scope scope(clock);
    test::InkPage one(20, 20);
    one.fill(5, 5, 3, 3);
    EXPECT_EQ(test::caseOf([&] { VerticalExperiment::recognize(one.image()); }), ErrorCase::loadTimeout);
}
