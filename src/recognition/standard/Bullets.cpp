#include "recognition/standard/Bullets.hpp"

#include <algorithm>
#include <string>

#include "recognition/standard/PunctuationWidth.hpp"

namespace velmora::StandardPass {

namespace {

enum class Mark { none, bullet, ring, dash };

long inkIn(const PixelBox& b, const PageInk& ink) {
    long n = 0;
    for (int y = b.top; y < b.bottom; ++y) {
        for (int x = b.left; x < b.right; ++x) n += ink.at(x, y) ? 1 : 0;
    }
    return n;
}

Mark shape(const PixelBox& p, const Line& line, int em, const PageInk& ink) {
    const int h = line.textHeight();
    const int middle = (line.box.top + line.box.bottom) / 2;
    const int cy = (p.top + p.bottom) / 2;
    if (std::abs(cy - middle) * 4 > h) return Mark::none;
    const long area = static_cast<long>(p.width()) * p.height();
    if (area <= 0) return Mark::none;
    const long filled = inkIn(p, ink) * 100 / area;
    const bool round = p.width() * 4 >= p.height() * 3 && p.height() * 4 >= p.width() * 3;
    if (round && p.height() * 4 >= h && p.height() * 5 <= h * 3 && filled >= 65 && filled <= 93) return Mark::bullet;
    // The white bullet of a nested item: a ring, its middle blank.
    const int cx = (p.left + p.right) / 2;
    const PixelBox hole{cx - p.width() / 8, cy - p.height() / 8, cx + p.width() / 8 + 1, cy + p.height() / 8 + 1};
    if (round && p.height() * 4 >= h && p.height() * 5 <= h * 3 && filled >= 25 && filled < 65 && inkIn(hole, ink) == 0) {
        return Mark::ring;
    }
    const bool bar = p.height() * 6 <= h && p.width() * 10 >= em * 3 && p.width() * 10 <= em * 7;
    if (bar && filled >= 80) return Mark::dash;
    return Mark::none;
}

}  // namespace

void readBullets(std::vector<Line>& ls, const PageInk& ink) {
    for (Line& line : ls) {
        if (!line.horizontal || line.symbolBoxes.empty()) continue;
        const int h = line.textHeight();
        if (h < 6) continue;
        const int pitch = characterPitch(line, ink);
        const int em = pitch > 0 ? pitch : h;
        // The line's first piece of ink, on its band, and the next one. The
        // layout may leave the bullet out of the line's box, and a browser
        // sets it up to two characters before the item; specks of a poor
        // scan there are no ink of the line.
        const PixelBox* first = nullptr;
        const PixelBox* next = nullptr;
        std::vector<PixelBox> pieces;
        for (const GreyPage::InkPiece& p : ink.pieces) {
            const int cy = p.y + p.height / 2;
            if (cy < line.box.top || cy >= line.box.bottom) continue;
            if (p.x + p.width <= line.box.left - 2 * em || p.x >= line.box.right) continue;
            if (std::max(p.width, p.height) < std::max(2, em / 8)) continue;
            pieces.push_back({p.x, p.y, p.x + p.width, p.y + p.height});
        }
        std::sort(pieces.begin(), pieces.end(), [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
        if (pieces.size() < 2) continue;
        first = &pieces[0];
        next = &pieces[1];
        const Mark mark = shape(*first, line, em, ink);
        // A bullet stands apart from its item, further than the middle dot
        // of Japanese from the character after it (the blank of its cell,
        // under half a character); the dash at least a fifth of one.
        const int gap = next->left - first->right;
        if ((mark == Mark::bullet || mark == Mark::ring) && gap * 100 < h * 62) continue;
        if (mark == Mark::dash && gap * 5 < em) continue;
        if (mark == Mark::none) continue;
        const std::string text = mark == Mark::bullet ? "•" : mark == Mark::ring ? "◦" : "–";
        // The symbol read over it, else the line's first symbol follows it.
        std::size_t over = line.symbolBoxes.size(), after = line.symbolBoxes.size();
        for (std::size_t k = 0; k < line.symbolBoxes.size(); ++k) {
            const PixelBox& sb = line.symbolBoxes[k];
            if (sb.empty() || LineText::isBlank(line.symbolTexts[k])) continue;
            const int across = std::min(sb.right, first->right) - std::max(sb.left, first->left);
            if (across * 2 >= first->width() && sb.right <= next->left + em / 4) {
                over = k;
            } else if (after == line.symbolBoxes.size()) {
                after = k;
            }
            break;
        }
        if (over < line.symbolBoxes.size()) {
            if (line.symbolTexts[over] == text) continue;
            replaceSymbol(line, over, text);
        } else {
            insertSymbol(line, after, text, *first);
            // A mark of its own, not part of the item's first word.
            std::size_t word = 0;
            wordSymbol(line, after, &word);
            if (line.words[word].symbols.size() > 1) {
                Line alone;
                alone.words.push_back({{text}, 0, false});
                alone.symbolTexts.push_back(text);
                alone.symbolBoxes.push_back(*first);
                alone.symbolConfidences.push_back(line.confidence);
                replaceSymbols(line, after, after + 1, alone);
            }
        }
        assemble(line);
    }
}

void dropRules(std::vector<Line>& ls, const PageInk& ink) {
    static const std::vector<std::string> strokes{"|", "｜", "丨", "l", "I", "1", "[", "]", "［", "］", "!", "ー", "一"};
    for (Line& line : ls) {
        if (!line.horizontal || line.symbolBoxes.empty()) continue;
        const int tall = line.height() * 3 / 2;
        bool changed = false;
        for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
            if (std::find(strokes.begin(), strokes.end(), line.symbolTexts[k]) == strokes.end()) continue;
            const PixelBox& b = line.symbolBoxes[k];
            if (b.empty()) continue;
            bool rule = false, text = false;
            for (const GreyPage::InkPiece& p : ink.pieces) {
                if (p.x >= b.right || p.x + p.width <= b.left || p.y >= line.box.bottom || p.y + p.height <= line.box.top) {
                    continue;
                }
                if (p.height > tall) {
                    rule = true;
                    continue;
                }
                const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
                if (cx >= b.left && cx < b.right && cy >= line.box.top && cy < line.box.bottom) text = true;
            }
            if (!rule || text) continue;
            // A full-width bracket only where a rule runs down through its
            // box: a screen's frame is one piece about everything.
            if (line.symbolTexts[k] == "［" || line.symbolTexts[k] == "］") {
                bool through = false;
                for (int x = b.left; x < b.right && !through; ++x) through = ink.ruleColumn(x, line.box.top, line.box.bottom);
                if (!through) continue;
            }
            replaceSymbol(line, k, "");
            changed = true;
        }
        if (changed) assemble(line);
    }
}

}  // namespace velmora::StandardPass
