#include "recognition/standard/PunctuationWidth.hpp"

#include <algorithm>
#include <string>

#include "foundation/Unicode.hpp"

namespace velmora::StandardPass {

namespace {

// Marks measured on a page before its way of setting them is taken for the
// others.
constexpr int leastMeasured = 3;

// The blank that makes a mark full-width, in hundredths of the line's
// character pitch. A full-width bracket's cell is half blank on its outer
// side (0.6 to 0.9 of a character measured from its ink); a half-width one
// stands close to a Latin letter, and beside a Japanese character with the
// quarter-character space typesetting puts between Japanese and Latin, which
// a justified line stretches (0.3 to 0.57).
constexpr int bracketFull = 60;
// A full-width comma or full stop stands at its cell's start, the rest of
// the cell blank (0.65 to 1.2 of a character after its ink). After a
// Japanese character a half-width one stands close to what follows; after
// a Latin letter or a digit one has a word space after it, which in Latin
// text is as wide (a sentence's end wider), so there only a page that sets
// its commas and full stops after Japanese full-width has them full-width
// after Latin too, where the blank is as wide.
constexpr int stopFullAfterJapanese = 50;
constexpr int stopFullAfterLatin = 62;
// A full-width colon stands in the middle of its cell, nearly half a
// character from what comes before it and a third or more from what
// follows; a half-width one close after its character.
constexpr int colonFull = 40;
constexpr int colonFullAfter = 32;
// Halfway from the middle to an end, the share of the way from the tip an
// angle bracket's edge has come: half or more for an angle (0.5 to 0.58),
// about a quarter for an arc, up to 0.4 in faces whose parentheses bend
// little near their middles (the IPA faces').
constexpr double angleShare = 0.46;
// How far, in characters, a bracket's edge must move between its middle and
// its ends for its shape to show, and the shortest bracket whose shape is
// looked at.
constexpr double leastBend = 0.1;
constexpr double leastBendPixels = 3;
constexpr double leastAngleHeight = 0.5;
// A face that sets its Latin letters at one fixed step sets them at half a
// character (0.4 to 0.65 of the line's pitch, which is measured roughly), and
// its word space is as wide. A proportional face steps from a narrow letter
// (i, l, t) in about three quarters of the step between two others; a fixed
// one in the same step, the models' boxes straying by a pixel or two. Where
// too few steps beside narrow letters tell, the middle half of all the steps
// lies within a tenth of their median and a pixel either way (a blank
// between words, or a box the model misplaces, only moves the outer
// quarters).
constexpr int leastLatinSteps = 5;
constexpr int leastNarrowSteps = 2;
constexpr int narrowStepShare = 88;
constexpr double fixedStepSpread = 0.1;
constexpr int halfStepLeast = 40, halfStepMost = 65;
// A dash is a bar at least this share of a character long and at most a
// fifth as thick as long; set apart from its neighbours, it has a third of a
// character blank or more on each side (a word space), where a kanji 一 set
// solid among Japanese has a quarter or less on one side at least.
constexpr int dashLeast = 70;
constexpr int dashApart = 30;
// How like itself a line's ink must be a character on for that to be its
// pitch.
constexpr double leastRepeat = 0.2;

enum class Kind { none, opening, closing, colon, stop };

char32_t only(const std::string& text) {
    const std::vector<char32_t> scalars = Unicode::scalars(text);
    return scalars.size() == 1 ? scalars.front() : 0;
}

Kind kindOf(char32_t c) {
    switch (c) {
        case U'(': case U'（': case U'[': case U'［': case U'<': case U'⟨': case U'〈': return Kind::opening;
        case U')': case U'）': case U']': case U'］': case U'>': case U'⟩': case U'〉': return Kind::closing;
        case U':': case U'：': return Kind::colon;
        case U',': case U'，': case U'.': case U'．': return Kind::stop;
        default: return Kind::none;
    }
}

// The marks the models read for an angle bracket, which are no bracket of
// their own when their ink is not one.
bool angleOnly(char32_t c) { return c == U'<' || c == U'>' || c == U'⟨' || c == U'⟩' || c == U'〈' || c == U'〉'; }

// Whether an opening and a closing bracket read as these make a pair: of one
// family, or angles whatever they were read as.
bool partners(char32_t open, char32_t close, bool angle) {
    const auto family = [](char32_t c) {
        switch (c) {
            case U'(': case U'（': case U')': case U'）': return 1;
            case U'[': case U'［': case U']': case U'］': return 2;
            default: return 3;
        }
    };
    return angle || family(open) == family(close);
}

// A kana or kanji: a character that fills its cell, unlike the marks.
bool fillsCell(char32_t c) { return c != 0 && LineText::isCJK(c) && !LineText::isWidePunctuation(c); }
bool digit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool latin(char32_t c) { return digit(c) || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }
bool narrowLetter(char32_t c) { return c == U'i' || c == U'l' || c == U'j' || c == U't' || c == U'f' || c == U'I'; }

std::vector<std::size_t> inkedSymbols(const Line& line) {
    std::vector<std::size_t> inked;
    for (std::size_t k = 0; k < line.symbolTexts.size() && k < line.symbolBoxes.size(); ++k) {
        if (!line.symbolBoxes[k].empty() && !LineText::isBlank(line.symbolTexts[k])) inked.push_back(k);
    }
    return inked;
}

int pitch(const Line& line, const std::vector<std::size_t>& inked) {
    std::vector<int> steps;
    for (std::size_t k = 1; k < inked.size(); ++k) {
        const std::size_t a = inked[k - 1], b = inked[k];
        if (!fillsCell(only(line.symbolTexts[a])) || !fillsCell(only(line.symbolTexts[b]))) continue;
        const PixelBox& p = line.symbolBoxes[a];
        const PixelBox& q = line.symbolBoxes[b];
        const int step = (q.left + q.right) / 2 - (p.left + p.right) / 2;
        const int size = std::max(p.height(), q.height());
        if (step > 0 && step * 2 <= size * 3) steps.push_back(step);
    }
    if (steps.size() < 3) return 0;
    return median(steps);
}

// The step at which the line sets its Latin letters, in hundredths of `em`,
// where it sets them all at one step of about half a character; 0 where their
// steps vary as a proportional face's do, -1 where the line has too few Latin
// letters side by side to tell (or too few narrow ones, and the models' boxes
// stray too far).
int fixedLatinStep(const Line& line, const std::vector<std::size_t>& inked, int em) {
    if (em <= 0) return -1;
    // Steps beside a narrow letter, and the others.
    std::vector<int> steps, narrowSteps, otherSteps;
    for (std::size_t k = 1; k < inked.size(); ++k) {
        const char32_t a = only(line.symbolTexts[inked[k - 1]]), b = only(line.symbolTexts[inked[k]]);
        if (!latin(a) || !latin(b)) continue;
        const PixelBox& p = line.symbolBoxes[inked[k - 1]];
        const PixelBox& q = line.symbolBoxes[inked[k]];
        const int step = (q.left + q.right) / 2 - (p.left + p.right) / 2;
        steps.push_back(step);
        (narrowLetter(a) || narrowLetter(b) ? narrowSteps : otherSteps).push_back(step);
    }
    if (static_cast<int>(steps.size()) < leastLatinSteps) return -1;
    const int middle = median(steps);
    const int share = middle * 100 / em;
    if (share < halfStepLeast || share > halfStepMost) return 0;
    if (static_cast<int>(narrowSteps.size()) >= leastNarrowSteps &&
        static_cast<int>(otherSteps.size()) >= leastNarrowSteps) {
        return median(narrowSteps) * 100 >= narrowStepShare * median(otherSteps) ? share : 0;
    }
    std::sort(steps.begin(), steps.end());
    const double spread = fixedStepSpread * middle + 1;
    const int low = steps[steps.size() / 4], high = steps[steps.size() * 3 / 4];
    return middle - low <= spread && high - middle <= spread ? share : -1;
}

}  // namespace

int japanesePitch(const Line& line) { return pitch(line, inkedSymbols(line)); }

namespace {

// The pitch of the line's characters as its ink shows it: Japanese set
// solid repeats every character, so the count of ink down each pixel
// column of the line's band is most like itself shifted by one character.
// The symbols' boxes the models report stray by a stroke or a character,
// and their steps tell the pitch only roughly. 0 for a line of fewer than
// three Japanese characters, or without such a repeat.
int inkPitch(const Line& line, const std::vector<std::size_t>& inked, const PageInk& ink) {
    int japanese = 0;
    for (std::size_t k : inked) japanese += fillsCell(only(line.symbolTexts[k])) ? 1 : 0;
    if (japanese < 3) return 0;
    const int left = std::max(line.box.left, 0), right = std::min(line.box.right, ink.width);
    const int h = line.box.height();
    std::vector<double> profile;
    for (int x = left; x < right; ++x) {
        int n = 0;
        for (int y = std::max(line.box.top, 0); y < std::min(line.box.bottom, ink.height); ++y) n += ink.at(x, y) ? 1 : 0;
        profile.push_back(n);
    }
    double mean = 0;
    for (double v : profile) mean += v;
    mean /= std::max<std::size_t>(profile.size(), 1);
    double variance = 0;
    for (double& v : profile) {
        v -= mean;
        variance += v * v;
    }
    if (variance <= 0) return 0;
    int best = 0;
    double strongest = leastRepeat;
    for (int lag = std::max(4, h * 55 / 100); lag <= h * 13 / 10 && lag * 2 < static_cast<int>(profile.size()); ++lag) {
        double r = 0;
        for (std::size_t x = 0; x + static_cast<std::size_t>(lag) < profile.size(); ++x) r += profile[x] * profile[x + lag];
        r /= variance;
        if (r > strongest) {
            strongest = r;
            best = lag;
        }
    }
    return best;
}

}  // namespace

int characterPitch(const Line& line, const PageInk& ink) {
    const std::vector<std::size_t> inked = inkedSymbols(line);
    const int repeat = inkPitch(line, inked, ink);
    const int steps = pitch(line, inked);
    // Latin set among the Japanese repeats too, at a half-width letter's
    // step: a repeat well short of the Japanese characters' steps is that.
    if (repeat > 0 && steps > 0 && repeat * 5 < steps * 4) return steps;
    return repeat > 0 ? repeat : steps;
}

namespace {

// How far, in pixels, a bracket's outer edge bends back from its middle
// row to its ends (a parenthesis or an angle bracket bows outwards; a
// straight stroke of a kanji does not): the edge's mean distance from the
// outer side over the rows near the ends, less that near the middle.
double bend(const PixelBox& piece, bool opening, const PageInk& ink) {
    const int h = piece.height();
    if (h < 4) return 0;
    const auto edge = [&](int row) {
        for (int d = 0; d < piece.width(); ++d) {
            const int x = opening ? piece.left + d : piece.right - 1 - d;
            if (ink.at(x, piece.top + row)) return d;
        }
        return piece.width();
    };
    const int band = std::max(1, h / 8);
    double ends = 0, middle = 0;
    for (int r = 0; r < band; ++r) {
        ends += edge(r) + edge(h - 1 - r);
        middle += edge(h / 2 - band / 2 + r);
    }
    return (ends / 2 - middle) / band;
}

// The mark's ink, found among the pieces on the line's band whose middles
// stand inside the box the model gives it (the box may take in some of a
// neighbour's ink) or, where none there fits, a third of a character beside
// it (its boxes stray by a stroke or so): a bracket is a piece as tall as
// half the line's characters and narrow, a colon two small pieces one above
// the other, a comma or full stop one small piece in the lower half of the
// line; of those that fit, the bracket that bows most, or the mark nearest
// the box's middle. Empty when none fits.
PixelBox markInk(const PixelBox& box, const Line& line, const PageInk& ink, Kind kind, int em) {
    const int h = line.textHeight();
    const int middle = (line.box.top + line.box.bottom) / 2;
    const int centre = (box.left + box.right) / 2;
    const auto nearest = [&](int reach) {
        std::vector<PixelBox> fitting;
        for (const GreyPage::InkPiece& p : ink.pieces) {
            const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
            if (cx < box.left - reach || cx >= box.right + reach || cy < line.box.top || cy >= line.box.bottom) {
                continue;
            }
            bool fits = false;
            switch (kind) {
                case Kind::opening:
                case Kind::closing: fits = p.height * 2 >= h && p.width * 5 <= em * 3 && p.width * 3 <= p.height; break;
                case Kind::colon: fits = p.height * 3 <= h && p.width * 4 <= em; break;
                case Kind::stop: fits = p.height * 2 <= h && p.width * 5 <= em * 2 && cy > middle; break;
                case Kind::none: break;
            }
            if (fits) fitting.push_back({p.x, p.y, p.x + p.width, p.y + p.height});
        }
        const auto distance = [&](const PixelBox& b) { return std::abs((b.left + b.right) / 2 - centre); };
        PixelBox best;
        for (std::size_t i = 0; i < fitting.size(); ++i) {
            PixelBox candidate = fitting[i];
            if (kind == Kind::colon) {
                // Its other dot: below it, across the same columns.
                const auto other = std::find_if(fitting.begin(), fitting.end(), [&](const PixelBox& o) {
                    const int across = std::min(o.right, candidate.right) - std::max(o.left, candidate.left);
                    return o.top >= candidate.bottom && across * 2 >= std::min(o.width(), candidate.width());
                });
                if (other == fitting.end()) continue;
                candidate.unite(*other);
            }
            // A bracket is what bows most (the straight strokes of a kanji
            // beside it fit too); the others the nearest.
            const bool bracket = kind == Kind::opening || kind == Kind::closing;
            if (bracket) {
                const double b = bend(candidate, kind == Kind::opening, ink);
                if (b < 1 || (!best.empty() && b <= bend(best, kind == Kind::opening, ink))) continue;
                best = candidate;
                continue;
            }
            if (best.empty() || distance(candidate) < distance(best)) best = candidate;
        }
        return best;
    };
    const PixelBox inside = nearest(0);
    return inside.empty() ? nearest(em / 3) : inside;
}

// The blank from the mark's ink to the next piece of ink on the line's
// band, leftwards or rightwards, up to two characters; -1 when there is none
// so near (a line's end or a wide gap). Specks of a poor scan, far smaller
// than any stroke of a character, are no ink here.
int blankBeside(const PixelBox& mark, bool before, const Line& line, const PageInk& ink, int em) {
    const int speck = std::max(2, em / 8);
    int blank = -1;
    for (const GreyPage::InkPiece& p : ink.pieces) {
        if (std::max(p.width, p.height) < speck) continue;
        if (p.y >= line.box.bottom || p.y + p.height <= line.box.top) continue;
        const PixelBox b{p.x, p.y, p.x + p.width, p.y + p.height};
        // The mark's own ink.
        if (b.left >= mark.left && b.right <= mark.right && b.top >= mark.top && b.bottom <= mark.bottom) continue;
        const int gap = before ? mark.left - b.right : b.left - mark.right;
        // A piece reaching over the mark's side (a kerned letter) leaves no
        // blank; one on the far side is not beside it.
        const int reachesOver = before ? b.left < mark.left : b.right > mark.right;
        if (gap < 0 && !reachesOver) continue;
        if (gap > 2 * em) continue;
        const int g = std::max(gap, 0);
        if (blank < 0 || g < blank) blank = g;
    }
    return blank;
}

// Whether a bracket's ink is an angle (two straight strokes meeting in a
// point, ⟨ ⟩) rather than an arc (( )). Along its outer edge, the distance
// from the tip grows with the distance from the middle row: in proportion
// for an angle, with its square for an arc. Halfway to the ends an angle's
// edge has come half the way an arc's a quarter; the rows around each point
// are taken together so that a speck or a rough edge does not decide.
bool angled(const PixelBox& mark, bool opening, const PageInk& ink, int em) {
    const int h = mark.height();
    if (h < leastAngleHeight * em || mark.width() < 3) return false;
    // The outer edge's distance from the mark's outer side, row by row, to
    // a fraction of a pixel where the grey levels show it: where the level
    // crosses halfway between the paper beside the mark and its ink.
    std::vector<double> edge(static_cast<std::size_t>(h), -1);
    for (int y = mark.top; y < mark.bottom; ++y) {
        for (int d = 0; d < mark.width(); ++d) {
            const int x = opening ? mark.left + d : mark.right - 1 - d;
            if (!ink.at(x, y)) continue;
            double at = d;
            if (ink.grey && d > 0) {
                const int outside = opening ? x - 1 : x + 1;
                const double g0 = (*ink.grey)[static_cast<std::size_t>(y) * ink.width + outside];
                const double g1 = (*ink.grey)[static_cast<std::size_t>(y) * ink.width + x];
                // Paper at 255, ink at 0: the level crosses 128 this far
                // before the first ink pixel.
                if (g0 > g1) at -= std::clamp((g0 - 128) / (g0 - g1), 0.0, 1.0) - 0.5;
            }
            edge[static_cast<std::size_t>(y - mark.top)] = at;
            break;
        }
    }
    const auto near = [&](double t) {
        const int centre = static_cast<int>((0.5 + t / 2) * (h - 1));
        double sum = 0;
        int n = 0;
        for (int y = std::max(centre - h / 24, 0); y <= std::min(centre + h / 24, h - 1); ++y) {
            if (edge[static_cast<std::size_t>(y)] < 0) continue;
            sum += edge[static_cast<std::size_t>(y)];
            n += 1;
        }
        return n == 0 ? -1.0 : sum / n;
    };
    const double tip = near(0), halfUp = near(-0.5), halfDown = near(0.5), endUp = near(-0.85), endDown = near(0.85);
    if (tip < 0 || halfUp < 0 || halfDown < 0 || endUp < 0 || endDown < 0) return false;
    const double far = (endUp + endDown) / 2 - tip, half = (halfUp + halfDown) / 2 - tip;
    // An edge that moves a pixel or two in all tells no shape (small
    // parentheses come out as angles as often as arcs).
    if (far < std::max(leastBendPixels, leastBend * em) || far * 4 < mark.width()) return false;
    return half >= angleShare * far;
}

// What the page shows of a line's marks: one entry per symbol.
struct Marks {
    std::vector<LineText::Printed> widths;
    // Brackets whose ink is an angle (⟨ ⟩), told by their shape.
    std::vector<bool> angles;
    // Commas and full stops after Latin or a digit with the blank of a
    // full-width one after them: full-width on a page that sets its commas
    // and full stops after Japanese so.
    std::vector<bool> fullIfPage;
    // Commas between letters or digits whose ink is a round dot: the full
    // stop of a file name or a version, which the models read as a comma.
    std::vector<bool> dots;
    // Brackets holding Japanese whose blank may be a word space beside a
    // half-width one as well as a full-width one's own.
    std::vector<bool> spaced;
};


void pairUp(const Line& line, Marks& out, const std::vector<bool>& shapeSeen);

// `em` is the line's character pitch (see characterPitch), or the page's for a
// line of too few Japanese characters to tell its own; `latinStep` the step of
// its Latin letters where they are set at a fixed one (see fixedLatinStep),
// `ownStep` whether the line shows it or has it from the page.
Marks printedMarks(const Line& line, const PageInk& ink, int em, int latinStep, bool ownStep) {
    using LineText::Printed;
    const std::size_t n = line.symbolTexts.size();
    Marks out{std::vector<Printed>(n, Printed::unknown), std::vector<bool>(n, false), std::vector<bool>(n, false),
              std::vector<bool>(n, false), std::vector<bool>(n, false)};
    const std::vector<std::size_t> inked = inkedSymbols(line);
    const auto at = [&](std::size_t k) { return k < inked.size() ? only(line.symbolTexts[inked[k]]) : char32_t{0}; };
    const bool japanese = std::any_of(inked.begin(), inked.end(),
                                      [&](std::size_t k) { return fillsCell(only(line.symbolTexts[k])); });
    // Whether the bracket at `k` holds Japanese: up to the next bracket on
    // its inner side, or the line's end.
    const auto holdsJapanese = [&](std::size_t k, bool opening) {
        for (std::size_t j = opening ? k + 1 : k; opening ? j < inked.size() : j > 0; opening ? ++j : --j) {
            const char32_t c = opening ? at(j) : at(j - 1);
            if (kindOf(c) == Kind::opening || kindOf(c) == Kind::closing) break;
            if (fillsCell(c)) return true;
        }
        return false;
    };
    // Whether the bracket's shape was seen: an arc, or an angle.
    std::vector<bool> shapeSeen(line.symbolTexts.size(), false);
    for (std::size_t k = 0; k < inked.size(); ++k) {
        const char32_t c = at(k);
        const Kind kind = kindOf(c);
        const char32_t before = k > 0 ? at(k - 1) : 0, after = at(k + 1);
        if (kind == Kind::none) continue;
        // A comma, full stop or colon between digits is a number's or a
        // time's.
        const bool number = (kind == Kind::stop || kind == Kind::colon) && digit(before) && digit(after);
        if (number) out.widths[inked[k]] = Printed::half;
        if (em <= 0) continue;
        const PixelBox mark = markInk(line.symbolBoxes[inked[k]], line, ink, kind, em);
        // A comma's tail makes it taller than wide; a dot is as wide as tall.
        if (!mark.empty() && (c == U',' || c == U'，') && latin(before) && latin(after) &&
            mark.height() * 4 <= mark.width() * 5) {
            out.dots[inked[k]] = true;
            out.widths[inked[k]] = Printed::half;
            continue;
        }
        if (number || mark.empty()) continue;
        if (kind == Kind::opening || kind == Kind::closing) {
            shapeSeen[inked[k]] = true;
            out.angles[inked[k]] = angled(mark, kind == Kind::opening, ink, em);
            if (angleOnly(c) && !out.angles[inked[k]]) continue;
        }
        // The pitch is the Japanese characters' (the page's where the line
        // has none): it measures nothing in a line of Latin alone, whose
        // word spaces are as wide as a full-width mark's blank in a face
        // with half-width Latin cells, so its marks are left to their
        // neighbours.
        if (!japanese) continue;
        // The blank on the mark's outer side: before an opening bracket or
        // a colon, after a closing bracket, a comma or a full stop. Another
        // mark on that side leaves it unmeasured: its own blank may stand
        // there, and typesetting closes up the blanks of two marks that meet
        // ("）。"), setting both in half a cell.
        const bool outerBefore = kind == Kind::opening || kind == Kind::colon;
        const char32_t outer = outerBefore ? before : after, inner = outerBefore ? after : before;
        if (LineText::isWidePunctuation(outer) || kindOf(outer) != Kind::none) continue;
        const int blank = blankBeside(mark, outerBefore, line, ink, em);
        if (blank < 0) continue;
        const int share = blank * 100 / em;
        Printed p = Printed::half;
        switch (kind) {
            case Kind::opening:
            case Kind::closing:
                p = share >= bracketFull ? Printed::full : Printed::half;
                // Where Latin is set at a fixed half-character step, a word
                // space is half a character too, and a half-width bracket
                // with a space on its outer side ("Depends (依存)",
                // "版 (testing)") leaves the blank of a full-width one: the
                // ink does not tell them apart. An aside in Latin alone is
                // left to its neighbours; the others are set as the page
                // sets the brackets whose ink tells.
                if (p == Printed::full && latinStep > 0 && share - latinStep < bracketFull &&
                    ((ownStep && (latin(outer) || latin(inner))) || !holdsJapanese(k, kind == Kind::opening))) {
                    out.spaced[inked[k]] = holdsJapanese(k, kind == Kind::opening);
                    continue;
                }
                break;
            case Kind::colon: {
                const int next = blankBeside(mark, false, line, ink, em);
                p = share >= colonFull && (next < 0 || next * 100 >= colonFullAfter * em) ? Printed::full
                                                                                            : Printed::half;
                break;
            }
            case Kind::stop:
                if (fillsCell(before)) {
                    p = share >= stopFullAfterJapanese ? Printed::full : Printed::half;
                } else {
                    // Only in a line with Japanese in it: a line of code
                    // or of Latin sets Latin commas.
                    out.fullIfPage[inked[k]] = share >= stopFullAfterLatin && japanese;
                }
                break;
            case Kind::none: break;
        }
        out.widths[inked[k]] = p;
    }
    pairUp(line, out, shapeSeen);
    return out;
}

// Brackets come in pairs of one width and one shape: one whose outer side
// tells nothing (a closing bracket at a cell's or the line's end) is as wide
// as its partner, and one whose ink was not found (`shapeSeen` false) is the
// shape of its partner. A pair read as parentheses whose ink shows one
// angled only (a face's straight-drawn parenthesis, a pixel's shift) are
// parentheses.
void pairUp(const Line& line, Marks& out, const std::vector<bool>& shapeSeen) {
    using LineText::Printed;
    const std::vector<std::size_t> inked = inkedSymbols(line);
    const auto at = [&](std::size_t k) { return k < inked.size() ? only(line.symbolTexts[inked[k]]) : char32_t{0}; };
    for (std::size_t k = 0; k < inked.size(); ++k) {
        const char32_t c = at(k);
        if (kindOf(c) != Kind::opening) continue;
        for (std::size_t j = k + 1; j < inked.size(); ++j) {
            const char32_t d = at(j);
            if (kindOf(d) == Kind::opening) break;
            if (kindOf(d) != Kind::closing || !partners(c, d, out.angles[inked[k]] || out.angles[inked[j]])) continue;
            Printed& open = out.widths[inked[k]];
            Printed& close = out.widths[inked[j]];
            if (open == Printed::unknown) open = close;
            if (close == Printed::unknown) close = open;
            if (!shapeSeen[inked[k]]) out.angles[inked[k]] = out.angles[inked[j]];
            if (!shapeSeen[inked[j]]) out.angles[inked[j]] = out.angles[inked[k]];
            if (out.angles[inked[k]] != out.angles[inked[j]] && (c == U'(' || c == U'（') && partners(c, d, false)) {
                out.angles[inked[k]] = out.angles[inked[j]] = false;
            }
            break;
        }
    }
}

}  // namespace

void readPunctuationWidths(std::vector<Line>& ls, const PageInk& ink) {
    using LineText::Printed;
    std::vector<Marks> printed;
    // How many brackets, colons, and commas and full stops the page shows
    // half-width and full-width beside Japanese.
    struct Tally {
        int half = 0, full = 0;
        // A page sets its marks beside Japanese one way: where it shows
        // nearly all of them half-width, the ones whose blank does not
        // show are half-width too.
        bool mostlyHalf() const { return half >= leastMeasured && half >= full * 4; }
        bool mostlyFull() const { return full >= leastMeasured && full >= half * 4; }
    };
    Tally brackets, colons, stops;
    const auto tallyOf = [&](Kind kind) -> Tally& {
        return kind == Kind::colon ? colons : kind == Kind::stop ? stops : brackets;
    };
    // The lines' character pitches, and the page's: the most lines' (a line
    // of code or of Latin with a placeholder or two shows none of its own).
    std::vector<int> ems, known;
    for (const Line& line : ls) {
        ems.push_back(line.horizontal ? characterPitch(line, ink) : 0);
        if (ems.back() > 0) known.push_back(ems.back());
    }
    const int pageEm = known.empty() ? 0 : median(known);
    // Whether the lines set Latin at a fixed step, and the page's step: that
    // of most lines that tell (a line with a Latin word or two is set in the
    // face of the others).
    std::vector<int> latinSteps, fixedSteps;
    int proportional = 0;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        latinSteps.push_back(ls[i].horizontal ? fixedLatinStep(ls[i], inkedSymbols(ls[i]), ems[i] > 0 ? ems[i] : pageEm)
                                              : -1);
        if (latinSteps.back() > 0) fixedSteps.push_back(latinSteps.back());
        if (latinSteps.back() == 0) proportional += 1;
    }
    const int pageStep = static_cast<int>(fixedSteps.size()) > proportional ? median(fixedSteps) : 0;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        const Line& line = ls[i];
        printed.push_back(line.horizontal ? printedMarks(line, ink, ems[i] > 0 ? ems[i] : pageEm,
                                                         latinSteps[i] >= 0 ? latinSteps[i] : pageStep,
                                                         latinSteps[i] >= 0)
                                          : Marks{});
        const Marks& marks = printed.back();
        const std::vector<std::size_t> inked = inkedSymbols(line);
        for (std::size_t i = 0; i < inked.size() && !marks.widths.empty(); ++i) {
            const char32_t c = only(line.symbolTexts[inked[i]]);
            const Kind kind = kindOf(c);
            if (kind == Kind::none || angleOnly(c) || marks.angles[inked[i]]) continue;
            // Only marks beside Japanese count: among digits and Latin
            // letters every page sets them half-width.
            const bool beside = (i > 0 && fillsCell(only(line.symbolTexts[inked[i - 1]]))) ||
                                (kind != Kind::stop && i + 1 < inked.size() &&
                                 fillsCell(only(line.symbolTexts[inked[i + 1]])));
            if (!beside) continue;
            const Printed p = marks.widths[inked[i]];
            if (p == Printed::half) tallyOf(kind).half += 1;
            if (p == Printed::full) tallyOf(kind).full += 1;
        }
    }
    // A bracket whose blank may be a word space is set as the page sets
    // those whose ink tells beside Japanese; where it shows none, half-width,
    // as pages that space their brackets set them.
    const Printed spaced = brackets.full > brackets.half ? Printed::full : Printed::half;
    for (std::size_t i = 0; i < ls.size(); ++i) {
        Line& line = ls[i];
        Marks& marks = printed[i];
        bool resolved = false;
        for (std::size_t k = 0; k < marks.spaced.size(); ++k) {
            if (!marks.spaced[k] || marks.widths[k] != Printed::unknown) continue;
            marks.widths[k] = spaced;
            resolved = true;
        }
        if (resolved) pairUp(line, marks, std::vector<bool>(marks.widths.size(), true));
        bool known = false;
        for (std::size_t k = 0; k < marks.widths.size(); ++k) {
            const Kind kind = kindOf(only(line.symbolTexts[k]));
            if (kind == Kind::none) continue;
            if (marks.angles[k]) {
                // The model reads the Japanese angle brackets as such; the
                // others it takes for parentheses are the mathematical ones
                // of placeholders.
                const char32_t c = only(line.symbolTexts[k]);
                if (c != U'〈' && c != U'〉') replaceSymbol(line, k, kind == Kind::opening ? "⟨" : "⟩");
                marks.widths[k] = Printed::unknown;
                known = true;
                continue;
            }
            if (marks.dots[k]) {
                replaceSymbol(line, k, ".");
                known = true;
                continue;
            }
            if (marks.fullIfPage[k]) marks.widths[k] = stops.mostlyFull() ? Printed::full : Printed::half;
            if (marks.widths[k] == Printed::unknown && tallyOf(kind).mostlyHalf()) marks.widths[k] = Printed::half;
            known = known || marks.widths[k] != Printed::unknown;
        }
        if (known) assemble(line, marks.widths);
    }
}

void readDashes(std::vector<Line>& ls, const PageInk& ink) {
    for (Line& line : ls) {
        if (!line.horizontal) continue;
        const std::vector<std::size_t> inked = inkedSymbols(line);
        int em = 0;
        bool changed = false;
        for (std::size_t k = 0; k < inked.size(); ++k) {
            if (line.symbolTexts[inked[k]] != "一") continue;
            if (em == 0) em = characterPitch(line, ink);
            if (em <= 0) break;
            const char32_t before = k > 0 ? only(line.symbolTexts[inked[k - 1]]) : 0;
            const char32_t after = k + 1 < inked.size() ? only(line.symbolTexts[inked[k + 1]]) : 0;
            // The bar: the longest piece of ink about the symbol's box.
            const PixelBox& box = line.symbolBoxes[inked[k]];
            PixelBox bar;
            for (const GreyPage::InkPiece& p : ink.pieces) {
                const int cx = p.x + p.width / 2, cy = p.y + p.height / 2;
                if (cx < box.left || cx >= box.right || cy < line.box.top || cy >= line.box.bottom) continue;
                if (p.width * 100 < dashLeast * em || p.height * 5 > p.width) continue;
                if (bar.empty() || p.width > bar.width()) bar = {p.x, p.y, p.x + p.width, p.y + p.height};
            }
            if (bar.empty()) continue;
            const auto apart = [&](bool side) {
                const int blank = blankBeside(bar, side, line, ink, em);
                return blank < 0 || blank * 100 >= dashApart * em;
            };
            // Between two Latin letters or digits ("F1一F6") no kanji
            // stands; elsewhere a dash stands apart on both sides.
            const bool amongLatin = latin(before) && latin(after);
            const bool setApart = before != 0 && after != 0 && apart(true) && apart(false);
            if (!amongLatin && !setApart) continue;
            replaceSymbol(line, inked[k], "—");
            changed = true;
        }
        if (changed) assemble(line);
    }
}

}  // namespace velmora::StandardPass
