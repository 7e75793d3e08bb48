#include <gtest/gtest.h>

#include "recognition/page/LineText.hpp"

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

namespace {

std::string widened(std::vector<Word> words) {
    widenPunctuation(words);
    return join(words).text;
}

// One word per character, as the recogniser gives Japanese.
std::vector<Word> characters(const std::vector<std::string>& cs) {
    std::vector<Word> words;
    for (const std::string& c : cs) words.push_back({{c}, 0});
    return words;
}

}  // namespace

TEST(LineText, BracketsAndColonsAmongJapaneseAreFullWidth) {
    EXPECT_EQ(widened(characters({"6", "月", "1", "日", "(", "月", ")", "は"})), "6月1日（月）は");
    EXPECT_EQ(widened(characters({"電", "話", ":", "0", "4", "8", "(", "9", ":", "3", "0", "、", "木", ")"})),
              "電話：048（9:30、木）");
    // The blanks the recogniser sees around a bracket go with its width.
    EXPECT_EQ(widened({{{"日"}, 0}, {{"("}, 1}, {{"土"}, 0}, {{")"}, 0}, {{"1", "4"}, 1}}), "日（土）14");
    // Left open or closed on the line, by the character it opens or closes.
    EXPECT_EQ(widened(characters({"料", "(", "中", "学"})), "料（中学");
    EXPECT_EQ(widened(characters({"以", "下", ")", "。"})), "以下）。");
}

TEST(LineText, BracketsAndColonsAmongLatinAndDigitsKeepTheirForm) {
    EXPECT_EQ(widened({{{"In"}, 0}, {{"(", "2", "0", "2", "7", ")"}, 1}, {{"it"}, 1}}), "In (2027) it");
    EXPECT_EQ(widened({{{"https", ":", "/", "/", "a", ".", "jp"}, 0}}), "https://a.jp");
    EXPECT_EQ(widened(characters({"時", "1", "0", ":", "0", "0", "に"})), "時10:00に");
    // Japanese after the bracket is not Japanese inside it.
    EXPECT_EQ(widened({{{"Velmora"}, 0}, {{"(", "v", "2", ")"}, 1}, {{"は"}, 0}}), "Velmora (v2)は");
    EXPECT_EQ(widened({{{"Note", ":"}, 0}, {{"日", "本"}, 1}}), "Note: 日本");
}

TEST(LineText, AWaveDashReadAsALookalikeBetweenNumbersIsAWaveDash) {
    for (const std::string dash : {"~", "ー", "一", "て"}) {
        EXPECT_EQ(widened(characters({"9", ":", "3", "0", dash, "1", "6", ":", "0", "0", "、"})), "9:30〜16:00、")
            << dash;
        EXPECT_EQ(widened(characters({"日", "(", "月", ")", dash, "6", "月"})), "日（月）〜6月") << dash;
    }
    // Where they are what they look like.
    EXPECT_EQ(widened(characters({"ス", "ー", "プ", "一", "杯", "て", "2"})), "スープ一杯て2");
    EXPECT_EQ(widened(characters({"0", "4", "8", "-", "0", "0", "0"})), "048-000");
    EXPECT_EQ(widened({{{"~", "1", "0"}, 0}, {{"min"}, 1}}), "~10 min");
    EXPECT_EQ(widened(characters({"1", "0", "~", "2", "0"})), "10~20");
}

TEST(LineText, CommasAndFullStopsAfterJapaneseAreFullWidth) {
    EXPECT_EQ(widened(characters({"こ", "れ", "は", ",", "元", "々", "."})), "これは，元々．");
    EXPECT_EQ(widened(characters({"版", "[", "ス", "イ", "ッ", "チ", "]", "使"})), "版［スイッチ］使");
    // Numbers, file names and Latin keep theirs.
    EXPECT_EQ(widened(characters({"値", "0", ".", "5", ",", "1", "2"})), "値0.5,12");
    EXPECT_EQ(widened(std::vector<Word>{{{"a", ".", "txt"}, 0}, {{"と"}, 0}, {{"b", ",", "c"}, 0}}), "a.txtとb,c");
}

TEST(LineText, WhatThePagePrintsDecidesOverTheNeighbours) {
    std::vector<Word> words = characters({"m", "i", "n", ",", "g", "o", "t", "h", "(", "日", ")"});
    std::vector<Printed> printed(words.size(), Printed::unknown);
    printed[3] = Printed::full;
    printed[8] = printed[10] = Printed::half;
    widenPunctuation(words, printed);
    EXPECT_EQ(join(words).text, "min，goth(日)");
}
