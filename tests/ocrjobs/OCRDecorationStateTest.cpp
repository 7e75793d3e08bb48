#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Unicode.hpp"
#include "ocrjobs/OCRDecorationState.hpp"
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

namespace {

// The ranges a state of the same text and marks measures from scratch.
OCRDecorationState measuredAfresh(const OCRDecorationState& s) {
    return OCRDecorationState::fromStored(s.baseline16(), s.text16(), s.marks(), s.baselineMarks());
}

}  // namespace

TEST(OCRDecorationState, KeptRangesMatchRangesMeasuredAfresh) {
    // Lines with joined characters at their edges: a skin-tone emoji, a
    // flag, a CR LF pair, a base and its combining mark, a character
    // outside the BMP.
    const std::string text = "一行目は\U0001F44D\U0001F3FDで終わる\r\n\U0001F1EF\U0001F1F5旗の行\ne\u0301の行\n\U00020BB7外字\n";
    uint32_t seed = 7;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    const std::u16string pieces[] = {u"字", u"\n", u"\r", u"\u0301", u"\U0001F3FB", u"\U0001F1EF", u"\U00020BB7", u""};
    // Short runs of keys on the recognised text, where most neighbours of
    // a change are still unedited and a joined character changes colour.
    for (int trial = 0; trial < 300; ++trial) {
        OCRDecorationState s(text, {{0, 2}, {4, 4}, {14, 4}, {24, 2}, {30, 3}});
        ASSERT_FALSE(s.yellow().empty());  // measured now, kept from here on
        for (int i = 0; i < 4; ++i) {
            std::u16string t = s.text16();
            // Never inside a surrogate pair.
            auto whole = [&t](std::size_t k) {
                return k < t.size() && k > 0 && t[k] >= 0xDC00 && t[k] <= 0xDFFF ? k + 1 : k;
            };
            const std::size_t at = whole(next(static_cast<uint32_t>(t.size() + 1)));
            const std::size_t removed = whole(std::min<std::size_t>(at + next(3), t.size())) - at;
            const std::u16string& inserted = pieces[next(8)];
            t.replace(at, removed, inserted);
            // Half the steps report their range, half leave it to the
            // comparison.
            if (next(2) == 0) {
                s.update(Unicode::fromUTF16(t), TextRange{static_cast<int64_t>(at), static_cast<int64_t>(removed)},
                         Unicode::fromUTF16(inserted));
            } else {
                s.update(Unicode::fromUTF16(t));
            }
            const OCRDecorationState fresh = measuredAfresh(s);
            ASSERT_EQ(s.yellow(), fresh.yellow()) << "trial " << trial << ", step " << i;
            ASSERT_EQ(s.green(), fresh.green()) << "trial " << trial << ", step " << i;
        }
    }
}

TEST(OCRDecorationState, UndoAfterManyKeystrokesRestoresEachStatesMarks) {
    OCRDecorationState s("本日は晴天なり\n明日は雨\n", {{3, 2}, {8, 2}});
    std::vector<std::pair<std::u16string, std::vector<uint8_t>>> seen{{s.text16(), s.marks()}};
    // Typing at two places, a deletion among them, as keys come (the undo
    // steps below are history too: both fit in it).
    for (int i = 0; i < 60; ++i) {
        std::u16string t = s.text16();
        const std::size_t at = i % 3 == 0 ? 1 : t.size() - 2;
        if (i % 7 == 6) {
            t.erase(at, 1);
            s.update(Unicode::fromUTF16(t), TextRange{static_cast<int64_t>(at), 1}, "");
        } else {
            t.insert(at, u"字");
            s.update(Unicode::fromUTF16(t), TextRange{static_cast<int64_t>(at), 0}, "字");
        }
        seen.emplace_back(s.text16(), s.marks());
    }
    EXPECT_EQ(s.historyCount(), 60u);
    // Each step costs what it replaced, not the page.
    EXPECT_LE(s.historyBytes(), 3 * 60);
    // Undo walks back through every state with its own marks; the first one
    // is the recognised text with its yellow.
    for (std::size_t k = seen.size() - 1; k-- > 0;) {
        s.update(Unicode::fromUTF16(seen[k].first), std::nullopt, std::nullopt, true);
        ASSERT_EQ(s.text16(), seen[k].first) << k;
        ASSERT_EQ(s.marks(), seen[k].second) << k;
        ASSERT_EQ(s.green(), measuredAfresh(s).green()) << k;
    }
    EXPECT_TRUE(s.green().empty());
    EXPECT_EQ(s.yellow(), (Ranges{{3, 2}, {8, 2}}));
    // Redo goes forward again to the last typed state.
    s.update(Unicode::fromUTF16(seen.back().first), std::nullopt, std::nullopt, true);
    EXPECT_EQ(s.marks(), seen.back().second);
}

TEST(OCRDecorationState, RevisionCountsOnlyChanges) {
    OCRDecorationState s("abc", {{1, 1}});
    const uint64_t start = s.revision();
    s.update("abc");
    EXPECT_EQ(s.revision(), start);
    s.update("abXc", TextRange{2, 0}, "X");
    EXPECT_EQ(s.revision(), start + 1);
    const OCRDecorationState copy = s;
    EXPECT_EQ(copy.revision(), s.revision());
    s.reformat("a c");  // the recognised text's length
    EXPECT_EQ(s.revision(), start + 2);
}
