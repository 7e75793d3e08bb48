#include "recognition/standard/Arrows.hpp"

#include <algorithm>
#include <cctype>

#include "foundation/Unicode.hpp"

namespace velmora::StandardPass {

namespace {

// A column of a piece of ink: the rows its ink begins and ends on.
struct Span {
    int from = 0, to = -1;
    int length() const { return to < from ? 0 : to - from + 1; }
};

// Which end of the spans holds the head: 1 the last, -1 the first, 0 none.
// `size` is the line's characters' height.
int headEnd(const std::vector<Span>& spans, int across, int size) {
    const int n = static_cast<int>(spans.size());
    // Longer than its head is tall, and as long as half a character; the
    // head a third of one tall (a wave dash is thinner).
    if (n * 2 < size || n * 10 < across * 13 || across * 3 < size) return 0;
    std::vector<int> lengths;
    for (const Span& s : spans) lengths.push_back(s.length());
    std::vector<int> sorted = lengths;
    const int shaft = median(sorted);
    // The shaft is thin, and the head several times its thickness.
    if (shaft == 0 || shaft * 3 > across) return 0;
    const int tallest = static_cast<int>(std::max_element(lengths.begin(), lengths.end()) - lengths.begin());
    const int end = tallest * 2 < n ? -1 : 1;
    // The head stands in the outer two fifths and narrows to its point
    // (the last step much shorter than the head); the shaft runs thin over
    // the rest, with no ink off its line. A head's sides slant from the
    // point: it is a quarter as deep as it is tall at least, where a
    // stroke across (a kana's bar) is thin.
    const int depth = end > 0 ? n - 1 - tallest : tallest;
    const int tip = end > 0 ? lengths[n - 1] : lengths[0];
    if (depth * 5 > n * 2 || depth * 4 < lengths[tallest]) return 0;
    if (tip * 2 > lengths[tallest] || lengths[tallest] * 2 < across) return 0;
    const int middle = (spans[tallest].from + spans[tallest].to) / 2;
    // The head is as wide on both sides of the shaft, its point on the
    // shaft's line (a letter's hook, an f's or a レ's, curls to one side).
    // From the point it widens steadily, where a letter's top (an f's
    // hook above its bar) narrows again.
    int widest = 0;
    for (int step = 0; step <= depth; ++step) {
        const int k = end > 0 ? n - 1 - step : step;
        if (lengths[k] == 0 || std::abs((spans[k].from + spans[k].to) / 2 - middle) * 4 > lengths[tallest]) return 0;
        if (lengths[k] + 1 < widest) return 0;
        widest = std::max(widest, lengths[k]);
    }
    // The shaft: thin and straight, on the head's middle.
    for (int k = 0; k < n; ++k) {
        const int away = end > 0 ? n - 1 - k : k;
        if (away * 2 < n) continue;
        if (lengths[k] == 0 || lengths[k] * 2 > shaft * 3 + 2) return 0;
        if (std::abs(spans[k].from + spans[k].to - 2 * middle) > 2) return 0;
    }
    return end;
}

// The models read an arrow as a mark, a kana, a Latin sign or the one-
// stroke kanji 一, never as another kanji: a kanji over an arrow's ink has
// its box astray.
bool kanji(const std::string& text) {
    const std::vector<char32_t> scalars = Unicode::scalars(text);
    if (scalars.size() != 1 || scalars.front() == U'一') return false;
    const char32_t c = scalars.front();
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF);
}

}  // namespace

void readArrows(std::vector<Line>& ls, const PageInk& ink) {
    for (Line& line : ls) {
        if (!line.horizontal) continue;
        const int h = line.textHeight();
        if (h < 8) continue;
        bool changed = false;
        for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
            const std::string& t = line.symbolTexts[k];
            if (t == "→" || t == "←" || LineText::isBlank(t) || kanji(t)) continue;
            // A letter or a digit is no arrow's reading: a t, an f, a c or a
            // 4 at a small size has a head and a shaft of a pixel or two.
            if (t.size() == 1 && std::isalnum(static_cast<unsigned char>(t[0]))) continue;
            const PixelBox& box = line.symbolBoxes[k];
            // The symbol's ink: one piece of some size with its middle in
            // the box.
            const GreyPage::InkPiece* piece = nullptr;
            int pieces = 0;
            for (const GreyPage::InkPiece& p : ink.pieces) {
                const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
                if (!box.contains(cx, cy) || std::max(p.width, p.height) * 3 < h) continue;
                piece = &p;
                ++pieces;
            }
            if (pieces != 1 || std::max(piece->width, piece->height) > h * 3 / 2) continue;
            // Its ink is the symbol's, not a neighbour's its box reaches
            // over.
            const int boxMiddle = (box.left + box.right) / 2;
            if (boxMiddle < piece->x || boxMiddle >= piece->x + piece->width) continue;
            const GreyPage::InkPiece& p = *piece;
            std::vector<Span> spans(static_cast<std::size_t>(p.width));
            for (int y = p.y; y < p.y + p.height; ++y) {
                for (int x = p.x; x < p.x + p.width; ++x) {
                    if (!ink.at(x, y)) continue;
                    Span& s = spans[static_cast<std::size_t>(x - p.x)];
                    if (s.to < s.from) s.from = s.to = y;
                    s.from = std::min(s.from, y);
                    s.to = std::max(s.to, y);
                }
            }
            const int end = headEnd(spans, p.height, h);
            if (end == 0) continue;
            const char* arrow = end > 0 ? "→" : "←";
            replaceSymbol(line, k, arrow);
            changed = true;
        }
        if (changed) assemble(line);
    }
}

}  // namespace velmora::StandardPass
