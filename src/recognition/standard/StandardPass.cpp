#include "recognition/standard/StandardPass.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "recognition/standard/Arrows.hpp"
#include "recognition/standard/Bullets.hpp"
#include "recognition/standard/Figures.hpp"
#include "recognition/standard/LatinRuns.hpp"
#include "recognition/standard/LetterShapes.hpp"
#include "recognition/standard/LineEnds.hpp"
#include "recognition/page/LineText.hpp"
#include "recognition/standard/OtherLanguage.hpp"
#include "recognition/standard/PunctuationWidth.hpp"
#include "recognition/standard/Quotes.hpp"
#include "recognition/standard/ReadingOrder.hpp"
#include "recognition/engine/RecognitionProgress.hpp"
#include "recognition/standard/SideColumns.hpp"
#include "recognition/standard/StackedRows.hpp"
#include "recognition/standard/StandardPassLine.hpp"
#include "recognition/standard/Tables.hpp"
#include "recognition/standard/UnreadInk.hpp"
#include "recognition/standard/UnsureRows.hpp"

namespace velmora::StandardPass {

namespace {

class Pass {
public:
    Pass(const GreyPage& page, const Models& models) : page_(page), models_(models), first_(page, models.first) {}

    std::vector<Line> run(OCREngine::Reading reading) {
        std::vector<Line> ls = first_.page(tesseract::PSM_AUTO);
        if (reading == OCREngine::Reading::layoutOnly) return ls;
        // Steps that read parts of the page again look at the stop before
        // each part (see Reader); the others are looked at between steps.
        RecognitionProgress::stopIfAsked();
        mask_ = page_.inkMask();
        pieces_ = page_.inkPieces();
        RecognitionProgress::stopIfAsked();
        const PageInk ink{mask_, pieces_, page_.width, page_.height};
        const auto skip = [this](const Line& line) { return verticalColumn(line); };
        ls = rescueEmpty(std::move(ls), first_, ink);
        dropHollowLines(ls);
        readStackedRows(ls, first_, page_, ink, skip);
        readUnreadInk(ls, first_, ink, models_.horizontalLinesOnly);
        readSideColumns(ls, first_, ink);
        readWrappedCells(ls, first_, ink);
        ls = readTables(std::move(ls), first_, ink, models_.horizontalLinesOnly);
        readLineEnds(ls, first_, page_, ink, skip);
        readLeftOutInk(ls, first_, ink, skip);
        readUnsureRows(ls, first_, ink, skip);
        RecognitionProgress::stopIfAsked();
        placeMarginNotes(ls);
        if (models_.second) readOtherLanguage(ls, page_, *models_.second, models_.firstIsJapanese, ink, skip);
        // The runs are read on images of their own, by the same engine as
        // the other language's re-read, which has let its engine go.
        if (models_.second && models_.firstIsJapanese) readLatinRuns(ls, page_, ink, *models_.second, skip);
        if (models_.second && models_.firstIsJapanese) readFigures(ls, page_, ink, *models_.second);
        readFigureMarks(ls, ink);
        readSlashes(ls, ink);
        readMarkedZeros(ls, ink);
        readYenSigns(ls, ink);
        readWaveDashes(ls, ink);
        RecognitionProgress::stopIfAsked();
        readSolidSquares(ls);
        readLetterShapes(ls, ink);
        readArrows(ls, ink);
        readBullets(ls, ink);
        dropRules(ls, ink);
        joinSplitRows(ls);
        orderBands(ls);
        orderColumns(ls);
        readBoxesApart(ls, {mask_, pieces_, page_.width, page_.height, &page_.pixels});
        RecognitionProgress::stopIfAsked();
        markCells(ls);
        readQuotes(ls, {mask_, pieces_, page_.width, page_.height, &page_.pixels});
        RecognitionProgress::stopIfAsked();
        readPunctuationWidths(ls, {mask_, pieces_, page_.width, page_.height, &page_.pixels});
        readDashes(ls, ink);
        return ls;
    }

private:
    bool inkAt(int x, int y) const { return mask_[static_cast<std::size_t>(y) * page_.width + x] != 0; }

    // When only horizontal lines are wanted, a line laid out vertically
    // and standing taller than wide is a column of vertical text, to be
    // left out: read again as one line it would come back as a horizontal
    // line of garbage. One lying wider than tall is horizontal text the
    // layout misjudged (a short line in a small image) and is mended.
    bool verticalColumn(const Line& line) const {
        return models_.horizontalLinesOnly && !line.horizontal && line.height() > line.box.width();
    }

    // Documented sources and reference manuals print a name in the left
    // margin beside the first line of the paragraph that describes it (a
    // macro's name, a term). The layout makes a block of the margin and
    // reads it before the text, every name away from its paragraph. A short
    // line standing wholly left of where the page's lines of text begin, on
    // the row of one of them, is read just before that line.
    void placeMarginNotes(std::vector<Line>& ls) const {
        // Where the text begins: the leftmost edge that three long lines or
        // more share (paragraphs are indented, code is set further in).
        std::vector<int> lefts;
        int widest = 0;
        for (const Line& l : ls) {
            if (!l.horizontal) continue;
            const int h = std::max(l.textHeight(), 1);
            if (l.box.width() >= 12 * h) lefts.push_back(l.box.left);
            widest = std::max(widest, l.box.width());
        }
        std::sort(lefts.begin(), lefts.end());
        int textLeft = -1;
        for (std::size_t i = 0; i < lefts.size() && textLeft < 0; ++i) {
            std::size_t j = i;
            while (j < lefts.size() && lefts[j] - lefts[i] <= marginTolerance) ++j;
            if (j - i >= leastLines) textLeft = lefts[i];
        }
        if (textLeft < 0) return;
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const Line& note = ls[i];
            if (!note.horizontal || note.box.right > textLeft || note.box.width() * 3 > widest) continue;
            // The line of text on its row.
            std::size_t beside = ls.size();
            for (std::size_t j = 0; j < ls.size(); ++j) {
                const Line& l = ls[j];
                if (j == i || !l.horizontal || l.box.left < textLeft - marginTolerance) continue;
                const int shared = std::min(l.box.bottom, note.box.bottom) - std::max(l.box.top, note.box.top);
                if (shared * 2 < std::min(l.height(), note.height())) continue;
                beside = j;
                break;
            }
            if (beside == ls.size() || beside == i + 1) continue;
            Line moved = std::move(ls[i]);
            ls.erase(ls.begin() + static_cast<std::ptrdiff_t>(i));
            const std::size_t at = beside > i ? beside - 1 : beside;
            ls.insert(ls.begin() + static_cast<std::ptrdiff_t>(at), std::move(moved));
            // The line now at i has not been looked at.
            if (beside > i) i -= 1;
        }
    }

    // The models know no black square "■" (a heading's mark in notices):
    // they read it as the densest kanji they know, or leave it out. No
    // character of any script is a square of solid ink: a piece of ink
    // about as wide as tall, the size of the line's characters and nearly
    // all ink is the square, put in place of the symbol read over it or,
    // where none was, among the line's symbols where it stands.
    void readSolidSquares(std::vector<Line>& ls) const {
        std::vector<PixelBox> squares;
        for (const GreyPage::InkPiece& p : pieces_) {
            if (std::min(p.width, p.height) < 4 || p.width * 4 < p.height * 3 || p.height * 4 < p.width * 3) continue;
            long ink = 0;
            for (int y = p.y; y < p.y + p.height; ++y) {
                for (int x = p.x; x < p.x + p.width; ++x) ink += inkAt(x, y) ? 1 : 0;
            }
            if (ink * 100 >= static_cast<long>(p.width) * p.height * solidSquare) {
                squares.push_back({p.x, p.y, p.x + p.width, p.y + p.height});
            }
        }
        if (squares.empty()) return;
        for (Line& line : ls) {
            if (verticalColumn(line) || !line.horizontal) continue;
            const int h = line.textHeight();
            bool changed = false;
            for (const PixelBox& square : squares) {
                const int size = std::max(square.width(), square.height());
                const int cx = (square.left + square.right) / 2, cy = (square.top + square.bottom) / 2;
                if (size * 2 < h || size * 2 > h * 3) continue;
                const PixelBox& b = line.box;
                if (!PixelBox{b.left - h, b.top, b.right + h, b.bottom}.contains(cx, cy)) continue;
                // The symbol read over it, else the first one to its right.
                std::size_t over = line.symbolBoxes.size(), after = line.symbolBoxes.size();
                for (std::size_t k = 0; k < line.symbolBoxes.size(); ++k) {
                    const PixelBox& sb = line.symbolBoxes[k];
                    if (sb.empty() || LineText::isBlank(line.symbolTexts[k])) continue;
                    const int across = std::min(sb.right, square.right) - std::max(sb.left, square.left);
                    if (across * 2 >= square.width()) {
                        over = k;
                        break;
                    }
                    if (after == line.symbolBoxes.size() && (sb.left + sb.right) / 2 > cx) after = k;
                }
                if (over < line.symbolBoxes.size()) {
                    if (line.symbolTexts[over] == "■") continue;
                    replaceSymbol(line, over, "■");
                } else {
                    insertSymbol(line, after, "■", square);
                }
                changed = true;
            }
            if (changed) assemble(line);
        }
    }

    // The share of its box, in percent, that a black square's ink fills
    // (97 to 100 on scanned and 150-dpi pages); dense kanji set small, their
    // strokes run together, fill up to about 90.
    static constexpr long solidSquare = 94;
    // Lines that share a left edge before it counts as where the text
    // begins.
    static constexpr std::size_t leastLines = 3;
    // Pixels by which the left edges of the page's lines of text may differ.
    static constexpr int marginTolerance = 8;

    const GreyPage& page_;
    const Models& models_;
    Reader first_;
    std::vector<uint8_t> mask_;
    std::vector<GreyPage::InkPiece> pieces_;
};

struct Normaliser {
    double width;
    double height;

    OCRSourceBox box(const PixelBox& b) const {
        return {b.left / width, 1 - b.bottom / height, (b.right - b.left) / width, (b.bottom - b.top) / height};
    }
    RecognizedTextObservation::Point point(double x, double y) const { return {x / width, 1 - y / height}; }
};

RecognizedTextObservation observation(const Line& line, const Normaliser& n) {
    RecognizedTextObservation o;
    o.text = line.assembled.text;
    o.confidence = line.confidence;
    const PixelBox box = line.box;
    o.boundingBox = n.box(box);

    double x1 = box.left, y1 = box.bottom, x2 = box.right, y2 = box.bottom;
    if (line.hasBaseline && line.baseline[2] != line.baseline[0]) {
        x1 = line.baseline[0];
        y1 = line.baseline[1];
        x2 = line.baseline[2];
        y2 = line.baseline[3];
    }
    o.baselineStart = n.point(x1, y1);
    o.baselineEnd = n.point(x2, y2);
    // The top edge has the baseline's slope and touches the box's top.
    const double slope = (o.baselineEnd.y - o.baselineStart.y) / (o.baselineEnd.x - o.baselineStart.x);
    const double left = o.boundingBox.x;
    const double right = o.boundingBox.x + o.boundingBox.width;
    const double top = o.boundingBox.y + o.boundingBox.height;
    const double rise = slope * (right - left);
    o.topLeft = {left, rise > 0 ? top - rise : top};
    o.topRight = {right, rise > 0 ? top : top + rise};

    for (std::size_t i = 0; i < line.assembled.symbolRanges.size(); ++i) {
        const TextRange range = line.assembled.symbolRanges[i];
        if (range.length == 0) continue;
        RecognizedCharacter c;
        c.range = range;
        c.text = line.symbolTexts[i];
        c.box = n.box(line.symbolBoxes[i]);
        c.confidence = line.symbolConfidences[i];
        o.characters.push_back(std::move(c));
    }
    return o;
}

// The line's symbols from `from` up to `to` as a line of their own.
Line symbolsOf(const Line& line, std::size_t from, std::size_t to) {
    Line part = line;
    replaceSymbols(part, to, part.symbolTexts.size(), Line{});
    replaceSymbols(part, 0, from, Line{});
    if (!part.words.empty()) part.words.front().blanksBefore = 0, part.words.front().startsCell = false;
    part.box = {};
    for (const PixelBox& b : part.symbolBoxes) part.box.unite(b);
    if (part.box.empty()) part.box = line.box;
    assemble(part);
    return part;
}

// How surely Tesseract reads a line at most to read it again in its
// negative (see TesseractEngines): the page's reading of a ground painted
// over stays under it.
constexpr float paintedGround = 0.5f;

// The lines read on the grounds' page put among the page's, each
// ground's lines together, in the order they were read: before the first
// of the page's lines below the ground's top that stands over or under it,
// else before the first below its top (a sidebar, read before the text
// beside it as a left column is). A ground that holds lines of the page (a
// dark slide with a light panel or table on it) is the page's own ground:
// its blocks are read where they stand among the page's lines, a title
// before the panel and a footer after it. A ground shaped as an L (a
// header band running into a sidebar) also has the page's lines in its
// box, but not in its corners.
std::vector<Line> withGroundLines(std::vector<Line> ls, std::vector<Line> on, const std::vector<PixelBox>& boxes,
                                  const GreyPage& page) {
    int lastBlock = 0;
    for (const Line& l : ls) lastBlock = std::max(lastBlock, l.block);
    // The smallest box holding a point, if any.
    const auto groundAt = [&](int x, int y) {
        std::size_t ground = boxes.size();
        long smallest = -1;
        for (std::size_t g = 0; g < boxes.size(); ++g) {
            const long area = static_cast<long>(boxes[g].width()) * boxes[g].height();
            if (boxes[g].contains(x, y) && (smallest < 0 || area < smallest)) ground = g, smallest = area;
        }
        return ground;
    };
    // Boxes side by side, each its own ground (coloured cards in a row):
    // the grounds' page shows no edge between them, and a row of their
    // lines is read as one line across them. It is cut where its symbols
    // pass from one ground to another apart from it.
    const auto apart = [&](std::size_t a, std::size_t b) {
        if (a == b || a >= boxes.size() || b >= boxes.size()) return false;
        const PixelBox &x = boxes[a], &y = boxes[b];
        return x.right <= y.left || y.right <= x.left || x.bottom <= y.top || y.bottom <= x.top;
    };
    std::vector<Line> cut;
    for (Line& l : on) {
        std::vector<std::size_t> starts{0};
        std::size_t current = boxes.size();
        for (std::size_t k = 0; k < l.symbolBoxes.size() && k < l.symbolTexts.size(); ++k) {
            const PixelBox& b = l.symbolBoxes[k];
            if (b.empty() || LineText::isBlank(l.symbolTexts[k])) continue;
            const std::size_t here = groundAt((b.left + b.right) / 2, (b.top + b.bottom) / 2);
            if (apart(current, here)) starts.push_back(k);
            if (here < boxes.size()) current = here;
        }
        if (starts.size() == 1) {
            cut.push_back(std::move(l));
            continue;
        }
        starts.push_back(l.symbolBoxes.size());
        for (std::size_t r = 0; r + 1 < starts.size(); ++r) cut.push_back(symbolsOf(l, starts[r], starts[r + 1]));
    }
    // The page keeps each ground's place painted in its grey, which the
    // layout now and then reads as a line of strays, far less surely than
    // a line in its right polarity reads (see invert_threshold). Such a
    // line over a line read on the ground is no text of the page.
    std::erase_if(ls, [&](const Line& l) {
        if (l.confidence >= paintedGround) return false;
        return std::any_of(cut.begin(), cut.end(), [&](const Line& g) {
            const int rows = std::min(l.box.bottom, g.box.bottom) - std::max(l.box.top, g.box.top);
            const int across = std::min(l.box.right, g.box.right) - std::max(l.box.left, g.box.left);
            return across > 0 && rows * 2 >= std::min(l.height(), g.height());
        });
    });
    // Each line's ground: the smallest box holding its middle.
    std::vector<std::vector<Line>> of(boxes.size());
    for (Line& l : cut) {
        const std::size_t ground = groundAt((l.box.left + l.box.right) / 2, (l.box.top + l.box.bottom) / 2);
        l.block += lastBlock + 1;
        of[ground < boxes.size() ? ground : 0].push_back(std::move(l));
    }
    struct Placed {
        std::size_t at;  // before which of the page's lines
        int top;
        std::vector<Line> lines;
    };
    std::vector<Placed> placed;
    const auto dark = [&](int x, int y) {
        x = std::clamp(x, 0, page.width - 1), y = std::clamp(y, 0, page.height - 1);
        return page.pixels[static_cast<std::size_t>(y) * page.width + x] < GreyPage::paperGround;
    };
    for (std::size_t g = 0; g < boxes.size(); ++g) {
        const PixelBox& b = boxes[g];
        const int inset = std::max(2, std::min(b.width(), b.height()) / 50);
        const bool holdsPage =
            dark(b.left + inset, b.top + inset) && dark(b.right - 1 - inset, b.top + inset) &&
            dark(b.left + inset, b.bottom - 1 - inset) && dark(b.right - 1 - inset, b.bottom - 1 - inset) &&
            std::any_of(ls.begin(), ls.end(), [&](const Line& l) {
                return b.contains((l.box.left + l.box.right) / 2, (l.box.top + l.box.bottom) / 2);
            });
        if (holdsPage) {
            // Block by block, each before the first of the page's lines
            // after it, never before a block read earlier on the ground.
            std::size_t least = 0;
            for (std::size_t i = 0; i < of[g].size();) {
                std::size_t end = i + 1;
                while (end < of[g].size() && of[g][end].block == of[g][i].block) ++end;
                const PixelBox& first = of[g][i].box;
                const auto after = [&](const Line& l) {
                    const int shared = std::min(l.box.bottom, first.bottom) - std::max(l.box.top, first.top);
                    if (shared * 2 >= std::min(l.height(), first.height())) return l.box.left > first.left;
                    return l.box.top + l.box.bottom > first.top + first.bottom;
                };
                const auto at = static_cast<std::size_t>(std::find_if(ls.begin(), ls.end(), after) - ls.begin());
                if (i == 0 || at > least) placed.push_back({std::max(least, at), first.top, {}});
                least = std::max(least, at);
                for (; i < end; ++i) placed.back().lines.push_back(std::move(of[g][i]));
            }
            continue;
        }
        const auto below = [&](const Line& l) { return (l.box.top + l.box.bottom) / 2 >= b.top; };
        auto at = std::find_if(ls.begin(), ls.end(), [&](const Line& l) {
            return below(l) && std::min(l.box.right, b.right) > std::max(l.box.left, b.left);
        });
        if (at == ls.end()) at = std::find_if(ls.begin(), ls.end(), below);
        placed.push_back({static_cast<std::size_t>(at - ls.begin()), b.top, std::move(of[g])});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.at != b.at ? a.at < b.at : a.top < b.top;
    });
    std::vector<Line> out;
    out.reserve(ls.size() + on.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i <= ls.size(); ++i) {
        for (; next < placed.size() && placed[next].at == i; ++next) {
            for (Line& l : placed[next].lines) out.push_back(std::move(l));
        }
        if (i < ls.size()) out.push_back(std::move(ls[i]));
    }
    return out;
}

}  // namespace

std::vector<RecognizedTextObservation> read(const GreyPage& page, const GreyPage::Grounds& grounds,
                                            const Models& models, OCREngine::Reading reading) {
    std::vector<Line> ls = Pass(page, models).run(reading);
    if (!grounds.boxes.empty()) {
        // Read as a page of their own, of the size and resolution of the
        // page read, so that their lines' boxes are the page's.
        const bool same = grounds.letters.width == page.width && grounds.letters.height == page.height;
        GreyPage letters = same ? grounds.letters : grounds.letters.resized(page.width, page.height);
        letters.resolution = page.resolution;
        const double sx = static_cast<double>(page.width) / grounds.letters.width;
        const double sy = static_cast<double>(page.height) / grounds.letters.height;
        std::vector<PixelBox> boxes;
        for (const GreyPage::InkPiece& b : grounds.boxes) {
            boxes.push_back({static_cast<int>(b.x * sx), static_cast<int>(b.y * sy),
                             static_cast<int>(std::ceil((b.x + b.width) * sx)),
                             static_cast<int>(std::ceil((b.y + b.height) * sy))});
        }
        ls = withGroundLines(std::move(ls), Pass(letters, models).run(reading), boxes, page);
    }
    const Normaliser n{double(page.width), double(page.height)};
    std::vector<RecognizedTextObservation> out;
    out.reserve(ls.size());
    for (const Line& line : ls) {
        if (models.horizontalLinesOnly && !line.horizontal) continue;
        // A line whose every symbol was a rule or a stray has nothing to
        // say; the automatic mode, which keeps lines with text only, would
        // read the page otherwise.
        if (LineText::isBlank(line.assembled.text)) continue;
        out.push_back(observation(line, n));
    }
    return out;
}

}  // namespace velmora::StandardPass
