#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/page/OCRProduct.hpp"

using namespace velmora;
using namespace velmora::OCRProduct;

namespace {

const UUID first = *UUID::parse("11111111-1111-4111-8111-111111111111");
const UUID second = *UUID::parse("22222222-2222-4222-8222-222222222222");

TextRegion region(std::string text, float confidence) { return TextRegion(std::move(text), confidence, 0, 0, 1, 1); }

}  // namespace

TEST(OCRProductText, HeadersCountPositionsAndIncompletePagesArePlaceheld) {
    const std::vector<Page> pages{{first, 7, "A", true}, {second, 3, "B", true}};
    EXPECT_EQ(text(pages, true), "--- ページ 1 ---\nA\n\n--- ページ 2 ---\nB");
    EXPECT_EQ(text(pages, false), "A\n\nB");
    const std::vector<Page> partial{{first, 1, "A", true}, {first, 2, "stale text", false}};
    EXPECT_EQ(text(partial, false), "A\n\n［未完了のページ］");
    EXPECT_EQ(text(partial, true), "--- ページ 1 ---\nA\n\n--- ページ 2 ---\n［未完了のページ］");
    EXPECT_EQ(text({}, true), "");
}

TEST(OCRProductText, ReadableJoinsLinesInsideParagraphsOnly) {
    EXPECT_EQ(readable("一行目\n二行目\n\n三行目"), "一行目 二行目\n\n三行目");
    // Nothing is trimmed or collapsed; a third line break starts the next
    // paragraph's text with a space.
    EXPECT_EQ(readable("a \n b\n\n\nc\n"), "a   b\n\n c ");
    EXPECT_EQ(readable(""), "");
}

TEST(OCRProductSearch, CaseInsensitiveNonOverlappingUTF16Ranges) {
    const std::vector<Page> pages{{first, 1, "ABab", true}};
    EXPECT_EQ(matches("ab", pages), (std::vector<Match>{{first, 1, {0, 2}}, {first, 1, {2, 2}}}));
    EXPECT_EQ(matches("aa", {{first, 4, "aaaa", true}}),
              (std::vector<Match>{{first, 4, {0, 2}}, {first, 4, {2, 2}}}));
    EXPECT_TRUE(matches("", pages).empty());
    EXPECT_TRUE(matches("ab", {{first, 1, "", true}}).empty());
}

TEST(OCRProductSearch, RangesAreUTF16AndCoverWholeCharacters) {
    // A character outside the BMP before the match counts two units.
    const std::vector<Page> pages{{first, 2, "𠮷野家のＡＢＣとabc", false}, {second, 9, "ABC", true}};
    const auto found = matches("Abc", pages);
    // Full-width letters are a different width, not a different case.
    EXPECT_EQ(found, (std::vector<Match>{{first, 2, {9, 3}}, {second, 9, {0, 3}}}));
    EXPECT_EQ(matches("ａｂｃ", pages), (std::vector<Match>{{first, 2, {5, 3}}}));
    // Kana are not folded into each other.
    EXPECT_TRUE(matches("ヨシノヤ", {{first, 1, "よしのや", true}}).empty());
    // Full case folding: ß matches SS, and the match covers whole characters.
    EXPECT_EQ(matches("strasse", {{first, 1, "Die STRAẞE und die Straße", true}}),
              (std::vector<Match>{{first, 1, {4, 6}}, {first, 1, {19, 6}}}));
    // Half of a character's folding is no match.
    EXPECT_TRUE(matches("s", {{first, 1, "ß", true}}).empty());
    EXPECT_TRUE(matches("f", {{first, 1, "ﬁ", true}}).empty());
    EXPECT_EQ(matches("FI", {{first, 1, "xﬁ", true}}), (std::vector<Match>{{first, 1, {1, 1}}}));
}

TEST(OCRProductLowRanges, OnlyForTheUneditedTextAndAlwaysInsideIt) {
    const std::vector<TextRegion> regions{region("あいう", 0.5f), region("えお", 0.9f)};
    EXPECT_EQ(recognitionLowRanges("あいう\nえお", regions), (std::vector<TextRange>{{0, 3}}));
    EXPECT_TRUE(recognitionLowRanges("あいう えお", regions).empty());
    EXPECT_TRUE(recognitionLowRanges("", {}).empty());

    // Offsets run in UTF-16 units past every region and its line break; empty
    // low regions give no range, and exactly 0.8 is not low.
    const std::vector<TextRegion> mixed{region("𠮷a", 0.9f), region("", 0.1f), region("bc", 0.79f),
                                        region("d", 0.8f)};
    EXPECT_EQ(recognitionLowRanges("𠮷a\n\nbc\nd", mixed), (std::vector<TextRange>{{5, 2}}));

    // The same text in decomposed form is canonically equivalent but longer
    // in UTF-16: it counts as edited and gets no ranges at all, rather than
    // ranges measured on the other spelling.
    const std::vector<TextRegion> voiced{region("がぎ", 0.9f), region("ぐ", 0.3f)};
    const std::string decomposed = "か\u3099き\u3099\nく\u3099";
    ASSERT_EQ(Unicode::nfc(decomposed), "がぎ\nぐ");
    EXPECT_TRUE(recognitionLowRanges(decomposed, voiced).empty());
    EXPECT_EQ(recognitionLowRanges("がぎ\nぐ", voiced), (std::vector<TextRange>{{3, 1}}));
    const auto decomposedRegions = std::vector<TextRegion>{region("か\u3099き\u3099", 0.1f), region("く\u3099", 0.1f)};
    EXPECT_TRUE(recognitionLowRanges("がぎ\nぐ", decomposedRegions).empty());
    EXPECT_EQ(recognitionLowRanges(decomposed, decomposedRegions), (std::vector<TextRange>{{0, 4}, {5, 2}}));
}

TEST(OCRProductLayout, PreviewWidth) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_DOUBLE_EQ(previewWidth(360, 1000), 360);
    EXPECT_DOUBLE_EQ(previewWidth(900, 1000), 672);
    EXPECT_DOUBLE_EQ(previewWidth(100, 1000), 300);
    EXPECT_DOUBLE_EQ(previewWidth(0, inf), 320);
    EXPECT_DOUBLE_EQ(previewWidth(nan, 1000), 360);
    EXPECT_DOUBLE_EQ(previewWidth(-5, 1000), 360);
    // A narrow row: the bounds meet and everything is squeezed into them.
    EXPECT_DOUBLE_EQ(previewWidth(360, 400), 192);
    EXPECT_DOUBLE_EQ(previewWidth(360, 0), 1);
    EXPECT_DOUBLE_EQ(previewWidth(inf, nan), 320);
}

TEST(OCRProductFiles, AcceptsImagesAndPDFsInAnyCase) {
    EXPECT_TRUE(accepts("/home/u/scan.png"));
    EXPECT_TRUE(accepts("/home/u/写真.JPG"));
    EXPECT_TRUE(accepts("/home/u/a.b.Jpeg"));
    EXPECT_TRUE(accepts("/home/u/doc.pdf"));
    EXPECT_FALSE(accepts("/home/u/scan.tiff"));
    EXPECT_FALSE(accepts("/home/u/scan"));
    EXPECT_FALSE(accepts("/home/u/.png"));
    EXPECT_FALSE(accepts("/home/u/scans.pdf/"));
    EXPECT_FALSE(accepts("/home/u/scan.png.txt"));
    EXPECT_FALSE(accepts("relative/scan.png"));
    EXPECT_FALSE(accepts("https://example.com/scan.png"));
    EXPECT_FALSE(accepts(""));
}

TEST(OCRProductFiles, PageStems) {
    EXPECT_EQ(pageStem("報告書", 7), "報告書_0007");
    EXPECT_EQ(pageStem("a/b:c", 12345), SecureDirectory::safeStem("a/b:c") + "_12345");
    EXPECT_EQ(pageStem("", 1), ProductBrand::current().englishIdentifier + "_0001");
}

TEST(OCRProductText, SameUTF16IsExactIdentity) {
    const std::string composed = "が";
    const std::string decomposed = "か\u3099";
    EXPECT_EQ(Unicode::nfc(decomposed), composed);
    EXPECT_FALSE(sameUTF16(composed, decomposed));
    EXPECT_TRUE(sameUTF16(composed, "が"));
    EXPECT_TRUE(sameUTF16("", ""));
}
