#include <gtest/gtest.h>

#include "recognition/LineText.hpp"

using namespace velmora;
using namespace velmora::LineText;

TEST(LineText, NoSpaceBetweenJapaneseCharactersWhateverTheBlanks) {
    // The recogniser splits Japanese into one-character words and often sees
    // blanks between them.
    const Assembled a = join({{{"東", "京"}, 0}, {{"都"}, 1}, {{"の"}, 2}, {{"カ", "ー"}, 1}, {{"ﾄﾞ"}, 1}});
    EXPECT_EQ(a.text, "東京都のカーﾄﾞ");
}

TEST(LineText, SpacesOnlyWhereTheRecogniserSawThem) {
    EXPECT_EQ(join({{{"H", "e", "l", "l", "o"}, 0}, {{"W", "o", "r", "l", "d", "."}, 1}}).text, "Hello World.");
    // Latin beside Japanese follows the blanks: "Velmoraは" was written
    // together, "version 1.0" apart.
    EXPECT_EQ(join({{{"Velmora"}, 0}, {{"は"}, 0}, {{"version"}, 0}, {{"1.0"}, 1}, {{"を"}, 0}}).text,
              "Velmoraはversion 1.0を");
    EXPECT_EQ(join({{{"日本"}, 0}, {{"Japan"}, 1}}).text, "日本 Japan");
    // Wide punctuation carries its own space.
    EXPECT_EQ(join({{{"た", "。"}, 0}, {{"OCR"}, 1}, {{"test"}, 1}, {{"（"}, 1}, {{"x"}, 0}}).text, "た。OCR test（x");
    EXPECT_EQ(join({{{"OCR"}, 0}, {{"、"}, 1}}).text, "OCR、");
    // Blanks before the first word are not written.
    EXPECT_EQ(join({{{"a"}, 3}}).text, "a");
}

TEST(LineText, SymbolRangesAreUTF16AndSkipBlankSymbols) {
    const Assembled a = join({{{"𠮷", " ", "野"}, 0}, {{""}, 1}, {{"ab"}, 1}, {{"c"}, 2}});
    EXPECT_EQ(a.text, "𠮷野 ab c");
    EXPECT_EQ(a.symbolRanges, (std::vector<TextRange>{{0, 2}, {2, 0}, {2, 1}, {3, 0}, {4, 2}, {7, 1}}));
    EXPECT_TRUE(join({}).text.empty());
    EXPECT_TRUE(join({{{" ", "\t"}, 0}}).text.empty());
}

TEST(LineText, Classification) {
    for (char32_t c : {U'漢', U'ひ', U'カ', U'ｶ', U'ー', U'々', U'。', U'「', U'Ａ', U'１'}) {
        EXPECT_TRUE(isCJK(c)) << static_cast<uint32_t>(c);
    }
    for (char32_t c : {U'A', U'1', U'.', U'(', U'é', U' '}) EXPECT_FALSE(isCJK(c)) << static_cast<uint32_t>(c);
    EXPECT_TRUE(isWidePunctuation(U'、'));
    EXPECT_TRUE(isWidePunctuation(U'）'));
    EXPECT_FALSE(isWidePunctuation(U'ー'));
    EXPECT_FALSE(isWidePunctuation(U'漢'));
    EXPECT_FALSE(isWidePunctuation(U','));
}
