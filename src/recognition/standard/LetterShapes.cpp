#include "recognition/standard/LetterShapes.hpp"

#include <cstdlib>

namespace velmora::StandardPass {

namespace {

// The widest an l stands, in hundredths of its height (a tailed l about a
// quarter, a capital L half or more).
constexpr int narrowest = 40;

}  // namespace

void readLetterShapes(std::vector<Line>& ls, const PageInk& ink) {
    for (Line& line : ls) {
        if (!line.horizontal) continue;
        const int h = line.textHeight();
        bool changed = false;
        for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
            if (line.symbolTexts[k] != "L") continue;
            const PixelBox& box = line.symbolBoxes[k];
            // The letter's ink: the piece as tall as a letter nearest the
            // middle of its box (the box may take in a neighbour's "/").
            PixelBox letter;
            const int middle = (box.left + box.right) / 2;
            for (const GreyPage::InkPiece& p : ink.pieces) {
                const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
                if (!box.contains(cx, cy) || p.height * 2 < h) continue;
                if (!letter.empty() && std::abs(cx - middle) >= std::abs((letter.left + letter.right) / 2 - middle)) {
                    continue;
                }
                letter = {p.x, p.y, p.x + p.width, p.y + p.height};
            }
            if (letter.empty() || letter.width() * 100 >= narrowest * letter.height()) continue;
            // Its foot: ink at its right edge in its lowest quarter, as an
            // L's or a tailed l's, not a slash's.
            bool foot = false;
            for (int y = letter.bottom - std::max(1, letter.height() / 4); y < letter.bottom && !foot; ++y) {
                foot = ink.at(letter.right - 1, y);
            }
            if (!foot) continue;
            replaceSymbol(line, k, "l");
            changed = true;
        }
        if (changed) assemble(line);
    }
}

}  // namespace velmora::StandardPass
