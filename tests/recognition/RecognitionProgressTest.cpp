#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/CancellationError.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/RecognitionProgress.hpp"
#include "support/TextPages.hpp"

namespace velmora {
namespace {

test::TextPage pageOfLines(int lines) {
    std::vector<std::string> text;
    for (int i = 0; i < lines; ++i) text.push_back("資料の電子化については、古文書三百点の撮影を終えた。");
    return test::renderParagraphs({.width = 900, .height = 40 + lines * 40, .pixelSize = 20, .lineAdvance = 2.0}, text);
}

TEST(RecognitionProgress, TheFirstReadingOfAPageIsToldUpToItsEnd) {
    const test::TextPage page = pageOfLines(30);
    std::vector<double> told;
    PageResult result;
    {
        RecognitionProgress::Scope scope({[&](double f) { told.push_back(f); }, {}});
        result = OCREngine::recognize(page.image, 1, 1, OCRSettings{}, [] { return false; });
    }
    EXPECT_FALSE(result.regions.empty());
    ASSERT_GE(told.size(), 3u);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(std::adjacent_find(told.begin(), told.end()), told.end()) << "each report says more";
    EXPECT_EQ(told.back(), 1.0);

    // Without a watch nothing is told; a watch gone leaves the outer one.
    told.clear();
    {
        RecognitionProgress::Scope outer({[&](double f) { told.push_back(f); }, {}});
        { RecognitionProgress::Scope inner({{}, {}}); }
        RecognitionProgress::report(0.3);
        RecognitionProgress::report(0.2);
        RecognitionProgress::report(1.5);
    }
    RecognitionProgress::report(0.5);
    EXPECT_EQ(told, (std::vector<double>{0.3, 1.0}));
}

TEST(RecognitionProgress, AStopGivesThePageUpPartWay) {
    const test::TextPage page = pageOfLines(30);
    std::vector<double> told;
    bool stop = false;
    RecognitionProgress::Scope scope({[&](double f) {
                                          told.push_back(f);
                                          stop = true;
                                      },
                                      [&] { return stop; }});
    EXPECT_THROW(OCREngine::recognize(page.image, 1, 1, OCRSettings{}, [] { return false; }), CancellationError);
    ASSERT_FALSE(told.empty());
    EXPECT_LT(told.back(), 1.0);
}

// Asked once the first reading is told complete, the stop is seen by the
// steps that follow it (the lines taken out of that reading, the re-reads):
// the page is given up, not read to its end.
TEST(RecognitionProgress, AStopAfterTheFirstReadingGivesThePageUp) {
    const test::TextPage page = pageOfLines(30);
    bool stop = false;
    int looks = 0;
    RecognitionProgress::Scope scope({[&](double f) { stop = f >= 1.0; },
                                      [&] {
                                          looks += stop ? 1 : 0;
                                          return stop;
                                      }});
    EXPECT_THROW(OCREngine::recognize(page.image, 1, 1, OCRSettings{}, [] { return false; }), CancellationError);
    EXPECT_EQ(looks, 1) << "given up at the first look after the stop";
}

}  // namespace
// Every look at the stop is told to the thread's look observer, Tesseract's
// between words and the recogniser's own checks alike, with or without a
// watch; none once the observer is gone.
TEST(RecognitionProgress, EveryLookAtTheStopIsToldToTheObserver) {
    const test::TextPage page = pageOfLines(6);
    int looks = 0, asked = 0;
    {
        const RecognitionProgress::LookObserver observer([&] { ++looks; });
        RecognitionProgress::Scope scope({{}, [&] { return ++asked, false; }});
        OCREngine::recognize(page.image, 1, 1, OCRSettings{}, [] { return false; });
        EXPECT_GT(asked, 6);
        EXPECT_EQ(looks, asked);
    }
    {
        const RecognitionProgress::LookObserver observer([&] { ++looks; });
        RecognitionProgress::stopIfAsked();
    }
    EXPECT_EQ(looks, asked + 1);
    RecognitionProgress::stopIfAsked();
    EXPECT_EQ(looks, asked + 1);
}

}  // namespace velmora
