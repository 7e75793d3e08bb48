// What vertical books print beside and within their columns: ruby, digits
// set side by side in one cell, and text in two tiers.
#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/Unicode.hpp"
#include "recognition/vertical/VerticalResearch.hpp"
#include "support/TextPages.hpp"
#include "support/VerticalPages.hpp"

using namespace velmora;

namespace {

std::string withoutSpace(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c != '\n' && c != ' ') out += c;
    }
    return out;
}

}  // namespace

// Ruby: kana at half size in a narrow line right beside a word of the
// column, once apart from it and once so close that it joins the column's
// ink; the text is the columns' without it.
TEST(VerticalBook, RubyBesideAWordIsLeftOutOfTheText) {
    const test::VerticalLayout body{.width = 420, .height = 900, .pixelSize = 48};
    const std::vector<std::string> columns{"今日は霧が深い朝です。", "広い茶畑を歩きました。"};
    const test::VerticalPage base = test::renderColumns(body, columns);
    // Each column's centre; its characters are an em tall from the top.
    const auto centre = [&](std::size_t i) { return body.width - body.right - (i + 0.5) * body.pixelSize * body.columnAdvance; };
    RasterImage page = base.image;
    // きり beside 霧 (the fourth character) a few pixels off the column, and
    // ちゃばたけ beside 茶畑 (the third and fourth) all but touching it.
    const struct {
        std::size_t column;
        int from;
        int characters;
        std::string ruby;
        double gap;
    } rubies[] = {{0, 3, 1, "きり", 5}, {1, 2, 2, "ちゃばたけ", 0}};
    for (const auto& r : rubies) {
        const double size = body.pixelSize / 2;
        const int count = static_cast<int>(Unicode::scalars(r.ruby).size());
        test::VerticalLayout ruby{.width = body.width, .height = body.height, .pixelSize = size};
        ruby.columnAdvance = 1;
        ruby.right = body.width - (centre(r.column) + body.pixelSize / 2 + r.gap + size);
        // Centred along the word it reads.
        ruby.top = body.top + r.from * body.pixelSize + (r.characters * body.pixelSize - count * size) / 2;
        page = test::overlaid(page, test::renderColumns(ruby, {r.ruby}).image);
    }
    const VerticalResearch::Result read = VerticalResearch::recognize(page, VerticalResearch::Method::reflow);
    EXPECT_EQ(withoutSpace(read.text()), "今日は霧が深い朝です。広い茶畑を歩きました。");
    EXPECT_EQ(read.columns.size(), 2u);
}

// Two tiers on one grid, each column of the upper tier right above one of
// the lower: the upper tier is read right to left, then the lower.
TEST(VerticalBook, TwoTiersAreReadOneAfterTheOther) {
    const std::vector<std::string> upper{"山あいの村に窯が", "ある。冬の朝は", "静かに明ける。"};
    const std::vector<std::string> lower{"若者は土を練り、", "器の形を作る。", "火の番をする。"};
    test::VerticalLayout top{.width = 420, .height = 1000, .pixelSize = 48};
    test::VerticalLayout bottom = top;
    bottom.top = top.top + 8 * top.pixelSize + 2 * top.pixelSize;
    const RasterImage page =
        test::overlaid(test::renderColumns(top, upper).image, test::renderColumns(bottom, lower).image);
    const VerticalResearch::Result read = VerticalResearch::recognize(page, VerticalResearch::Method::reflow);
    EXPECT_EQ(withoutSpace(read.text()), "山あいの村に窯がある。冬の朝は静かに明ける。若者は土を練り、器の形を作る。火の番をする。");
    EXPECT_EQ(read.columns.size(), 6u);
}

// Digits set upright side by side in one cell of a column (縦中横) read as
// the digits in order, among kana and kanji the vertical model reads.
TEST(VerticalBook, DigitsUprightInOneCellAreReadInOrder) {
    const test::VerticalLayout body{.width = 320, .height = 700, .pixelSize = 48};
    // The cells of the digits are left blank in the columns and the digits
    // drawn there upright, as horizontal text.
    const test::VerticalPage columns = test::renderColumns(body, {"今年は　月から", "花を　種類"});
    const auto centre = [&](int i) { return body.width - body.right - (i + 0.5) * body.pixelSize * body.columnAdvance; };
    const auto cellTop = [&](int k) { return body.top + k * body.pixelSize; };
    const test::TextPage digits = test::renderPlaced({.width = body.width, .height = body.height, .pixelSize = 36},
                                                     {{"25", centre(0) - 20, cellTop(3) + 2}, {"12", centre(1) - 20, cellTop(2) + 2}});
    const VerticalResearch::Result read =
        VerticalResearch::recognize(test::overlaid(columns.image, digits.image), VerticalResearch::Method::reflow);
    EXPECT_EQ(withoutSpace(read.text()), "今年は25月から花を12種類");
}

// A dash runs down the column as a line, which the vertical model reads as
// a vertical bar.
TEST(VerticalBook, ADashDownTheColumnIsADash) {
    const test::VerticalPage page =
        test::renderColumns({.width = 320, .height = 800, .pixelSize = 48}, {"夜が明けた—あの人は", "帰らなかった。"});
    const VerticalResearch::Result read = VerticalResearch::recognize(page.image, VerticalResearch::Method::reflow);
    EXPECT_EQ(withoutSpace(read.text()), "夜が明けた—あの人は帰らなかった。");
}
