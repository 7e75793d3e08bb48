#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "recognition/OCRDecorationState.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using test::caseOf;
using Ranges = std::vector<TextRange>;

TEST(OCRDecorationState, InitMarksOnlyWellFormedRanges) {
    OCRDecorationState s("abcdef", {{1, 2}, {4, 9}, {-1, 2}, {7, 0}, {2, -1}});
    EXPECT_EQ(s.yellow(), (Ranges{{1, 2}}));
    EXPECT_TRUE(s.green().empty());
    EXPECT_EQ(s.marks(), (std::vector<uint8_t>{0, 1, 1, 0, 0, 0}));
    EXPECT_EQ(s.baselineMarks(), s.marks());
    // A range ending exactly at the end is fine.
    EXPECT_EQ(OCRDecorationState("abcdef", {{4, 2}}).yellow(), (Ranges{{4, 2}}));
}

TEST(OCRDecorationState, ReplacementsMarkOnlyWhatChanged) {
    OCRDecorationState s("abcdef", {{1, 2}, {4, 1}});
    s.update("abcXdef", TextRange{3, 0}, "X");
    EXPECT_EQ(s.green(), (Ranges{{3, 1}}));
    EXPECT_EQ(s.yellow(), (Ranges{{1, 2}, {5, 1}}));

    OCRDecorationState t("abcdef", {});
    t.update("abddef", TextRange{0, 3}, "abd");
    EXPECT_EQ(t.green(), (Ranges{{2, 1}}));

    // A pure deletion of a low-confidence character leaves no mark behind.
    OCRDecorationState u("abcdef", {{1, 1}});
    u.update("acdef", TextRange{1, 1}, "");
    EXPECT_TRUE(u.yellow().empty());
    EXPECT_TRUE(u.green().empty());
    EXPECT_EQ(u.marks().size(), 5u);
}

TEST(OCRDecorationState, InconsistentRangeFallsBackToWholeTextComparison) {
    OCRDecorationState a("abcdef", {{0, 1}});
    OCRDecorationState b = a;
    a.update("abZdef", TextRange{0, 6}, "nonsense");
    b.update("abZdef");
    EXPECT_EQ(a.marks(), b.marks());
    EXPECT_EQ(a.green(), (Ranges{{2, 1}}));
    OCRDecorationState c("abcdef", {});
    c.update("abZdef", TextRange{5, 9}, "Z");
    EXPECT_EQ(c.green(), (Ranges{{2, 1}}));
}

TEST(OCRDecorationState, BaselineAndUndoRestoreTheirMarks) {
    OCRDecorationState s("日本語の文章", {{2, 1}});
    s.update("日本語の文書");
    s.update("日本語の文書です");
    EXPECT_EQ(s.green(), (Ranges{{5, 3}}));
    // Undo to the first edit brings back that text's own marks.
    s.update("日本語の文書", std::nullopt, std::nullopt, true);
    EXPECT_EQ(s.green(), (Ranges{{5, 1}}));
    EXPECT_EQ(s.yellow(), (Ranges{{2, 1}}));
    // Editing back to the recognised text restores its yellow and drops green.
    s.update("日本語の文章");
    EXPECT_TRUE(s.green().empty());
    EXPECT_EQ(s.yellow(), (Ranges{{2, 1}}));
    // No-op update adds no history.
    const auto n = s.historyCount();
    s.update("日本語の文章");
    EXPECT_EQ(s.historyCount(), n);
}

TEST(OCRDecorationState, NonBMPCharactersAreNeverSplit) {
    // U+20BB7 is two UTF-16 units.
    OCRDecorationState s("a\U00020BB7b", {{1, 1}});
    EXPECT_TRUE(s.yellow().empty());  // only half the character is low
    OCRDecorationState t("a\U00020BB7b", {{1, 2}});
    EXPECT_EQ(t.yellow(), (Ranges{{1, 2}}));
    t.update("a\U00020BB7\U00020BB7b");
    EXPECT_EQ(t.green(), (Ranges{{3, 2}}));
    EXPECT_EQ(t.marks().size(), 6u);
    // An emoji with a skin-tone modifier is one character of four units.
    OCRDecorationState e("x\U0001F44D\U0001F3FDy", {});
    e.update("x\U0001F44D\U0001F3FBy");
    EXPECT_EQ(e.green(), (Ranges{{1, 4}}));
}

TEST(OCRDecorationState, HistoryIsBounded) {
    OCRDecorationState s("start", {});
    for (int i = 0; i < 129; ++i) s.update("edit " + std::to_string(i));
    EXPECT_EQ(s.historyCount(), 128u);
    // The cost bound: texts of a million units leave room for two.
    OCRDecorationState big("", {});
    for (int i = 0; i < 4; ++i) big.update(std::string(1000000, static_cast<char>('a' + i)));
    EXPECT_LE(big.historyBytes(), OCRDecorationState::maxHistoryBytes);
    EXPECT_EQ(big.historyCount(), 2u);
}

TEST(OCRDecorationState, ReformatKeepsYellowPositionsOnlyForTheSameLength) {
    OCRDecorationState s("ab\ncd", {{3, 1}});
    s.update("ab\ncX");
    s.reformat("ab cd ");  // another length: ignored
    EXPECT_EQ(s.text(), "ab\ncX");
    s.reformat("ab cd");
    EXPECT_EQ(s.text(), "ab cd");
    EXPECT_EQ(s.yellow(), (Ranges{{3, 1}}));
    EXPECT_TRUE(s.green().empty());
    EXPECT_EQ(s.historyCount(), 0u);
}

TEST(OCRDecorationState, JSONStoresFourKeysAndValidates) {
    OCRDecorationState s("abc", {{0, 1}});
    s.update("abXc");
    Json j = s;
    EXPECT_EQ(j.size(), 4u);
    OCRDecorationState back = JSON::decode<OCRDecorationState>(JSON::parse(JSON::print(j)));
    EXPECT_EQ(back, s);
    EXPECT_EQ(back.historyCount(), 0u);
    EXPECT_EQ(back.green(), s.green());

    Json bad = j;
    bad["marks"][0] = 3;
    EXPECT_EQ(caseOf([&] { JSON::decode<OCRDecorationState>(bad); }), ErrorCase::damagedCheckpoint);
    bad = j;
    bad["baselineMarks"][0] = 2;
    EXPECT_EQ(caseOf([&] { JSON::decode<OCRDecorationState>(bad); }), ErrorCase::damagedCheckpoint);
    bad = j;
    bad["marks"].erase(bad["marks"].size() - 1);
    EXPECT_EQ(caseOf([&] { JSON::decode<OCRDecorationState>(bad); }), ErrorCase::damagedCheckpoint);
    bad = j;
    bad["text"] = "a\U00020BB7c";  // four units for four marks
    EXPECT_NO_THROW(JSON::decode<OCRDecorationState>(bad));
    bad = j;
    bad.erase("baselineMarks");
    EXPECT_THROW(JSON::decode<OCRDecorationState>(bad), JSON::DecodeError);
}
