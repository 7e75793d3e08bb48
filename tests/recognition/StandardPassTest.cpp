// The standard pass against what automatic page layout alone gets wrong:
// small images of one short line, line ends, tables and forms read column
// by column, two-column prose, and English under the default languages.
#include <algorithm>

#include <gtest/gtest.h>

#include "foundation/Unicode.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/OCRSettings.hpp"
#include "support/EvaluationPages.hpp"
#include "support/TextPages.hpp"

using namespace velmora;

namespace {

OCRSettings withLanguages(std::vector<std::string> languages) {
    OCRSettings s;
    s.languages = std::move(languages);
    return s;
}

std::vector<std::string> readLines(const RasterImage& image, const OCRSettings& settings = OCRSettings{}) {
    const PageResult result = OCREngine::recognize(image, 1, 1, settings, [] { return false; });
    std::vector<std::string> lines;
    for (const TextRegion& r : result.regions) lines.push_back(r.text);
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += (out.empty() ? "" : "\n") + l;
    return out;
}

double errorRate(const std::string& expected, const std::string& actual) {
    return test::characterErrorRate(test::withoutWhiteSpace(expected), test::withoutWhiteSpace(actual));
}

// Where each expected line stands in the reading, by its best match; -1
// for a line read nowhere near.
std::vector<int> positions(const std::vector<std::string>& expected, const std::vector<std::string>& read) {
    std::vector<int> out;
    for (const std::string& line : expected) {
        int best = -1;
        double bestRate = 0.2;
        for (std::size_t i = 0; i < read.size(); ++i) {
            const double rate = errorRate(line, read[i]);
            if (rate <= bestRate) {
                bestRate = rate;
                best = static_cast<int>(i);
            }
        }
        out.push_back(best);
    }
    return out;
}

}  // namespace

TEST(StandardPassShortLines, SmallImagesOfOneShortLineAreReadNotEmpty) {
    int exact = 0;
    std::string misses;
    for (const test::EvaluationPage& page : test::shortLines()) {
        const std::string text = joined(readLines(page.image));
        EXPECT_FALSE(text.empty()) << page.lines.front() << " in " << page.image.width() << "x" << page.image.height();
        if (test::withoutWhiteSpace(text) == page.lines.front()) {
            exact += 1;
        } else {
            misses += page.lines.front() + " → " + text + "; ";
        }
    }
    EXPECT_GE(exact, 13) << misses;
}

TEST(StandardPassShortLines, LinesAreReadToTheirLastCharacter) {
    for (const test::EvaluationPage& page : {test::twoLinePage(200), test::lineEndPage()}) {
        EXPECT_EQ(readLines(page.image), page.lines) << page.name;
    }
}

TEST(StandardPassTables, EachRowOfATableIsOneLineCellsLeftToRight) {
    // Softened as by a scanner, the automatic layout takes the number
    // column for vertical text.
    test::EvaluationPage page = test::tablePage(150);
    page.image = test::blurred(page.image, 1);
    const std::vector<std::string> read = readLines(page.image);
    const std::string text = joined(read);
    // Cells are separated by a tab.
    for (const char* row : {"1\t申込書の提出", "9\t納税証明書", "10\t在職証明書", "17\tその他必要な書類"}) {
        EXPECT_NE(std::find(read.begin(), read.end(), row), read.end()) << row << " in\n" << text;
    }
    const double ordered = errorRate(page.truth(), text);
    EXPECT_LE(ordered, 0.03) << text;
    EXPECT_LE(ordered, 1.5 * test::orderFreeErrorRate(page.truth(), text) + 0.005) << text;
}

TEST(StandardPassTables, FormLabelsStayWithTheirValues) {
    const test::EvaluationPage page = test::formPage(200);
    const std::vector<std::string> read = readLines(page.image);
    const std::string text = joined(read);
    // The heading first, then each label on the line of its value.
    const std::vector<int> at = positions(page.lines, read);
    for (std::size_t i = 0; i < at.size(); ++i) {
        EXPECT_EQ(at[i], static_cast<int>(i)) << page.lines[i] << " in\n" << text;
    }
    EXPECT_LE(errorRate(page.truth(), text), 0.04) << text;
}

TEST(StandardPassTables, TwoColumnProseKeepsColumnOrder) {
    const test::EvaluationPage page = test::twoColumnPage(150);
    const std::vector<std::string> read = readLines(page.image);
    const std::vector<int> at = positions(page.lines, read);
    // Every drawn line is read, and the left column comes first, line by
    // line down the page, although both columns share their baselines. (A
    // lone full stop wrapped onto a line of its own is too short to place.)
    int previous = -1;
    for (std::size_t i = 0; i < at.size(); ++i) {
        if (Unicode::scalars(page.lines[i]).size() < 4) continue;
        EXPECT_GT(at[i], previous) << page.lines[i] << " in\n" << joined(read);
        previous = at[i];
    }
    EXPECT_LE(errorRate(page.truth(), joined(read)), 0.02);
}

TEST(StandardPassLanguages, EnglishReadsUnderTheDefaultPairAsUnderEnglishFirst) {
    const test::EvaluationPage page = test::englishPage(150);
    const double defaults = errorRate(page.truth(), joined(readLines(page.image)));
    const double englishFirst =
        errorRate(page.truth(), joined(readLines(page.image, withLanguages({"en-US", "ja-JP"}))));
    EXPECT_LE(defaults, 1.2 * englishFirst + 0.002);
    EXPECT_LE(defaults, 0.005);
}

TEST(StandardPassLanguages, MixedPageReadsEachLanguageWithItsModel) {
    const test::EvaluationPage page = test::mixedPage(200);
    const std::string defaults = joined(readLines(page.image));
    const std::string japaneseOnly = joined(readLines(page.image, withLanguages({"ja-JP"})));
    const std::string englishFirst = joined(readLines(page.image, withLanguages({"en-US", "ja-JP"})));
    const std::string truth = page.truth();
    const double japanese = test::characterErrorRate(test::japanesePart(truth), test::japanesePart(defaults));
    EXPECT_LE(japanese,
              1.1 * test::characterErrorRate(test::japanesePart(truth), test::japanesePart(japaneseOnly)) + 0.003);
    // The English paragraphs read as English first reads them, not as the
    // Japanese model's guesses at Latin letters.
    const double english = test::characterErrorRate(test::latinPart(truth), test::latinPart(defaults));
    EXPECT_LE(english, 1.2 * test::characterErrorRate(test::latinPart(truth), test::latinPart(englishFirst)) + 0.003)
        << defaults;
    // With English first, the Japanese lines are read by the Japanese model.
    EXPECT_LE(test::characterErrorRate(test::japanesePart(truth), test::japanesePart(englishFirst)), 0.05)
        << englishFirst;
}
