// The order of a page's lines where the layout reads a page in two columns
// block by block in turns: lines placed as on a scanned two-column manual
// page at 200 dpi, in the order the layout gave them.
#include <gtest/gtest.h>

#include "recognition/standard/ReadingOrder.hpp"

using namespace velmora;
using namespace velmora::StandardPass;

namespace {

// A line whose text is its name, its characters `height` pixels tall.
Line placed(const std::string& name, int block, int left, int top, int right, int height) {
    Line line;
    line.block = block;
    line.box = {left, top, right, top + height};
    LineText::Word word;
    const int step = (right - left) / static_cast<int>(name.size());
    for (std::size_t k = 0; k < name.size(); ++k) {
        const std::string symbol(1, name[k]);
        const int x = left + static_cast<int>(k) * step;
        word.symbols.push_back(symbol);
        line.symbolTexts.push_back(symbol);
        line.symbolBoxes.push_back({x, top, x + step, top + height});
        line.symbolConfidences.push_back(0.9f);
    }
    line.words = {word};
    assemble(line);
    return line;
}

// Lines of a column block, one under the other.
void column(std::vector<Line>& ls, const std::string& name, int block, int left, int right, int top, int count) {
    for (int k = 0; k < count; ++k) {
        ls.push_back(placed(name + std::to_string(k), block, left, top + 42 * k, right, 26));
    }
}

std::vector<std::string> texts(const std::vector<Line>& ls) {
    std::vector<std::string> out;
    for (const Line& l : ls) out.push_back(l.assembled.text);
    return out;
}

}  // namespace

TEST(ReadingOrder, TwoColumnsAreReadColumnByColumnBetweenTheLinesAcrossThePage) {
    std::vector<Line> ls;
    ls.push_back(placed("title", 1, 460, 130, 1140, 50));
    ls.push_back(placed("author", 2, 620, 280, 960, 23));
    // The heading over the abstract stands where the gutter runs below.
    ls.push_back(placed("H", 3, 771, 344, 839, 34));
    ls.push_back(placed("abstract0", 4, 150, 400, 1470, 26));
    column(ls, "leftA", 10, 150, 777, 480, 5);
    column(ls, "rightA", 15, 850, 1470, 465, 5);
    column(ls, "leftB", 22, 150, 777, 690, 4);
    // A heading of two characters closing the left column.
    ls.push_back(placed("F", 22, 150, 858, 200, 26));
    ls.push_back(placed("7", 40, 800, 1000, 815, 26));
    column(ls, "rightB", 29, 850, 1470, 675, 5);
    std::vector<std::string> expected{"title", "author", "H", "abstract0"};
    for (const char* name : {"leftA", "leftB"}) {
        for (int k = 0; k < (std::string(name) == "leftB" ? 4 : 5); ++k) expected.push_back(name + std::to_string(k));
    }
    expected.push_back("F");
    for (const char* name : {"rightA", "rightB"}) {
        for (int k = 0; k < 5; ++k) expected.push_back(name + std::to_string(k));
    }
    expected.push_back("7");
    orderColumns(ls);
    EXPECT_EQ(texts(ls), expected);

    // A narrow sidebar beside the text is no column of a paper: its order
    // stays the layout's.
    std::vector<Line> sidebar;
    column(sidebar, "text", 1, 400, 1240, 100, 6);
    column(sidebar, "side", 2, 40, 290, 100, 6);
    const std::vector<std::string> before = texts(sidebar);
    orderColumns(sidebar);
    EXPECT_EQ(texts(sidebar), before);
}

TEST(ReadingOrder, ABlockAtTheTopRightIsReadBeforeTheBandsBelowIt) {
    // The head of an order form at 150 dpi as the layout read it: the
    // addressee's block, the issuer's, then the form's number and date,
    // which stand above both at the right.
    std::vector<Line> ls;
    ls.push_back(placed("title", 0, 512, 111, 728, 39));
    ls.push_back(placed("addressee", 2, 126, 274, 386, 21));
    ls.push_back(placed("issuer", 3, 646, 300, 1003, 19));
    ls.push_back(placed("number", 5, 905, 190, 1121, 19));
    ls.push_back(placed("date", 5, 895, 215, 1119, 19));
    ls.push_back(placed("text", 7, 120, 439, 938, 19));
    orderBands(ls);
    EXPECT_EQ(texts(ls), (std::vector<std::string>{"title", "number", "date", "addressee", "issuer", "text"}));
}
