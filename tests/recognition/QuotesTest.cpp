// Double quotes told by the shape of their marks, on marks whose grey levels
// are taken from real pages: a sans-serif closing quote of a typeset manual
// at 300 dpi as the recogniser prepares it (its tail curls back under its
// head, so it leans no way), and a typewriter face's straight quote.
#include <algorithm>

#include <gtest/gtest.h>

#include "recognition/page/GreyPage.hpp"
#include "recognition/standard/Quotes.hpp"

using namespace velmora;
using namespace velmora::StandardPass;

namespace {

// Darkness (0 paper, 255 ink), one row per entry.
using Mark = std::vector<std::vector<int>>;

const Mark curlyClosing{{0, 14, 24, 19, 1},  {0, 118, 204, 161, 12}, {0, 148, 255, 202, 16},
                        {0, 81, 198, 195, 14}, {0, 0, 158, 174, 10},   {0, 32, 207, 120, 2},
                        {0, 84, 184, 40, 0}};
const Mark straight{{108, 255, 255, 255, 212}, {100, 255, 255, 255, 207}, {92, 255, 255, 255, 201},
                    {84, 255, 255, 255, 196},  {74, 255, 255, 255, 188},  {52, 255, 255, 255, 164},
                    {29, 255, 255, 255, 138},  {6, 255, 255, 255, 112},   {0, 238, 255, 255, 85},
                    {0, 215, 255, 255, 59},    {0, 191, 255, 255, 32},    {0, 168, 255, 255, 7}};

Mark turned(const Mark& m) {
    Mark out(m.rbegin(), m.rend());
    for (auto& row : out) std::reverse(row.begin(), row.end());
    return out;
}

struct Page {
    GreyPage grey;
    std::vector<uint8_t> mask;
    std::vector<GreyPage::InkPiece> pieces;
};

void paint(GreyPage& page, const Mark& mark, int x, int y) {
    for (std::size_t r = 0; r < mark.size(); ++r) {
        for (std::size_t c = 0; c < mark[r].size(); ++c) {
            page.pixels[(y + r) * page.width + x + c] = static_cast<uint8_t>(255 - mark[r][c]);
        }
    }
}

void block(GreyPage& page, int x, int y, int size) {
    for (int r = 2; r < size - 2; ++r) {
        for (int c = 2; c < size - 2; c += 3) page.pixels[(y + r) * page.width + x + c] = 0;
    }
}

// One line of text: a Japanese character, the quote's two marks, another
// Japanese character; the model's box for the quote takes in both marks.
Line quoteLine(GreyPage& page, const Mark& mark, int top, const std::string& read) {
    const int size = 25;
    block(page, 20, top, size);
    const int width = static_cast<int>(mark.front().size());
    paint(page, mark, 50, top + 2);
    paint(page, mark, 50 + width + 2, top + 2);
    block(page, 70, top, size);
    Line line;
    line.box = {20, top, 95, top + size};
    line.words = {{{"と", read, "と"}}};
    line.symbolTexts = {"と", read, "と"};
    line.symbolBoxes = {
        {20, top, 45, top + size}, {50, top + 2, 50 + 2 * width + 2, top + 2 + 7}, {70, top, 95, top + size}};
    line.symbolConfidences = {0.9f, 0.9f, 0.9f};
    assemble(line);
    return line;
}

}  // namespace

TEST(Quotes, AreWrittenAsTheShapeOfTheirMarks) {
    GreyPage page;
    page.width = 120;
    page.height = 200;
    page.pixels.assign(static_cast<std::size_t>(page.width) * page.height, 255);
    std::vector<Line> ls;
    ls.push_back(quoteLine(page, curlyClosing, 10, "\""));
    ls.push_back(quoteLine(page, turned(curlyClosing), 60, "\""));
    ls.push_back(quoteLine(page, straight, 110, "”"));
    const std::vector<uint8_t> mask = page.inkMask();
    const std::vector<GreyPage::InkPiece> pieces = page.inkPieces();
    readQuotes(ls, {mask, pieces, page.width, page.height, &page.pixels});
    EXPECT_EQ(ls[0].assembled.text, "と”と");
    EXPECT_EQ(ls[1].assembled.text, "と“と");
    EXPECT_EQ(ls[2].assembled.text, "と\"と");
}
