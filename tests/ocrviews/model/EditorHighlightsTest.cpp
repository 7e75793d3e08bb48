#include <gtest/gtest.h>

#include "ocrviews/EditorHighlights.hpp"

namespace velmora {
namespace {

// "a𝟘b漢𠀋c": two characters outside the BMP, at characters 1 and 4.
const std::string mixed = "a\xF0\x9D\x9F\x98" "b漢\xF0\xA0\x80\x8B" "c";

TEST(UTF16Map, ConvertsBothWaysAndWidensHalfPairsOutward) {
    const UTF16Map map(mixed);
    EXPECT_EQ(map.characters(), 6);
    EXPECT_EQ(map.utf16Length(), 8);
    // Characters: a=0 𝟘=1 b=2 漢=3 𠀋=4 c=5; UTF-16: a=0 𝟘=1,2 b=3 漢=4 𠀋=5,6 c=7.
    const std::vector<int64_t> utf16 = {0, 1, 3, 4, 5, 7, 8};
    for (int64_t c = 0; c <= 6; ++c) EXPECT_EQ(map.utf16Offset(c), utf16[static_cast<std::size_t>(c)]) << c;
    EXPECT_EQ(map.characterStart(2), 1);  // inside 𝟘: back to its start
    EXPECT_EQ(map.characterEnd(2), 2);    // inside 𝟘: on past its end
    EXPECT_EQ(map.characterStart(6), 4);
    EXPECT_EQ(map.characterEnd(6), 5);
    EXPECT_EQ(map.characterStart(7), 5);
    EXPECT_EQ(map.characterEnd(8), 6);
    EXPECT_EQ(UTF16Map("平仮名").utf16Length(), 3);
}

TEST(EditorHighlights, PaintsRangesInsideTheTextOnTheirCharactersAndSkipsTheRest) {
    const UTF16Map map(mixed);
    // 𠀋 alone, as UTF-16 (5, 2), and a range cut through both pairs.
    EXPECT_EQ(EditorHighlights::paintedSpan({5, 2}, map), (CharacterSpan{4, 5}));
    EXPECT_EQ(EditorHighlights::paintedSpan({2, 4}, map), (CharacterSpan{1, 5}));
    EXPECT_EQ(EditorHighlights::paintedSpan({8, 0}, map), (CharacterSpan{6, 6}));
    EXPECT_FALSE(EditorHighlights::paintedSpan({-1, 2}, map));
    EXPECT_FALSE(EditorHighlights::paintedSpan({2, -1}, map));
    EXPECT_FALSE(EditorHighlights::paintedSpan({9, 0}, map));
    EXPECT_FALSE(EditorHighlights::paintedSpan({6, 3}, map));
    EXPECT_FALSE(EditorHighlights::paintedSpan({1, INT64_MAX}, map));
    // Lists keep their order and leave out what paints nothing.
    EXPECT_EQ(EditorHighlights::paintedSpans({{7, 1}, {9, 1}, {0, 0}, {0, 1}}, map),
              (std::vector<CharacterSpan>{{5, 6}, {0, 1}}));
}

TEST(EditorHighlights, HelpCountsTheListsAndSelectionsRevealOnceWithinTheText) {
    EXPECT_EQ(EditorHighlights::help(0, 0), "黄：低信頼、緑：手動修正、青：検索結果。黄色0箇所、緑0箇所。色は正誤を保証しません。");
    EXPECT_EQ(EditorHighlights::help(12, 3), "黄：低信頼、緑：手動修正、青：検索結果。黄色12箇所、緑3箇所。色は正誤を保証しません。");

    EXPECT_TRUE(EditorHighlights::reveals(TextRange{10, 5}, std::nullopt, 15));
    EXPECT_FALSE(EditorHighlights::reveals(TextRange{10, 5}, TextRange{10, 5}, 15));
    EXPECT_TRUE(EditorHighlights::reveals(TextRange{10, 4}, TextRange{10, 5}, 15));
    EXPECT_FALSE(EditorHighlights::reveals(TextRange{10, 6}, std::nullopt, 15));
    EXPECT_FALSE(EditorHighlights::reveals(std::nullopt, TextRange{1, 1}, 15));
}

// The buffer's tags, one flag per character, as a real buffer would hold
// them after the layer's operations.
struct TaggedText {
    std::vector<bool> tagged;
    void apply(const HighlightLayer::Changes& changes) {
        for (const auto& s : changes.remove) std::fill(tagged.begin() + s.start, tagged.begin() + s.end, false);
        for (const auto& s : changes.add) std::fill(tagged.begin() + s.start, tagged.begin() + s.end, true);
    }
    // An insertion that takes the tag of its left neighbour, or of neither.
    void insert(int64_t at, int64_t count, bool inherit) {
        const bool on = inherit && at > 0 && tagged[static_cast<std::size_t>(at - 1)];
        tagged.insert(tagged.begin() + at, static_cast<std::size_t>(count), on);
    }
    void erase(int64_t start, int64_t end) { tagged.erase(tagged.begin() + start, tagged.begin() + end); }
    std::vector<bool> expected(std::size_t size, const std::vector<CharacterSpan>& spans) const {
        std::vector<bool> want(size, false);
        for (const auto& s : spans) std::fill(want.begin() + s.start, want.begin() + s.end, true);
        return want;
    }
};

TEST(HighlightLayer, TouchesOnlyWhatChangedAndEndsExactWhateverTheBufferDidAtTheEdges) {
    for (const bool inherit : {false, true}) {
        HighlightLayer layer;
        TaggedText buffer{std::vector<bool>(40, false)};
        const std::vector<CharacterSpan> first = {{2, 5}, {10, 14}, {20, 22}, {30, 35}};
        auto changes = layer.update(first);
        EXPECT_TRUE(changes.remove.empty());
        EXPECT_EQ(changes.add, first);
        buffer.apply(changes);

        // The same spans again: nothing to do.
        changes = layer.update(first);
        EXPECT_TRUE(changes.remove.empty() && changes.add.empty());

        // A character typed at the end of {10, 14}: the owner moves what
        // follows and grows the edited span; the untouched spans stay put.
        layer.inserted(14, 1);
        buffer.insert(14, 1, inherit);
        const std::vector<CharacterSpan> second = {{2, 5}, {10, 15}, {21, 23}, {31, 36}};
        changes = layer.update(second);
        EXPECT_LE(changes.remove.size() + changes.add.size(), 2u) << inherit;
        buffer.apply(changes);
        EXPECT_EQ(buffer.tagged, buffer.expected(41, second)) << inherit;

        // A deletion across two spans joins what is left of them; the owner
        // says the joined part is no longer marked.
        layer.deleted(4, 12);
        buffer.erase(4, 12);
        const std::vector<CharacterSpan> third = {{2, 4}, {4, 7}, {13, 15}, {23, 28}};
        changes = layer.update(third);
        buffer.apply(changes);
        EXPECT_EQ(buffer.tagged, buffer.expected(33, third)) << inherit;

        // Overlapping spans: removing one must not strip the other.
        changes = layer.update({{0, 10}, {5, 15}});
        buffer.apply(changes);
        changes = layer.update({{5, 15}});
        buffer.apply(changes);
        EXPECT_EQ(buffer.tagged, buffer.expected(33, {{5, 15}})) << inherit;
    }
}

}  // namespace
}  // namespace velmora
