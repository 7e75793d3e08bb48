#include <gtest/gtest.h>

#include <set>

#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"

using namespace velmora;

TEST(BrindlexError, RawValuesFollowDeclarationOrderAndRoundTrip) {
    const auto& all = BrindlexError::allCases();
    ASSERT_EQ(all.size(), 26u);
    EXPECT_EQ(BrindlexError::rawValue(all[0]), "invalidInput");
    EXPECT_EQ(BrindlexError::rawValue(all[12]), "cancelled");
    EXPECT_EQ(BrindlexError::rawValue(all[23]), "interruptedSave");
    // The two added later follow the stored ones.
    EXPECT_EQ(BrindlexError::rawValue(all[24]), "looksVertical");
    EXPECT_EQ(BrindlexError::rawValue(all[25]), "looksHorizontal");
    std::set<std::string_view> seen;
    for (auto c : all) {
        auto raw = BrindlexError::rawValue(c);
        EXPECT_TRUE(seen.insert(raw).second) << raw;
        EXPECT_EQ(BrindlexError::fromRawValue(raw), c);
    }
}

TEST(BrindlexError, MessagesAreTheFixedTexts) {
    EXPECT_STREQ(BrindlexError(ErrorCase::invalidInput).what(),
                 "入力を読み込めません。対応する画像またはPDFを選んでください。");
    EXPECT_STREQ(BrindlexError(ErrorCase::sourceChanged).what(),
                 "原稿が移動・変更されています。同じ原稿を再選択するか、最初からやり直してください。");
    EXPECT_STREQ(BrindlexError(ErrorCase::cancelled).what(), "処理を中止しました。確定済みの結果は保持しています。");
    EXPECT_STREQ(BrindlexError(ErrorCase::unsupportedLanguage).what(),
                 "この環境では指定した言語・リビジョンを利用できません。");
    EXPECT_STREQ(BrindlexError(ErrorCase::interruptedSave).what(),
                 "前回の保存は途中で終了しました。確定済みの出力は保持しています。");
    EXPECT_STREQ(BrindlexError(ErrorCase::looksVertical).what(),
                 "縦書きの原稿のようです。認識モードを「縦書き」か「自動」にしてください。");
    EXPECT_STREQ(BrindlexError(ErrorCase::looksHorizontal).what(),
                 "横書きの原稿のようです。認識モードを「標準」か「自動」にしてください。");
    for (auto c : BrindlexError::allCases()) {
        std::string m = BrindlexError(c).what();
        EXPECT_FALSE(m.empty());
        // Every message ends with the full-width full stop.
        EXPECT_EQ(m.substr(m.size() - 3), "。") << BrindlexError::rawValue(c);
    }
}

TEST(BrindlexError, EncodesAsRawStringAndRefusesOtherNames) {
    Json j = {{"error", ErrorCase::dimensionOverflow}};
    EXPECT_EQ(JSON::print(j), "{\n  \"error\" : \"dimensionOverflow\"\n}");
    EXPECT_EQ(JSON::decode<ErrorCase>(Json("cancelled")), ErrorCase::cancelled);
    EXPECT_THROW(JSON::decode<ErrorCase>(Json("DimensionOverflow")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<ErrorCase>(Json("noSuchCase")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<ErrorCase>(Json(3)), JSON::DecodeError);
    EXPECT_FALSE(BrindlexError::fromRawValue("Cancelled"));
}

TEST(BrindlexError, EqualityIsByCase) {
    EXPECT_EQ(BrindlexError(ErrorCase::cancelled), BrindlexError(ErrorCase::cancelled));
    for (auto c : BrindlexError::allCases()) {
        if (c != ErrorCase::cancelled) {
            EXPECT_FALSE(BrindlexError(c) == BrindlexError(ErrorCase::cancelled));
        }
    }
    try {
        raise(ErrorCase::saveFailed);
    } catch (const BrindlexError& e) {
        EXPECT_EQ(e.errorCase(), ErrorCase::saveFailed);
    }
}
